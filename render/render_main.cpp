// vandrel2-render: levels audio files from the command line through a VST 2.4 effect.
#include "hosting/parameters.h"
#include "render/audio_file.h"
#include "render/batch.h"
#include "render/delivery.h"
#include "render/json.h"
#include "render/known_plugins.h"
#include "render/paths.h"
#include "render/progress.h"
#include "render/render.h"
#include "render/report.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ebur128.h>
#include <sched.h>
#include <sndfile.h>
#include <unistd.h>

namespace {

constexpr const char* kProgram = "vandrel2-render";
constexpr const char* kPluginFile = "vandrel2.so";
// A warning is exit 0, or kWarned with --strict; a batch in which a file failed or was not done is
// kIncomplete; a signal is 128 plus its number, as a shell reports it.
constexpr int kFailed = 1, kUsage = 2, kWarned = 3, kIncomplete = 4, kSignalled = 128;
// The sample rate a plug-in is opened at when no file gives one.
constexpr int kListingRate = 48000;

constexpr const char* kUsageText = R"(Usage: vandrel2-render IN OUT [options]
       vandrel2-render --out-dir DIR [options] IN... [--from-list FILE|-]
       vandrel2-render --merge-reports SUMMARY.json... [--json FILE]
       vandrel2-render --list-params [IN] [options]

Levels an audio file through the Vandrel 2 plug-in (or any VST 2.4 effect), holds its true
peak under a ceiling and reports the loudness of IN and of OUT as written. Reads and writes what
libsndfile knows (WAV, FLAC, AIFF, Ogg, MP3...); the output format follows OUT's name, the
sample format follows IN where OUT's format holds it (else 24-bit PCM, or the codec's own).
Tags (title, artist, ISRC, licence..., pictures) and a WAV's bext chunk are carried over
where OUT has room; the report lists any that are not.

Options:
  --plugin PATH              the plug-in (default: vandrel2.so beside this program, else
                             ~/.vst, /usr/local/lib/vst, /usr/lib/vst)
  --target LUFS              set the "Target LUFS" parameter (after --set); the report and a
                             warning tell how far the output misses it
  --preset NAME              deliver to a platform's or broadcaster's rule: its target, true
                             peak and tolerance (see --list-presets); a render that misses
                             the tolerance is rendered again with the loudness corrected by
                             the plug-in's Output Trim, and the report gives the verdict
  --list-presets             list the presets, then exit
  --dual-mono                count a mono file twice, as played on two loudspeakers (3 dB
                             louder), rather than once as BS.1770 and standard meters do
  --set NAME=VALUE           set a parameter, by name (its unit may follow in brackets) or
                             by number from 1, to a value in its own units as its display
                             shows them, off/on for switches (repeatable)
  --list-params              list the parameters: unit, range, step, default and value, then
                             exit
  --load-state FILE          restore the plug-in's state chunk from FILE first
  --save-state FILE          save the plug-in's state chunk, after --load-state and --set
  --block N                  frames per processing block (default 512)
  --double                   process in 64-bit floating point
  --no-latency-compensation  keep the plug-in's delay instead of aligning output with input
  --true-peak DBTP           the ceiling for the true peak of OUT, -30 to 0 (default -1)
  --no-ceiling               no true-peak ceiling
  --sample-format F          pcm16, pcm24, pcm32, float or double
  --no-dither                no TPDF dither when writing 16-bit or 8-bit samples
  --json FILE                write the loudness report as JSON (file names that are not
                             UTF-8 keep each stray byte as \udc80 to \udcff, read back
                             byte for byte as Python's os.fsencode does)
  --plot FILE.png            draw short-term loudness and gain over time
  --editor                   show the plug-in's panel while the file plays in real time;
                             closing the window ends OUT there
  --one-thread               read, level, measure and write on one thread rather than
                             on threads beside each other: for running several renderers
                             side by side (each job of a batch does so)
  --flac-level N             FLAC compression, 0 (fastest) to 8 (smallest), default 1; the
                             samples are the same at every level
  --strict                   exit with 3 when there is a warning (clipping, target missed,
                             a preset's verdict failed)
  --quiet                    no progress bar and no report on stdout; warnings still go to
                             stderr
  --version                  the version of the renderer and its libraries
  --help                     this text

Batches (many files, each written as a single render of it would write it):
  --out-dir DIR              render every IN into DIR (made if missing); a folder IN is
                             searched for audio files, whose layout under it is kept
  --from-list FILE           more inputs, one path a line; - reads them from stdin
  --format EXT, --ext EXT    the outputs' format by name extension (flac, wav...); the
                             input's own when not given
  -j N, --jobs N             files rendered at once, each by its own plug-in instance
                             (default: one per core)
  --skip-existing            leave out files whose output is already there (an output is
                             either complete or absent, so an interrupted batch resumes)
  --json FILE                one JSON document for the batch: a record per file, totals
  --json-each                also a file's own JSON report beside its output (OUT.json)
  --no-input-loudness        do not measure the inputs (their columns stay empty)
  --shard K/N                only every N-th file from the K-th (K from 1 to N): the same
                             command for each K renders the batch in N parts
  --merge-reports            read the --json documents of a batch's parts (the files
                             named) and give the one summary; --json writes it
  A batch prints a table of every file and the totals on stdout, a progress line on a
  terminal or a line per file otherwise (none with --quiet; failures always). Folders are
  searched through symbolic links, each real folder once; what is left out (links to
  nothing, the output folder, names that are not audio files') is listed with the reason.
  Temporary files (OUT.partial-XXXXXX) that a killed run left of this run's outputs are
  removed. Exit status: 0 when every file was done (or skipped), 4 when one failed or was
  not done, 3 with --strict when one has a warning, 128 plus the signal's number when
  stopped by one.

Every file written is checked against every file read or written before anything is:
the same file named for two uses is an error (exit status 2). A WAV output that may pass
4 GiB is written as RF64 (a plain WAV when it stays smaller); a WAV whose header claims
no audio or more than it holds is read to its end, with a warning of how much each.
)";

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "set from a signal handler");

