// Leveler sample processing: decimation phase, gate, guards against non-finite input, the look-ahead delay
// and its gains.
#include "testkit/leveler_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using leveler_test::MusicLike;
using leveler_test::Programme;
using leveler_test::Rig;

namespace {

void Step(TParvexEffect& effect, double left, double right) {
    effect.SampleSlots[0] = left;
    effect.SampleSlots[1] = right;
    effect.DoSample();
}

TEST(LevelerSample, PhaseTicks) {
    Rig rig;
    rig.effect.DoBlock();
    const bool half[] = {true, false, true, false, true, false, true, false};
    const bool quarter[] = {true, false, false, false, true, false, false, false};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(rig.effect.phase, i % 4);
        Step(rig.effect, 0, 0);
        EXPECT_EQ(rig.effect.halfRateTick, half[i]) << "sample " << i;
        EXPECT_EQ(rig.effect.quarterRateTick, quarter[i]) << "sample " << i;
    }
}

TEST(LevelerSample, GateClosesWithTheGateSpeedAndHoldsTheMeters) {
    Rig rig;
    TParvexEffect& e = rig.effect;
    e.DoBlock();
    const double coefficient = e.gateReleaseCoef;
    double expected = 1;
    for (int i = 0; i < 2000; ++i) {
        Step(e, 0, 0);
        expected *= coefficient;
        ASSERT_EQ(e.gateLevel, expected);
        ASSERT_EQ(e.gateOpen, expected);
        ASSERT_EQ(e.gateStep, 0);
        ASSERT_DOUBLE_EQ(e.outputGain, std::pow(expected, 0.5));
    }
    // Below 0.891 the input meter and the stage detectors hold.
    while (e.gateLevel > 0.891) Step(e, 0, 0);
    const double inputPower = e.inputLoudnessPower;
    const double slowEnvelope = e.slow.envelope;
    const double fastGain = e.fastGain();
    for (int i = 0; i < 1000; ++i) Step(e, 0, 0);
    EXPECT_EQ(e.inputLoudnessPower, inputPower);
    EXPECT_EQ(e.slow.envelope, slowEnvelope);
    EXPECT_EQ(e.fastGain(), fastGain);
}

TEST(LevelerSample, GateLevelAfterOneSecondOfSilence) {
    Rig rig;
    rig.Silence(48000);
    EXPECT_NEAR(rig.effect.gateLevel / rig.effect.gateOneSecond, 1, 1e-9);
}

TEST(LevelerSample, GateReopensOverTheLatency) {
    Rig rig;
    TParvexEffect& e = rig.effect;
    e.DoBlock();
    e.gateLevel = 0.5;
    Step(e, 0.5, 0.5);
    EXPECT_EQ(e.gateOpen, 1);
    EXPECT_DOUBLE_EQ(e.gateStep, 0.5 / 5037);
    for (int i = 1; i < 5000; ++i) Step(e, 0.5, 0.5);
    EXPECT_LT(e.gateLevel, 0.997);
    for (int i = 5000; i < 5037; ++i) Step(e, 0.5, 0.5);
    EXPECT_NEAR(e.gateLevel, 1, 1e-12);
    Step(e, 0.5, 0.5);
    EXPECT_EQ(e.gateLevel, 1);
}

TEST(LevelerSample, PeakAtTheFloorCountsAsBelow) {
    Rig at;
    at.effect.DoBlock();
    for (int i = 0; i < 100; ++i) Step(at.effect, 0.01, -0.01);
    EXPECT_LT(at.effect.gateLevel, 1);
    EXPECT_EQ(at.effect.gateStep, 0);

    // 0.00001 above the floor, relative, is above it.
    Rig above;
    above.effect.DoBlock();
    for (int i = 0; i < 100; ++i) Step(above.effect, 0.0100001, 0);
    EXPECT_EQ(above.effect.gateLevel, 1);
    EXPECT_EQ(above.effect.gateOpen, 1);
}

TEST(LevelerSample, NonFiniteInputCountsAsSilence) {
    auto clean = leveler_test::MusicLike(48000, 2);
    auto dirty = clean;
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        size_t frame;
        double value;
        bool left;
    } faults[] = {
        {1000, std::nan(""), true}, {2000, inf, false}, {3001, -inf, true}, {3002, std::nan(""), false}};
    for (const auto& fault : faults) {
        (fault.left ? clean.left : clean.right)[fault.frame] = 0;
        (fault.left ? dirty.left : dirty.right)[fault.frame] = fault.value;
    }
    Rig a, b;
    a.ProcessAll(clean.left, clean.right);
    b.ProcessAll(dirty.left, dirty.right);
    for (size_t i = 0; i < clean.left.size(); ++i) {
        ASSERT_EQ(dirty.left[i], clean.left[i]) << i;
        ASSERT_EQ(dirty.right[i], clean.right[i]) << i;
    }
    EXPECT_TRUE(std::isfinite(b.effect.fastGain()));
}

