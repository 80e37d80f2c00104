#include "leveler/leveler.h"

#include <algorithm>
#include <cmath>

using namespace leveler;

namespace {

// One channel's loudness detector: its weighting filter's step, then its mean-square update.
inline double Measure(const WeightingDesign& design, WeightingFilter& filter, MeanSquareDetector& power,
                      double x, double coefficient, bool halfRateTick, bool quarterRateTick) {
    return power.Update(filter.Step(design, x, halfRateTick), coefficient, quarterRateTick);
}

// The square root of the power ratio, within the stage's limits. A target of 0 against an envelope of 0
// is no reason to move.
inline double StageGain(double target, double envelope, double maxBoost, double maxCut) {
    double gain = target == 0 && envelope == 0 ? 1.0 : std::sqrt(std::abs(target / envelope));
    gain = std::min(gain, maxBoost);
    gain = std::max(gain, maxCut);
    return gain;
}

// Non-finite samples count as silence. Samples beyond 600 dB over full scale are limited to it, so that no
// square overflows and the largest gains cannot carry a sample past the 32-bit range.
inline double HostSample(double sample) {
    constexpr double kLargest = 1e30;
    return std::isfinite(sample) ? std::clamp(sample, -kLargest, kLargest) : 0.0;
}

// pow(level, 0.5), which is not always sqrt's result; an open gate is the usual case.
inline double SquareRoot(double level) {
    return level == 1 ? 1.0 : std::pow(level, 0.5);
}

} // namespace

inline double& TParvexEffect::DelayCell(int64_t position) {
    const int32_t index = CellIndex(position);
    if (double* cell = delayPages.Find(index)) [[likely]]
        return *cell;
    return MemoryAt(index);
}

// Writes the sample at the channel's position, advances it (wrapping after the last position) and answers
// the cell found there: the sample written lastPosition samples ago.
inline double TParvexEffect::PassDelay(const Shared<int64_t>& base, int64_t& position, int64_t lastPosition,
                                       double sample) {
    const int64_t start = base;
    DelayCell(position + start) = sample;
    position = position + 1 > lastPosition ? 0 : position + 1;
    return DelayCell(position + start);
}

inline void TParvexEffect::RunStage(Stage& stage, double& left, double& right) {
    if (gateOpen > gateOpenThreshold) {
        const double leftPower = Measure(weighting, stage.leftFilter, stage.leftPower, left, stage.smoothCoef,
                                         halfRateTick, quarterRateTick);
        const double rightPower = Measure(weighting, stage.rightFilter, stage.rightPower, right,
                                          stage.smoothCoef, halfRateTick, quarterRateTick);
        const double e = leftPower + rightPower;
        stage.peakHold = std::max(e, e + (stage.peakHold - e) * stage.holdDecay);
        const double coefficient = stage.peakHold > stage.envelope ? stage.attackCoef : stage.releaseCoef;
        stage.envelope = stage.envelope + coefficient * (stage.peakHold - stage.envelope);
        stage.gain = StageGain(stage.stageTarget, stage.envelope, stage.maxBoost, stage.maxCut);
    }
    const double gain = stage.gain;
    const int64_t lastPosition = stage.delay.lastPosition;
    left = gain * PassDelay(stage.delay.leftBase, stage.delay.leftPosition, lastPosition, left);
    right = gain * PassDelay(stage.delay.rightBase, stage.delay.rightPosition, lastPosition, right);
}

void TParvexEffect::DoSample() {
    RefreshHostValues();
    // Before the first resume nothing is designed for any rate (gains would run away): audio passes as is.
    if (!(sampleRate.working > 0)) return;

    // Detector decimation: weighting filters on every second sample, mean squares on every fourth.
    quarterRateTick = phase == 0;
    halfRateTick = phase == 0 || phase == 2;
    phase = phase > 2 ? 0 : phase + 1;

    // A non-finite sample from the host would poison every filter and detector for good, and so would one
    // whose square overflows. The offset keeps exact zeros out of the recursive filters.
    double left = HostSample(SampleSlots[0]) + noiseOffset;
    double right = HostSample(SampleSlots[1]) + noiseOffset;

    if (!IsZero(hpfShape)) {
        left = highPassLeft.Step(hpfLeft, left);
        right = highPassRight.Step(hpfRight, right);
    }

    const double trim = inputTrimGain;
    left = left * trim;
    right = right * trim;

    peakNow = std::max(std::abs(left), std::abs(right));
    peakEnvelope = std::max(peakNow, peakReleaseCoef * peakEnvelope);

    // Gate: closes exponentially at the "Gate Speed" while the peak stays at or below the floor, reopens in
    // a straight line over the look-ahead time (at least one sample).
    const double floor = floorAmplitude;
    double level = gateLevel;
    if (IsZero(std::max(peakEnvelope, floor) / floor - 1)) {
        gateStep = 0;
        level = level * gateReleaseCoef;
        gateOpen = level;
    } else {
        gateOpen = 1;
        const double openingSamples = latency >= 1 ? latency.Load() : 1.0;
        if (IsZero(gateStep)) gateStep = (1 / openingSamples) * (1 - level);
        level = std::min(1.0, level + gateStep);
    }
    gateLevel = level;
    outputGain = SquareRoot(level) * outputTrimGain;

    // Input loudness over one second: the fast stage's target.
    if (gateOpen > gateOpenThreshold) {
        const double coefficient = inputMeter.smoothCoef;
        Measure(weighting, inputMeter.leftFilter, inputMeter.leftPower, left, coefficient, halfRateTick,
                quarterRateTick);
        Measure(weighting, inputMeter.rightFilter, inputMeter.rightPower, right, coefficient, halfRateTick,
                quarterRateTick);
    }
    inputLoudnessPower = inputMeter.leftPower.lastResult + inputMeter.rightPower.lastResult;
    fast.stageTarget = inputLoudnessPower;

    RunStage(fast, left, right);
    RunStage(medium, left, right);
    RunStage(slow, left, right);

    left = left * outputGain;
    right = right * outputGain;

    // Output loudness over three seconds, whatever the gate.
    const double coefficient = outputMeter.smoothCoef;
    outputPowerLeft = Measure(weighting, outputMeter.leftFilter, outputMeter.leftPower, left, coefficient,
                              halfRateTick, quarterRateTick);
    outputPowerRight = Measure(weighting, outputMeter.rightFilter, outputMeter.rightPower, right, coefficient,
                               halfRateTick, quarterRateTick);

    SampleSlots[0] = left;
    SampleSlots[1] = right;
}