extern "C" void requestStop(int signal) {
    stopSignal.store(signal);
    stopRequested.store(true);
}

struct Command {
    render::RenderOptions render;
    std::vector<std::string> files;
    bool pluginGiven = false;
    bool listParams = false;
    bool quiet = false;
    bool strict = false;
    bool targetGiven = false, ceilingGiven = false;
    std::optional<std::filesystem::path> json, plot;
    render::BatchOptions batch;
    bool batchMode = false;
    bool mergeReports = false;
};

double parseNumber(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value))
        throw UsageError(option + ": expects a number");
    return value;
}

Command parse(int argc, char** argv) {
    Command command;
    auto& setup = command.render.setup;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(arg + ": needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsageText, stdout);
            std::exit(0);
        } else if (arg == "--version") {
            int major = 0, minor = 0, patch = 0;
            ebur128_get_version(&major, &minor, &patch);
            std::printf("%s %s (%s, libebur128 %d.%d.%d)\n", kProgram, VANDREL_VERSION, sf_version_string(),
                        major, minor, patch);
            std::exit(0);
        } else if (arg == "--plugin") {
            setup.plugin = value();
            command.pluginGiven = true;
        } else if (arg == "--set") {
            const std::string setting = value();
            const auto equals = setting.rfind('=');
            if (equals == std::string::npos || equals == 0 || equals + 1 == setting.size())
                throw UsageError("--set: expects NAME=VALUE, got '" + setting + "'");
            setup.settings.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
        } else if (arg == "--list-params") {
            command.listParams = true;
        } else if (arg == "--load-state") {
            setup.loadState = value();
        } else if (arg == "--save-state") {
            setup.saveState = value();
        } else if (arg == "--block") {
            const double block = parseNumber(arg, value());
            if (block < 1 || block > 65536 || block != std::floor(block))
                throw UsageError("--block: expects a whole number from 1 to 65536");
            setup.block = int32_t(block);
        } else if (arg == "--double") {
            command.render.doublePrecision = true;
        } else if (arg == "--no-latency-compensation") {
            command.render.latencyCompensation = false;
        } else if (arg == "--sample-format") {
            command.render.sampleFormat = value();
        } else if (arg == "--json") {
            command.json = value();
        } else if (arg == "--plot") {
            command.plot = value();
        } else if (arg == "--target") {
            setup.target = parseNumber(arg, value());
            command.targetGiven = true;
        } else if (arg == "--preset") {
            const std::string name = value();
            command.render.preset = leveler::DeliveryPresetNamed(name);
            if (command.render.preset == nullptr)
                throw UsageError("--preset: no preset '" + name + "' (" + render::presetNames() + ")");
        } else if (arg == "--list-presets") {
            std::fputs(render::presetListing().c_str(), stdout);
            std::exit(0);
        } else if (arg == "--dual-mono") {
            command.render.dualMono = true;
        } else if (arg == "--true-peak") {
            const double ceiling = parseNumber(arg, value());
            if (ceiling < -30 || ceiling > 0) throw UsageError("--true-peak: expects dBTP from -30 to 0");
            command.render.ceiling = ceiling;
            command.ceilingGiven = true;
        } else if (arg == "--no-ceiling") {
            command.render.ceiling.reset();
            command.ceilingGiven = true;
        } else if (arg == "--no-dither") {
            command.render.dither = false;
        } else if (arg == "--strict") {
            command.strict = true;
        } else if (arg == "--editor") {
            command.render.editor = true;
        } else if (arg == "--quiet" || arg == "-q") {
            command.quiet = true;
        } else if (arg == "--flac-level") {
            const double level = parseNumber(arg, value());
            if (level < 0 || level > 8 || level != std::floor(level))
                throw UsageError("--flac-level: expects a whole number from 0 to 8");
            command.render.flacLevel = int(level);
        } else if (arg == "--out-dir") {
            command.batch.outDir = value();
            command.batchMode = true;
        } else if (arg == "--from-list") {
            command.batch.listFile = value();
            command.batchMode = true;
        } else if (arg == "--format" || arg == "--ext") {
            std::string extension = value();
            if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
            if (extension.empty() || extension.find('/') != std::string::npos)
                throw UsageError(arg + ": expects a file name extension such as flac");
            if (!render::audioFileName("out." + extension))
                throw UsageError(arg + ": unknown audio format '." + extension + "'");
            command.batch.extension = extension;
        } else if (arg == "-j" || arg == "--jobs" || (arg.rfind("-j", 0) == 0 && arg.size() > 2)) {
            const std::string text = arg.size() > 2 && arg[1] == 'j' ? arg.substr(2) : value();
            const double jobs = parseNumber("-j", text);
            if (jobs < 1 || jobs > 1024 || jobs != std::floor(jobs))
                throw UsageError("-j: expects a whole number of jobs from 1 to 1024");
            command.batch.jobs = int(jobs);
        } else if (arg == "--skip-existing") {
            command.batch.skipExisting = true;
        } else if (arg == "--json-each") {
            command.batch.jsonEach = true;
        } else if (arg == "--one-thread") {
            command.render.oneThread = true;
        } else if (arg == "--no-input-loudness") {
            command.render.measureInput = false;
        } else if (arg == "--shard") {
            const std::string text = value();
            int part = 0, parts = 0;
            char end = 0;
            if (std::sscanf(text.c_str(), "%d/%d%c", &part, &parts, &end) != 2 || parts < 1 || part < 1 ||
                part > parts)
                throw UsageError("--shard: expects K/N with K from 1 to N, got '" + text + "'");
            command.batch.shard = {part, parts};
        } else if (arg == "--merge-reports") {
            command.mergeReports = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            command.files.push_back(arg);
        }
    }
    if (command.mergeReports) {
        if (command.files.empty()) throw UsageError("--merge-reports: needs the batch summaries to merge");
        return command;
    }
    if (const leveler::DeliveryPreset* preset = command.render.preset) {
        // The preset is the rule the output is judged by: its target and ceiling are not to be changed.
        if (command.targetGiven)
            throw UsageError("--target: the preset sets the target; leave out one of them");
        if (command.ceilingGiven)
            throw UsageError("--true-peak, --no-ceiling: the preset sets the ceiling; leave out one of them");
        setup.target = preset->targetLufs;
        command.render.ceiling = preset->truePeakDbtp;
    }
    if (command.batchMode) {
        if (command.batch.outDir.empty())
            throw UsageError("--from-list: needs --out-dir DIR for the outputs");
        for (const auto& [given, option] : {std::pair{command.plot.has_value(), "--plot"},
                                            {command.render.setup.saveState.has_value(), "--save-state"},
                                            {command.render.editor, "--editor"},
                                            {command.listParams, "--list-params"}})
            if (given) throw UsageError(std::string(option) + ": one file at a time, not with --out-dir");
        if (command.files.empty() && !command.batch.listFile)
            throw UsageError("--out-dir: needs files or folders to render");
        command.batch.inputs = command.files;
        return command;
    }
    const size_t most = command.listParams ? 1 : 2;
    if (command.files.size() > most)
        throw UsageError("too many files: " + command.files[most] + " (for many, give --out-dir DIR)");
    if (!command.listParams && command.files.size() < 2)
        throw UsageError("needs an input and an output file");
    return command;
}

