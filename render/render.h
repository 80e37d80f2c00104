// Rendering an audio file through a VST 2.4 effect, with loudness measured before and after.
#pragma once

#include "hosting/plugin.h"
#include "mastering/loudness.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace render {

// A render stopped by a signal.
class Interrupted : public std::runtime_error {
public:
    Interrupted() : std::runtime_error("interrupted") {}
};

// The parameter a target loudness is set through.
inline constexpr const char* kTargetParameter = "Target LUFS";

// The FLAC level a render writes at unless told otherwise: on speech and music its files are 0.4 to 2 %
// larger than level 5's (FLAC's own default) for well under half the encoding time.
inline constexpr int kDefaultFlacLevel = 1;

struct PluginSetup {
    std::filesystem::path plugin;
    int32_t block = 512;
    std::optional<std::filesystem::path> loadState;
    std::optional<std::filesystem::path> saveState;
    // Parameter name or number, and value in the parameter's own units, applied in order.
    std::vector<std::pair<std::string, std::string>> settings;
    // Set through kTargetParameter after the settings, when the plug-in has it.
    std::optional<double> target;
};

// How far a render has come, for a display that watches several at once.
struct RenderProgress {
    std::atomic<int64_t> framesWritten{0};
    std::atomic<int64_t> framesTotal{0}; // as the input's header says; 0 when unknown
    std::atomic<int> sampleRate{0};
};

struct RenderOptions {
    std::filesystem::path input;
    std::filesystem::path output;
    PluginSetup setup;
    bool doublePrecision = false;
    bool latencyCompensation = true;
    // The true-peak ceiling in dBTP; none without.
    std::optional<double> ceiling = -1.0;
    // TPDF dither for 16-bit and 8-bit output.
    bool dither = true;
    std::optional<std::string> sampleFormat;
    bool progress = false;
    // Measure the input's loudness for the report; without, its figures are left out.
    bool measureInput = true;
    // Encode and measure on the render's own thread rather than on threads beside it: when every core
    // already runs a render of its own, more threads would only take turns.
    bool oneThread = false;
    // FLAC's compression level, 0 (fastest) to 8 (smallest); the samples are the same at every level.
    int flacLevel = kDefaultFlacLevel;
    RenderProgress* progressCounter = nullptr;
    // Play at the pace of the audio with the plug-in's editor open; closing its window ends the output
    // there, as a complete file.
    bool editor = false;
};

struct CeilingReport {
    double dbtp = 0.0;
    int32_t latency = 0;         // frames, always compensated
    double largestReduction = 0; // dB
    double limitedSeconds = 0;   // lowered by more than 0.1 dB
};

struct RenderResult {
    std::string pluginName;
    int sampleRate = 0;
    int channels = 0;
    int64_t frames = 0;
    int32_t latency = 0; // as the plug-in reported it
    bool latencyCompensated = true;
    double seconds = 0.0; // wall-clock time of the render
    // The output measured on the samples as its file holds them.
    mastering::LoudnessSummary input; // when measured
    bool inputMeasured = true;
    mastering::LoudnessSummary output;
    std::vector<double> inputShortTerm;
    std::vector<double> outputShortTerm;
    // The plug-in's target loudness (or --target's when it has none), its noise floor and the lowest floor it
    // takes, before the render.
    std::optional<double> target;
    bool targetFromPlugin = false;
    std::optional<double> noiseFloor, noiseFloorLowest;
    std::optional<CeilingReport> ceiling;
    std::string outputFormat;
    std::string formatNote; // why the sample format is not the input's
    bool dithered = false;
    std::optional<int64_t> clippedSamples; // integer formats only
    std::vector<std::string> metadataCarried, metadataDropped;
    // Things the user should know that did not stop the render.
    std::vector<std::string> notes;
    // What was found wrong with the input while rendering it (a header that claims another length).
    std::vector<std::string> warnings;
};

// Loads the plug-in and opens it for the sample rate and block size.
std::unique_ptr<hosting::Plugin> loadPlugin(const PluginSetup& setup, int sampleRate);
// Restores the state, applies the settings and the target and saves the state, each as the setup asks.
// Throws FileError (a parameter error names the plug-in file). Answers notes for the user.
std::vector<std::string> configurePlugin(hosting::Plugin& plugin, const PluginSetup& setup);

// Renders input to output through a temporary file in the output's folder, renamed when complete.
// `stop` ends the render early with an error (signals); nothing is left behind then.
RenderResult renderFile(const RenderOptions& options, const std::atomic<bool>& stop);

// A file to write must not be the input (nor another file already claimed), nor a folder, nor in a folder
// that does not exist.
void checkOutputPath(const std::filesystem::path& output, const std::filesystem::path* input,
                     const std::filesystem::path* claimed = nullptr);

// Writes a file through a temporary one beside it, renamed over the target when complete.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& target);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // The open descriptor; whoever takes it closes it.
    int takeDescriptor();
    const std::filesystem::path& path() const { return temporary_; }
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int descriptor_ = -1;
    int lock_ = -1;
    bool committed_ = false;
};

void writeTextFile(const std::filesystem::path& path, const std::string& text);

} // namespace render
