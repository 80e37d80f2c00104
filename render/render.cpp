#include "render/render.h"

#include "hosting/editor_window.h"
#include "hosting/parameters.h"
#include "mastering/quantizer.h"
#include "mastering/sample_guard.h"
#include "mastering/true_peak.h"
#include "render/audio_file.h"
#include "render/known_plugins.h"
#include "render/paths.h"
#include "render/plugin_controls.h"
#include "render/progress.h"
#include "render/tags.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <type_traits>
#include <unistd.h>

namespace render {

namespace {

std::string systemError() {
    return std::strerror(errno);
}

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) throw FileError(path, "is a folder, not a state file");
    if (!std::filesystem::is_regular_file(path, error)) throw FileError(path, "no such file");
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) throw FileError(path, "cannot read: " + systemError());
    return bytes;
}

// Chunks of audio handed, in order, to a thread of its own through a bounded queue: the render waits
// rather than piling up audio when the thread falls behind. An error on the thread reaches the render at
// its next hand-over or at the end; what comes after an error is dropped. Without a thread of its own it
// consumes each chunk as it is handed on, on the caller's thread.
template <typename Sample> class ChunkThread {
public:
    ChunkThread(std::function<void(const std::vector<Sample>&)> consume, bool threaded)
        : consume_(std::move(consume)) {
        if (threaded) thread_ = std::thread([this] { run(); });
    }
    ~ChunkThread() { join(); }

    // Takes the frames and leaves `chunk` empty, with the room of a chunk consumed before when there is one:
    // once running, handing chunks on allocates nothing, nor grows a chunk step by step.
    void push(std::vector<Sample>& chunk) {
        if (!thread_.joinable()) {
            consume_(chunk);
            chunk.clear();
            return;
        }
        std::unique_lock lock(mutex_);
        spaceFree_.wait(lock, [&] { return chunks_.size() < kMaxChunks; });
        if (error_) std::rethrow_exception(error_);
        chunks_.push_back(std::move(chunk));
        chunk.clear();
        if (!consumed_.empty()) {
            chunk.swap(consumed_.back());
            consumed_.pop_back();
            chunk.clear();
        }
        chunkReady_.notify_one();
    }

    // Waits until everything pushed is consumed.
    void finish() {
        join();
        if (error_) std::rethrow_exception(error_);
    }

private:
    static constexpr size_t kMaxChunks = 16;

    void join() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            if (done_) return;
            done_ = true;
        }
        chunkReady_.notify_one();
        thread_.join();
    }

    void run() {
        for (;;) {
            std::vector<Sample> chunk;
            {
                std::unique_lock lock(mutex_);
                chunkReady_.wait(lock, [&] { return done_ || !chunks_.empty(); });
                if (chunks_.empty()) return;
                chunk = std::move(chunks_.front());
                chunks_.pop_front();
            }
            spaceFree_.notify_one();
            if (error_) continue;
            try {
                consume_(chunk);
            } catch (...) {
                std::lock_guard lock(mutex_);
                error_ = std::current_exception();
            }
            std::lock_guard lock(mutex_);
            consumed_.push_back(std::move(chunk));
        }
    }

    const std::function<void(const std::vector<Sample>&)> consume_;
    std::mutex mutex_;
    std::condition_variable chunkReady_, spaceFree_;
    std::deque<std::vector<Sample>> chunks_;
    std::vector<std::vector<Sample>> consumed_;
    std::exception_ptr error_;
    bool done_ = false;
    std::thread thread_;
};

// A loudness meter on a thread of its own, one for the input and one for the output, so that measuring
// runs beside the plug-in; or on the render's thread, when every core has a render of its own.
class MeterThread {
public:
    MeterThread(int channels, int sampleRate, mastering::MonoCount mono, bool threaded)
        : meter_(channels, sampleRate, mono),
          thread_(
              [this, channels](const std::vector<float>& chunk) {
                  meter_.add(chunk.data(), int64_t(chunk.size()) / channels);
              },
              threaded) {}