// Subnormal numbers cost many times a normal one in every operation. Subnormal input must not leave them in
// the recursive state that every later sample goes through: the filters, detectors and envelopes.
TEST(LevelerSample, SubnormalInputLeavesNoSubnormalStateBehind) {
    std::mt19937 random(4);
    std::uniform_int_distribution<int> steps(-(1 << 20), 1 << 20);
    const double tiny = std::numeric_limits<double>::denorm_min();
    Programme input{std::vector<double>(192000), std::vector<double>(192000)};
    for (size_t i = 0; i < input.left.size(); ++i) {
        input.left[i] = tiny * steps(random);
        input.right[i] = tiny * steps(random);
    }
    Rig rig;
    rig.effect.SliderValues[6] = 1; // the high-pass too
    rig.effect.DoSlider();
    rig.ProcessAll(input.left, input.right);

    const TParvexEffect& e = rig.effect;
    std::vector<double> state = {e.peakNow,    e.peakEnvelope,       e.gateLevel,       e.gateOpen,
                                 e.outputGain, e.inputLoudnessPower, e.outputPowerLeft, e.outputPowerRight};
    auto stereo = [&](leveler::Stereo v) { state.insert(state.end(), {v[0], v[1]}); };
    auto biquad = [&](const leveler::BiquadState& b) {
        for (const leveler::Stereo v : {b.x1, b.x2, b.y1, b.y2}) stereo(v);
    };
    auto weighting = [&](const leveler::WeightingFilter& f) {
        biquad(f.highPass);
        biquad(f.shelf);
        stereo(f.heldOutput);
    };
    biquad(e.highPass);
    for (const leveler::Stage* stage : {&e.fast, &e.medium, &e.slow}) {
        weighting(stage->filter);
        stereo(stage->power.meanSquare);
        state.insert(state.end(), {stage->peakHold, stage->envelope, stage->gain});
    }
    for (const leveler::LoudnessMeter* meter : {&e.inputMeter, &e.outputMeter}) {
        weighting(meter->filter);
        stereo(meter->power.meanSquare);
    }
    for (size_t i = 0; i < state.size(); ++i) EXPECT_NE(std::fpclassify(state[i]), FP_SUBNORMAL) << i;
}

TEST(LevelerSample, ZeroTargetOverZeroEnvelopeIsUnityGain) {
    Rig rig;
    TParvexEffect& e = rig.effect;
    e.DoBlock();
    e.noiseOffset = 0;
    const leveler::DelayLine line = e.medium.delay;
    e.medium = leveler::Stage{};
    e.medium.delay = line;
    e.medium.maxBoost = 10.0;
    e.medium.maxCut = 0.1;
    e.medium.stageTarget = 0.0;
    // Digital silence with no offset: the medium stage's detector sees exact zeros.
    for (int i = 0; i < 8; ++i) Step(e, 0, 0);
    EXPECT_EQ(e.medium.envelope, 0);
    EXPECT_EQ(e.medGain(), 1);
    EXPECT_EQ(e.SampleSlots[0], 0);
}

TEST(LevelerSample, GainsStayWithinTheirLimits) {
    Rig rig;
    auto loud = leveler_test::MusicLike(48000, 6);
    for (double& x : loud.left) x *= 3;
    for (double& x : loud.right) x *= 3;
    auto quiet = leveler_test::MusicLike(48000, 10, 11);
    for (double& x : quiet.left) x *= 0.25;
    for (double& x : quiet.right) x *= 0.25;
    double lowest[3] = {10, 10, 10}, highest[3] = {0, 0, 0};
    for (auto* part : {&loud, &quiet}) {
        for (size_t start = 0; start < part->left.size(); start += 512) {
            const auto frames = static_cast<int32_t>(std::min<size_t>(512, part->left.size() - start));
            rig.Process(part->left.data() + start, part->right.data() + start, frames);
            const double gains[] = {rig.effect.fastGain(), rig.effect.medGain(), rig.effect.slowGain()};
            for (int k = 0; k < 3; ++k) {
                lowest[k] = std::min(lowest[k], gains[k]);
                highest[k] = std::max(highest[k], gains[k]);
            }
        }
    }
    // The fast stage cannot boost with "Fast Dynamics Max Gain" at 0.
    EXPECT_LE(highest[0], 1);
    EXPECT_GE(lowest[0], std::pow(10, -0.5));
    EXPECT_LT(lowest[0], 0.9);
    EXPECT_LE(highest[1], std::pow(10, 0.5));
    EXPECT_GE(lowest[1], std::pow(10, -0.5));
    EXPECT_LE(highest[2], 10);
    EXPECT_GE(lowest[2], 0.1);
    EXPECT_GT(highest[2], 1.5);
}

