#include "leveler/bounds.h"
#include "leveler/leveler.h"

#include <algorithm>
#include <atomic>
#include <cmath>

using namespace leveler;

namespace {

// A stage's gain limits, read once per run.
struct GainLimits {
    double maxBoost, maxCut, maxBoostFromRatio, maxCutUpToRatio;

    static GainLimits Of(const Stage& stage) {
        return {stage.maxBoost, stage.maxCut, stage.maxBoostFromRatio, stage.maxCutUpToRatio};
    }
};

// The square root of the power ratio, limited to maxBoost, then to maxCut. A ratio at or beyond the
// stage's bounds gives a limit without the square root. A target of 0 against an envelope of 0 is no
// reason to move.
inline double StageGain(const GainLimits& limits, double target, double envelope) {
    const double maxBoost = limits.maxBoost, maxCut = limits.maxCut;
    const double ratio = std::abs(target / envelope);
    if (ratio >= limits.maxBoostFromRatio) return std::max(maxBoost, maxCut);
    if (ratio <= limits.maxCutUpToRatio) return maxCut;
    if (target == 0 && envelope == 0) return std::max(std::min(1.0, maxBoost), maxCut);
    return std::max(std::min(std::sqrt(ratio), maxBoost), maxCut);
}

// Non-finite samples count as silence. Samples beyond 600 dB over full scale are limited to it, so that no
// square overflows and the largest gains cannot carry a sample past the 32-bit range.
inline double HostSample(double sample) {
    constexpr double kLargest = 1e30;
    return std::isfinite(sample) ? std::clamp(sample, -kLargest, kLargest) : 0.0;
}

// Both channels of a loudness detector: the weighting filters' step, then the mean-square update.
[[gnu::always_inline]] inline Stereo Measure(const WeightingCoefficients& weighting, WeightingFilter& filter,
                                             MeanSquareDetector& power, Stereo frame, double coefficient,
                                             bool halfRateTick, bool quarterRateTick) {
    return power.Update(filter.Step(weighting, frame, halfRateTick), coefficient, quarterRateTick);
}

} // namespace

// What the sections of the leveler hand on to each other for one run of frames.
struct TParvexEffect::Run {
    static constexpr int32_t kMaxFrames = 128;

    int32_t frames = 0;
    WeightingCoefficients weighting;
    bool halfRateTick[kMaxFrames], quarterRateTick[kMaxFrames];
    // Whether the gate is open enough for the meters and stage detectors to follow the programme.
    bool detecting[kMaxFrames];
    Stereo frame[kMaxFrames];
    double inputLoudnessPower[kMaxFrames];
    double outputGain[kMaxFrames];
    // The input meter's weighting filters' output, which the fast stage's detector shares.
    Stereo inputWeighted[kMaxFrames];
};

// A delay cell outside the cached pages: the ordinary way, which creates its page on first touch.
double& TParvexEffect::DelayCell(int64_t position) {
    return MemoryAt(CellIndex(position));
}

// Writes the frame at the line's position, advances it (wrapping after the last position) and answers the
// cells found there: the frame written lastPosition samples ago, channel by channel the ordinary way. For
// rings outside the cached pages, and a position beyond the last one (left over from a longer line before a
// change of sample rate).
[[gnu::noinline]] Stereo TParvexEffect::PassDelay(DelayLine& delay, Stereo frame) {
    const int64_t position = delay.position, lastPosition = delay.lastPosition;
    const int64_t next = position + 1 > lastPosition ? 0 : position + 1;
    delay.position = next;
    const int64_t leftBase = delay.leftBase, rightBase = delay.rightBase;
    DelayCell(leftBase + position) = frame[0];
    const double leftOut = DelayCell(leftBase + next);
    DelayCell(rightBase + position) = frame[1];
    return Stereo{leftOut, DelayCell(rightBase + next)};
}

