#include "leveler/bounds.h"
#include "leveler/leveler.h"

#include <algorithm>
#include <cmath>

using namespace leveler;

namespace {

// One channel's loudness detector: its weighting filter's step, then its mean-square update. (GCC would
// leave this and the per-stage steps below out of line, at the cost of a call per channel and stage.)
[[gnu::always_inline]] inline double Measure(const WeightingDesign& design, WeightingFilter& filter,
                                             MeanSquareDetector& power, double x, double coefficient,
                                             bool halfRateTick, bool quarterRateTick) {
    return power.Update(filter.Step(design, x, halfRateTick), coefficient, quarterRateTick);
}

// The square root of the power ratio, limited to maxBoost, then to maxCut. A ratio at or beyond the
// stage's bounds gives a limit without the square root. A target of 0 against an envelope of 0 is no
// reason to move.
inline double StageGain(const Stage& stage, double target, double envelope) {
    const double maxBoost = stage.maxBoost, maxCut = stage.maxCut;
    const double ratio = std::abs(target / envelope);
    if (ratio >= stage.maxBoostFromRatio) return std::max(maxBoost, maxCut);
    if (ratio <= stage.maxCutUpToRatio) return maxCut;
    if (target == 0 && envelope == 0) return std::max(std::min(1.0, maxBoost), maxCut);
    return std::max(std::min(std::sqrt(ratio), maxBoost), maxCut);
}

// Non-finite samples count as silence. Samples beyond 600 dB over full scale are limited to it, so that no
// square overflows and the largest gains cannot carry a sample past the 32-bit range.
inline double HostSample(double sample) {
    constexpr double kLargest = 1e30;
    return std::isfinite(sample) ? std::clamp(sample, -kLargest, kLargest) : 0.0;
}

} // namespace

// A delay cell outside the cached pages: the ordinary way, which creates its page on first touch.
double& TParvexEffect::DelayCell(int64_t position) {
    return MemoryAt(CellIndex(position));
}

// Writes the sample at the channel's position, advances it (wrapping after the last position) and answers
// the cell found there: the sample written lastPosition samples ago. The cells are read from the cached
// page that holds the channel's first cell whenever they lie in it.
[[gnu::always_inline]] inline double TParvexEffect::PassDelay(const Shared<int64_t>& base, int64_t& position,
                                                              int64_t lastPosition, double sample) {
    const int64_t start = base;
    double* const page = delayPages.PageHolding(start);
    const auto cell = [&](int64_t index) -> double& {
        if (page && (index >> 16) == (start >> 16)) [[likely]]
            return page[index & 0xFFFF];
        return DelayCell(index);
    };
    cell(start + position) = sample;
    position = position + 1 > lastPosition ? 0 : position + 1;
    return cell(start + position);
}

[[gnu::always_inline]] inline void TParvexEffect::RunStage(Stage& stage, bool detecting, double& left,
                                                           double& right) {
    if (detecting) {
        const double smoothing = stage.smoothCoef;
        const double leftPower = Measure(weighting, stage.leftFilter, stage.leftPower, left, smoothing,
                                         halfRateTick, quarterRateTick);
        const double rightPower = Measure(weighting, stage.rightFilter, stage.rightPower, right, smoothing,
                                          halfRateTick, quarterRateTick);
        const double e = leftPower + rightPower;
        const double peakHold = std::max(e, e + (stage.peakHold - e) * stage.holdDecay);
        const double envelope = stage.envelope;
        const double coefficient = peakHold > envelope ? stage.attackCoef : stage.releaseCoef;
        const double newEnvelope = envelope + coefficient * (peakHold - envelope);
        stage.peakHold = peakHold;
        stage.envelope = newEnvelope;
        stage.gain = StageGain(stage, stage.stageTarget, newEnvelope);
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
    const double closedUpTo = gateClosedUpTo;
    const bool belowFloor = !std::isnan(closedUpTo)
                                ? peakEnvelope <= closedUpTo
                                : IsZero(std::max(peakEnvelope, floorAmplitude.Load()) / floorAmplitude - 1);
    double level = gateLevel;
    if (belowFloor) {
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
    outputGain = std::sqrt(level) * outputTrimGain;

    const bool detecting = gateOpen > gateOpenThreshold;

    // Input loudness over one second: the fast stage's target.
    if (detecting) {
        const double smoothing = inputMeter.smoothCoef;
        Measure(weighting, inputMeter.leftFilter, inputMeter.leftPower, left, smoothing, halfRateTick,
                quarterRateTick);
        Measure(weighting, inputMeter.rightFilter, inputMeter.rightPower, right, smoothing, halfRateTick,
                quarterRateTick);
    }
    inputLoudnessPower = inputMeter.leftPower.lastResult + inputMeter.rightPower.lastResult;
    fast.stageTarget = inputLoudnessPower;

    RunStage(fast, detecting, left, right);
    RunStage(medium, detecting, left, right);
    RunStage(slow, detecting, left, right);

    left = left * outputGain;
    right = right * outputGain;

    // Output loudness over three seconds, whatever the gate.
    const double smoothing = outputMeter.smoothCoef;
    outputPowerLeft = Measure(weighting, outputMeter.leftFilter, outputMeter.leftPower, left, smoothing,
                              halfRateTick, quarterRateTick);
    outputPowerRight = Measure(weighting, outputMeter.rightFilter, outputMeter.rightPower, right, smoothing,
                               halfRateTick, quarterRateTick);

    SampleSlots[0] = left;
    SampleSlots[1] = right;
}