    void push(std::vector<float>& interleaved) { thread_.push(interleaved); }
    void finish() { thread_.finish(); }
    const mastering::LoudnessMeter& meter() const { return meter_; }

private:
    mastering::LoudnessMeter meter_;
    ChunkThread<float> thread_;
};

// A state for Vandrel 2 is a chunk as it saves one itself: the same length, the same leading marker, and
// nothing but finite 32-bit floats. Anything else would be ignored by the plug-in, in part or whole, and
// the render would go on with settings the user did not ask for.
void checkVandrelState(hosting::Plugin& plugin, const std::vector<uint8_t>& state,
                       const std::filesystem::path& path) {
    const std::vector<uint8_t> own = plugin.chunk();
    const std::string notState = "is not a " + plugin.effectName() + " state: ";
    if (state.size() != own.size())
        throw FileError(path, notState + counted(int64_t(state.size()), "byte") + " where a state has " +
                                  std::to_string(own.size()));
    if (!std::equal(own.begin(), own.begin() + 4, state.begin()))
        throw FileError(path, notState + "it does not begin with the state's marker");
    for (size_t at = 4; at + 4 <= state.size(); at += 4) {
        float value = 0.0f;
        std::memcpy(&value, &state[at], sizeof value);
        if (!std::isfinite(value))
            throw FileError(path, notState + "value " + std::to_string(at / 4) + " is not a finite number");
    }
}

// Samples on their way to disk: rounded to the output's sample format, written, then measured as written.
template <typename Sample> class FileOutput {
public:
    FileOutput(AudioWriter& writer, mastering::PcmQuantizer* quantizer, MeterThread& meter, int channels)
        : writer_(writer), quantizer_(quantizer), meter_(meter), channels_(channels) {}

    // On the writing thread.
    void consume(const std::vector<Sample>& chunk) {
        const int64_t frames = int64_t(chunk.size()) / channels_;
        written_.resize(chunk.size());
        if (quantizer_ != nullptr) {
            integers_.resize(chunk.size());
            quantizer_->convert(chunk.data(), chunk.size(), integers_.data(), written_.data());
            writer_.write(integers_.data(), frames);
        } else {
            writer_.write(chunk.data(), frames);
            std::copy(chunk.begin(), chunk.end(), written_.begin());
        }
        meter_.push(written_);
    }

private:
    AudioWriter& writer_;
    mastering::PcmQuantizer* quantizer_;
    MeterThread& meter_;
    const int channels_;
    std::vector<int32_t> integers_;
    std::vector<float> written_;
};

struct RenderDone {
    int32_t latency; // as the plug-in reported it
    int64_t frames;  // read from the input
};

// What a render does besides playing the plug-in: samples that are not numbers kept from it and from the
// output, a static gain before the ceiling, and the plug-in's noise floor followed.
struct RenderGuards {
    mastering::NonFiniteSamples input, plugin;
    double gain = 1.0;
    ParameterTrace* noiseFloor = nullptr;
};

