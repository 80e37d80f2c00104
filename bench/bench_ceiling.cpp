// What the renderer's true-peak ceiling costs beside the plug-in, as a share of the plug-in's own time, in
// one run: for each test programme levelled to -16 and to -23 LUFS, the plug-in through its processReplacing
// in blocks of 512 frames at 48 kHz stereo, and the ceiling (-1 dBTP) on the plug-in's output in the same
// blocks. Prints Google Benchmark's table, then the shares.
//   vandrel2_ceiling_bench [benchmark options]
#include "hosting/parameters.h"
#include "hosting/plugin.h"
#include "mastering/true_peak.h"
#include "testkit/programmes.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int32_t kBlock = 512;
constexpr double kCeiling = -1.0;
constexpr int kTargets[] = {-16, -23};

std::unique_ptr<hosting::Plugin> Levelling(int target) {
    auto plugin = hosting::openPlugin(VANDREL_PLUGIN_PATH, programmes::kRate, kBlock);
    hosting::setParameterValue(*plugin, hosting::findParameter(*plugin, "Target LUFS"),
                               std::to_string(target));
    plugin->resume();
    return plugin;
}

// Planar blocks of a programme, whole blocks only.
struct Planar {
    std::vector<float> left, right;
    size_t frames() const { return left.size() / kBlock * kBlock; }
};

Planar Split(const std::vector<float>& interleaved) {
    Planar planar;
    for (size_t i = 0; i + 1 < interleaved.size(); i += 2) {
        planar.left.push_back(interleaved[i]);
        planar.right.push_back(interleaved[i + 1]);
    }
    return planar;
}

// The plug-in's output for the whole programme, interleaved: what the ceiling gets in a render.
std::vector<float> Levelled(const Planar& input, int target) {
    auto plugin = Levelling(target);
    std::vector<float> left(kBlock), right(kBlock), out;
    for (size_t at = 0; at < input.frames(); at += kBlock) {
        float* in[] = {const_cast<float*>(input.left.data() + at),
                       const_cast<float*>(input.right.data() + at)};
        float* outs[] = {left.data(), right.data()};
        plugin->processFloat(in, outs, kBlock);
        for (int32_t i = 0; i < kBlock; ++i) out.push_back(left[size_t(i)]), out.push_back(right[size_t(i)]);
    }
    return out;
}

std::vector<programmes::Programme> AllProgrammes() {
    auto all = programmes::synthesised(60.0);
    SF_INFO info{};
    SNDFILE* file = sf_open(VANDREL_SOURCE_DIR "/examples/interview.flac", SFM_READ, &info);
    if (file != nullptr && info.channels == 2 && info.samplerate == programmes::kRate) {
        std::vector<float> samples(size_t(info.frames * 2));
        sf_readf_float(file, samples.data(), info.frames);
        all.push_back({"interview", samples});
    }
    if (file != nullptr) sf_close(file);
    return all;
}

void PluginTime(benchmark::State& state, const Planar& input, int target) {
    auto plugin = Levelling(target);
    std::vector<float> left(kBlock), right(kBlock);
    size_t at = 0;
    for (auto _ : state) {
        float* in[] = {const_cast<float*>(input.left.data() + at),
                       const_cast<float*>(input.right.data() + at)};
        float* out[] = {left.data(), right.data()};
        plugin->processFloat(in, out, kBlock);
        benchmark::DoNotOptimize(left.data());
        at = at + 2 * kBlock > input.frames() ? 0 : at + kBlock;
    }
}

void CeilingTime(benchmark::State& state, const std::vector<float>& levelled) {
    mastering::TruePeakLimiter ceiling(2, programmes::kRate, kCeiling);
    std::vector<float> block(2 * kBlock);
    const size_t frames = levelled.size() / 2 / kBlock * kBlock;
    size_t at = 0;
    for (auto _ : state) {
        std::copy_n(levelled.begin() + ptrdiff_t(2 * at), 2 * kBlock, block.begin());
        ceiling.process(block.data(), kBlock);
        benchmark::DoNotOptimize(block.data());
        at = at + 2 * kBlock > frames ? 0 : at + kBlock;
    }
}

// Keeps each benchmark's CPU time per block besides showing the table.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) nanoseconds[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> nanoseconds;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const auto all = AllProgrammes();
    std::vector<Planar> inputs;
    std::map<std::string, std::vector<float>> levelled;
    for (const auto& programme : all) inputs.push_back(Split(programme.samples));
    for (size_t p = 0; p < all.size(); ++p) {
        for (int target : kTargets) {
            const std::string suffix = all[p].name + "/" + std::to_string(target);
            levelled[suffix] = Levelled(inputs[p], target);
            benchmark::RegisterBenchmark(("Plugin/" + suffix).c_str(), PluginTime, std::cref(inputs[p]),
                                         target);
            benchmark::RegisterBenchmark(("Ceiling/" + suffix).c_str(), CeilingTime,
                                         std::cref(levelled[suffix]));
        }
    }
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    std::printf("\n%-24s %12s %12s %8s\n", "programme/target", "plug-in ns", "ceiling ns", "share");
    for (const auto& programme : all)
        for (int target : kTargets) {
            const std::string suffix = programme.name + "/" + std::to_string(target);
            const auto plugin = collector.nanoseconds.find("Plugin/" + suffix);
            const auto ceiling = collector.nanoseconds.find("Ceiling/" + suffix);
            if (plugin == collector.nanoseconds.end() || ceiling == collector.nanoseconds.end()) continue;
            std::printf("%-24s %12.2f %12.2f %7.1f%%\n", suffix.c_str(), plugin->second / kBlock,
                        ceiling->second / kBlock, 100.0 * ceiling->second / plugin->second);
        }
    std::printf("(per frame of 48 kHz stereo, CPU time)\n");
    return 0;
}