// Input: the host's samples with the noise offset, the optional high-pass, the input trim, the peak
// envelope and the gate, then the input loudness over one second (the fast stage's target).
inline void TParvexEffect::RunInput(const double* left, const double* right, Run& run) {
    const double shape = hpfShape;
    const bool highPassOn = !IsZero(shape);
    const StereoCoefficients highPassCoefficients =
        highPassOn ? highPassDesign.For(shape, sampleRate.working) : StereoCoefficients{};
    const double trim = inputTrimGain, releaseCoef = peakReleaseCoef;
    const double closedUpTo = gateClosedUpTo, floor = floorAmplitude, gateRelease = gateReleaseCoef;
    const double openingSamples = latency;
    const double openThreshold = gateOpenThreshold, outputTrim = outputTrimGain;
    const double meterCoefficient = inputMeter.smoothCoef;
    // The recursive values live in registers for the run.
    int32_t phase = this->phase;
    BiquadState highPass = this->highPass;
    WeightingFilter meterFilter = inputMeter.filter;
    MeanSquareDetector meterPower = inputMeter.power;
    double peakNow = this->peakNow, peakEnvelope = this->peakEnvelope;
    double level = gateLevel, gateStep = this->gateStep, gateOpen = this->gateOpen;

    for (int32_t n = 0; n < run.frames; ++n) {
        // Detector decimation: weighting filters on every second sample, mean squares on every fourth.
        const bool quarterRateTick = phase == 0;
        const bool halfRateTick = phase == 0 || phase == 2;
        phase = phase > 2 ? 0 : phase + 1;
        run.quarterRateTick[n] = quarterRateTick;
        run.halfRateTick[n] = halfRateTick;

        // A non-finite sample from the host would poison every filter and detector for good, and so would
        // one whose square overflows. The offset keeps exact zeros out of the recursive filters.
        Stereo frame = Stereo{HostSample(left[n]), HostSample(right[n])} + noiseOffset;
        if (highPassOn) frame = highPass.Step(highPassCoefficients, frame);
        frame = frame * trim;
        run.frame[n] = frame;

        peakNow = std::max(std::abs(frame[0]), std::abs(frame[1]));
        peakEnvelope = std::max(peakNow, releaseCoef * peakEnvelope);

        // Gate: closes exponentially at the "Gate Speed" while the peak stays at or below the floor,
        // reopens in a straight line over the look-ahead time.
        const bool belowFloor = !std::isnan(closedUpTo) ? peakEnvelope <= closedUpTo
                                                        : IsZero(std::max(peakEnvelope, floor) / floor - 1);
        if (belowFloor) {
            gateStep = 0;
            level = level * gateRelease;
            gateOpen = level;
        } else {
            gateOpen = 1;
            if (IsZero(gateStep)) gateStep = (1 / openingSamples) * (1 - level);
            level = std::min(1.0, level + gateStep);
        }
        run.outputGain[n] = (level == 1 ? 1.0 : std::sqrt(level)) * outputTrim;
        run.detecting[n] = gateOpen > openThreshold;

        if (run.detecting[n])
            Measure(run.weighting, meterFilter, meterPower, frame, meterCoefficient, halfRateTick,
                    quarterRateTick);
        run.inputWeighted[n] = meterFilter.heldOutput;
        run.inputLoudnessPower[n] = meterPower.lastResult[0] + meterPower.lastResult[1];
    }
    const int32_t last = run.frames - 1;
    this->phase = phase;
    quarterRateTick = run.quarterRateTick[last];
    halfRateTick = run.halfRateTick[last];
    this->highPass = highPass;
    inputMeter.filter = meterFilter;
    inputMeter.power = meterPower;
    this->peakNow = peakNow;
    this->peakEnvelope = peakEnvelope;
    gateLevel = level;
    this->gateStep = gateStep;
    this->gateOpen = gateOpen;
    outputGain = run.outputGain[last];
    inputLoudnessPower = run.inputLoudnessPower[last];
}

