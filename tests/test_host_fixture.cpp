// The test host's own duties, checked against a small effect whose behaviour is known exactly:
// callback routing between instances, time information, chunks, 64-bit audio, latency, threads.
#include "hosting/plugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

const std::filesystem::path kFixture = std::filesystem::path(VANDREL_FIXTURE_DIR) / "fixture_delay.so";
constexpr int32_t kQueryTempo = vst2::FourCC('t', 'e', 'm', 'p');
constexpr int32_t kAskHost = vst2::FourCC('a', 's', 'k', 'h');
constexpr int32_t kQueryEditor = vst2::FourCC('e', 'd', 'i', 't');
constexpr int32_t kGain = 0, kDelay = 1, kPolarity = 2;

std::unique_ptr<hosting::Plugin> started() {
    auto plugin = std::make_unique<hosting::Plugin>(kFixture);
    plugin->open();
    plugin->setSampleRate(48000.0);
    plugin->setBlockSize(64);
    return plugin;
}

TEST(HostFixture, CallbacksReachTheInstanceThatMadeThem) {
    auto a = started();
    auto b = started();
    EXPECT_EQ(a->calls().count(vst2::audioMasterVersion), 1u);
    EXPECT_EQ(b->calls().count(vst2::audioMasterVersion), 1u);
    a->setParameter(kGain, 0.25f);
    a->setParameter(kGain, 0.75f);
    b->setParameter(kGain, 0.5f);
    EXPECT_EQ(a->calls().count(vst2::audioMasterUpdateDisplay), 2u);
    EXPECT_EQ(b->calls().count(vst2::audioMasterUpdateDisplay), 1u);
    EXPECT_EQ(a->calls().count(vst2::audioMasterGetTime), 0u);

    a->resume();
    std::vector<std::vector<float>> audio(2, std::vector<float>(64, 0.1f));
    for (int i = 0; i < 3; ++i) a->processFloat(audio, audio);
    EXPECT_EQ(a->calls().count(vst2::audioMasterGetTime), 3u);
    EXPECT_EQ(b->calls().count(vst2::audioMasterGetTime), 0u);
    EXPECT_EQ(a->calls().total(), 6u);
    a->calls().clear();
    EXPECT_EQ(a->calls().total(), 0u);
}

TEST(HostFixture, TimeInformationIsServedOnlyWhenSet) {
    auto plugin = started();
    plugin->resume();
    std::vector<std::vector<float>> audio(2, std::vector<float>(64));
    plugin->processFloat(audio, audio);
    EXPECT_EQ(plugin->dispatcher(vst2::effVendorSpecific, kQueryTempo), -1);

    vst2::VstTimeInfo time{};
    time.tempo = 133.0;
    time.sampleRate = 48000.0;
    time.flags = vst2::kVstTempoValid | vst2::kVstTransportPlaying;
    plugin->setTimeInfo(time);
    plugin->processFloat(audio, audio);
    EXPECT_EQ(plugin->dispatcher(vst2::effVendorSpecific, kQueryTempo), 133);

    plugin->setTimeInfo(std::nullopt);
    plugin->processFloat(audio, audio);
    EXPECT_EQ(plugin->dispatcher(vst2::effVendorSpecific, kQueryTempo), -1);
}

TEST(HostFixture, ChunkRoundTripRestoresParameters) {
    auto plugin = started();
    plugin->setParameter(kGain, 0.125f);
    plugin->setParameter(kPolarity, 1.0f);
    const std::vector<uint8_t> saved = plugin->chunk();
    ASSERT_EQ(saved.size(), 16u);
    EXPECT_EQ(plugin->parameterDisplay(kGain), "-18.00");
    EXPECT_EQ(plugin->parameterDisplay(kPolarity), "Inverted");

    plugin->setParameter(kGain, 0.5f);
    plugin->setParameter(kPolarity, 0.0f);
    EXPECT_EQ(plugin->setChunk(saved), 1);
    EXPECT_FLOAT_EQ(plugin->parameter(kGain), 0.125f);
    EXPECT_EQ(plugin->parameterDisplay(kPolarity), "Inverted");

    // A foreign chunk is refused and changes nothing.
    std::vector<uint8_t> foreign = saved;
    foreign[0] ^= 0xff;
    EXPECT_EQ(plugin->setChunk(foreign), 0);
    EXPECT_FLOAT_EQ(plugin->parameter(kGain), 0.125f);
}

TEST(HostFixture, DoublePathKeepsFullPrecision) {
    auto plugin = started();
    plugin->setParameter(kGain, 0.375f); // -6 dB
    plugin->setParameter(kPolarity, 1.0f);
    plugin->resume();
    std::vector<std::vector<double>> in(2, std::vector<double>(64)), out(2, std::vector<double>(64));
    for (size_t i = 0; i < 64; ++i) in[0][i] = in[1][i] = 0.1 + 1e-12 * double(i);
    plugin->processDouble(in, out);
    const double gain = -std::pow(10.0, -6.0 / 20.0);
    for (size_t i = 0; i < 64; ++i) EXPECT_NEAR(out[1][i], in[1][i] * gain, 1e-15);
}

