// The leveler inside the built plug-in, driven through the host interface: latency, the look-ahead delay,
// both sample widths, in-place processing and the state chunk.
#include "hosting/plugin.h"
#include "testkit/leveler_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::unique_ptr<hosting::Plugin> Resumed(double sampleRate, int32_t blockSize = 512) {
    auto plugin = std::make_unique<hosting::Plugin>(
        VANDREL_PLUGIN_PATH, hosting::HostOptions{.sampleRate = sampleRate, .blockSize = blockSize});
    plugin->open();
    plugin->setSampleRate(sampleRate);
    plugin->setBlockSize(blockSize);
    plugin->resume();
    return plugin;
}

template <typename Sample> struct Stereo { std::vector<Sample> left, right; };

// The whole programme in blocks of 512 frames (or `block`), separate output buffers or in place.
template <typename Sample>
Stereo<Sample> Process(hosting::Plugin& plugin, Stereo<Sample> input, bool inPlace, size_t block = 512) {
    Stereo<Sample> output{std::vector<Sample>(input.left.size()), std::vector<Sample>(input.left.size())};
    for (size_t start = 0; start < input.left.size(); start += block) {
        const auto frames = static_cast<int32_t>(std::min<size_t>(block, input.left.size() - start));
        Sample* in[] = {input.left.data() + start, input.right.data() + start};
        Sample* out[] = {output.left.data() + start, output.right.data() + start};
        Sample* const* target = inPlace ? in : out;
        if constexpr (std::is_same_v<Sample, float>)
            plugin.processFloat(in, target, frames);
        else
            plugin.processDouble(in, target, frames);
    }
    return inPlace ? input : output;
}

template <typename Sample> Stereo<Sample> MusicAs(double seconds) {
    const auto programme = leveler_test::MusicLike(48000, seconds);
    Stereo<Sample> s;
    for (size_t i = 0; i < programme.left.size(); ++i) {
        // Values a float holds exactly, so that both widths see the same input.
        s.left.push_back(static_cast<Sample>(static_cast<float>(programme.left[i])));
        s.right.push_back(static_cast<Sample>(static_cast<float>(programme.right[i])));
    }
    return s;
}

TEST(LevelerPlugin, InitialDelayIsKnownRightAfterResume) {
    EXPECT_EQ(Resumed(48000)->initialDelay(), 5037);
    EXPECT_EQ(Resumed(44100)->initialDelay(), 4627);

    auto plugin = Resumed(44100);
    plugin->suspend();
    plugin->setSampleRate(96000);
    plugin->resume();
    EXPECT_EQ(plugin->initialDelay(), 10077);
}

// The block section's host queries cost a host call each: one time query per block, whatever the slicing.
TEST(LevelerPlugin, AsksTheHostForTheTimeOncePerBlock) {
    auto plugin = Resumed(48000);
    plugin->calls().clear();
    const Stereo<float> fourBlocks{std::vector<float>(4 * 512, 0.1f), std::vector<float>(4 * 512, 0.1f)};
    Process(*plugin, fourBlocks, false);
    EXPECT_EQ(plugin->calls().count(vst2::audioMasterGetTime), 4u);
    Process(*plugin, fourBlocks, false, 1);
    EXPECT_EQ(plugin->calls().count(vst2::audioMasterGetTime), 8u);
}

TEST(LevelerPlugin, ImpulseComesOutAfterTheReportedDelay) {
    auto plugin = Resumed(48000);
    const size_t impulse = 10000;
    Stereo<double> input{std::vector<double>(40000, 0.0), std::vector<double>(40000, 0.0)};
    input.left[impulse] = 0.5;
    input.right[impulse] = 0.5;
    const Stereo<double> output = Process(*plugin, input, false);

    const auto delay = static_cast<size_t>(plugin->initialDelay());
    EXPECT_GT(std::abs(output.left[impulse + delay]), 0.1);
    for (size_t i = 0; i < output.left.size(); ++i) {
        if (i == impulse + delay) continue;
        ASSERT_LT(std::abs(output.left[i]), 1e-12) << i;
    }

    // The scaling is the in-process leveler's, exactly.
    leveler_test::Rig rig(48000);
    rig.ProcessAll(input.left, input.right);
    EXPECT_EQ(output.left, input.left);
    EXPECT_EQ(output.right, input.right);
}

TEST(LevelerPlugin, SingleAndDoublePrecisionAgree) {
    // Blocks of 333 frames: both widths also take blocks that end partway through one of the leveler's runs.
    const auto music = MusicAs<double>(8);
    const Stereo<double> wide = Process(*Resumed(48000), music, false, 333);
    const Stereo<float> narrow = Process(*Resumed(48000), MusicAs<float>(8), false, 333);
    double largest = 0;
    for (size_t i = 0; i < wide.left.size(); ++i) {
        // Both widths compute in 64 bits from the same input; the 32-bit path narrows at the end only.
        ASSERT_EQ(narrow.left[i], static_cast<float>(wide.left[i])) << i;
        ASSERT_EQ(narrow.right[i], static_cast<float>(wide.right[i])) << i;
        largest = std::max(largest, std::abs(wide.left[i]));
    }
    EXPECT_GT(largest, 0.05);
}

TEST(LevelerPlugin, InPlaceEqualsSeparateBuffers) {
    const auto music = MusicAs<float>(4);
    EXPECT_EQ(Process(*Resumed(48000), music, true).left, Process(*Resumed(48000), music, false).left);
    const auto wide = MusicAs<double>(4);
    const Stereo<double> inPlace = Process(*Resumed(48000), wide, true);
    const Stereo<double> separate = Process(*Resumed(48000), wide, false);
    EXPECT_EQ(inPlace.left, separate.left);
    EXPECT_EQ(inPlace.right, separate.right);
}

TEST(LevelerPlugin, DefaultChunkAndRestore) {
    auto plugin = Resumed(48000);
    const std::vector<uint8_t> chunk = plugin->chunk();
    ASSERT_EQ(chunk.size(), 260u);
    EXPECT_EQ(std::vector<uint8_t>(chunk.begin(), chunk.begin() + 4),
              (std::vector<uint8_t>{0x00, 0x00, 0x7A, 0xC4}));
    float target;
    std::memcpy(&target, chunk.data() + 8, sizeof target);
    EXPECT_EQ(target, -23);

    const float before = plugin->parameter(1);
    plugin->setParameter(1, 1.0f); // "Target LUFS" at 0
    EXPECT_EQ(plugin->setChunk(chunk), 260);
    EXPECT_EQ(plugin->parameter(1), before);
}

} // namespace