// One look-ahead stage: while the gate lets the detector follow, the stage's loudness drives a peak hold,
// the peak hold an envelope, and the envelope against the target the gain; the gain then applies to the
// frame that leaves the delay line. `targets` holds a target per frame, or is null for the stage's own;
// `weighted` holds the detector's weighting filters' output when another detector computed it already.
inline void TParvexEffect::RunStage(Stage& stage, const double* targets, const Stereo* weighted, Run& run) {
    const GainLimits limits = GainLimits::Of(stage);
    const double smoothCoef = stage.smoothCoef, attackCoef = stage.attackCoef;
    const double releaseCoef = stage.releaseCoef, holdDecay = stage.holdDecay;
    const double ownTarget = stage.stageTarget;
    WeightingFilter filter = stage.filter;
    MeanSquareDetector power = stage.power;
    double peakHold = stage.peakHold, envelope = stage.envelope, gain = stage.gain;
    // Within one cached page the rings are plain arrays, and once there a position stays within them.
    // Otherwise (pages not cached, or a position left beyond the last one by a longer line before a change
    // of sample rate) the frames take the ordinary way.
    DelayLine& delay = stage.delay;
    double* const leftRing = delay.leftRing;
    double* const rightRing = delay.rightRing;
    const int64_t lastPosition = delay.lastPosition;
    int64_t position = delay.position;
    const bool cachedRings = leftRing && rightRing && position <= lastPosition;

    // The detector and the gain at frame n.
    const auto detect = [&](int32_t n) __attribute__((always_inline)) {
        if (!run.detecting[n]) return;
        const Stereo loudness = weighted ? power.Update(weighted[n], smoothCoef, run.quarterRateTick[n])
                                         : Measure(run.weighting, filter, power, run.frame[n], smoothCoef,
                                                   run.halfRateTick[n], run.quarterRateTick[n]);
        const double e = loudness[0] + loudness[1];
        peakHold = std::max(e, e + (peakHold - e) * holdDecay);
        const double coefficient = peakHold > envelope ? attackCoef : releaseCoef;
        envelope = envelope + coefficient * (peakHold - envelope);
        gain = StageGain(limits, targets ? targets[n] : ownTarget, envelope);
    };
    // The delay line answers the frame written lastPosition samples ago: in a ring, the cell after the
    // one written, and the first cell after the last.
    if (cachedRings) [[likely]] {
        for (int32_t n = 0; n < run.frames; ++n) {
            const int32_t straightEnd = int32_t(std::min<int64_t>(run.frames, n + (lastPosition - position)));
            for (; n < straightEnd; ++n, ++position) {
                detect(n);
                leftRing[position] = run.frame[n][0];
                rightRing[position] = run.frame[n][1];
                run.frame[n] = gain * Stereo{leftRing[position + 1], rightRing[position + 1]};
            }
            if (n == run.frames) break;
            detect(n);
            leftRing[position] = run.frame[n][0];
            rightRing[position] = run.frame[n][1];
            run.frame[n] = gain * Stereo{leftRing[0], rightRing[0]};
            position = 0;
        }
    } else {
        for (int32_t n = 0; n < run.frames; ++n) {
            detect(n);
            run.frame[n] = gain * PassDelay(delay, run.frame[n]);
        }
    }
    stage.filter = filter;
    stage.power = power;
    stage.peakHold = peakHold;
    stage.envelope = envelope;
    stage.gain = gain;
    if (cachedRings) delay.position = position;
}

// Output: the output gain (gate and trim), then the output loudness over three seconds, whatever the gate.
inline void TParvexEffect::RunOutput(double* left, double* right, Run& run) {
    const double meterCoefficient = outputMeter.smoothCoef;
    WeightingFilter filter = outputMeter.filter;
    MeanSquareDetector power = outputMeter.power;
    for (int32_t n = 0; n < run.frames; ++n) {
        const Stereo frame = run.frame[n] * run.outputGain[n];
        Measure(run.weighting, filter, power, frame, meterCoefficient, run.halfRateTick[n],
                run.quarterRateTick[n]);
        left[n] = frame[0];
        right[n] = frame[1];
    }
    outputMeter.filter = filter;
    outputMeter.power = power;
    outputPowerLeft = power.lastResult[0];
    outputPowerRight = power.lastResult[1];
}

