// Where a batch render's CPU time goes, in CPU seconds per hour of 48 kHz stereo audio, in one run: each
// stage of a render of a 16-bit WAV into FLAC on its own (decoding, the plug-in, the true-peak ceiling,
// metering input and output with libebur128, rounding with dither, encoding at two FLAC levels), then the
// whole render on one thread as a batch job runs it. Prints Google Benchmark's table, then the split.
//   vandrel2_batch_bench [benchmark options]
#include "hosting/parameters.h"
#include "hosting/plugin.h"
#include "mastering/loudness.h"
#include "mastering/quantizer.h"
#include "mastering/true_peak.h"
#include "render/audio_file.h"
#include "render/render.h"
#include "testkit/programmes.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int32_t kBlock = 512;
constexpr int64_t kChunk = 16384; // frames, as the renderer hands them between its stages
constexpr double kSeconds = 60.0;

// CPU seconds per hour of audio, from the audio each iteration went through.
void PerHour(benchmark::State& state) {
    state.counters["cpu_s_per_h"] =
        benchmark::Counter(double(state.iterations()) * kSeconds / 3600.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

struct Programme {
    std::string name;
    fs::path wav;
    std::vector<float> input, levelled, written;
    std::vector<int32_t> integers;
};

std::unique_ptr<hosting::Plugin> Levelling() {
    auto plugin = hosting::openPlugin(VANDREL_PLUGIN_PATH, programmes::kRate, kBlock);
    plugin->resume();
    return plugin;
}

// The plug-in's output for interleaved stereo, whole blocks.
void Process(hosting::Plugin& plugin, const std::vector<float>& input, std::vector<float>* output) {
    std::vector<float> inLeft(kBlock), inRight(kBlock), left(kBlock), right(kBlock);
    for (size_t at = 0; at + 2 * kBlock <= input.size(); at += 2 * kBlock) {
        for (size_t i = 0; i < kBlock; ++i) inLeft[i] = input[at + 2 * i], inRight[i] = input[at + 2 * i + 1];
        float* in[] = {inLeft.data(), inRight.data()};
        float* out[] = {left.data(), right.data()};
        plugin.processFloat(in, out, kBlock);
        if (output)
            for (size_t i = 0; i < kBlock; ++i) output->push_back(left[i]), output->push_back(right[i]);
        benchmark::DoNotOptimize(left.data());
    }
}

Programme Prepare(const programmes::Programme& made, const fs::path& folder) {
    Programme programme{made.name, folder / (made.name + ".wav"), {}, {}, {}, {}};
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = programmes::kRate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(programme.wav.c_str(), SFM_WRITE, &info);
    sf_writef_float(file, made.samples.data(), sf_count_t(made.samples.size() / 2));
    sf_close(file);
    // As the renderer reads it back.
    render::AudioReader reader(programme.wav);
    programme.input.resize(size_t(reader.frames() * 2));
    reader.read(programme.input.data(), reader.frames());
    auto plugin = Levelling();
    Process(*plugin, programme.input, &programme.levelled);
    mastering::TruePeakLimiter ceiling(2, programmes::kRate, -1.0);
    ceiling.process(programme.levelled.data(), int64_t(programme.levelled.size() / 2));
    mastering::PcmQuantizer quantizer(16, 2, true);
    programme.written.resize(programme.levelled.size());
    programme.integers.resize(programme.levelled.size());
    quantizer.convert(programme.levelled.data(), programme.levelled.size(), programme.integers.data(),
                      programme.written.data());
    return programme;
}

void Decode(benchmark::State& state, const Programme& programme) {
    std::vector<float> chunk(size_t(kChunk * 2));
    for (auto _ : state) {
        render::AudioReader reader(programme.wav);
        while (reader.read(chunk.data(), kChunk) > 0) benchmark::DoNotOptimize(chunk.data());
    }
    PerHour(state);
}

void PluginStage(benchmark::State& state, const Programme& programme) {
    auto plugin = Levelling();
    for (auto _ : state) Process(*plugin, programme.input, nullptr);
    PerHour(state);
}

void CeilingStage(benchmark::State& state, const Programme& programme) {
    std::vector<float> samples(programme.levelled.size());
    for (auto _ : state) {
        state.PauseTiming();
        samples = programme.levelled;
        state.ResumeTiming();
        mastering::TruePeakLimiter ceiling(2, programmes::kRate, -1.0);
        for (size_t at = 0; at + 2 * kBlock <= samples.size(); at += 2 * kBlock)
            ceiling.process(samples.data() + at, kBlock);
        benchmark::DoNotOptimize(samples.data());
    }
    PerHour(state);
}

void Meter(benchmark::State& state, const std::vector<float>* samples) {
    for (auto _ : state) {
        mastering::LoudnessMeter meter(2, programmes::kRate);
        for (size_t at = 0; at < samples->size(); at += size_t(2 * kChunk))
            meter.add(samples->data() + at, std::min<int64_t>(kChunk, int64_t(samples->size() - at) / 2));
        benchmark::DoNotOptimize(meter.summary());
    }
    PerHour(state);
}

void Rounding(benchmark::State& state, const Programme& programme) {
    std::vector<int32_t> integers(size_t(2 * kChunk));
    std::vector<float> written(size_t(2 * kChunk));
    for (auto _ : state) {
        mastering::PcmQuantizer quantizer(16, 2, true);
        for (size_t at = 0; at < programme.levelled.size(); at += size_t(2 * kChunk)) {
            const size_t count = std::min<size_t>(size_t(2 * kChunk), programme.levelled.size() - at);
            quantizer.convert(programme.levelled.data() + at, count, integers.data(), written.data());
        }
        benchmark::DoNotOptimize(written.data());
    }
    PerHour(state);
}

void Encode(benchmark::State& state, const Programme& programme, int level) {
    const fs::path path = programme.wav.parent_path() / (programme.name + ".flac");
    for (auto _ : state) {
        const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        render::AudioWriter writer(descriptor, path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, programmes::kRate);
        writer.setFlacLevel(level);
        for (size_t at = 0; at < programme.integers.size(); at += size_t(2 * kChunk))
            writer.write(programme.integers.data() + at,
                         std::min<int64_t>(kChunk, int64_t(programme.integers.size() - at) / 2));
        writer.close();
    }
    PerHour(state);
}

// The whole job as a batch runs it when its jobs fill the cores: every stage on the render's thread.
void WholeRender(benchmark::State& state, const Programme& programme, int level) {
    render::RenderOptions options;
    options.input = programme.wav;
    options.output = programme.wav.parent_path() / (programme.name + "-levelled.flac");
    options.setup.plugin = VANDREL_PLUGIN_PATH;
    options.oneThread = true;
    options.flacLevel = level;
    const std::atomic<bool> stop{false};
    for (auto _ : state) benchmark::DoNotOptimize(render::renderFile(options, stop).frames);
    PerHour(state);
}

// Keeps each benchmark's figure besides showing the table.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto counter = run.counters.find("cpu_s_per_h");
            if (counter != run.counters.end()) perHour[run.benchmark_name()] = counter->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> perHour;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const fs::path folder = fs::temp_directory_path() / ("vandrel_batch_bench_" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::vector<Programme> all;
    for (const auto& made : programmes::synthesised(kSeconds))
        if (made.name == "speech" || made.name == "pop") all.push_back(Prepare(made, folder));
    const char* const kStages[] = {"decode",        "plugin",       "ceiling",      "input meter",
                                   "output meter",  "rounding",     "flac level 1", "flac level 5",
                                   "whole level 1", "whole level 5"};
    for (const auto& programme : all) {
        const std::string& name = programme.name;
        const auto add = [&](const char* stage, auto function, auto... arguments) {
            benchmark::RegisterBenchmark((std::string(stage) + "/" + name).c_str(), function, arguments...)
                ->Unit(benchmark::kMillisecond);
        };
        add(kStages[0], Decode, std::cref(programme));
        add(kStages[1], PluginStage, std::cref(programme));
        add(kStages[2], CeilingStage, std::cref(programme));
        add(kStages[3], Meter, &programme.input);
        add(kStages[4], Meter, &programme.written);
        add(kStages[5], Rounding, std::cref(programme));
        add(kStages[6], Encode, std::cref(programme), 1);
        add(kStages[7], Encode, std::cref(programme), 5);
        add(kStages[8], WholeRender, std::cref(programme), 1);
        add(kStages[9], WholeRender, std::cref(programme), 5);
    }
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    fs::remove_all(folder);

    std::printf("\nCPU seconds per hour of 48 kHz stereo audio (16-bit WAV into 16-bit FLAC):\n%-14s",
                "stage");
    for (const auto& programme : all) std::printf(" %10s", programme.name.c_str());
    std::printf("\n");
    for (const char* stage : kStages) {
        std::printf("%-14s", stage);
        for (const auto& programme : all) {
            const auto found = collector.perHour.find(std::string(stage) + "/" + programme.name);
            std::printf(" %10.2f", found == collector.perHour.end() ? 0.0 : found->second);
        }
        std::printf("\n");
    }
    return 0;
}
