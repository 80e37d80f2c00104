// The effect runtime: the base class that generated effects derive from, its chain of service parts and
// its section operations. Nothing here knows the plug-in interface or the windowing toolkit.
#pragma once

#include "runtime/clock.h"
#include "runtime/host_link.h"
#include "runtime/shared_value.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Script values become integers (slots, ids, indices) this way: nudged away from zero by 0.0001, then
// truncated. Out-of-range values saturate and NaN gives 0.
int32_t ToIndex(double value);

// A script value counts as 0 within 0.00001 of it.
inline bool IsZero(double value) {
    return value > -0.00001 && value < 0.00001;
}

// Sparse script memory: pages of 65536 values, created zero-filled on first touch.
class CParvexMemory {
public:
    static constexpr int32_t kPageSize = 65536;

    double& MemoryAt(int32_t index);
    // The page holding the index if it exists; never allocates.
    double* FindPage(int32_t index) const;
    // Zeroes every page and keeps it, so that the cells stay where the audio thread finds them.
    void ClearPages();

protected:
    ~CParvexMemory() = default;
    std::map<int32_t, std::unique_ptr<double[]>> Pages;
};

class CParvexVeST : public CParvexMemory {
public:
    THostLink* Host = nullptr;      // not owned
    TClock* Clock = &SystemClock(); // not owned; set before the first section runs

protected:
    ~CParvexVeST() = default;
};

class CParvexSliders : public CParvexVeST {
public:
    static constexpr int kSliderCount = 128;
    SharedDouble SliderValues[kSliderCount];

    virtual void DoSlider() {}

protected:
    ~CParvexSliders() = default;
};

class CParvexSamples : public CParvexSliders {
public:
    static constexpr int kSlotCount = 64;
    // The block length taken when the host announces none that can be used (a VST host's wrapper starts
    // with it too).
    static constexpr int32_t kDefaultBlockFrames = 1024;
    double SampleSlots[kSlotCount] = {};

    // The block section runs once every BlockFrames frames counted from the last resume, however the host
    // slices the audio into calls: a call may begin or end inside a block, and the effect's sense of time
    // stays the same. FramesIntoBlock counts the frames of the current block processed so far. Both are
    // set at resume; the audio thread advances the count.
    Shared<int32_t> BlockFrames{kDefaultBlockFrames};
    Shared<int32_t> FramesIntoBlock{0};
    // The cadence for an announced block length: the length itself when it is at least one frame.
    static int32_t BlockFramesFor(double announced) {
        return announced >= 1 && announced <= 2147483647.0 ? static_cast<int32_t>(announced)
                                                           : kDefaultBlockFrames;
    }

    virtual void DoBlock() {}
    virtual void DoSample() {}
    // A run of stereo frames, processed in place: DoSample frame by frame through the slots, unless the
    // effect does better.
    virtual void DoSamples(double* left, double* right, int32_t frames) {
        for (int32_t j = 0; j < frames; ++j) {
            SampleSlots[0] = left[j];
            SampleSlots[1] = right[j];
            DoSample();
            left[j] = SampleSlots[0];
            right[j] = SampleSlots[1];
        }
    }

protected:
    ~CParvexSamples() = default;
};

struct TSlider {
    std::vector<std::string> valueNames;
    int32_t number = 0;
    SharedDouble* boundVariable = nullptr; // not owned
    double defaultValue = 0;
    double minimum = 0;
    double maximum = 0;
    double step = 0;
    std::string path;
    std::string extraText;
    std::string label;
    std::string name;
};

class CParvexDescription : public CParvexSamples {
public:
    std::vector<TSlider> Sliders;
    std::string EffectName, ProductString, VendorString, ProgramName;
    int32_t Version = 0, UniqueId = 0, ChannelCount = 0;

    // Registers a slider and answers its parameter index.
    int32_t AddSlider(int32_t number, SharedDouble* boundVariable, double defaultValue, double minimum,
                      double maximum, double step, const std::string& path, const std::string& extraText,
                      const std::string& label, const std::string& name);
    static void ListDataFiles(const std::string& folder, TSlider& slider);

protected:
    ~CParvexDescription() = default;
};

class CParvexStrings : public CParvexDescription {
public:
    static constexpr size_t kFormatResultLimit = 511;
    static constexpr size_t kFormatSpecLimit = 255;

    std::map<int32_t, std::string> Strings;
    std::map<int32_t, std::string> FileNames;

    // The text under the id, created empty when absent.
    std::string& GetString(double id);
    int32_t SetString(int32_t id, const std::string& text);
    void SetFileName(int32_t id, const std::string& name);