TEST(HostFixture, LatencyAppearsWithTheFirstBlockAndDelaysTheSignal) {
    auto plugin = started();
    plugin->setParameter(kDelay, 100.0f / 4800.0f);
    EXPECT_EQ(plugin->parameterDisplay(kDelay), "100");
    plugin->resume();
    EXPECT_EQ(plugin->initialDelay(), 0);
    std::vector<std::vector<float>> in(2, std::vector<float>(64)), out(2, std::vector<float>(64));
    in[0][5] = 1.0f;
    std::vector<float> left;
    for (int block = 0; block < 3; ++block) {
        plugin->processFloat(in, out);
        left.insert(left.end(), out[0].begin(), out[0].end());
        in[0][5] = 0.0f;
    }
    EXPECT_EQ(plugin->initialDelay(), 100);
    const auto peak = std::max_element(left.begin(), left.end()) - left.begin();
    EXPECT_EQ(peak, 105);
}

TEST(HostFixture, WrongChannelCountsAreRefused) {
    auto plugin = started();
    plugin->resume();
    std::vector<std::vector<float>> one(1, std::vector<float>(8)), two(2, std::vector<float>(8));
    EXPECT_THROW(plugin->processFloat(one, two), hosting::HostError);
    std::vector<std::vector<float>> ragged = {std::vector<float>(8), std::vector<float>(9)};
    EXPECT_THROW(plugin->processFloat(ragged, two), hosting::HostError);
}

// Audio on one thread and parameter changes on another both call back into the host.
TEST(HostFixture, CallbacksFromTwoThreadsAreAllCounted) {
    auto plugin = started();
    plugin->resume();
    constexpr int kRounds = 300;
    std::thread audio([&] {
        std::vector<std::vector<float>> buffer(2, std::vector<float>(64, 0.25f));
        for (int i = 0; i < kRounds; ++i) plugin->processFloat(buffer, buffer);
    });
    for (int i = 0; i < kRounds; ++i) plugin->setParameter(kGain, float(i % 7) / 7.0f);
    audio.join();
    EXPECT_EQ(plugin->calls().count(vst2::audioMasterGetTime), uint64_t(kRounds));
    EXPECT_EQ(plugin->calls().count(vst2::audioMasterUpdateDisplay), uint64_t(kRounds));
}

TEST(HostFixture, HostAnswersQueriesSensibly) {
    hosting::HostOptions options;
    options.sampleRate = 96000.0;
    options.blockSize = 256;
    hosting::Plugin plugin(kFixture, options);
    auto ask = [&](int32_t opcode, void* ptr = nullptr) {
        return plugin.dispatcher(vst2::effVendorSpecific, kAskHost, opcode, ptr);
    };
    EXPECT_EQ(ask(vst2::audioMasterVersion), 2400);
    EXPECT_EQ(ask(vst2::audioMasterGetSampleRate), 96000);
    EXPECT_EQ(ask(vst2::audioMasterGetBlockSize), 256);
    plugin.setSampleRate(44100.0);
    plugin.setBlockSize(32);
    EXPECT_EQ(ask(vst2::audioMasterGetSampleRate), 44100);
    EXPECT_EQ(ask(vst2::audioMasterGetBlockSize), 32);
    EXPECT_EQ(ask(vst2::audioMasterCurrentId), vst2::FourCC('V', 'f', 'x', '1'));
    char yes[] = "sendVstTimeInfo", no[] = "sendVstMidiEvent", unknown[] = "makeCoffee";
    EXPECT_EQ(ask(vst2::audioMasterCanDo, yes), 1);
    EXPECT_EQ(ask(vst2::audioMasterCanDo, no), -1);
    EXPECT_EQ(ask(vst2::audioMasterCanDo, unknown), 0);
    char vendor[vst2::kVstMaxVendorStrLen] = {};
    EXPECT_EQ(ask(vst2::audioMasterGetVendorString, vendor), 1);
    EXPECT_STRNE(vendor, "");
    EXPECT_EQ(ask(vst2::audioMasterIOChanged), 1);
    EXPECT_EQ(ask(vst2::audioMasterWantMidi), 0);
    EXPECT_EQ(ask(9999), 0);
    EXPECT_EQ(plugin.calls().count(vst2::audioMasterWantMidi), 1u);
    EXPECT_EQ(plugin.calls().count(9999), 1u);
    EXPECT_EQ(plugin.calls().count(vst2::audioMasterCanDo), 3u);
}

TEST(HostFixture, EditorIsOpenedIdledAndClosed) {
    auto plugin = started();
    ASSERT_TRUE(plugin->hasEditor());
    const auto rect = plugin->editorRect();
    ASSERT_TRUE(rect);
    EXPECT_EQ(rect->right - rect->left, 300);
    EXPECT_EQ(rect->bottom - rect->top, 120);
    EXPECT_EQ(plugin->dispatcher(vst2::effVendorSpecific, kQueryEditor), -1);
    int window = 0; // stands for a native window id
    EXPECT_TRUE(plugin->openEditor(&window));
    plugin->editorIdle();
    plugin->editorIdle();
    EXPECT_EQ(plugin->dispatcher(vst2::effVendorSpecific, kQueryEditor), 2);
    plugin->closeEditor();
    EXPECT_EQ(plugin->dispatcher(vst2::effVendorSpecific, kQueryEditor), -1);
}

} // namespace
