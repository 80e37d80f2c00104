// The leveler's throughput through the plug-in's processing entries: 48 kHz stereo in blocks of 512 frames
// with default settings, on a music-like signal and on silence, 32-bit and 64-bit; and its cost per host
// call, on music in host blocks of 16 to 4096 frames, beside another build's (VANDREL_BENCH_BASELINE).
#include "hosting/plugin.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 48000;
constexpr int32_t kBlock = 512;
// The signal repeats after a minute; the plug-in is resumed afresh then, outside the timing.
constexpr size_t kLoopFrames = 60 * 48000;

enum class Signal { Music, Silence };

// Three voices of four harmonics with note envelopes and a little noise, like the tests' programme.
std::vector<double> Channel(Signal signal, unsigned seed) {
    std::vector<double> out(kLoopFrames, 0.0);
    if (signal == Signal::Silence) return out;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    constexpr double kNotes[] = {110.0, 146.83, 164.81, 220.0, 261.63, 329.63, 392.0};
    const auto noteLength = static_cast<size_t>(kRate * 0.25);
    double phases[3] = {0, 0, 0}, frequencies[3] = {110, 220, 329.63}, envelope = 1;
    const double decay = std::exp(-1 / (0.12 * kRate));
    for (size_t i = 0; i < out.size(); ++i) {
        if (i % noteLength == 0) {
            for (double& f : frequencies) f = kNotes[random() % std::size(kNotes)];
            envelope = 1;
        }
        double sum = 0;
        for (int v = 0; v < 3; ++v) {
            phases[v] += 2 * std::numbers::pi * frequencies[v] / kRate;
            for (int h = 1; h <= 4; ++h) sum += std::sin(h * phases[v]) / h * 0.5;
        }
        out[i] = 0.12 * envelope * sum + 0.02 * uniform(random);
        envelope *= decay;
    }
    return out;
}

std::unique_ptr<hosting::Plugin> Resumed(const std::string& module, int32_t block) {
    auto plugin = std::make_unique<hosting::Plugin>(module);
    plugin->open();
    plugin->setSampleRate(kRate);
    plugin->setBlockSize(block);
    plugin->resume();
    return plugin;
}