// Feeds frames [from, to) of the signals as one block.
void Feed(Rig& rig, std::vector<double>& left, std::vector<double>& right, size_t from, size_t to) {
    while (from < to) {
        const size_t count = std::min<size_t>(to - from, 4096);
        rig.Process(left.data() + from, right.data() + from, static_cast<int32_t>(count));
        from += count;
    }
}

TEST(LevelerSample, ImpulseLeavesAfterExactlyTheLatencyScaledByTheGainsInForce) {
    Rig rig;
    const size_t impulse = 30000;
    const size_t leavesFast = impulse + 1199, leavesMedium = leavesFast + 1439,
                 leavesSlow = leavesMedium + 2399;
    ASSERT_EQ(leavesSlow, impulse + 5037);
    std::vector<double> left(leavesSlow + 2000, 0.0), right(leavesSlow + 2000, 0.0);
    // Loud noise first, so that the stages are away from unity, then half a second of silence.
    std::mt19937 random(3);
    std::uniform_real_distribution<double> uniform(-0.3, 0.3);
    for (size_t i = 0; i < impulse - 24000; ++i) left[i] = right[i] = uniform(random);
    left[impulse] = 0.5;
    right[impulse] = -0.25;

    // Block boundaries right after each hand-over, to read the gain the sample was multiplied by.
    Feed(rig, left, right, 0, impulse);
    const double offset = rig.effect.noiseOffset;
    Feed(rig, left, right, impulse, leavesFast + 1);
    const double fastGain = rig.effect.fastGain();
    Feed(rig, left, right, leavesFast + 1, leavesMedium + 1);
    const double medGain = rig.effect.medGain();
    Feed(rig, left, right, leavesMedium + 1, leavesSlow + 1);
    const double slowGain = rig.effect.slowGain();
    const double outputGain = rig.effect.outputGain;
    Feed(rig, left, right, leavesSlow + 1, left.size());

    EXPECT_NE(medGain, 1);
    EXPECT_NE(slowGain, 1);
    EXPECT_NEAR(left[leavesSlow], (0.5 + offset) * fastGain * medGain * slowGain * outputGain, 1e-15);
    EXPECT_NEAR(right[leavesSlow], (-0.25 + offset) * fastGain * medGain * slowGain * outputGain, 1e-15);
    EXPECT_GT(std::abs(left[leavesSlow]), 0.1);
    for (size_t i = impulse; i < left.size(); ++i) {
        if (i == leavesSlow) continue;
        ASSERT_LT(std::abs(left[i]), 1e-12) << i;
        ASSERT_LT(std::abs(right[i]), 1e-12) << i;
    }
}

TEST(LevelerSample, HighPassOnlyWhenEnabled) {
    Rig off, on;
    on.effect.SliderValues[6] = 1;
    on.effect.DoSlider();
    std::vector<double> dcOff(96000, 0.1), dcOff2(96000, 0.1), dcOn(96000, 0.1), dcOn2(96000, 0.1);
    off.ProcessAll(dcOff, dcOff2);
    on.ProcessAll(dcOn, dcOn2);
    EXPECT_EQ(off.effect.highPass.y1[0], 0);
    EXPECT_GT(std::abs(dcOff.back()), 0.01);
    EXPECT_LT(std::abs(dcOn.back()), 1e-6);
}

// The host, the panel and the audio thread may move the "HPF" slider at once. Coefficients half rewritten by
// one of them (here a1 of the gentlest design beside a2 of the steepest) make a filter with a pole outside
// the unit circle; the audio must keep to the design of the shape it reads.
TEST(LevelerSample, HighPassHalfRewrittenByAnotherThreadStaysStable) {
    Rig clean, torn;
    for (Rig* rig : {&clean, &torn}) {
        rig->effect.SliderValues[6] = 1;
        rig->effect.DoSlider();
    }
    leveler::BiquadCoefficients gentlest;
    leveler::DesignInputHighPass(gentlest, 0, 48000);
    torn.effect.hpfLeft.a1 = gentlest.a1.Load();
    torn.effect.hpfRight.a1 = gentlest.a1.Load();

    Programme a = MusicLike(48000, 1.0), b = a;
    clean.ProcessAll(a.left, a.right);
    torn.ProcessAll(b.left, b.right);
    EXPECT_TRUE(std::all_of(b.left.begin(), b.left.end(), [](double x) { return std::isfinite(x); }));
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
}

