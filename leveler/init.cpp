#include "leveler/leveler.h"

#include <cmath>
#include <limits>
#include <numbers>

using namespace leveler;

namespace {

// Detector smoothing times of the three stages, in ms.
constexpr double kFastTime = 50;
constexpr double kMediumTime = 400;
constexpr double kSlowTime = 3000;
// The first script-memory cell of the delay lines.
constexpr double kMemoryBase = 1000;
// The string id of the build label the panel draws.
constexpr double kBuildLabel = 10000;

// A whole number of cells as an integer; absurd sample rates saturate instead of overflowing.
int64_t WholeCells(double cells) {
    constexpr double kLimit = 4.0e18;
    if (std::isnan(cells)) return 0;
    return static_cast<int64_t>(std::clamp(cells, -kLimit, kLimit));
}

void DesignHighPass(BiquadCoefficients& k, double fs) {
    const double f = fs / 2 < 140 ? fs / 2 : 140;
    const double w = 2 * std::numbers::pi * f / fs;
    const double s = std::sin(w), c = std::cos(w);
    const double alpha = s / 1.4;
    const double a0 = 1 + alpha;
    k.b0 = (1 + c) / 2 / a0;
    k.b1 = -(1 + c) / a0;
    k.b2 = (1 + c) / 2 / a0;
    k.a1 = -2 * c / a0;
    k.a2 = (1 - alpha) / a0;
}

// High shelf of +4 dB.
void DesignShelf(BiquadCoefficients& k, double fs) {
    constexpr double A = 1.2589254117941673;
    const double f = fs / 2 < 3000 ? fs / 2 : 3000;
    const double w = 2 * std::numbers::pi * f / fs;
    const double s = std::sin(w), c = std::cos(w);
    const double beta = std::sqrt(A) / 0.7;
    const double a0 = (A + 1) - (A - 1) * c + beta * s;
    k.b0 = A * ((A + 1) + (A - 1) * c + beta * s) / a0;
    k.b1 = -2 * A * ((A - 1) + (A + 1) * c) / a0;
    k.b2 = A * ((A + 1) + (A - 1) * c - beta * s) / a0;
    k.a1 = 2 * ((A - 1) - (A + 1) * c) / a0;
    k.a2 = ((A + 1) - (A - 1) * c - beta * s) / a0;
}

void SetUpStage(Stage& stage, double start, double length, double milliseconds, double fs) {
    stage.smoothCoef = 4 * (1 - std::exp(-1 / ((milliseconds / 1000) * fs)));
    // Each channel owns half the region and delays by one sample less than its cell count.
    const double cells = length / 2;
    stage.delay.leftBase = WholeCells(start);
    stage.delay.rightBase = WholeCells(start + cells);
    stage.delay.lastPosition = WholeCells(cells - 1);
    stage.attackCoef = 1 - std::exp(-1 / (fs / 1000));
    stage.releaseCoef = 1 - std::exp(-1 / (fs * 10 / 1000));
    stage.holdDecay = std::exp(-1 / (fs * 10 / 1000));
}

} // namespace

void TParvexEffect::DoReset() {
    TParvex::DoReset();
    static_cast<LevelerState&>(*this) = LevelerState{};
    panel = PanelState{};
    ColorR = ColorG = ColorB = ColorA = 0;
    RegisterTables();
}

void TParvexEffect::DoInit() {
    FrameRate = 30;

    sampleRate.Set(FiniteOrZero(HostSampleRate(Host)));
    inputCount.Set(FiniteOrZero(HostInputCount(Host)));
    blockSize.Set(FiniteOrZero(HostBlockSize(Host)));
    tempo.Set(FiniteOrZero(HostTempo(Host)));
    timeSigNumerator.Refresh();
    timeSigDenominator.Refresh();
    const double fs = sampleRate.working;

    const double fastLength = 2 * std::floor(0.025 * fs);
    const double mediumLength = 2 * std::floor(0.03 * fs);
    const double slowLength = 2 * std::floor(0.05 * fs);
    const double fastStart = kMemoryBase;
    const double mediumStart = kMemoryBase + fastLength;
    const double slowStart = kMemoryBase + fastLength + mediumLength;

    latency = (fastLength + mediumLength + slowLength) / 2 - 3;
    // Outside the rates it works at the leveler passes audio through: no delay to report.
    reportedLatency = LevelsAt(fs) ? latency.Load() : 0.0;
    peakReleaseCoef = std::exp(-1 / (0.1 * fs));

    DesignHighPass(weighting.highPass, fs);
    DesignShelf(weighting.shelf, fs);
    SetUpStage(fast, fastStart, fastLength, kFastTime, fs);
    SetUpStage(medium, mediumStart, mediumLength, kMediumTime, fs);
    SetUpStage(slow, slowStart, slowLength, kSlowTime, fs);
    inputMeter.smoothCoef = 4 * (1 - std::exp(-1 / fs));
    outputMeter.smoothCoef = 4 * (1 - std::exp(-1 / (3 * fs)));

    gateOpenThreshold = 0.891;
    started = 0;
    BuildLabelId = kBuildLabel;

    // Only a rate it works at runs audio through the delay lines.
    if (LevelsAt(fs)) PrepareDelayPages(WholeCells(kMemoryBase), WholeCells(slowStart + slowLength));
    // Hosts read the initial delay right after resume, before any block could report it.
    HostSetLatency(Host, ToIndex(reportedLatency));
}

// Hosts suspend and resume on transport stops, bypass, offline renders and rate changes: what comes after a
// resume must not hear what came before it. A resumed leveler sounds like a freshly opened one with the same
// settings.
void TParvexEffect::DoResume() {
    TParvex::DoResume();
    ClearSignalHistory();
}

// The delay lines' cells and every filter, detector, gain, gate and meter value the audio has set, as the
// reset leaves them; the settings, the automatic controls' moves among them, stay.
void TParvexEffect::ClearSignalHistory() {
    ClearPages();
    for (Stage* stage : {&fast, &medium, &slow}) {
        stage->filter = {};
        stage->power = {};
        stage->peakHold = stage->envelope = 0;
        stage->gain = 0;
        stage->delay.position = 0;
    }
    for (LoudnessMeter* meter : {&inputMeter, &outputMeter}) {
        meter->filter = {};
        meter->power = {};
    }
    displayPower = 0;
    noiseOffset = 0;
    noise = {};
    phase = 0;
    halfRateTick = quarterRateTick = false;
    highPass = {};
    peakNow = peakEnvelope = 0;
    gateLevel = 0;
    gateOpen = gateStep = 0;
    outputGain = 0;
    inputLoudnessPower = 0;
    outputPowerLeft = outputPowerRight = 0;
}

void TParvexEffect::PrepareDelayPages(int64_t firstCell, int64_t endCell) {
    const int32_t firstPage = CellIndex(firstCell) >> 16;
    const int32_t lastPage = CellIndex(std::max(firstCell, endCell - 1)) >> 16;
    for (int32_t slot = 0; slot < DelayPages::kCount; ++slot) {
        const int32_t page = firstPage + slot;
        delayPages.pages[slot] = page <= lastPage ? &MemoryAt(page * CParvexMemory::kPageSize) : nullptr;
    }
    delayPages.firstPage = firstPage;
    for (Stage* stage : {&fast, &medium, &slow}) {
        DelayLine& delay = stage->delay;
        delay.leftRing = delayPages.RingAt(delay.leftBase, delay.lastPosition);
        delay.rightRing = delayPages.RingAt(delay.rightBase, delay.lastPosition);
    }
}
