// The test host against plug-ins it did not come with: Debian's DPF builds (package dpf-plugins-vst),
// which export only "main", and modules that break the loading rules.
#include "hosting/plugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <vector>

namespace {

const std::filesystem::path kEq = "/usr/lib/vst/3BandEQ-vst.so";
const std::filesystem::path kPingPong = "/usr/lib/vst/PingPongPan-vst.so";
const std::filesystem::path kFixtures = VANDREL_FIXTURE_DIR;
constexpr double kRate = 48000.0;
constexpr int32_t kBlock = 512;

using Channels = std::vector<std::vector<float>>;

Channels sine(double frequency, double amplitude, size_t frames) {
    Channels channels(2, std::vector<float>(frames));
    for (size_t i = 0; i < frames; ++i)
        channels[0][i] = channels[1][i] =
            float(amplitude * std::sin(2.0 * std::numbers::pi * frequency * double(i) / kRate));
    return channels;
}

double rmsDb(const std::vector<float>& samples, size_t from) {
    double sum = 0.0;
    for (size_t i = from; i < samples.size(); ++i) sum += double(samples[i]) * samples[i];
    return 10.0 * std::log10(sum / double(samples.size() - from));
}

// Runs a whole signal through the plug-in in blocks, the way a host does.
Channels processInBlocks(hosting::Plugin& plugin, const Channels& input) {
    const size_t frames = input[0].size();
    Channels output(2, std::vector<float>(frames));
    Channels in(2, std::vector<float>(kBlock)), out(2, std::vector<float>(kBlock));
    for (size_t start = 0; start < frames; start += kBlock) {
        const size_t n = std::min<size_t>(kBlock, frames - start);
        for (int c = 0; c < 2; ++c) {
            in[c].assign(input[c].begin() + long(start), input[c].begin() + long(start + n));
            out[c].assign(n, std::nanf(""));
        }
        plugin.processFloat(in, out);
        for (int c = 0; c < 2; ++c) std::copy(out[c].begin(), out[c].end(), output[c].begin() + long(start));
    }
    return output;
}

std::unique_ptr<hosting::Plugin> startedPlugin(const std::filesystem::path& path) {
    return hosting::openPlugin(path, kRate, kBlock);
}

class ThirdParty : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kEq)) GTEST_SKIP() << "dpf-plugins-vst is not installed";
    }
};

TEST_F(ThirdParty, DescribesItselfAndListsParameters) {
    auto eq = startedPlugin(kEq);
    EXPECT_EQ(eq->effectName(), "3 Band EQ");
    EXPECT_EQ(eq->vendorString(), "DISTRHO");
    EXPECT_EQ(eq->productString(), "3BandEQ");
    EXPECT_EQ(eq->uniqueId(), vst2::FourCC('D', '3', 'E', 'Q'));
    EXPECT_EQ(eq->numInputs(), 2);
    EXPECT_EQ(eq->numOutputs(), 2);
    EXPECT_TRUE(eq->hasFlag(vst2::effFlagsCanReplacing));
    EXPECT_GE(eq->calls().count(vst2::audioMasterVersion), 1u);

    ASSERT_EQ(eq->numParams(), 6);
    const std::vector<std::string> names = {"Low", "Mid", "High", "Master", "Low-Mid Freq", "Mid-High Freq"};
    for (int32_t i = 0; i < eq->numParams(); ++i) {
        EXPECT_EQ(eq->parameterName(i), names[size_t(i)]);
        EXPECT_EQ(eq->parameterLabel(i), i < 4 ? "dB" : "Hz");
    }
    // Gains at neutral; the displays follow the parameter values in dB.
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(eq->parameter(i), 0.5f);
        EXPECT_DOUBLE_EQ(std::stod(eq->parameterDisplay(i)), 0.0);
    }
    EXPECT_DOUBLE_EQ(std::stod(eq->parameterDisplay(4)), 220.0);
    eq->setParameter(0, 0.0f);
    EXPECT_DOUBLE_EQ(std::stod(eq->parameterDisplay(0)), -24.0);
    eq->setParameter(0, 1.0f);
    EXPECT_DOUBLE_EQ(std::stod(eq->parameterDisplay(0)), 24.0);
    EXPECT_FLOAT_EQ(eq->parameter(0), 1.0f);
}

TEST_F(ThirdParty, NeutralEqPassesAudioAndMasterGainScalesIt) {
    auto eq = startedPlugin(kEq);
    eq->resume();
    const size_t frames = size_t(kRate); // one second, 1 kHz: whole cycles
    const Channels input = sine(1000.0, 0.5, frames);
    const Channels neutral = processInBlocks(*eq, input);
    ASSERT_EQ(neutral[0].size(), frames);
    for (int c = 0; c < 2; ++c)
        for (size_t i = 0; i < frames; ++i) {
            ASSERT_TRUE(std::isfinite(neutral[c][i]));
            ASSERT_NEAR(neutral[c][i], input[c][i], 1e-5) << "channel " << c << " frame " << i;
        }

    eq->setParameter(3, 0.25f); // Master -12 dB
    const Channels quieter = processInBlocks(*eq, input);
    // Skip the parameter smoothing at the start, if any.
    EXPECT_NEAR(rmsDb(quieter[0], frames / 2) - rmsDb(input[0], frames / 2), -12.0, 0.05);
    EXPECT_NEAR(rmsDb(quieter[1], frames / 2) - rmsDb(input[1], frames / 2), -12.0, 0.05);
}