// A resume starts the lines afresh, but the first state restore initialises without one: at a new rate (a
// host that changed it without suspending) the lines may then stand beyond their new end.
TEST(LevelerSample, ShorterLinesAfterARateChangeWrapOnce) {
    Rig rig(96000);
    rig.Silence(2000);
    EXPECT_EQ(rig.effect.fast.delay.position, 2000);
    rig.host.sampleRate = 44100;
    rig.effect.DoInitOnce();
    rig.effect.DoBlock();
    Step(rig.effect, 0.5, 0.5); // position 2000 is beyond the new last position 1101: used once, then 0
    EXPECT_EQ(rig.effect.fast.delay.position, 0);
    rig.Silence(48000);
    EXPECT_LE(rig.effect.fast.delay.position, 1101);
    EXPECT_TRUE(std::isfinite(rig.effect.SampleSlots[0]));
}

// The sample path takes a block in runs, section by section; a frame at a time must give the same bits.
// The programme has music, pauses that close the gate and a restart that reopens it; the variants add the
// high-pass, a rate whose delay rings fall outside the cached pages, and a change of rate mid-way.
// Frame by frame with the baseline instruction set against runs with each set this processor runs.
TEST(LevelerSample, BlocksInRunsGiveWhatFrameByFrameGives) {
    using Set = TParvexEffect::InstructionSet;
    struct Variant {
        double rate;
        bool highPass;
        double laterRate;
    };
    int setsCompared = 0;
    for (const Set set : {Set::kBaseline, Set::kX86_64_V3, Set::kX86_64_V4})
        for (const Variant variant : {Variant{48000, false, 0}, Variant{44100, true, 0},
                                      Variant{384000, false, 0}, Variant{96000, false, 44100}}) {
            if (!TParvexEffect::Runs(set)) continue;
            setsCompared += variant.rate == 48000;
            Programme programme = MusicLike(variant.rate, 3.0);
            const size_t pause = programme.left.size() / 3;
            std::fill(programme.left.begin() + ptrdiff_t(pause),
                      programme.left.begin() + ptrdiff_t(2 * pause), 0.0);
            std::fill(programme.right.begin() + ptrdiff_t(pause),
                      programme.right.begin() + ptrdiff_t(2 * pause), 0.0);
            Rig framewise(variant.rate), runs(variant.rate);
            for (Rig* rig : {&framewise, &runs}) {
                rig->effect.SliderValues[6] = variant.highPass ? 1 : 0;
                rig->effect.DoSlider();
            }
            std::vector<double> left = programme.left, right = programme.right;
            std::vector<double> runLeft = programme.left, runRight = programme.right;
            // Block sizes around the run length and the ends of runs.
            constexpr int32_t kBlocks[] = {1, 127, 128, 129, 300, 512, 7, 1000};
            size_t start = 0;
            double lowestGate = 1;
            for (int block = 0; start < left.size(); ++block) {
                if (variant.laterRate > 0 && block == 40)
                    for (Rig* rig : {&framewise, &runs}) {
                        rig->host.sampleRate = variant.laterRate;
                        // As the first state restore initialises, without a resume: lines beyond their end.
                        rig->effect.DoInitOnce();
                    }
                const auto frames = static_cast<int32_t>(std::min<size_t>(
                    static_cast<size_t>(kBlocks[block % std::size(kBlocks)]), left.size() - start));
                TParvexEffect::Use(Set::kBaseline);
                framewise.Process(left.data() + start, right.data() + start, frames);
                TParvexEffect::Use(set);
                runs.effect.DoBlock();
                runs.effect.DoSamples(runLeft.data() + start, runRight.data() + start, frames);
                start += static_cast<size_t>(frames);
                lowestGate = std::min<double>(lowestGate, framewise.effect.gateLevel);
            }
            EXPECT_LT(lowestGate, 0.5) << "the pause closes the gate";
            EXPECT_EQ(framewise.effect.gateLevel, 1.0) << "the music after it opens it again";
            size_t differing = 0;
            for (size_t i = 0; i < left.size(); ++i)
                differing += left[i] != runLeft[i] || right[i] != runRight[i];
            EXPECT_EQ(differing, 0u) << "rate " << variant.rate << ", instruction set " << int(set);
            const TParvexEffect& a = framewise.effect;
            const TParvexEffect& b = runs.effect;
            EXPECT_EQ(a.fastGain(), b.fastGain());
            EXPECT_EQ(a.medGain(), b.medGain());
            EXPECT_EQ(a.slowGain(), b.slowGain());
            EXPECT_EQ(a.slow.envelope, b.slow.envelope);
            EXPECT_EQ(a.gateLevel, b.gateLevel);
            EXPECT_EQ(a.outputPowerLeft, b.outputPowerLeft);
            EXPECT_EQ(a.fast.delay.position, b.fast.delay.position);
            EXPECT_EQ(a.phase, b.phase);
        }
    TParvexEffect::Use(TParvexEffect::Newest());
    EXPECT_GE(setsCompared, 1);
}

} // namespace
