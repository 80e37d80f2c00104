// Rendering an audio file through a VST 2.4 effect, with loudness measured before and after.
#pragma once

#include "hosting/editor_window.h"
#include "hosting/plugin.h"
#include "leveler/delivery_presets.h"
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

// A setting the plug-in does not take (--set, --target): the command's to correct, as a bad option is.
// what() is "PLUGIN: reason".
class SettingError : public std::runtime_error {
public:
    SettingError(const std::filesystem::path& plugin, const std::string& reason)
        : std::runtime_error(plugin.string() + ": " + reason) {}
};

// The parameter a target loudness is set through, and the one a loudness correction goes to.
inline constexpr const char* kTargetParameter = "Target LUFS";
inline constexpr const char* kOutputTrimParameter = "Output Trim";
// How much louder a mono channel played on two loudspeakers is than the channel counted once.
inline constexpr double kDualMonoDb = 3.0103;

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
    // The pace of that playback; the machine's own clock when not given.
    hosting::PlaybackClock* playbackClock = nullptr;
    // A mono file counts as played on two loudspeakers (3 dB louder) rather than as one channel.
    bool dualMono = false;
    // The delivery the output is judged against (its target and ceiling are in setup.target and
    // ceiling); a render that misses its tolerance is done again with the loudness corrected.
    const leveler::DeliveryPreset* preset = nullptr;
};

struct CeilingReport {
    double dbtp = 0.0;
    int32_t latency = 0;         // frames, always compensated
    double largestReduction = 0; // dB
    double limitedSeconds = 0;   // lowered by more than 0.1 dB
};

// The integrated loudness corrected by a static gain after a render that missed the tolerance: on the
// plug-in's Output Trim where it reaches, the rest before the ceiling.
struct LoudnessCorrection {
    double missedByLu = 0.0;                // the first render's output minus the target
    std::optional<double> trimFrom, trimTo; // the Output Trim, dB, when the plug-in has one
    double gainDb = 0.0;                    // before the ceiling
    int steps = 1;                          // times the gain was raised
};

// A codec's output decoded again and measured; when its true peak came out over the ceiling, rendered
// again with the ceiling lowered.
struct DecodedCheck {
    double firstTruePeak = 0.0; // dBTP, of the first render's file decoded
    double ceilingUsed = 0.0;   // dBTP, the ceiling the written file was limited to
    int renders = 1;
    double seconds = 0.0; // decoding and measuring, and the renders again
};

// What the render saw of the plug-in while it played: its noise floor (a number it moves itself when its
// automatic threshold is on) as it changed, at input frames.
struct PluginTrace {
    std::vector<std::pair<int64_t, double>> noiseFloor;
    bool automaticThreshold = false;
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
    // Tags in words ("title", "ISRC", "bext"): those the written file holds, read back, and those it does
    // not.
    std::vector<std::string> metadataCarried, metadataDropped;
    // Things the user should know that did not stop the render.
    std::vector<std::string> notes;
    // The largest of the input's steps (the quantization floor) in dBFS: no sample above it is silence.
    double inputFloorDbfs = 0.0;
    std::vector<float> inputHopPeaks; // on the short-term grid, linear
    PluginTrace trace;
    // Input samples that were not finite numbers, set to 0; and the plug-in's.
    int64_t inputNotNumbers = 0, inputInfinite = 0, pluginNonFinite = 0;
    bool dualMono = false; // a mono output measured as played on two loudspeakers
    // For a mono output counted once: the target set on the plug-in, which hears the channel on both inputs.
    std::optional<double> monoPluginTarget;
    std::optional<LoudnessCorrection> correction;
    std::optional<DecodedCheck> decoded;
    // What was found wrong with the input while rendering it (a header that claims another length).
    std::vector<std::string> warnings;
};

// Loads the plug-in and opens it for the sample rate and block size.
std::unique_ptr<hosting::Plugin> loadPlugin(const PluginSetup& setup, int sampleRate);
// Restores the state, applies the settings and the target and saves the state, each as the setup asks.
// Throws FileError, or SettingError for a setting the plug-in refuses. Answers notes for the user.
std::vector<std::string> configurePlugin(hosting::Plugin& plugin, const PluginSetup& setup);
void saveState(hosting::Plugin& plugin, const std::filesystem::path& path);

// Renders input to output through a temporary file in the output's folder, renamed when complete.
// `stop` ends the render early with an error (signals); nothing is left behind then. A codec's output is
// decoded and measured as written; a preset's tolerance missed, or a decoded true peak over the ceiling,
// renders again with the correction.
RenderResult renderFile(const RenderOptions& options, const std::atomic<bool>& stop);

class TemporaryFile;

// What one render changes beyond the options.
struct PassAdjustments {
    double correctionDb = 0.0; // on the plug-in's Output Trim where it reaches, the rest before the ceiling
    double ceilingLowerDb = 0.0;
};

// One render into a temporary file, not yet in place; the result describes the samples as handed to the
// encoder.
struct Pass {
    RenderResult result;
    std::unique_ptr<TemporaryFile> file;
    int format = 0; // libsndfile's
};
Pass renderPass(const RenderOptions& options, const PassAdjustments& adjustments,
                const std::atomic<bool>& stop);

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
