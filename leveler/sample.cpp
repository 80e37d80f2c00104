#include "leveler/bounds.h"
#include "leveler/leveler.h"

#include <algorithm>
#include <cmath>

using namespace leveler;

namespace {

// Both channels of a loudness detector: the weighting filters' step, then the mean-square update. (GCC would
// leave this and the per-stage steps below out of line, at the cost of a call per detector and stage.)
[[gnu::always_inline]] inline Stereo Measure(const WeightingDesign& design, WeightingFilter& filter,
                                             MeanSquareDetector& power, Stereo frame, double coefficient,
                                             bool halfRateTick, bool quarterRateTick) {
    return power.Update(filter.Step(design, frame, halfRateTick), coefficient, quarterRateTick);
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

// Writes the frame at the line's position, advances it (wrapping after the last position) and answers the
// cells found there: the frame written lastPosition samples ago. A position beyond the last one (left over
// from a longer line before a change of sample rate) and rings outside the cached pages take the
// ordinary way, channel by channel.
[[gnu::always_inline]] inline Stereo TParvexEffect::PassDelay(DelayLine& delay, Stereo frame) {
    const int64_t position = delay.position, lastPosition = delay.lastPosition;
    const int64_t next = position + 1 > lastPosition ? 0 : position + 1;
    delay.position = next;
    double* const left = delay.leftRing;
    double* const right = delay.rightRing;
    if (left && right && position <= lastPosition) [[likely]] {
        left[position] = frame[0];
        right[position] = frame[1];
        return Stereo{left[next], right[next]};
    }
    const int64_t leftBase = delay.leftBase, rightBase = delay.rightBase;
    DelayCell(leftBase + position) = frame[0];
    const double leftOut = DelayCell(leftBase + next);
    DelayCell(rightBase + position) = frame[1];
    return Stereo{leftOut, DelayCell(rightBase + next)};
}

[[gnu::always_inline]] inline Stereo TParvexEffect::RunStage(Stage& stage, bool detecting, Stereo frame) {
    if (detecting) {
        const Stereo power = Measure(weighting, stage.filter, stage.power, frame, stage.smoothCoef,
                                     halfRateTick, quarterRateTick);
        const double e = power[0] + power[1];
        const double peakHold = std::max(e, e + (stage.peakHold - e) * stage.holdDecay);
        const double envelope = stage.envelope;
        const double coefficient = peakHold > envelope ? stage.attackCoef : stage.releaseCoef;
        const double newEnvelope = envelope + coefficient * (peakHold - envelope);
        stage.peakHold = peakHold;
        stage.envelope = newEnvelope;
        stage.gain = StageGain(stage, stage.stageTarget, newEnvelope);
    }
    return stage.gain.Load() * PassDelay(stage.delay, frame);
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
    Stereo frame = Stereo{HostSample(SampleSlots[0]), HostSample(SampleSlots[1])} + noiseOffset;

    if (!IsZero(hpfShape)) frame = highPass.Step(StereoCoefficients::Of(hpfLeft, hpfRight), frame);

    frame = frame * inputTrimGain.Load();

    peakNow = std::max(std::abs(frame[0]), std::abs(frame[1]));
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
    if (detecting)
        Measure(weighting, inputMeter.filter, inputMeter.power, frame, inputMeter.smoothCoef, halfRateTick,
                quarterRateTick);
    inputLoudnessPower = inputMeter.power.lastResult[0] + inputMeter.power.lastResult[1];
    fast.stageTarget = inputLoudnessPower;

    frame = RunStage(fast, detecting, frame);
    frame = RunStage(medium, detecting, frame);
    frame = RunStage(slow, detecting, frame);

    frame = frame * outputGain;

    // Output loudness over three seconds, whatever the gate.
    const Stereo outputPower = Measure(weighting, outputMeter.filter, outputMeter.power, frame,
                                       outputMeter.smoothCoef, halfRateTick, quarterRateTick);
    outputPowerLeft = outputPower[0];
    outputPowerRight = outputPower[1];

    SampleSlots[0] = frame[0];
    SampleSlots[1] = frame[1];
}
