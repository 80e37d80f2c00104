// One thread processes while others change parameters, restore state and read the meters, as hosts and the
// editor do. Meant for the ThreadSanitizer build, where any unsynchronised exchange is reported.
#include "hosting/plugin.h"
#include "testkit/leveler_rig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

constexpr int kBlocks = 400;

TEST(LevelerThreads, HostThreadAgainstTheAudioThread) {
    hosting::Plugin plugin(VANDREL_PLUGIN_PATH);
    plugin.open();
    plugin.setSampleRate(48000);
    plugin.setBlockSize(512);
    plugin.resume();
    const std::vector<uint8_t> saved = plugin.chunk();
    auto programme = leveler_test::MusicLike(48000, kBlocks * 512 / 48000.0 + 1);

    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::vector<float> left(512), right(512);
        std::vector<double> left64(512), right64(512);
        for (int b = 0; b < kBlocks; ++b) {
            for (size_t j = 0; j < 512; ++j) {
                left64[j] = left[j] = static_cast<float>(programme.left[static_cast<size_t>(b) * 512 + j]);
                right64[j] = right[j] = static_cast<float>(programme.right[static_cast<size_t>(b) * 512 + j]);
            }
            float* io[] = {left.data(), right.data()};
            double* io64[] = {left64.data(), right64.data()};
            if (b % 2)
                plugin.processFloat(io, io, 512);
            else
                plugin.processDouble(io64, io64, 512);
        }
        done = true;
    });

    int round = 0;
    while (!done) {
        plugin.setParameter(round % 14, static_cast<float>((round * 37 % 100) / 100.0));
        if (round % 5 == 0) plugin.setChunk(saved);
        (void)plugin.parameter(round % 14);
        ++round;
    }
    audio.join();
    EXPECT_GT(round, 0);
}

TEST(LevelerThreads, PanelAndStateRestoresAgainstTheAudioThread) {
    leveler_test::Rig rig;
    TParvexEffect& e = rig.effect;
    void* data = nullptr;
    const int32_t bytes = e.GetStateChunk(&data, false);
    const std::vector<uint8_t> saved(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + bytes);
    auto programme = leveler_test::MusicLike(48000, kBlocks * 512 / 48000.0 + 1);

    std::atomic<bool> done{false};
    std::thread audio([&] {
        for (int b = 0; b < kBlocks; ++b)
            rig.Process(programme.left.data() + b * 512, programme.right.data() + b * 512, 512);
        done = true;
    });
    // The panel: reads what the meters show, edits slider copies and applies them.
    std::thread panel([&] {
        double sink = 0;
        while (!done) {
            sink += e.fastGain() + e.medGain() + e.slowGain() + e.displayPower + e.targetLufs + e.gateLevel +
                    e.gateOneSecond + e.gatingRatio + e.sliderCopies[1] + e.BuildLabelId;
            e.sliderCopies[6] = 0.3;
            e.SliderValues[6] = 0.3;
            e.ApplySliders();
        }
        EXPECT_FALSE(std::isnan(sink));
    });
    // The host: the first restore also runs the initialisation, while the audio thread runs.
    while (!done) {
        e.SetStateChunk(saved.data(), static_cast<int32_t>(saved.size()), false);
        e.SliderValues[2] = -20;
        e.DoSlider();
    }
    audio.join();
    panel.join();
    EXPECT_GT(e.InitCount, 0);
}

} // namespace
