// The LV2 plug-in's cost against the VST's, in one run: 48 kHz stereo in blocks of 512 frames with default
// settings on a music-like programme, each block through the VST (our VST host) and then through the LV2
// plug-in (our lilv host), or the other way round on every other block (the second finds the input in the
// cache), each timed on its own, so that a busy machine slows both alike. Reports both as
// multiples of real time and the LV2's time as a share of the VST's.
#include "hosting/lv2_plugin.h"
#include "hosting/plugin.h"
#include "lv2/ports.h"
#include "testkit/leveler_rig.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

constexpr double kRate = 48000;
constexpr int32_t kBlock = 512;

void Lv2AgainstVst(benchmark::State& state) {
    const leveler_test::Programme music = leveler_test::MusicLike(kRate, 60, 1);
    std::vector<float> input[2];
    for (size_t i = 0; i + kBlock <= music.left.size(); ++i) {
        input[0].push_back(static_cast<float>(music.left[i]));
        input[1].push_back(static_cast<float>(music.right[i]));
    }
    const size_t loopFrames = input[0].size() / kBlock * kBlock;
    std::vector<float> output[2] = {std::vector<float>(kBlock), std::vector<float>(kBlock)};
    float* out[] = {output[0].data(), output[1].data()};

    const auto opened = hosting::openPlugin(VANDREL_PLUGIN_PATH, kRate, kBlock);
    hosting::Plugin& vst = *opened;
    vst.resume();
    hosting::Lv2Options lv2Options;
    lv2Options.sampleRate = kRate;
    lv2Options.nominalBlockLength = kBlock;
    lv2Options.maxBlockLength = kBlock;
    hosting::Lv2Plugin lv2(VANDREL_LV2_BUNDLE, lv2port::kPluginUri, lv2Options);
    lv2.activate();

    using Clock = std::chrono::steady_clock;
    Clock::duration vstTime{}, lv2Time{};
    size_t position = 0;
    bool vstFirst = true;
    for (auto _ : state) {
        if (position == loopFrames) position = 0;
        float* in[] = {input[0].data() + position, input[1].data() + position};
        auto timed = [&](auto process, Clock::duration& total) {
            const auto start = Clock::now();
            process();
            total += Clock::now() - start;
            benchmark::DoNotOptimize(output[0].data());
        };
        auto throughVst = [&] { vst.processFloat(in, out, kBlock); };
        auto throughLv2 = [&] { lv2.run(in, out, kBlock); };
        if (vstFirst) {
            timed(throughVst, vstTime);
            timed(throughLv2, lv2Time);
        } else {
            timed(throughLv2, lv2Time);
            timed(throughVst, vstTime);
        }
        vstFirst = !vstFirst;
        position += kBlock;
    }
    const double seconds = static_cast<double>(state.iterations()) * kBlock / kRate;
    auto multiple = [&](Clock::duration time) {
        return seconds / std::chrono::duration<double>(time).count();
    };
    state.counters["vst_x_realtime"] = multiple(vstTime);
    state.counters["lv2_x_realtime"] = multiple(lv2Time);
    state.counters["lv2_time_over_vst"] =
        std::chrono::duration<double>(lv2Time).count() / std::chrono::duration<double>(vstTime).count();
}

BENCHMARK(Lv2AgainstVst)->MinTime(5);

} // namespace

BENCHMARK_MAIN();
