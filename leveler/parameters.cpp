#include "leveler/leveler.h"

#include "leveler/bounds.h"

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace leveler;

namespace {

// No programme needs more than 200 dB either way; beyond that (a corrupt chunk) gains would overflow.
constexpr double kLargestDecibels = 200;

double Amplitude(double decibels) {
    return std::pow(10, std::clamp(decibels, -kLargestDecibels, kLargestDecibels) / 20);
}
double Power(double decibels) {
    return std::pow(10, std::clamp(decibels, -kLargestDecibels, kLargestDecibels) / 10);
}

} // namespace

void leveler::DesignInputHighPass(BiquadCoefficients& k, double hpfShape, double fs) {
    const double B = hpfShape * 0.08 + (1 - hpfShape);
    const double D = !(B > 0.01) ? 0.02 : B > 10 ? 20 : 2 * B; // twice the quality factor
    const double f = fs / 2 < 20 ? fs / 2 : 20;
    const double w = 2 * std::numbers::pi * f / fs;
    const double s = std::sin(w), c = std::cos(w);
    const double alpha = s / D;
    const double a0 = 1 + alpha;
    const double b0 = (1 + c) / 2 / a0;
    k.b0 = b0;
    k.b1 = -(1 + c) / a0;
    k.b2 = b0;
    k.a1 = -2 * c / a0;
    k.a2 = (1 - alpha) / a0;
}

namespace {

void SetLimits(Stage& stage, double cutDecibels, double boostDecibels, double target) {
    const double maxBoost = Amplitude(std::abs(boostDecibels));
    const double maxCut = Amplitude(-std::abs(cutDecibels));
    stage.maxBoost = maxBoost;
    stage.maxCut = maxCut;
    stage.maxBoostFromRatio = RatioReaching(maxBoost);
    stage.maxCutUpToRatio = RatioWithin(maxCut);
    stage.stageTarget = target;
}

} // namespace

void TParvexEffect::DoSlider() {
    RefreshHostValues();
    for (const ParameterRow& row : kParameters) sliderCopies[row.slider] = SliderValues[row.slider].Load();
    panel.SliderCopiesRefreshed();
    ApplySliders();
}

void TParvexEffect::ApplySliders() {
    double S[kSliderCopyCount];
    for (int32_t number = 0; number < kSliderCopyCount; ++number) S[number] = SliderValues[number];
    const double fs = sampleRate.working;

    inputTrimGain = Amplitude(S[1]);
    targetPower = Power(S[2]);
    SetFloor(S[1], S[3]);
    // A negative speed would make the closing gate grow without end: it closes at once, like a speed of 0.
    const double releaseCoef = S[4] > 0 ? std::exp(-1 / ((S[4] / 1000) * fs)) : 0.0;
    gateReleaseCoef = releaseCoef;
    automaticTrim = S[5];
    outputTrimGain = Amplitude(S[20]);
    targetLufs = S[2];
    const double shape = std::pow(S[6], 0.2);
    hpfShape = shape;
    automaticThreshold = S[7];
    gateOneSecond = std::pow(releaseCoef, fs); // the gate level left after one second of closing

    const double target = targetPower;
    SetLimits(fast, S[10], S[11], target);
    SetLimits(medium, S[12], S[13], target);
    SetLimits(slow, S[14], S[15], target);
    mediumCutDb = S[12];
    mediumBoostDb = S[13];

    DesignInputHighPass(hpfLeft, shape, fs);
    DesignInputHighPass(hpfRight, shape, fs);
}

void TParvexEffect::ApplyInputTrim() {
    const double trim = SliderValues[1];
    sliderCopies[1] = trim;
    slidersChanged = 1;
    inputTrimGain = Amplitude(trim);
    SetFloor(trim, SliderValues[3]);
}

void TParvexEffect::ApplyNoiseFloor() {
    const double floor = SliderValues[3];
    sliderCopies[3] = floor;
    slidersChanged = 1;
    SetFloor(SliderValues[1], floor);
}

// The floor includes the input trim: the gate compares the untrimmed input with "Noise Floor [dBfs]".
void TParvexEffect::SetFloor(double trimDecibels, double floorDecibels) {
    const double floor = Amplitude(trimDecibels + floorDecibels);
    floorAmplitude = floor;
    gateClosedUpTo = GateClosedUpTo(floor);
}

void TParvexEffect::RefreshHostValues() {
    sampleRate.Refresh();
    inputCount.Refresh();
    blockSize.Refresh();
    tempo.Refresh();
    timeSigNumerator.Refresh();
    timeSigDenominator.Refresh();
}