// One render, for either sample width.
template <typename Sample> class Renderer {
public:
    Renderer(const RenderOptions& options, AudioReader& reader, hosting::Plugin& plugin, AudioWriter& writer,
             mastering::PcmQuantizer* quantizer, mastering::TruePeakLimiter* ceiling, MeterThread* inputMeter,
             MeterThread& outputMeter, ProgressBar& progress, const std::atomic<bool>& stop,
             hosting::EditorWindow* window, RenderGuards& guards)
        : options_(options), reader_(reader), plugin_(plugin), ceiling_(ceiling), inputMeter_(inputMeter),
          progress_(progress), stop_(stop), window_(window), guards_(guards),
          fileChannels_(reader.channels()), block_(options.setup.block),
          output_(writer, quantizer, outputMeter, fileChannels_),
          writing_([this](const std::vector<Sample>& chunk) { output_.consume(chunk); }, !options.oneThread) {
        fileIn_.resize(size_t(block_ * fileChannels_));
        readAhead_.resize(kChunkFrames * size_t(fileChannels_));
        fileOut_.resize(size_t(block_ * fileChannels_));
        pluginIn_.assign(size_t(std::max(plugin.numInputs(), 2)), std::vector<Sample>(size_t(block_)));
        pluginOut_.assign(size_t(std::max(plugin.numOutputs(), 2)), std::vector<Sample>(size_t(block_)));
    }

    RenderDone run() {
        const double rate = reader_.sampleRate();
        int64_t read = 0, written = 0, processed = 0, skip = -1;
        int32_t reported = 0;
        bool inputDone = false;
        while (!inputDone || written < read) {
            if (stop_.load()) throw Interrupted();
            const int64_t got = inputDone ? 0 : readBlock();
            inputDone = inputDone || got < block_;
            read += got;
            feedPlugin(got);
            plugin_.setTimeInfo(timeAt(processed, rate));
            process();
            processed += block_;
            if (guards_.noiseFloor) guards_.noiseFloor->look(processed);
            // Effects with look-ahead report their delay when they know the sample rate, some not
            // before their first block: it is read after that. The ceiling's own look-ahead is always
            // made up for.
            if (skip < 0) {
                reported = plugin_.initialDelay();
                skip = (options_.latencyCompensation ? std::max<int32_t>(reported, 0) : 0) +
                       (ceiling_ ? ceiling_->latency() : 0);
            }
            collectOutput();
            guards_.plugin.clean(fileOut_.data(), fileOut_.size());
            if (guards_.gain != 1.0)
                for (Sample& sample : fileOut_) sample *= Sample(guards_.gain);
            if (ceiling_) ceiling_->process(fileOut_.data(), block_);
            const int64_t skipped = std::min<int64_t>(skip, block_);
            skip -= skipped;
            const int64_t take = std::min<int64_t>(block_ - skipped, read - written);
            gather(pendingWrite_, fileOut_, skipped, take, writing_);
            if (inputMeter_) gather(pendingIn_, fileIn_, 0, got, *inputMeter_);
            written += take;
            progress_.update(written);
            if (options_.progressCounter) options_.progressCounter->framesWritten.store(written);
            if (window_ && !window_->playUntil(processed)) break; // the window was closed
        }
        if (inputMeter_) inputMeter_->push(pendingIn_);
        writing_.push(pendingWrite_);
        writing_.finish();
        return {reported, read};
    }

private:
    // Frames handed to the writing and measuring threads at a time.
    static constexpr size_t kChunkFrames = 16384;

    static vst2::VstTimeInfo timeAt(int64_t frame, double rate) {
        vst2::VstTimeInfo time{};
        time.samplePos = double(frame);
        time.sampleRate = rate;
        time.tempo = 120.0;
        time.ppqPos = double(frame) / rate * 2.0;
        time.timeSigNumerator = 4;
        time.timeSigDenominator = 4;
        time.flags = vst2::kVstTransportPlaying | vst2::kVstPpqPosValid | vst2::kVstTempoValid |
                     vst2::kVstTimeSigValid;
        return time;
    }

    // The next block's frames into fileIn_, from a chunk read ahead: one read per block would cost
    // libsndfile a system call for every 512 frames. Answers how many, fewer than a block at the end.
    int64_t readBlock() {
        int64_t got = 0;
        while (got < block_) {
            if (readAheadAt_ == readAheadFrames_) {
                readAheadFrames_ = reader_.read(readAhead_.data(), int64_t(kChunkFrames));
                guards_.input.clean(readAhead_.data(), size_t(readAheadFrames_ * fileChannels_));
                readAheadAt_ = 0;
                if (readAheadFrames_ == 0) break;
            }
            const int64_t take = std::min(int64_t(block_) - got, readAheadFrames_ - readAheadAt_);
            std::copy_n(readAhead_.begin() + ptrdiff_t(readAheadAt_ * fileChannels_), take * fileChannels_,
                        fileIn_.begin() + ptrdiff_t(got * fileChannels_));
            readAheadAt_ += take;
            got += take;
        }
        return got;
    }

    // File channels to the plug-in's inputs: a mono file feeds both, a mono effect gets the mix.
    void feedPlugin(int64_t got) {
        const bool monoEffect = plugin_.numInputs() == 1;
        for (auto& channel : pluginIn_) std::fill(channel.begin(), channel.end(), Sample(0));
        for (int64_t i = 0; i < got; ++i) {
            const Sample* frame = &fileIn_[size_t(i * fileChannels_)];
            if (fileChannels_ == 1) {
                pluginIn_[0][size_t(i)] = pluginIn_[1][size_t(i)] = frame[0];
            } else if (monoEffect) {
                pluginIn_[0][size_t(i)] = Sample(0.5) * (frame[0] + frame[1]);
            } else {
                pluginIn_[0][size_t(i)] = frame[0];
                pluginIn_[1][size_t(i)] = frame[1];
            }
        }
    }

    void process() {
        for (auto& channel : pluginOut_) std::fill(channel.begin(), channel.end(), Sample(0));
        if constexpr (std::is_same_v<Sample, float>)
            plugin_.processFloat(pluginIn_, pluginOut_);
        else
            plugin_.processDouble(pluginIn_, pluginOut_);
    }

    // The plug-in's outputs back to file channels: a mono file gets the mean of the first two.
    void collectOutput() {
        const bool monoEffect = plugin_.numOutputs() == 1;
        const auto& left = pluginOut_[0];
        const auto& right = monoEffect ? pluginOut_[0] : pluginOut_[1];
        for (size_t i = 0; i < size_t(block_); ++i) {
            if (fileChannels_ == 1) {
                fileOut_[i] = Sample(0.5) * (left[i] + right[i]);
            } else {
                fileOut_[2 * i] = left[i];
                fileOut_[2 * i + 1] = right[i];
            }
        }
    }

    // Adds frames of a block to a pending chunk, and hands the chunk on once it is full.
    template <typename Pending, typename Block, typename Thread>
    void gather(std::vector<Pending>& pending, const std::vector<Block>& block, int64_t from, int64_t frames,
                Thread& thread) {
        const auto first = block.begin() + from * fileChannels_;
        pending.insert(pending.end(), first, first + frames * fileChannels_);
        if (pending.size() >= kChunkFrames * size_t(fileChannels_)) thread.push(pending);
    }

    const RenderOptions& options_;
    AudioReader& reader_;
    hosting::Plugin& plugin_;
    mastering::TruePeakLimiter* ceiling_;
    MeterThread* inputMeter_;
    ProgressBar& progress_;
    const std::atomic<bool>& stop_;
    hosting::EditorWindow* window_;
    RenderGuards& guards_;
    const int fileChannels_;
    const int32_t block_;
    std::vector<Sample> fileIn_, fileOut_;
    std::vector<Sample> readAhead_;
    int64_t readAheadAt_ = 0, readAheadFrames_ = 0;
    std::vector<std::vector<Sample>> pluginIn_, pluginOut_;
    std::vector<float> pendingIn_;
    std::vector<Sample> pendingWrite_;
    FileOutput<Sample> output_;
    // Encoding and measuring the output run beside the plug-in too; declared last, so the thread ends
    // before the buffers go.
    ChunkThread<Sample> writing_;
};

} // namespace

