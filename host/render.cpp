#include "host/render.h"

#include "host/audio_file.h"
#include "host/editor_window.h"
#include "host/parameters.h"
#include "host/progress.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <type_traits>
#include <unistd.h>

namespace host {

namespace {

std::string systemError() {
    return std::strerror(errno);
}

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) throw FileError(path, "no such file");
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) throw FileError(path, "cannot read: " + systemError());
    return bytes;
}

// Chunks of audio handed, in order, to a thread of its own through a bounded queue: the render waits
// rather than piling up audio when the thread falls behind. An error on the thread reaches the render at
// its next hand-over or at the end; what comes after an error is dropped.
template <typename Sample> class ChunkThread {
public:
    explicit ChunkThread(std::function<void(const std::vector<Sample>&)> consume)
        : consume_(std::move(consume)), thread_([this] { run(); }) {}
    ~ChunkThread() { join(); }

    // Takes the frames and leaves `chunk` empty, with the room of a chunk consumed before when there is one:
    // once running, handing chunks on allocates nothing, nor grows a chunk step by step.
    void push(std::vector<Sample>& chunk) {
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

// A loudness meter on a thread of its own: one for the input and one for the output, so measuring
// runs beside the plug-in.
class MeterThread {
public:
    MeterThread(int channels, int sampleRate)
        : meter_(channels, sampleRate), thread_([this, channels](const std::vector<float>& chunk) {
              meter_.add(chunk.data(), int64_t(chunk.size()) / channels);
          }) {}

    void push(std::vector<float>& interleaved) { thread_.push(interleaved); }
    void finish() { thread_.finish(); }
    const LoudnessMeter& meter() const { return meter_; }

private:
    LoudnessMeter meter_;
    ChunkThread<float> thread_;
};

std::optional<double> targetOf(Plugin& plugin) {
    for (int32_t i = 0; i < plugin.numParams(); ++i)
        if (plugin.parameterName(i) == "Target LUFS")
            if (const auto number = parseDisplayNumber(plugin.parameterDisplay(i))) return number->value;
    return std::nullopt;
}

// One render, for either sample width.
template <typename Sample> class Renderer {
public:
    Renderer(const RenderOptions& options, AudioReader& reader, Plugin& plugin, AudioWriter& writer,
             MeterThread& inputMeter, MeterThread& outputMeter, ProgressBar& progress,
             const std::atomic<bool>& stop, EditorWindow* window)
        : options_(options), reader_(reader), plugin_(plugin), writer_(writer), inputMeter_(inputMeter),
          outputMeter_(outputMeter), progress_(progress), stop_(stop), window_(window),
          fileChannels_(reader.channels()), block_(options.setup.block),
          writing_([this](const std::vector<Sample>& chunk) {
              writer_.write(chunk.data(), int64_t(chunk.size()) / fileChannels_);
          }) {
        fileIn_.resize(size_t(block_ * fileChannels_));
        readAhead_.resize(kChunkFrames * size_t(fileChannels_));
        fileOut_.resize(size_t(block_ * fileChannels_));
        pluginIn_.assign(size_t(std::max(plugin.numInputs(), 2)), std::vector<Sample>(size_t(block_)));
        pluginOut_.assign(size_t(std::max(plugin.numOutputs(), 2)), std::vector<Sample>(size_t(block_)));
    }

    // Answers the latency the plug-in reported.
    int32_t run() {
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
            // Effects with look-ahead report their delay when they know the sample rate, some not
            // before their first block: it is read after that.
            if (skip < 0) {
                reported = plugin_.initialDelay();
                skip = options_.latencyCompensation ? std::max<int32_t>(reported, 0) : 0;
            }
            const int64_t skipped = std::min<int64_t>(skip, block_);
            skip -= skipped;
            const int64_t take = std::min<int64_t>(block_ - skipped, read - written);
            collectOutput(skipped, take);
            gather(pendingWrite_, fileOut_, take, writing_);
            gather(pendingIn_, fileIn_, got, inputMeter_);
            gather(pendingOut_, fileOut_, take, outputMeter_);
            written += take;
            progress_.update(written);
            if (window_ && !window_->playUntil(processed)) break; // the window was closed
        }
        inputMeter_.push(pendingIn_);
        outputMeter_.push(pendingOut_);
        writing_.push(pendingWrite_);
        writing_.finish();
        return reported;
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
    void collectOutput(int64_t from, int64_t frames) {
        const bool monoEffect = plugin_.numOutputs() == 1;
        const auto& left = pluginOut_[0];
        const auto& right = monoEffect ? pluginOut_[0] : pluginOut_[1];
        for (int64_t i = 0; i < frames; ++i) {
            const auto at = size_t(from + i);
            if (fileChannels_ == 1) {
                fileOut_[size_t(i)] = Sample(0.5) * (left[at] + right[at]);
            } else {
                fileOut_[size_t(2 * i)] = left[at];
                fileOut_[size_t(2 * i + 1)] = right[at];
            }
        }
    }

    // Adds the first frames of a block to a pending chunk, and hands the chunk on once it is full.
    template <typename Pending, typename Block, typename Thread>
    void gather(std::vector<Pending>& pending, const std::vector<Block>& block, int64_t frames,
                Thread& thread) {
        pending.insert(pending.end(), block.begin(), block.begin() + frames * fileChannels_);
        if (pending.size() >= kChunkFrames * size_t(fileChannels_)) thread.push(pending);
    }

    const RenderOptions& options_;
    AudioReader& reader_;
    Plugin& plugin_;
    AudioWriter& writer_;
    MeterThread& inputMeter_;
    MeterThread& outputMeter_;
    ProgressBar& progress_;
    const std::atomic<bool>& stop_;
    EditorWindow* window_;
    const int fileChannels_;
    const int32_t block_;
    std::vector<Sample> fileIn_, fileOut_;
    std::vector<Sample> readAhead_;
    int64_t readAheadAt_ = 0, readAheadFrames_ = 0;
    std::vector<std::vector<Sample>> pluginIn_, pluginOut_;
    std::vector<float> pendingIn_, pendingOut_;
    std::vector<Sample> pendingWrite_;
    // Encoding runs beside the plug-in too; declared last, so its thread ends before the buffers go.
    ChunkThread<Sample> writing_;
};

} // namespace

std::unique_ptr<Plugin> loadPlugin(const PluginSetup& setup, int sampleRate) {
    HostOptions options;
    options.sampleRate = sampleRate;
    options.blockSize = setup.block;
    auto plugin = std::make_unique<Plugin>(setup.plugin, options);
    plugin->open();
    plugin->setSampleRate(sampleRate);
    plugin->setBlockSize(setup.block);
    return plugin;
}

void configurePlugin(Plugin& plugin, const PluginSetup& setup) {
    if (setup.loadState) {
        const auto bytes = readBytes(*setup.loadState);
        if (bytes.empty()) throw FileError(*setup.loadState, "the state file is empty");
        plugin.setChunk(bytes);
    }
    for (const auto& [key, value] : setup.settings) {
        try {
            setParameterValue(plugin, findParameter(plugin, key), value);
        } catch (const ParameterError& error) {
            throw FileError(setup.plugin, error.what());
        }
    }
    if (setup.saveState) {
        const auto bytes = plugin.chunk();
        if (bytes.empty()) throw FileError(*setup.saveState, "the plug-in has no state to save");
        writeTextFile(*setup.saveState, std::string(bytes.begin(), bytes.end()));
    }
}

void checkOutputPath(const std::filesystem::path& output, const std::filesystem::path* input) {
    std::error_code error;
    if (input != nullptr && std::filesystem::equivalent(*input, output, error))
        throw FileError(output, "is the input file; it is never overwritten");
    if (std::filesystem::is_directory(output, error)) throw FileError(output, "is a folder");
    // The result replaces the file by renaming; a device or pipe would be replaced, not written to.
    if (std::filesystem::exists(output, error) && !std::filesystem::is_regular_file(output, error))
        throw FileError(output, "is not a regular file");
    const auto folder = output.parent_path().empty() ? std::filesystem::path(".") : output.parent_path();
    if (!std::filesystem::is_directory(folder, error)) throw FileError(output, "its folder does not exist");
}

namespace {

// Writing to a symbolic link writes the file it points to, as a shell redirection would.
std::filesystem::path followLink(const std::filesystem::path& path) {
    constexpr int kMostLinks = 40; // as the kernel allows
    std::filesystem::path current = path;
    std::error_code error;
    for (int i = 0; i < kMostLinks && std::filesystem::is_symlink(current, error); ++i) {
        const auto target = std::filesystem::read_symlink(current, error);
        if (error) break;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current;
}

} // namespace

TemporaryFile::TemporaryFile(const std::filesystem::path& target) : target_(followLink(target)) {
    const auto folder = target_.parent_path().empty() ? std::filesystem::path(".") : target_.parent_path();
    std::string pattern = (folder / ("." + target_.filename().string() + ".partial-XXXXXX")).string();
    descriptor_ = mkstemp(pattern.data());
    if (descriptor_ < 0) throw FileError(target, "cannot create a file in its folder: " + systemError());
    temporary_ = pattern;
    // mkstemp makes the file private; the result gets the permissions any new file would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor_, 0666 & ~mask);
}

TemporaryFile::~TemporaryFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!committed_) ::unlink(temporary_.c_str());
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

RenderResult render(const RenderOptions& options, const std::atomic<bool>& stop) {
    checkOutputPath(options.output, &options.input);
    AudioReader reader(options.input);
    if (reader.channels() > 2)
        throw FileError(options.input, std::to_string(reader.channels()) +
                                           " channels; only mono and stereo files can be rendered");
    const int format = outputFormatFor(options.output, reader.format(), options.sampleFormat,
                                       reader.channels(), reader.sampleRate());

    auto plugin = loadPlugin(options.setup, reader.sampleRate());
    configurePlugin(*plugin, options.setup);
    if (plugin->numOutputs() < 1) throw FileError(options.setup.plugin, "the plug-in has no audio outputs");
    if (options.doublePrecision && !plugin->hasFlag(vst2::effFlagsCanDoubleReplacing))
        throw FileError(options.setup.plugin, "the plug-in cannot process 64-bit audio (leave out --double)");

    RenderResult result;
    result.pluginName = plugin->effectName();
    result.sampleRate = reader.sampleRate();
    result.channels = reader.channels();
    result.latencyCompensated = options.latencyCompensation;
    result.pluginTarget = targetOf(*plugin);

    TemporaryFile temporary(options.output);
    AudioWriter writer(temporary.takeDescriptor(), options.output, format, reader.channels(),
                       reader.sampleRate());
    MeterThread inputMeter(reader.channels(), reader.sampleRate());
    MeterThread outputMeter(reader.channels(), reader.sampleRate());
    ProgressBar progress(options.progress, reader.frames(), reader.sampleRate());
    const auto start = std::chrono::steady_clock::now();
    plugin->resume();
    std::unique_ptr<EditorWindow> window;
    if (options.editor) window = std::make_unique<EditorWindow>(*plugin, reader.sampleRate());
    result.latency = options.doublePrecision ? Renderer<double>(options, reader, *plugin, writer, inputMeter,
                                                                outputMeter, progress, stop, window.get())
                                                   .run()
                                             : Renderer<float>(options, reader, *plugin, writer, inputMeter,
                                                               outputMeter, progress, stop, window.get())
                                                   .run();
    window.reset();
    plugin->suspend();
    writer.close();
    inputMeter.finish();
    outputMeter.finish();
    temporary.commit();
    progress.finish();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.frames = inputMeter.meter().frames();
    result.input = inputMeter.meter().summary();
    result.output = outputMeter.meter().summary();
    result.inputShortTerm = inputMeter.meter().shortTerm();
    result.outputShortTerm = outputMeter.meter().shortTerm();
    return result;
}

} // namespace host