template <typename Sample> void Leveler(benchmark::State& state, Signal signal) {
    static const std::vector<double> music[2] = {Channel(Signal::Music, 1), Channel(Signal::Music, 2)};
    static const std::vector<double> silence = Channel(Signal::Silence, 0);
    std::vector<Sample> input[2], output[2];
    for (int c = 0; c < 2; ++c) {
        const std::vector<double>& source = signal == Signal::Music ? music[c] : silence;
        input[c].assign(source.begin(), source.end());
        output[c].resize(kBlock);
    }
    // VANDREL_BENCH_PLUGIN names another build to measure instead, in the same run conditions.
    const char* other = std::getenv("VANDREL_BENCH_PLUGIN");
    auto plugin = Resumed(other && *other ? other : VANDREL_PLUGIN_PATH, kBlock);
    Sample* out[] = {output[0].data(), output[1].data()};
    size_t position = 0;
    for (auto _ : state) {
        if (position + kBlock > kLoopFrames) {
            state.PauseTiming();
            plugin->suspend();
            plugin->resume();
            position = 0;
            state.ResumeTiming();
        }
        Sample* in[] = {input[0].data() + position, input[1].data() + position};
        if constexpr (std::is_same_v<Sample, float>)
            plugin->processFloat(in, out, kBlock);
        else
            plugin->processDouble(in, out, kBlock);
        benchmark::DoNotOptimize(output[0].data());
        position += kBlock;
    }
    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

void Float32Music(benchmark::State& state) {
    Leveler<float>(state, Signal::Music);
}
void Float32Silence(benchmark::State& state) {
    Leveler<float>(state, Signal::Silence);
}
void Float64Music(benchmark::State& state) {
    Leveler<double>(state, Signal::Music);
}
void Float64Silence(benchmark::State& state) {
    Leveler<double>(state, Signal::Silence);
}

// Seconds of processor time this thread has used.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// One build of the plug-in fed the music in host calls of one length (announced as the block size).
struct HostCalls {
    std::unique_ptr<hosting::Plugin> plugin;
    int32_t block;
    size_t position = 0;
    double seconds = 0; // processor time spent in the plug-in's calls

    // About 0.1 s of music, timed on its own.
    void Run(const std::vector<float> (&input)[2], std::vector<float> (&output)[2]) {
        const double start = ThreadSeconds();
        for (int32_t done = 0; done < 4800; done += block) {
            if (position + static_cast<size_t>(block) > kLoopFrames) position = 0;
            float* in[] = {const_cast<float*>(input[0].data()) + position,
                           const_cast<float*>(input[1].data()) + position};
            float* out[] = {output[0].data(), output[1].data()};
            plugin->processFloat(in, out, block);
            position += static_cast<size_t>(block);
        }
        seconds += ThreadSeconds() - start;
        benchmark::DoNotOptimize(output[0].data());
    }
};

// The cost per host call: this build in host calls of the block size and, in turn, in 512-frame calls, so
// that the ratio of the two speeds holds whatever the machine's speed at the moment; when
// VANDREL_BENCH_BASELINE names another build of the module, that one too, the same way. Each is timed on
// its own, on the same music.
void HostBlocks(benchmark::State& state) {
    static const std::vector<double> music[2] = {Channel(Signal::Music, 1), Channel(Signal::Music, 2)};
    const auto block = static_cast<int32_t>(state.range(0));
    std::vector<float> input[2], output[2];
    for (int c = 0; c < 2; ++c) {
        input[c].assign(music[c].begin(), music[c].end());
        output[c].resize(static_cast<size_t>(std::max(block, kBlock)));
    }
    const char* baseline = std::getenv("VANDREL_BENCH_BASELINE");
    std::vector<std::string> modules{VANDREL_PLUGIN_PATH};
    if (baseline && *baseline) modules.emplace_back(baseline);
    // For each build: calls of the block size, then 512-frame calls.
    std::vector<HostCalls> builds;
    for (const std::string& module : modules) {
        builds.push_back({Resumed(module, block), block});
        builds.push_back({Resumed(module, kBlock), kBlock});
    }
    // Turn about, so that none always finds the music in the cache where another left it.
    bool reversed = false;
    for (auto _ : state) {
        for (size_t i = 0; i < builds.size(); ++i)
            builds[reversed ? builds.size() - 1 - i : i].Run(input, output);
        reversed = !reversed;
    }
    const auto audio = [&](const HostCalls& calls) {
        return static_cast<double>(state.iterations()) * ((4800 + calls.block - 1) / calls.block * calls.block) /
               kRate / calls.seconds;
    };
    state.counters["x_realtime"] = audio(builds[0]);
    state.counters["x_realtime_512"] = audio(builds[1]);
    state.counters["of_512"] = audio(builds[0]) / audio(builds[1]);
    if (builds.size() > 2) {
        state.counters["baseline_x_realtime"] = audio(builds[2]);
        state.counters["baseline_x_realtime_512"] = audio(builds[3]);
        state.counters["baseline_of_512"] = audio(builds[2]) / audio(builds[3]);
    }
}

// Timed in CPU time: the machine may be shared.
BENCHMARK(Float32Music)->MinTime(2);
BENCHMARK(Float32Silence)->MinTime(2);
BENCHMARK(Float64Music)->MinTime(2);
BENCHMARK(Float64Silence)->MinTime(2);
BENCHMARK(HostBlocks)->Arg(16)->Arg(32)->Arg(64)->Arg(128)->Arg(4096)->MinTime(4);

} // namespace

BENCHMARK_MAIN();