std::unique_ptr<hosting::Plugin> loadPlugin(const PluginSetup& setup, int sampleRate) {
    return hosting::openPlugin(setup.plugin, sampleRate, setup.block);
}

std::vector<std::string> configurePlugin(hosting::Plugin& plugin, const PluginSetup& setup) {
    std::vector<std::string> notes;
    if (setup.loadState) {
        const auto bytes = readBytes(*setup.loadState);
        if (bytes.empty()) throw FileError(*setup.loadState, "the state file is empty");
        if (plugin.uniqueId() == kVandrelId) checkVandrelState(plugin, bytes, *setup.loadState);
        plugin.setChunk(bytes);
    }
    auto settings = setup.settings;
    if (setup.target) {
        if (displayedValue(plugin, kTargetParameter))
            settings.emplace_back(kTargetParameter, formatted(*setup.target, "%g"));
        else
            notes.push_back("the plug-in has no \"" + std::string(kTargetParameter) +
                            "\" parameter; --target only sets the target the output is compared with");
    }
    const hosting::KnownUnits units = knownUnits(plugin);
    for (const auto& [key, value] : settings) {
        try {
            hosting::setParameterValue(plugin, hosting::findParameter(plugin, key, units), value, units);
        } catch (const hosting::ParameterError& error) {
            throw SettingError(setup.plugin, error.what());
        }
    }
    if (setup.saveState) saveState(plugin, *setup.saveState);
    return notes;
}