TEST_F(ThirdParty, LowBandCutAttenuatesBassAndKeepsTreble) {
    auto eq = startedPlugin(kEq);
    eq->setParameter(0, 0.0f); // Low -24 dB
    eq->resume();
    const size_t frames = size_t(kRate);
    const Channels bass = sine(50.0, 0.5, frames);
    const Channels treble = sine(8000.0, 0.5, frames);
    EXPECT_LT(rmsDb(processInBlocks(*eq, bass)[0], frames / 2) - rmsDb(bass[0], frames / 2), -10.0);
    EXPECT_NEAR(rmsDb(processInBlocks(*eq, treble)[0], frames / 2) - rmsDb(treble[0], frames / 2), 0.0, 1.0);
}

TEST_F(ThirdParty, InPlaceMatchesSeparateBuffersAndInstancesAreIndependent) {
    auto first = startedPlugin(kEq);
    auto second = startedPlugin(kEq);
    second->setParameter(3, 0.0f); // Master -24 dB only on the second
    first->resume();
    second->resume();
    Channels input = sine(440.0, 0.25, kBlock);
    Channels separate(2, std::vector<float>(kBlock));
    first->processFloat(input, separate);
    Channels inPlace = input;
    second->processFloat(inPlace, inPlace);
    EXPECT_FLOAT_EQ(first->parameter(3), 0.5f);
    for (size_t i = 0; i < size_t(kBlock); ++i) EXPECT_NEAR(separate[0][i], input[0][i], 1e-5);
    EXPECT_LT(rmsDb(inPlace[0], kBlock / 2), rmsDb(input[0], kBlock / 2) - 20.0);

    // In place on the neutral instance gives what separate buffers gave.
    auto third = startedPlugin(kEq);
    third->resume();
    Channels again = input;
    third->processFloat(again, again);
    for (size_t i = 0; i < size_t(kBlock); ++i) EXPECT_FLOAT_EQ(again[0][i], separate[0][i]);
}

TEST_F(ThirdParty, SecondPluginProcessesAndRefusesDoubles) {
    if (!std::filesystem::exists(kPingPong)) GTEST_SKIP() << "PingPongPan not installed";
    auto pan = startedPlugin(kPingPong);
    EXPECT_EQ(pan->effectName(), "Ping Pong Pan");
    ASSERT_EQ(pan->numParams(), 2);
    EXPECT_EQ(pan->parameterName(0), "Frequency");
    EXPECT_EQ(pan->parameterName(1), "Width");
    EXPECT_DOUBLE_EQ(std::stod(pan->parameterDisplay(1)), 75.0);
    pan->setParameter(1, 0.0f); // no panning at all: a pass-through
    pan->resume();
    const Channels input = sine(1000.0, 0.5, size_t(kRate) / 4);
    const Channels output = processInBlocks(*pan, input);
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(rmsDb(output[c], 0), rmsDb(input[c], 0), 0.1);

    EXPECT_FALSE(pan->hasFlag(vst2::effFlagsCanDoubleReplacing));
    std::vector<std::vector<double>> doubles(2, std::vector<double>(16));
    EXPECT_THROW(pan->processDouble(doubles, doubles), hosting::HostError);
}

TEST_F(ThirdParty, CloseIsSentOnceAndTheInstanceIsGoneAfter) {
    auto eq = startedPlugin(kEq);
    eq->resume();
    eq->close();
    EXPECT_TRUE(eq->isClosed());
    eq->close();
    EXPECT_THROW(eq->dispatcher(vst2::effGetVendorVersion), hosting::HostError);
}

std::string loadError(const std::filesystem::path& path, hosting::HostOptions options = {}) {
    try {
        hosting::Plugin plugin(path, options);
    } catch (const hosting::HostError& error) {
        return error.what();
    }
    return "";
}

TEST(HostLoading, EveryRefusalIsAClearError) {
    EXPECT_EQ(loadError("/nonexistent/plugin.so"), "/nonexistent/plugin.so: no such file");

    const auto text = std::filesystem::temp_directory_path() / "vandrel_host_not_a_module.so";
    std::ofstream(text) << "not a shared object\n";
    EXPECT_NE(loadError(text).find(": cannot load: "), std::string::npos) << loadError(text);
    std::filesystem::remove(text);

    // A real shared library that is no plug-in.
    const std::filesystem::path libm = "/lib/x86_64-linux-gnu/libm.so.6";
    if (std::filesystem::exists(libm)) {
        EXPECT_EQ(loadError(libm), libm.string() + ": no VSTPluginMain or main entry point");
    }
    EXPECT_EQ(loadError(kFixtures / "fixture_no_entry.so"),
              (kFixtures / "fixture_no_entry.so").string() + ": no VSTPluginMain or main entry point");
    EXPECT_EQ(loadError(kFixtures / "fixture_refuse.so"),
              (kFixtures / "fixture_refuse.so").string() + ": the plug-in refused to create an instance");
    EXPECT_EQ(loadError(kFixtures / "fixture_bad_magic.so"),
              (kFixtures / "fixture_bad_magic.so").string() + ": not a VST 2.4 effect (wrong magic number)");
}

TEST(HostLoading, PluginsRefuseAHostWithoutVersion) {
    hosting::HostOptions silent;
    silent.versionAnswer = 0;
    EXPECT_NE(loadError(kFixtures / "fixture_delay.so", silent).find("refused"), std::string::npos);
    EXPECT_EQ(loadError(kFixtures / "fixture_delay.so"), "");
}

} // namespace
