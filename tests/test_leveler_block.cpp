// Leveler block processing: start-up, statistics cadence, automatic trim and threshold, host reports.
#include "testkit/leveler_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using leveler_test::Rig;

namespace {

// A rig after its first block (the start-up), driven block by block without samples.
struct BlockRig : Rig {
    BlockRig() { effect.DoBlock(); }
};

TEST(LevelerBlock, StartUpAt48000With512) {
    BlockRig rig;
    const TParvexEffect& e = rig.effect;
    EXPECT_EQ(e.started, 1);
    EXPECT_EQ(e.blocksPerSecond, 93);
    EXPECT_EQ(e.trimWindow, 186);
    EXPECT_DOUBLE_EQ(e.compSmoothing, 1 / 269.7);
    EXPECT_EQ(e.gateLevel, 1);
    EXPECT_EQ(e.fastGain(), 1);
    EXPECT_EQ(e.medGain(), 1);
    EXPECT_EQ(e.slowGain(), 1);
    const double half = std::pow(10, -2.3) / 2;
    for (const leveler::Stage* stage : {&e.fast, &e.medium, &e.slow}) {
        EXPECT_DOUBLE_EQ(stage->power.meanSquare[0], half);
        EXPECT_DOUBLE_EQ(stage->power.meanSquare[1], half);
        // Last results are left alone: they count until the next update.
        EXPECT_EQ(stage->power.lastResult[0], 0);
    }
    EXPECT_DOUBLE_EQ(e.inputMeter.power.meanSquare[0], half);
    EXPECT_EQ(e.outputMeter.power.meanSquare[0], 0);
}

TEST(LevelerBlock, StatisticsEvery374Blocks) {
    Rig rig;
    std::vector<int> updates;
    for (int block = 1; block <= 1200; ++block) {
        rig.Silence(512);
        if (rig.effect.statBlockCount == 0) updates.push_back(block);
    }
    EXPECT_EQ(updates, (std::vector<int>{374, 748, 1122}));
}

TEST(LevelerBlock, PermanentGatingRaisesTheSlowTargetToItsLimit) {
    Rig rig;
    rig.effect.SliderValues[7] = 0; // keep the floor where it is
    rig.effect.DoSlider();
    std::vector<double> ratios;
    for (int block = 1; block <= 3 * 374; ++block) {
        rig.Silence(512);
        if (rig.effect.statBlockCount == 0) ratios.push_back(rig.effect.gatingRatio);
    }
    ASSERT_EQ(ratios.size(), 3u);
    EXPECT_DOUBLE_EQ(ratios[0], 0.5); // X is limited to 1
    EXPECT_DOUBLE_EQ(ratios[1], 0.75);
    EXPECT_DOUBLE_EQ(ratios[2], 0.875);
    EXPECT_EQ(rig.effect.compTarget, 1.2589);
    EXPECT_GT(rig.effect.compFactor, 1.2);
    EXPECT_DOUBLE_EQ(rig.effect.slow.stageTarget, rig.effect.compFactor * std::pow(10, -2.3));
}

struct TrimCase {
    double medGain;
    double vote;
    double expectedTrim;
};

class LevelerTrimStep : public testing::TestWithParam<TrimCase> {};

TEST_P(LevelerTrimStep, DecisionAfterTwoSecondsOfOpenBlocks) {
    const TrimCase& c = GetParam();
    BlockRig rig;
    TParvexEffect& e = rig.effect;
    e.medium.gain = c.medGain;
    e.openBlockCount = 185;
    e.trimVote = c.vote - (c.medGain > 1 ? 1 : -1);
    e.DoBlock();
    EXPECT_DOUBLE_EQ(e.SliderValues[1], c.expectedTrim);
    EXPECT_DOUBLE_EQ(e.sliderCopies[1], c.expectedTrim);
    EXPECT_DOUBLE_EQ(e.inputTrimGain, std::pow(10, c.expectedTrim / 20));
    EXPECT_DOUBLE_EQ(e.floorAmplitude, std::pow(10, (c.expectedTrim - 40) / 20));
    EXPECT_EQ(e.slidersChanged, c.expectedTrim != 0 ? 1 : 0);
    EXPECT_EQ(e.openBlockCount, 0);
    EXPECT_EQ(e.trimVote, 0);
}

INSTANTIATE_TEST_SUITE_P(Votes, LevelerTrimStep,
                         testing::Values(TrimCase{1.2, 186, 1.00}, // ceil(93 / 186 * 200) * 0.01
                                         TrimCase{1.2, 100, 0.08}, // ceil(7 / 186 * 200) * 0.01
                                         TrimCase{0.8, -100, -0.07}, TrimCase{0.8, -186, -1.00},
                                         TrimCase{1.2, 93, 0}, TrimCase{0.8, -93, 0}));

TEST(LevelerBlock, TrimDecisionIsTakenAlsoWhenTheGateIsNotOpen) {
    BlockRig rig;
    TParvexEffect& e = rig.effect;
    e.gateLevel = 0.5;
    e.openBlockCount = 186;
    e.trimVote = 186;
    e.DoBlock();
    EXPECT_DOUBLE_EQ(e.SliderValues[1], 1.0);
}

TEST(LevelerBlock, OneSidedMediumStageVotesWithTheSlowStage) {
    BlockRig rig;
    TParvexEffect& e = rig.effect;
    e.SliderValues[13] = 0; // medium stage cannot boost
    e.DoSlider();
    e.medium.gain = 0.9;
    e.slow.gain = 1.3;
    e.DoBlock();
    EXPECT_EQ(e.trimVote, 1); // (0.9 + 1.3) / 2 > 1
}

TEST(LevelerBlock, TrimSwitchOffStopsVoting) {
    BlockRig rig;
    TParvexEffect& e = rig.effect;
    e.SliderValues[5] = 0;
    e.DoSlider();
    e.medium.gain = 1.5;
    e.openBlockCount = 185;
    e.trimVote = 185;
    e.DoBlock();
    EXPECT_EQ(e.SliderValues[1], 0);
    EXPECT_EQ(e.openBlockCount, 185);
}

struct ThresholdCase {
    double floor;
    double priorRatio;
    double gatedBlocks;
    double expectedFloor;
};

class LevelerThresholdStep : public testing::TestWithParam<ThresholdCase> {};

TEST_P(LevelerThresholdStep, AtTheStatisticsUpdate) {
    const ThresholdCase& c = GetParam();
    BlockRig rig;
    TParvexEffect& e = rig.effect;
    e.SliderValues[3] = c.floor;
    e.DoSlider();
    e.gatingRatio = c.priorRatio;
    e.statBlockCount = 373;
    e.gatedBlockCount = c.gatedBlocks;
    e.DoBlock();
    EXPECT_EQ(e.statBlockCount, 0);
    EXPECT_EQ(e.SliderValues[3], c.expectedFloor);
    EXPECT_EQ(e.sliderCopies[3], c.expectedFloor);
    EXPECT_DOUBLE_EQ(e.floorAmplitude, std::pow(10, c.expectedFloor / 20));
    EXPECT_EQ(e.slidersChanged, 1);
}

INSTANTIATE_TEST_SUITE_P(Gating, LevelerThresholdStep,
                         testing::Values(ThresholdCase{-40, 0.6, 373, -41}, // floor(0.19 + 1)
                                         ThresholdCase{-40, 0, 0, -36},     // ceil(1 / 0.01^0.25)
                                         ThresholdCase{0, 0.6, 373, -20}, ThresholdCase{0, 0, 0, 1}));

TEST(LevelerBlock, ThresholdHoldsBetweenTheLimitsAndWhileTheGateIsClosed) {
    BlockRig rig;
    TParvexEffect& e = rig.effect;
    e.gatingRatio = 0.3;
    e.statBlockCount = 373;
    e.gatedBlockCount = 100;
    e.DoBlock();
    const double X = std::pow(100, 1.075) / 373;
    EXPECT_DOUBLE_EQ(e.gatingRatio, (0.3 + X) / 2);
    EXPECT_DOUBLE_EQ(e.compTarget, std::pow((0.3 + X) / 2 + 1, 0.45));
    EXPECT_EQ(e.SliderValues[3], -40);

    // Little gating, but the gate has been closing for more than a second.
    e.gateLevel = 0.1;
    e.gatingRatio = 0;
    e.statBlockCount = 373;
    e.gatedBlockCount = 0;
    e.DoBlock();
    EXPECT_EQ(e.SliderValues[3], -40);
}

TEST(LevelerBlock, SwitchesOffLeaveTheSlidersAndTheHostAlone) {
    Rig rig;
    rig.effect.SliderValues[5] = 0;
    rig.effect.SliderValues[7] = 0;
    rig.effect.DoSlider();
    auto programme = leveler_test::MusicLike(48000, 6);
    rig.ProcessAll(programme.left, programme.right);
    rig.Silence(48000 * 6);
    EXPECT_EQ(rig.effect.SliderValues[1], 0);
    EXPECT_EQ(rig.effect.SliderValues[3], -40);
    EXPECT_EQ(rig.host.updateDisplayCalls, 0);
}

TEST(LevelerBlock, HostHearsOfSliderChangesWithinAQuarterSecond) {
    BlockRig rig;
    TParvexEffect& e = rig.effect;
    e.medium.gain = 1.5;
    e.openBlockCount = 185;
    e.trimVote = 185;
    e.DoBlock();
    ASSERT_EQ(e.slidersChanged, 1);
    e.DoBlock();
    EXPECT_EQ(rig.host.updateDisplayCalls, 0); // the last check was less than 0.25 s ago
    rig.clock.Advance(0.24);
    e.DoBlock();
    EXPECT_EQ(rig.host.updateDisplayCalls, 0);
    rig.clock.Advance(0.02);
    e.DoBlock();
    EXPECT_EQ(rig.host.updateDisplayCalls, 1);
    EXPECT_EQ(e.slidersChanged, 0);
    rig.clock.Advance(0.3);
    e.DoBlock();
    EXPECT_EQ(rig.host.updateDisplayCalls, 1);
}

TEST(LevelerBlock, LatencyIsReportedOnceMoreByTheFirstBlock) {
    Rig rig;
    EXPECT_EQ(rig.host.setInitialDelayCalls, 1);
    rig.Silence(512 * 4);
    EXPECT_EQ(rig.host.setInitialDelayCalls, 2);
    EXPECT_EQ(rig.host.initialDelay, 5037);
    EXPECT_EQ(rig.effect.lastReportedLatency, 5037);
    rig.effect.DoResume(); // same rate: only the initialisation reports
    rig.Silence(512 * 4);
    EXPECT_EQ(rig.host.setInitialDelayCalls, 3);
}

TEST(LevelerBlock, HugeBlocksStillGiveOneBlockPerSecond) {
    Rig rig(48000, 96000);
    rig.Silence(512);
    EXPECT_EQ(rig.effect.blocksPerSecond, 1);
    EXPECT_EQ(rig.effect.trimWindow, 2);
    EXPECT_DOUBLE_EQ(rig.effect.compSmoothing, 1 / 2.9);
    rig.Silence(512 * 20);
    EXPECT_TRUE(std::isfinite(rig.effect.compFactor));
    EXPECT_TRUE(std::isfinite(rig.effect.slow.stageTarget));
}

TEST(LevelerBlock, HostValuesAndTransport) {
    BlockRig rig;
    THostTime time;
    time.tempo = 96;
    time.ppqPos = 12.5;
    time.timeSigNumerator = 7;
    time.timeSigDenominator = 8;
    time.flags = kHostTransportPlaying | kHostTransportRecording;
    rig.host.time = time;
    rig.effect.DoBlock();
    EXPECT_EQ(rig.effect.playState, 5);
    EXPECT_EQ(rig.effect.beatPosition, 12.5);
    EXPECT_EQ(rig.effect.tempo.working, 96);
    EXPECT_EQ(rig.effect.timeSigNumerator.working, 7);
    EXPECT_EQ(rig.effect.timeSigDenominator.fresh, 8);

    // Without time information the last values stay.
    rig.host.time.reset();
    rig.effect.DoBlock();
    EXPECT_EQ(rig.effect.playState, 0);
    EXPECT_EQ(rig.effect.tempo.working, 96);
}

TEST(LevelerBlock, NoiseOffsetIsTinyAndRenewedPerBlock) {
    BlockRig rig;
    std::set<double> offsets;
    for (int i = 0; i < 100; ++i) {
        rig.effect.DoBlock();
        const double offset = rig.effect.noiseOffset;
        EXPECT_GE(offset, 0);
        EXPECT_LE(offset, 1e-15);
        offsets.insert(offset);
    }
    EXPECT_GT(offsets.size(), 90u);
}

TEST(LevelerBlock, DisplayPowerFollowsTheOutputMeterWhileTheGateIsOpen) {
    Rig rig;
    auto programme = leveler_test::MusicLike(48000, 4);
    rig.ProcessAll(programme.left, programme.right);
    rig.effect.DoBlock();
    EXPECT_EQ(rig.effect.displayPower, rig.effect.outputPowerLeft + rig.effect.outputPowerRight);
    rig.Silence(48000);
    const double held = rig.effect.displayPower;
    rig.Silence(48000);
    EXPECT_EQ(rig.effect.displayPower, held);
    EXPECT_LT(rig.effect.outputPowerLeft + rig.effect.outputPowerRight, held);
}

} // namespace
