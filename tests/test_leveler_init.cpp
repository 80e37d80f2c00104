// Leveler reset, initialisation and parameter response: delay-line layout, latency, filter designs and the
// values the sliders produce.
#include "testkit/leveler_rig.h"

#include <gtest/gtest.h>

#include <cmath>

using leveler_test::Rig;

namespace {

struct Coefficients {
    double b0, b1, b2, a1, a2;
};

void ExpectCoefficients(const leveler::BiquadCoefficients& actual, const Coefficients& expected) {
    constexpr double kTolerance = 1e-14;
    EXPECT_NEAR(actual.b0, expected.b0, kTolerance);
    EXPECT_NEAR(actual.b1, expected.b1, kTolerance);
    EXPECT_NEAR(actual.b2, expected.b2, kTolerance);
    EXPECT_NEAR(actual.a1, expected.a1, kTolerance);
    EXPECT_NEAR(actual.a2, expected.a2, kTolerance);
}

struct LineLayout {
    int64_t leftBase, rightBase, lastPosition;
};

void ExpectLine(const leveler::Stage& stage, const LineLayout& expected) {
    EXPECT_EQ(stage.delay.leftBase, expected.leftBase);
    EXPECT_EQ(stage.delay.rightBase, expected.rightBase);
    EXPECT_EQ(stage.delay.lastPosition, expected.lastPosition);
}

TEST(LevelerInit, DelayLinesAndLatencyAt48000) {
    Rig rig(48000);
    const TParvexEffect& e = rig.effect;
    // 1200 cells per channel in the fast line, delaying by 1199 samples.
    ExpectLine(e.fast, {1000, 2200, 1199});
    ExpectLine(e.medium, {3400, 4840, 1439});
    ExpectLine(e.slow, {6280, 8680, 2399});
    EXPECT_EQ(e.latency, 5037);
    EXPECT_EQ(e.reportedLatency, 5037);
    // Told to the host at the end of the initialisation, before any block.
    EXPECT_EQ(rig.host.initialDelay, 5037);
    EXPECT_EQ(rig.host.setInitialDelayCalls, 1);
}

TEST(LevelerInit, LatencyAt44100) {
    Rig rig(44100);
    ExpectLine(rig.effect.fast, {1000, 2102, 1101});
    ExpectLine(rig.effect.medium, {3204, 4527, 1322});
    ExpectLine(rig.effect.slow, {5850, 8055, 2204});
    EXPECT_EQ(rig.effect.latency, 4627);
    EXPECT_EQ(rig.host.initialDelay, 4627);
}

TEST(LevelerInit, DelayPagesExistAfterInit) {
    Rig rig(48000);
    // All three regions (cells 1000 to 11079) lie in page 0, created here rather than by the first sample.
    EXPECT_NE(rig.effect.FindPage(1000), nullptr);
    EXPECT_EQ(rig.effect.FindPage(65536), nullptr);

    // At 384 kHz the regions run into page 1.
    Rig fast(384000);
    EXPECT_EQ(fast.effect.latency, 40317);
    EXPECT_NE(fast.effect.FindPage(0), nullptr);
    EXPECT_NE(fast.effect.FindPage(65536), nullptr);
    EXPECT_EQ(fast.effect.FindPage(2 * 65536), nullptr);
}

TEST(LevelerInit, HostValuesAndConstants) {
    Rig rig(48000, 256);
    rig.host.time = THostTime{120, 0, 3, 4, 0};
    rig.effect.DoResume();
    const TParvexEffect& e = rig.effect;
    EXPECT_EQ(e.sampleRate.fresh, 48000);
    EXPECT_EQ(e.sampleRate.working, 48000);
    EXPECT_EQ(e.blockSize.working, 256);
    EXPECT_EQ(e.inputCount.working, 2);
    EXPECT_EQ(e.tempo.working, 120);
    EXPECT_EQ(e.FrameRate, 30);
    EXPECT_EQ(e.BuildLabelId, 10000);
    EXPECT_EQ(e.Strings.at(ToIndex(e.BuildLabelId)), "build 170407");
    EXPECT_EQ(e.gateOpenThreshold, 0.891);
    EXPECT_EQ(e.started, 0);
    EXPECT_DOUBLE_EQ(e.peakReleaseCoef, std::exp(-1.0 / 4800));
    EXPECT_DOUBLE_EQ(e.fast.smoothCoef, 4 * (1 - std::exp(-1.0 / 2400)));
    EXPECT_DOUBLE_EQ(e.medium.smoothCoef, 4 * (1 - std::exp(-1.0 / 19200)));
    EXPECT_DOUBLE_EQ(e.slow.smoothCoef, 4 * (1 - std::exp(-1.0 / 144000)));
    EXPECT_DOUBLE_EQ(e.slow.attackCoef, 1 - std::exp(-1.0 / 48));
    EXPECT_DOUBLE_EQ(e.slow.releaseCoef, 1 - std::exp(-1.0 / 480));
    EXPECT_DOUBLE_EQ(e.slow.holdDecay, std::exp(-1.0 / 480));
    EXPECT_DOUBLE_EQ(e.inputMeter.smoothCoef, 4 * (1 - std::exp(-1.0 / 48000)));
    EXPECT_DOUBLE_EQ(e.outputMeter.smoothCoef, 4 * (1 - std::exp(-1.0 / 144000)));
}

TEST(LevelerInit, NonFiniteHostValuesBecomeZero) {
    Rig rig(48000);
    rig.host.time = THostTime{std::nan(""), 0, 4, 4, 0};
    rig.effect.DoResume();
    EXPECT_EQ(rig.effect.tempo.fresh, 0);
    EXPECT_EQ(rig.effect.tempo.working, 0);
}

// Reference values worked out to 40 digits from the design formulas.
TEST(LevelerInit, WeightingFilterCoefficients) {
    Rig rig(48000);
    ExpectCoefficients(rig.effect.weighting.highPass,
                       {0.98699700474476766, -1.9739940094895353, 0.98699700474476766, -1.97382826332712,
                        0.97415975565195068});
    ExpectCoefficients(rig.effect.weighting.shelf,
                       {1.4876704036952628, -2.2432162162137198, 0.9011228963435036, -1.3885116700783031,
                        0.53408875390334966});

    Rig cd(44100);
    ExpectCoefficients(cd.effect.weighting.highPass,
                       {0.98585540833071059, -1.9717108166614212, 0.98585540833071059, -1.9715146836682811,
                        0.97190694965456131});
    ExpectCoefficients(cd.effect.weighting.shelf,
                       {1.4796626808353215, -2.168322256291102, 0.85721622271398612, -1.3370165564518927,
                        0.50557320371009832});
}

TEST(LevelerInit, WeightingCornersFollowLowSampleRates) {
    // Below 280 Hz the high-pass corner is half the rate (w = pi: c = -1, so b0 = b1 = b2 = 0).
    Rig rig(200);
    EXPECT_NEAR(rig.effect.weighting.highPass.b0, 0, 1e-15);
    EXPECT_NEAR(rig.effect.weighting.highPass.a1, 2 / (1 + std::sin(std::numbers::pi) / 1.4), 1e-15);
    // Below 6000 Hz the shelf corner too: with c = -1 and s = 0, b0 = A * 2 / (2A) = 1.
    EXPECT_NEAR(rig.effect.weighting.shelf.b0, 1, 1e-12);
}

TEST(LevelerParameters, DefaultsAt48000) {
    Rig rig(48000);
    const TParvexEffect& e = rig.effect;
    EXPECT_EQ(e.inputTrimGain, 1);
    EXPECT_DOUBLE_EQ(e.targetPower, std::pow(10, -2.3));
    EXPECT_EQ(e.targetLufs, -23);
    EXPECT_DOUBLE_EQ(e.floorAmplitude, 0.01);
    EXPECT_DOUBLE_EQ(e.gateReleaseCoef, std::exp(-1.0 / 24000));
    EXPECT_NEAR(e.gateOneSecond, std::exp(-2.0), 1e-11);
    EXPECT_EQ(e.outputTrimGain, 1);
    EXPECT_EQ(e.hpfShape, 0);
    EXPECT_EQ(e.automaticTrim, 1);
    EXPECT_EQ(e.automaticThreshold, 1);
    EXPECT_EQ(e.fast.maxBoost, 1);
    EXPECT_DOUBLE_EQ(e.fast.maxCut, std::pow(10, -0.5));
    EXPECT_DOUBLE_EQ(e.medium.maxBoost, std::pow(10, 0.5));
    EXPECT_DOUBLE_EQ(e.medium.maxCut, std::pow(10, -0.5));
    EXPECT_DOUBLE_EQ(e.slow.maxBoost, 10);
    EXPECT_DOUBLE_EQ(e.slow.maxCut, 0.1);
    for (const leveler::Stage* stage : {&e.fast, &e.medium, &e.slow})
        EXPECT_DOUBLE_EQ(stage->stageTarget, std::pow(10, -2.3));
    EXPECT_EQ(e.mediumCutDb, 10);
    EXPECT_EQ(e.mediumBoostDb, 10);
    // The slider copies follow SliderValues.
    for (const leveler::ParameterRow& row : leveler::kParameters)
        EXPECT_EQ(e.sliderCopies[row.slider], e.SliderValues[row.slider]) << row.name;
}

TEST(LevelerParameters, HighPassAtHalfAmount) {
    Rig rig(48000);
    rig.effect.SliderValues[6] = 0.5;
    rig.effect.DoSlider();
    EXPECT_NEAR(rig.effect.hpfShape, 0.87055056329612414, 1e-15);
    const Coefficients expected{0.9934664650705064, -1.9869329301410128, 0.9934664650705064,
                                -1.9869295255812223, 0.98693633470080327};
    ExpectCoefficients(rig.effect.hpfLeft, expected);
    ExpectCoefficients(rig.effect.hpfRight, expected);
}

TEST(LevelerParameters, LimitsCountByAbsoluteValueAndTrimsMoveTheFloor) {
    Rig rig(48000);
    TParvexEffect& e = rig.effect;
    e.SliderValues[10] = -10;
    e.SliderValues[1] = 6;
    e.SliderValues[3] = -46;
    e.SliderValues[4] = 0; // a gate speed of 0 closes at once
    e.DoSlider();
    EXPECT_DOUBLE_EQ(e.fast.maxCut, std::pow(10, -0.5));
    EXPECT_DOUBLE_EQ(e.inputTrimGain, std::pow(10, 0.3));
    // The floor includes the trim: the gate compares the untrimmed input with "Noise Floor [dBfs]".
    EXPECT_DOUBLE_EQ(e.floorAmplitude, std::pow(10, -2.0));
    EXPECT_EQ(e.gateReleaseCoef, 0);
    EXPECT_EQ(e.sliderCopies[1], 6);
}

TEST(LevelerParameters, NarrowRoutinesMarkSlidersChanged) {
    Rig rig(48000);
    TParvexEffect& e = rig.effect;
    e.SliderValues[1] = 2;
    e.ApplyInputTrim();
    EXPECT_EQ(e.sliderCopies[1], 2);
    EXPECT_EQ(e.slidersChanged, 1);
    EXPECT_DOUBLE_EQ(e.inputTrimGain, std::pow(10, 0.1));
    EXPECT_DOUBLE_EQ(e.floorAmplitude, std::pow(10, -38.0 / 20));

    e.slidersChanged = 0;
    e.SliderValues[3] = -30;
    e.ApplyNoiseFloor();
    EXPECT_EQ(e.sliderCopies[3], -30);
    EXPECT_EQ(e.slidersChanged, 1);
    EXPECT_DOUBLE_EQ(e.floorAmplitude, std::pow(10, -28.0 / 20));
}

TEST(LevelerInit, ResetClearsStateAndMemoryAndKeepsTables) {
    Rig rig(48000);
    rig.Silence(48000);
    rig.effect.ColorR = 0.5;
    rig.effect.ColorA = 1;
    rig.effect.DoReset();
    const TParvexEffect& e = rig.effect;
    EXPECT_EQ(e.FindPage(1000), nullptr);
    EXPECT_EQ(e.fastGain(), 0);
    EXPECT_EQ(e.gateLevel, 0);
    EXPECT_EQ(e.latency, 0);
    EXPECT_EQ(e.sampleRate.working, 0);
    EXPECT_EQ(e.phase, 0);
    EXPECT_EQ(e.sliderCopies[2], 0);
    EXPECT_EQ(e.ColorR, 0);
    EXPECT_EQ(e.ColorA, 0);
    EXPECT_EQ(e.delayPages.pages[0].Load(), nullptr);
    EXPECT_EQ(e.FileNames.at(1), "vandrel_gfx\\bg.png");
    EXPECT_EQ(e.Strings.size(), 41u);
    EXPECT_EQ(e.Strings.at(10039), "EXCESSIVE GATING!");
    // The sliders themselves are the host's and stay.
    EXPECT_EQ(e.SliderValues[2], -23);
}

TEST(LevelerInit, ProcessingWithoutResumeIsHarmless) {
    TParvexEffect effect;
    effect.DoReset();
    effect.DoBlock();
    for (int i = 0; i < 1000; ++i) {
        effect.SampleSlots[0] = 0.5;
        effect.SampleSlots[1] = -0.25;
        effect.DoSample();
        ASSERT_TRUE(std::isfinite(effect.SampleSlots[0]));
        ASSERT_TRUE(std::isfinite(effect.SampleSlots[1]));
    }
}

TEST(LevelerInit, SampleRateChangeAndResumeGiveTheNewLatency) {
    Rig rig(44100);
    rig.Silence(4096);
    EXPECT_EQ(rig.host.initialDelay, 4627);
    rig.host.sampleRate = 96000;
    rig.effect.DoResume();
    EXPECT_EQ(rig.effect.latency, 10077);
    EXPECT_EQ(rig.host.initialDelay, 10077);
    EXPECT_EQ(rig.effect.started, 0);
    const int32_t calls = rig.host.setInitialDelayCalls;
    rig.Silence(512);
    // The block reports the changed value once more, as the host expects from a block.
    EXPECT_EQ(rig.host.setInitialDelayCalls, calls + 1);
    EXPECT_EQ(rig.host.initialDelay, 10077);
    EXPECT_DOUBLE_EQ(rig.effect.gateReleaseCoef, std::exp(-1.0 / 48000));
}

} // namespace
