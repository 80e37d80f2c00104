// The leveler's throughput through the plug-in's processing entries: 48 kHz stereo in blocks of 512 frames
// with default settings, on a music-like signal and on silence, 32-bit and 64-bit; and the cost per host
// call, on music in host blocks of 16 to 4096 frames, through this build and
// (VANDREL_BENCH_BASELINE=other.so) another one in the same run.
#include "hosting/plugin.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
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

// VANDREL_BENCH_PLUGIN names another build to measure instead, in the same run conditions.
std::string Module() {
    const char* other = std::getenv("VANDREL_BENCH_PLUGIN");
    return other && *other ? other : VANDREL_PLUGIN_PATH;
}

template <typename Sample>
void Leveler(benchmark::State& state, Signal signal, const std::string& module = Module(),
             int32_t block = kBlock) {
    static const std::vector<double> music[2] = {Channel(Signal::Music, 1), Channel(Signal::Music, 2)};
    static const std::vector<double> silence = Channel(Signal::Silence, 0);
    std::vector<Sample> input[2], output[2];
    for (int c = 0; c < 2; ++c) {
        const std::vector<double>& source = signal == Signal::Music ? music[c] : silence;
        input[c].assign(source.begin(), source.end());
        output[c].resize(static_cast<size_t>(block));
    }
    auto plugin = Resumed(module, block);
    Sample* out[] = {output[0].data(), output[1].data()};
    size_t position = 0;
    for (auto _ : state) {
        if (position + static_cast<size_t>(block) > kLoopFrames) {
            state.PauseTiming();
            plugin->suspend();
            plugin->resume();
            position = 0;
            state.ResumeTiming();
        }
        Sample* in[] = {input[0].data() + position, input[1].data() + position};
        if constexpr (std::is_same_v<Sample, float>)
            plugin->processFloat(in, out, block);
        else
            plugin->processDouble(in, out, block);
        benchmark::DoNotOptimize(output[0].data());
        position += static_cast<size_t>(block);
    }
    const double frames = static_cast<double>(state.iterations()) * block;
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

// Timed in CPU time: the machine may be shared.
BENCHMARK(Float32Music)->MinTime(2);
BENCHMARK(Float32Silence)->MinTime(2);
BENCHMARK(Float64Music)->MinTime(2);
BENCHMARK(Float64Silence)->MinTime(2);

} // namespace

int main(int argc, char** argv) {
    // Host blocks of each size, announced as the block size, through this build and then the baseline.
    const char* baseline = std::getenv("VANDREL_BENCH_BASELINE");
    for (const int32_t block : {16, 32, 64, 128, 512, 4096}) {
        for (const bool other : {false, true}) {
            if (other && !(baseline && *baseline)) continue;
            const std::string module = other ? baseline : VANDREL_PLUGIN_PATH;
            benchmark::RegisterBenchmark(
                (std::string(other ? "Baseline" : "Built") + "HostBlocks/" + std::to_string(block)).c_str(),
                [module, block](benchmark::State& state) {
                    Leveler<float>(state, Signal::Music, module, block);
                })
                ->MinTime(2);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