void saveState(hosting::Plugin& plugin, const std::filesystem::path& path) {
    const auto bytes = plugin.chunk();
    if (bytes.empty()) throw FileError(path, "the plug-in has no state to save");
    writeTextFile(path, std::string(bytes.begin(), bytes.end()));
}

namespace {

// The same file, whether or not it exists yet.
bool samePlace(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) return true;
    const auto first = std::filesystem::weakly_canonical(a, error);
    if (error) return false;
    const auto second = std::filesystem::weakly_canonical(b, error);
    return !error && first == second;
}

} // namespace

void checkOutputPath(const std::filesystem::path& output, const std::filesystem::path* input,
                     const std::filesystem::path* claimed) {
    std::error_code error;
    if (input != nullptr && samePlace(*input, output))
        throw FileError(output, "is the input file; it is never overwritten");
    if (claimed != nullptr && samePlace(*claimed, output)) throw FileError(output, "is the output file");
    if (std::filesystem::is_directory(output, error)) throw FileError(output, "is a folder");
    // The result replaces the file by renaming; a device or pipe would be replaced, not written to.
    if (std::filesystem::exists(output, error) && !std::filesystem::is_regular_file(output, error))
        throw FileError(output, "is not a regular file");
    const auto folder = output.parent_path().empty() ? std::filesystem::path(".") : output.parent_path();
    if (!std::filesystem::is_directory(folder, error)) throw FileError(output, "its folder does not exist");
}

TemporaryFile::TemporaryFile(const std::filesystem::path& target) : target_(followLink(target)) {
    const auto folder = target_.parent_path().empty() ? std::filesystem::path(".") : target_.parent_path();
    // In plain sight, so that what a killed run leaves behind is seen and known by its name.
    std::string pattern = (folder / partialPattern(target_)).string();
    descriptor_ = mkstemp(pattern.data());
    if (descriptor_ < 0) throw FileError(target, "cannot create a file in its folder: " + systemError());
    temporary_ = pattern;
    // Locked while it is written, on a descriptor of its own that outlives the writer's: a later run
    // clearing what killed runs left knows it from a file in use.
    lock_ = ::dup(descriptor_);
    if (lock_ >= 0) ::flock(lock_, LOCK_EX | LOCK_NB);
    // mkstemp makes the file private; the result keeps the permissions of the file it replaces, or gets
    // those any new file would.
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        fchmod(descriptor_, existing.st_mode & 07777);
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(descriptor_, 0666 & ~mask);
    }
}

TemporaryFile::~TemporaryFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!committed_) ::unlink(temporary_.c_str());
    if (lock_ >= 0) ::close(lock_);
}

int TemporaryFile::takeDescriptor() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor;
}

void TemporaryFile::commit() {
    if (descriptor_ >= 0) {
        if (::close(descriptor_) != 0) throw FileError(target_, "cannot finish writing: " + systemError());
        descriptor_ = -1;
    }
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
        throw FileError(target_, "cannot replace: " + systemError());
    committed_ = true;
}

void writeTextFile(const std::filesystem::path& path, const std::string& text) {
    checkOutputPath(path, nullptr);
    TemporaryFile file(path);
    const char* data = text.data();
    size_t left = text.size();
    const int descriptor = file.takeDescriptor();
    while (left > 0) {
        const ssize_t done = ::write(descriptor, data, left);
        if (done < 0) {
            const std::string reason = systemError();
            ::close(descriptor);
            throw FileError(path, "cannot write: " + reason);
        }
        data += done;
        left -= size_t(done);
    }
    if (::close(descriptor) != 0) throw FileError(path, "cannot write: " + systemError());
    file.commit();
}

