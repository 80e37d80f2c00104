#include "leveler/leveler.h"

#include <cmath>

using namespace leveler;

namespace {

// How often, at most, the host hears that the effect moved a slider itself.
constexpr double kNotifyInterval = 0.25;
// The slow stage's target is raised by at most this factor (+2 dB) when much of the programme is gated.
constexpr double kMaxCompensation = 1.2589;
// What the block section reads of the host's time information.
constexpr int32_t kTimeFilter =
    kHostTempoValid | kHostTimeSigValid | kHostTransportPlaying | kHostTransportRecording | kHostPpqPosValid;

} // namespace

// The medium stage's gain, or its mean with the slow stage's when the medium stage can move only one way.
double TParvexEffect::TrimIndicator() const {
    const double med = medium.gain;
    if (IsZero(mediumCutDb) || IsZero(mediumBoostDb)) return (med + slow.gain) / 2;
    return med;
}

void TParvexEffect::DoBlock() {
    // Display refresh.
    if (Clock->WallSeconds() - lastNotifyTime > kNotifyInterval) {
        if (!IsZero(slidersChanged)) {
            slidersChanged = 0;
            HostUpdateDisplay(Host);
        }
        lastNotifyTime = Clock->WallSeconds();
    }

    // Latency.
    const double latencyNow = reportedLatency;
    if (!IsZero(latencyNow - lastReportedLatency)) {
        lastReportedLatency = latencyNow;
        HostSetLatency(Host, ToIndex(latencyNow));
    }

    // Host values: tempo, signature, transport and position are fields of one record, so one query asks
    // for all of them. Without time information the tempo and signature keep their last values.
    THostTime time;
    if (HostTime(Host, kTimeFilter, time)) {
        tempo.fresh = time.tempo;
        timeSigNumerator.fresh = time.timeSigNumerator;
        timeSigDenominator.fresh = time.timeSigDenominator;
        playState =
            ((time.flags & kHostTransportPlaying) ? 1 : 0) + ((time.flags & kHostTransportRecording) ? 4 : 0);
        beatPosition = time.ppqPos;
    } else {
        playState = 0;
        beatPosition = 0;
    }
    RefreshHostValues();
    // At a rate it does not work at the leveler passes audio through, and nothing here may move a setting.
    if (!LevelsAt(sampleRate.working)) return;

    // Start-up after DoInit: detectors at the target, stages neutral, gate open.
    if (IsZero(started)) {
        const double halfTarget = targetPower / 2;
        for (Stage* stage : {&fast, &medium, &slow}) stage->power.meanSquare = Both(halfTarget);
        inputMeter.power.meanSquare = Both(halfTarget);
        fast.gain = medium.gain = slow.gain = 1.0;
        // A block longer than a second would leave no whole block per second.
        blocksPerSecond = std::floor(sampleRate.fresh / BlockFrames);
        if (!(blocksPerSecond >= 1)) blocksPerSecond = 1;
        trimWindow = 2 * blocksPerSecond;
        compSmoothing = 1 / (blocksPerSecond * 2.9);
        compFactor = compTarget = 1;
        gatingRatio = 0.0;
        started = 1.0;
        gateLevel = 1.0;
        statBlockCount = gatedBlockCount = openBlockCount = trimVote = 0;
    }

    const double G = gateLevel;
    const double trimIndicator = TrimIndicator();
    const double threshold = gateOpenThreshold;

    // Automatic trim: after two seconds' worth of open blocks, nudge the input trim toward a medium gain
    // of 1, by at most 1 dB in steps of 0.01 dB.
    if (!IsZero(automaticTrim)) {
        if (IsOne(G)) {
            openBlockCount += 1;
            if (trimIndicator > 1) trimVote += 1;
            if (trimIndicator < 1) trimVote -= 1;
        }
        if (!(trimWindow > openBlockCount)) {
            if (trimVote > blocksPerSecond) {
                const double step = std::ceil((trimVote - blocksPerSecond) / trimWindow * 2 * 100) * 0.01;
                SliderValues[1] = SliderValues[1] + step;
                ApplyInputTrim();
            }
            if (trimVote < -blocksPerSecond) {
                const double step = std::ceil((trimVote + blocksPerSecond) / trimWindow * 2 * 100) * 0.01;
                SliderValues[1] = SliderValues[1] + step;
                ApplyInputTrim();
            }
            openBlockCount = trimVote = 0;
        }
    }

    if (G < threshold) gatedBlockCount += 1;

    // Gating statistics, about every four seconds.
    if (statBlockCount > 2 * trimWindow) {
        const double X = std::min(std::max(std::pow(gatedBlockCount, 1.075) / statBlockCount, 0.0), 1.0);
        const double ratio = (gatingRatio + X) / 2;
        gatingRatio = ratio;
        compTarget = std::min(std::pow(ratio + 1, 0.45), kMaxCompensation);
        statBlockCount = gatedBlockCount = 0;

        // Automatic threshold: much gating lowers the noise floor, little gating raises it.
        if (!IsZero(automaticThreshold) && gateLevel > gateOneSecond) {
            const double noiseFloor = SliderValues[3];
            if (ratio > 0.5) {
                SliderValues[3] = noiseFloor - std::floor(std::pow(10, noiseFloor / 20) * 19 + 1);
                ApplyNoiseFloor();
            }
            if (ratio < 0.1) {
                SliderValues[3] = noiseFloor + std::ceil(1 / std::pow(std::pow(10, noiseFloor / 20), 0.25));
                ApplyNoiseFloor();
            }
        }
    } else {
        statBlockCount += 1;
    }

    compFactor = compFactor + (compTarget - compFactor) * compSmoothing;
    slow.stageTarget = compFactor * targetPower;

    if (gateOpen > threshold) displayPower = outputPowerLeft + outputPowerRight;

    noiseOffset = noise.Next() / 32767.0 * 1e-15;
}