std::filesystem::path ownFolder() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
}

// vandrel2.so beside the renderer (the build folder), then where an install puts it.
std::filesystem::path defaultPlugin() {
    std::vector<std::filesystem::path> places = {ownFolder() / kPluginFile,
                                                 ownFolder() / ".." / "lib" / "vst" / kPluginFile};
    if (const char* home = std::getenv("HOME"))
        places.push_back(std::filesystem::path(home) / ".vst" / kPluginFile);
    places.push_back(std::filesystem::path("/usr/local/lib/vst") / kPluginFile);
    places.push_back(std::filesystem::path("/usr/lib/vst") / kPluginFile);
    std::error_code error;
    for (const auto& place : places)
        if (std::filesystem::is_regular_file(place, error)) return place.lexically_normal();
    throw render::FileError(kPluginFile, "not found beside the renderer, in ~/.vst, /usr/local/lib/vst or "
                                         "/usr/lib/vst (give one with --plugin PATH)");
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

void listParameters(const Command& command) {
    const auto& setup = command.render.setup;
    const int rate =
        command.files.empty() ? kListingRate : render::AudioReader(command.files[0]).sampleRate();
    auto plugin = render::loadPlugin(setup, rate);
    std::vector<std::string> defaults;
    for (int32_t i = 0; i < plugin->numParams(); ++i) defaults.push_back(plugin->parameterDisplay(i));
    for (const auto& note : render::configurePlugin(*plugin, setup))
        std::fprintf(stderr, "%s: note: %s\n", kProgram, note.c_str());

    std::printf("%s by %s: %s (%s)\n", plugin->effectName().c_str(), plugin->vendorString().c_str(),
                render::counted(plugin->numParams(), "parameter").c_str(), setup.plugin.c_str());
    const hosting::KnownUnits units = render::knownUnits(*plugin);
    std::vector<std::vector<std::string>> rows = {{"#", "Name", "Unit", "Range", "Step", "Default", "Value"}};
    for (int32_t i = 0; i < plugin->numParams(); ++i) {
        const auto listing = hosting::describeParameter(*plugin, i, units);
        const std::string& fallback = defaults[size_t(i)];
        rows.push_back({std::to_string(i + 1), listing.name, listing.unit,
                        listing.atMinimum + (listing.onOff ? " / " : " to ") + listing.atMaximum,
                        listing.step, listing.onOff ? hosting::switchWord(fallback) : trim(fallback),
                        listing.display});
    }
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c)
            line += (c ? "  " : "") + pad(row[c], c + 1 < row.size() ? widths[c] : 0);
        std::printf("%s\n", line.c_str());
    }
}