namespace {

// The step of an input sample, as full scale is 1: of its integer format, and of 24 bits for floats and
// codecs, whose own resolution lies below anything audible.
double quantizationFloorDbfs(int format) {
    constexpr int kFloatBits = 24;
    const int bits = integerBits(format) > 0 ? integerBits(format) : kFloatBits;
    return 20.0 * std::log10(std::ldexp(1.0, 1 - bits));
}

} // namespace

Pass renderPass(const RenderOptions& options, const PassAdjustments& adjustments,
                const std::atomic<bool>& stop) {
    checkOutputPath(options.output, &options.input);
    if (options.setup.saveState) checkOutputPath(*options.setup.saveState, &options.input, &options.output);
    AudioReader reader(options.input);
    if (reader.channels() > 2)
        throw FileError(options.input, std::to_string(reader.channels()) +
                                           " channels; only mono and stereo files can be rendered");
    const OutputFormat format = outputFormatFor(
        options.output, reader.format(), options.sampleFormat, reader.channels(), reader.sampleRate(),
        reader.lengthKnown() ? std::optional(reader.frames()) : std::nullopt);

    auto plugin = loadPlugin(options.setup, reader.sampleRate());
    RenderResult result;
    // The state is saved with the loudness correction, which a host needs to play it alike, and without
    // the raised target of a mono file, which the renderer makes again from the state.
    PluginSetup setup = options.setup;
    setup.saveState.reset();
    // A preset's settings for the leveler come first, as the LV2 preset holds them; --set may change them.
    if (options.preset && plugin->uniqueId() == kVandrelId) {
        auto settings = presetSettings(*options.preset);
        settings.insert(settings.end(), setup.settings.begin(), setup.settings.end());
        setup.settings = std::move(settings);
    }
    result.notes = configurePlugin(*plugin, setup);
    if (plugin->numOutputs() < 1) throw FileError(options.setup.plugin, "the plug-in has no audio outputs");
    if (options.doublePrecision && !plugin->hasFlag(vst2::effFlagsCanDoubleReplacing))
        throw FileError(options.setup.plugin, "the plug-in cannot process 64-bit audio (leave out --double)");

    result.pluginName = plugin->effectName();
    result.sampleRate = reader.sampleRate();
    result.channels = reader.channels();
    result.latencyCompensated = options.latencyCompensation;
    result.target = displayedValue(*plugin, kTargetParameter);
    result.targetFromPlugin = result.target.has_value();
    if (!result.target) result.target = options.setup.target;
    result.noiseFloor = displayedValue(*plugin, "Noise Floor");
    result.noiseFloorLowest = displayedValue(*plugin, "Noise Floor", 0.0f);
    result.trace.automaticThreshold = displayedValue(*plugin, "Automatic Threshold").value_or(0.0) == 1.0;
    result.outputFormat = describeFormat(format.format);
    result.formatNote = format.note;
    result.inputFloorDbfs = quantizationFloorDbfs(reader.format());
    if (adjustments.correctionDb != 0.0)
        result.correction = correctLoudness(*plugin, adjustments.correctionDb);
    if (options.setup.saveState) saveState(*plugin, *options.setup.saveState);
    const bool mono = reader.channels() == 1;
    result.dualMono = mono && options.dualMono;
    if (mono && !options.dualMono && result.targetFromPlugin)
        result.monoPluginTarget = raiseTargetForMono(*plugin, *result.target, result.notes);
    RenderGuards guards;
    if (result.correction) guards.gain = std::pow(10.0, result.correction->gainDb / 20.0);
    ParameterTrace noiseFloor(*plugin, "Noise Floor");
    guards.noiseFloor = &noiseFloor;

    auto temporary = std::make_unique<TemporaryFile>(options.output);
    AudioWriter writer(temporary->takeDescriptor(), options.output, format.format, reader.channels(),
                       reader.sampleRate(), format.rf64Downgrade);
    writer.setFlacLevel(options.flacLevel);
    const TagCarrier tags(options.input, reader);
    tags.beforeAudio(writer, format.format);

    std::optional<mastering::PcmQuantizer> quantizer;
    if (const int bits = integerBits(format.format))
        quantizer.emplace(bits, reader.channels(), options.dither);
    result.dithered = quantizer && quantizer->dithers();
    std::optional<double> ceilingDbtp;
    if (options.ceiling) ceilingDbtp = *options.ceiling - adjustments.ceilingLowerDb;
    std::optional<mastering::TruePeakLimiter> ceiling;
    if (ceilingDbtp) ceiling.emplace(reader.channels(), reader.sampleRate(), *ceilingDbtp);

    const bool threaded = !options.oneThread;
    const auto monoCount =
        options.dualMono ? mastering::MonoCount::kDualMono : mastering::MonoCount::kOneChannel;
    std::optional<MeterThread> inputMeter;
    if (options.measureInput) inputMeter.emplace(reader.channels(), reader.sampleRate(), monoCount, threaded);
    MeterThread outputMeter(reader.channels(), reader.sampleRate(), monoCount, threaded);
    ProgressBar progress(options.progress, reader.frames(), reader.sampleRate());
    if (options.progressCounter) {
        options.progressCounter->framesTotal.store(reader.frames());
        options.progressCounter->sampleRate.store(reader.sampleRate());
    }
    const auto start = std::chrono::steady_clock::now();
    plugin->resume();
    std::unique_ptr<hosting::EditorWindow> window;
    if (options.editor)
        window = std::make_unique<hosting::EditorWindow>(*plugin, reader.sampleRate(),
                                                         options.playbackClock ? *options.playbackClock
                                                                               : hosting::steadyClock());
    mastering::PcmQuantizer* rounding = quantizer ? &*quantizer : nullptr;
    mastering::TruePeakLimiter* limiter = ceiling ? &*ceiling : nullptr;
    MeterThread* input = inputMeter ? &*inputMeter : nullptr;
    const auto done = options.doublePrecision
                          ? Renderer<double>(options, reader, *plugin, writer, rounding, limiter, input,
                                             outputMeter, progress, stop, window.get(), guards)
                                .run()
                          : Renderer<float>(options, reader, *plugin, writer, rounding, limiter, input,
                                            outputMeter, progress, stop, window.get(), guards)
                                .run();
    result.latency = done.latency;
    window.reset();
    plugin->suspend();
    writer.close();
    result.outputFormat = describeFormat(writer.format());
    if (const auto warning = reader.lengthWarning()) result.warnings.push_back(*warning);
    if (inputMeter) inputMeter->finish();
    outputMeter.finish();
    auto [carried, dropped] = tags.afterAudio(temporary->path(), format.format, options.output);
    result.metadataCarried = std::move(carried);
    result.metadataDropped = std::move(dropped);
    makeReproducible(temporary->path(), format.format, options.output);
    if (stop.load()) throw Interrupted();
    progress.finish();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.frames = done.frames;
    result.inputMeasured = inputMeter.has_value();
    if (inputMeter) {
        result.input = inputMeter->meter().summary();
        result.inputShortTerm = inputMeter->meter().shortTerm();
        result.inputHopPeaks = inputMeter->meter().hopPeaks();
    } else {
        constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
        result.input = {kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown};
    }
    result.output = outputMeter.meter().summary();
    result.outputShortTerm = outputMeter.meter().shortTerm();
    if (quantizer) result.clippedSamples = quantizer->clipped();
    if (ceiling)
        result.ceiling = CeilingReport{*ceilingDbtp, ceiling->latency(), ceiling->largestReductionDb(),
                                       double(ceiling->limitedFrames()) / reader.sampleRate()};
    result.trace.noiseFloor = noiseFloor.changes();
    result.inputNotNumbers = guards.input.notNumbers();
    result.inputInfinite = guards.input.infinite();
    result.pluginNonFinite = guards.plugin.notNumbers() + guards.plugin.infinite();
    return {std::move(result), std::move(temporary), format.format};
}

} // namespace render