    // printf-style formatting of script values into the text under `destination`; answers `destination`.
    // Conversions beyond the values given read 0.
    template <typename... Values> double FormatString(double destination, double format, Values... values) {
        const double list[] = {double(values)..., 0.0};
        return FormatStringList(destination, format, list, sizeof...(Values));
    }
    double FormatStringList(double destination, double format, const double* values, size_t count);

protected:
    ~CParvexStrings() = default;
};

struct TFile {
    enum Mode : int32_t { kClosed = 0, kReading = 1, kWriting = 2 };
    std::string name;
    int32_t position = 0;
    std::vector<float> values;
    int32_t mode = kClosed;
};

class CParvexFiles : public CParvexStrings {
public:
    std::vector<TFile> Files{TFile{}}; // element 0 is the state handle

    TFile& StateHandle() { return Files[0]; }
    static std::string PluginFilePath(const std::string& name);
    static void FileVar(TFile& file, double& variable);
    static void FileVar(TFile& file, SharedDouble& variable);
    void CloseFile(TFile& file);
    static void FlushFile(const TFile& file);
    static void WriteLog(const std::string& text);

protected:
    ~CParvexFiles();
};

struct TFontEntry {
    std::string face;
    double size = 1;
    int32_t style = 0;
};

class CParvexFonts : public CParvexFiles {
public:
    std::map<int32_t, TFontEntry> Fonts;
    double TextHeight = 0;

protected:
    ~CParvexFonts() = default;
};

struct TImageEntry {
    std::unique_ptr<TImageSlot> slot;
    double width = 0;
    double height = 0;
};

class CParvexGraphics : public CParvexFonts {
public:
    double PenX = 0, PenY = 0;
    double ColorR = 0, ColorG = 0, ColorB = 0, ColorA = 0;
    std::map<int32_t, TImageEntry> Images;
    SharedDouble FrameRate;

    double FillRectTo(double x, double y);
    double DrawString(double stringId);
    double SetFont(double fontNumber, double nameId, double size, double style);
    struct TextSize {
        double width;
        double height;
    };
    TextSize MeasureString(double stringId);
    double DrawImage(double imageNumber, double scale, double rotation, double sourceX, double sourceY);
    TImageEntry& FindImage(int32_t number);

protected:
    ~CParvexGraphics() = default;
};

// 0..1 colour component to a byte: 0.5 gives 127.
uint8_t ToColorByte(double component);

class CParvexMouse : public CParvexGraphics {
public:
    SharedDouble MouseX, MouseY, MouseButtons;

protected:
    ~CParvexMouse() = default;
};

class TParvex : public CParvexMouse {
public:
    TParvex();
    virtual ~TParvex();
    TParvex(const TParvex&) = delete;
    TParvex& operator=(const TParvex&) = delete;

    virtual void DoReset();
    virtual void DoClose() {}
    virtual void DoSuspend() {}
    virtual void DoResume();
    virtual void DoInit() {}
    virtual int32_t DoInitOnce();
    virtual void DoGraphics() {}
    virtual void DoIdle();
    virtual void DoSerialize() {}
    virtual int32_t SetStateChunk(const void* data, int32_t byteCount, bool isPreset);
    virtual int32_t GetStateChunk(void** data, bool isPreset);

    // Transforms over script memory.
    void Fft(int32_t index, int32_t size, int32_t mode);
    void FftReal(int32_t index, int32_t size, int32_t inverse);
    void ConvolveComplex(int32_t destination, int32_t source, int32_t count);

    int32_t InitCount = 0;
    std::atomic<int32_t> LastRedrawTick{0};

private:
    void ResetRuntime();
};

// Operating-system services (runtime/system_*.cpp).
// Paths are UTF-8 throughout; the Windows build hands them to the system's wide-character calls.
// The folder holding the plug-in module, with a trailing separator; set once when the module loads.
void SetPluginFolder(const std::string& folder);
const std::string& PluginFolder();
// std::fopen for a UTF-8 path.
std::FILE* OpenFileAt(const std::string& path, const char* mode);
// The names of the entries in `folder` that are not folders themselves; empty when it cannot be read.
std::vector<std::string> FileNamesIn(const std::string& folder);
// Makes the folders leading to the file at `path` that do not exist yet; failures show when it is opened.
void CreateFoldersFor(const std::string& path);
// Where WriteLog appends.
std::string LogFilePath();
// The sound that follows a log line; nothing where the platform has no system beep.
void LogBeep();
// A relative name as scripts write it (backslashes) in the platform's own separators.
std::string NativeRelativePath(std::string name);