// Runs of frames go through the sections one after the other. Each section sees every frame in order and
// keeps its own state, so the result is the one of taking each frame through all sections in turn; a
// section's loop, though, keeps its coefficients at hand and leaves the processor free to overlap
// frames.
inline void TParvexEffect::ProcessRuns(double* left, double* right, int32_t frames) {
    Run run;
    run.weighting = WeightingCoefficients::Of(weighting);
    for (int32_t start = 0; start < frames; start += Run::kMaxFrames) {
        run.frames = std::min(Run::kMaxFrames, frames - start);
        RunInput(left + start, right + start, run);
        fast.stageTarget = run.inputLoudnessPower[run.frames - 1];
        // The fast stage's detector hears what the input meter hears: the same frames, design, ticks and
        // gate. Its weighting filters are the meter's, computed once.
        RunStage(fast, run.inputLoudnessPower, run.inputWeighted, run);
        fast.filter = inputMeter.filter;
        RunStage(medium, nullptr, nullptr, run);
        RunStage(slow, nullptr, nullptr, run);
        RunOutput(left + start, right + start, run);
    }
}

// The sections built whole for each instruction set: the newer ones spare the register copies that
// two-operand instructions need, and AVX-512 has twice the registers. Every operation still rounds as it
// does in SSE2, since no operation is fused (-ffp-contract=off) and nothing is reordered.
[[gnu::flatten]] void TParvexEffect::ProcessRunsBaseline(double* left, double* right, int32_t frames) {
    ProcessRuns(left, right, frames);
}

#if defined(__x86_64__)
[[gnu::flatten, gnu::target("arch=x86-64-v3")]] void TParvexEffect::ProcessRunsV3(double* left, double* right,
                                                                                  int32_t frames) {
    ProcessRuns(left, right, frames);
}

[[gnu::flatten, gnu::target("arch=x86-64-v4")]] void TParvexEffect::ProcessRunsV4(double* left, double* right,
                                                                                  int32_t frames) {
    ProcessRuns(left, right, frames);
}
#endif

bool TParvexEffect::Runs(InstructionSet set) {
#if defined(__x86_64__)
    __builtin_cpu_init();
#if defined(__clang__)
    // Clang before 17 does not know the level names: their defining features instead.
    const bool v3 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                    __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    const bool v4 = v3 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                    __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
                    __builtin_cpu_supports("avx512vl");
#else
    const bool v3 = __builtin_cpu_supports("x86-64-v3");
    const bool v4 = __builtin_cpu_supports("x86-64-v4");
#endif
    switch (set) {
    case InstructionSet::kBaseline:
        return true;
    case InstructionSet::kX86_64_V3:
        return v3;
    case InstructionSet::kX86_64_V4:
        return v4;
    }
    return false;
#else
    return set == InstructionSet::kBaseline;
#endif
}

TParvexEffect::InstructionSet TParvexEffect::Newest() {
    for (const InstructionSet set : {InstructionSet::kX86_64_V4, InstructionSet::kX86_64_V3})
        if (Runs(set)) return set;
    return InstructionSet::kBaseline;
}

namespace {

// Chosen when the plug-in loads, so the audio thread never asks the processor.
std::atomic<TParvexEffect::InstructionSet> instructionSet = TParvexEffect::Newest();

} // namespace

void TParvexEffect::Use(InstructionSet set) {
    instructionSet.store(Runs(set) ? set : InstructionSet::kBaseline, std::memory_order_relaxed);
}

void TParvexEffect::DoSamples(double* left, double* right, int32_t frames) {
    RefreshHostValues();
    // Before the first resume nothing is designed for any rate, and outside the rates the leveler works at
    // the filters and delay lines would run away: audio passes as is.
    if (!LevelsAt(sampleRate.working)) return;
#if defined(__x86_64__)
    switch (instructionSet.load(std::memory_order_relaxed)) {
    case InstructionSet::kX86_64_V4:
        return ProcessRunsV4(left, right, frames);
    case InstructionSet::kX86_64_V3:
        return ProcessRunsV3(left, right, frames);
    case InstructionSet::kBaseline:
        break;
    }
#endif
    ProcessRunsBaseline(left, right, frames);
}

void TParvexEffect::DoSample() {
    DoSamples(&SampleSlots[0], &SampleSlots[1], 1);
}