void fail(const std::string& message) {
    std::string line = message;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
}

// The cores this process may run on.
int cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1, int(sysconf(_SC_NPROCESSORS_ONLN)));
}

void stopOnSignals() {
    // Ctrl-C, kill, and a closed terminal or SSH session alike stop the render and remove its output.
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// The summary of a batch or of its merged parts: the table on stdout, the document with --json.
int summarise(const Command& command, const render::BatchSummary& summary) {
    if (command.json) render::writeTextFile(*command.json, render::batchJson(summary));
    if (!command.quiet) std::fputs(render::batchTable(summary).c_str(), stdout);
    return render::batchIncomplete(summary.records) ? kIncomplete : 0;
}

// Clears what killed runs left of the files this one writes, and says so.
size_t removeLeftovers(const std::vector<std::filesystem::path>& outputs) {
    const size_t removed = render::removeStalePartials(outputs);
    if (removed > 0)
        fail("note: removed " + std::to_string(removed) + " temporary files that interrupted runs left");
    return removed;
}

int runBatch(Command& command) {
    auto& batch = command.batch;
    batch.render = command.render;
    if (batch.jobs == 0) batch.jobs = cores();
    // Every file is known and checked against the others before anything is written, the output folder
    // included.
    render::BatchPlan plan = render::collectBatch(batch);
    auto uses = render::batchPathUses(batch, plan.items);
    uses.push_back({batch.render.setup.plugin, "the plug-in", false});
    if (batch.render.setup.loadState) uses.push_back({*batch.render.setup.loadState, "--load-state", false});
    if (command.json) uses.push_back({*command.json, "--json", true});
    render::checkPathClashes(uses);
    std::error_code error;
    std::filesystem::create_directories(batch.outDir, error);
    if (!std::filesystem::is_directory(batch.outDir))
        throw render::FileError(batch.outDir, "cannot make the output folder" +
                                                  (error ? ": " + error.message() : std::string()));
    if (command.json) render::checkOutputPath(*command.json, nullptr);
    // Settings the plug-in refuses are found before the first file rather than in every one.
    render::configurePlugin(*render::loadPlugin(batch.render.setup, kListingRate), batch.render.setup);
    const auto items = render::shardOf(batch, std::move(plan.items));
    if (items.empty()) fail("note: no audio files to render (folders are searched for known audio names)");
    auto outputs = render::batchOutputs(batch, items);
    if (command.json) outputs.push_back(*command.json);
    render::BatchSummary summary{{}, std::move(plan.leftOut), removeLeftovers(outputs), std::nullopt};
    batch.display = !command.quiet && isatty(STDERR_FILENO);
    batch.log = !command.quiet && !batch.display;
    stopOnSignals();
    const auto outcome = render::runBatch(batch, items, stopRequested);
    summary.records = outcome.records;
    summary.wallSeconds = outcome.wallSeconds;
    const int status = summarise(command, summary);
    if (stopRequested.load()) {
        fail("interrupted; the files done are complete, the rest left out");
        return kSignalled + stopSignal.load();
    }
    return status != 0 ? status : command.strict && outcome.warned ? kWarned : 0;
}

// Every file a single render reads against every file it writes.
void checkSingleRender(const Command& command) {
    const auto& options = command.render;
    const auto& setup = options.setup;
    std::vector<render::PathUse> uses = {{options.input, "the input file", false},
                                         {options.output, "the output file", true},
                                         {setup.plugin, "the plug-in", false}};
    // A state loaded and saved back to its file, as the settings changed it, is one use.
    if (setup.loadState && !(setup.saveState && render::sameFile(*setup.loadState, *setup.saveState)))
        uses.push_back({*setup.loadState, "--load-state", false});
    for (const auto& [file, option] :
         {std::pair{command.json, "--json"}, {command.plot, "--plot"}, {setup.saveState, "--save-state"}})
        if (file) uses.push_back({*file, option, true});
    render::checkPathClashes(uses);
}

int run(int argc, char** argv) {
    Command command = parse(argc, argv);
    auto& options = command.render;
    if (command.mergeReports) {
        std::vector<std::filesystem::path> documents(command.files.begin(), command.files.end());
        return summarise(command, render::mergeSummaries(documents));
    }
    if (!command.pluginGiven) options.setup.plugin = defaultPlugin();
    if (command.batchMode) return runBatch(command);
    if (command.listParams) {
        if (options.setup.saveState && !command.files.empty()) {
            const std::filesystem::path input = command.files[0];
            render::checkOutputPath(*options.setup.saveState, &input);
        }
        listParameters(command);
        return 0;
    }
    options.input = command.files[0];
    options.output = command.files[1];
    options.progress = !command.quiet && isatty(STDERR_FILENO);
    // Files beside the output are checked before a long render rather than after it.
    checkSingleRender(command);
    for (const auto& file : {command.json, command.plot, options.setup.saveState})
        if (file) render::checkOutputPath(*file, nullptr);
    std::vector<std::filesystem::path> outputs = {options.output};
    for (const auto& file : {command.json, command.plot, options.setup.saveState})
        if (file) outputs.push_back(*file);
    removeLeftovers(outputs);

    stopOnSignals();
    const render::RenderResult result = render::renderFile(options, stopRequested);
    if (command.json) render::writeTextFile(*command.json, render::jsonReport(options, result));
    if (command.plot) {
        render::writePlot(*command.plot, options, result, result.target);
        render::releaseFontCaches();
    }
    if (!command.quiet) std::fputs(render::textReport(options, result).c_str(), stdout);
    for (const auto& note : result.notes) std::fprintf(stderr, "%s: note: %s\n", kProgram, note.c_str());
    const auto warnings = render::warningsFor(options, result);
    for (const auto& warning : warnings) std::fprintf(stderr, "%s: warning: %s\n", kProgram, warning.c_str());
    return command.strict && !warnings.empty() ? kWarned : 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const UsageError& error) {
        fail(std::string(error.what()) + " (see --help)");
        return kUsage;
    } catch (const render::SettingError& error) {
        fail(error.what());
        return kUsage;
    } catch (const render::PathClash& error) {
        fail(error.what());
        return kUsage;
    } catch (const render::Interrupted&) {
        fail("interrupted; no output written");
        return kSignalled + stopSignal.load();
    } catch (const std::exception& error) {
        fail(error.what());
        return kFailed;
    }
}
