#include "mastering/quantizer.h"

#include <cmath>

namespace mastering {

namespace {

// Samples in a row on the format's steps before dither stops, and how near a step counts as on it:
// far below anything a plug-in's arithmetic adds to a sample it did not mean to change.
constexpr int32_t kSteadyRun = 32;
constexpr double kOnStep = 1e-6;
constexpr uint64_t kNoiseSeed = 0x56414E4452454C32; // the same for every file

} // namespace

PcmQuantizer::PcmQuantizer(int bits, int channels, bool dither)
    : bits_(bits), scale_(std::ldexp(1.0, bits - 1)), dither_(dither && bits <= kMostDitheredBits),
      onSteps_(size_t(channels), kSteadyRun), noiseState_(kNoiseSeed) {}

// The difference of two uniform values: triangular from -1 to 1 step. Both from one output of xorshift64*.
double PcmQuantizer::triangularNoise() {
    noiseState_ ^= noiseState_ >> 12;
    noiseState_ ^= noiseState_ << 25;
    noiseState_ ^= noiseState_ >> 27;
    const uint64_t bits = noiseState_ * 0x2545F4914F6CDD1D;
    return (double(bits >> 32) - double(bits & 0xFFFFFFFF)) * 0x1p-32;
}

void PcmQuantizer::convert(const float* samples, size_t count, int32_t* integers, float* written) {
    if (dither_)
        run<true>(samples, count, integers, written);
    else
        run<false>(samples, count, integers, written);
}

void PcmQuantizer::convert(const double* samples, size_t count, int32_t* integers, float* written) {
    if (dither_)
        run<true>(samples, count, integers, written);
    else
        run<false>(samples, count, integers, written);
}

template <bool Dither, typename Sample>
void PcmQuantizer::run(const Sample* samples, size_t count, int32_t* integers, float* written) {
    // Adding and taking away 1.5 * 2^52 rounds a double to the nearest whole number, ties to even.
    constexpr double kRound = 0x1.8p52;
    const double lowest = -scale_, highest = scale_ - 1.0, toFullScale = 1.0 / scale_;
    const auto shift = uint32_t(32 - bits_);
    const size_t channels = onSteps_.size();
    size_t channel = 0;
    int64_t clipped = 0;
    for (size_t i = 0; i < count; ++i) {
        double value = double(samples[i]) * scale_;
        value = value == value ? value : 0.0; // NaN
        if constexpr (Dither) {
            int32_t& run = onSteps_[channel];
            const double nearest = (value + kRound) - kRound;
            run = std::abs(value - nearest) <= kOnStep ? std::min(run + 1, kSteadyRun) : 0;
            if (run < kSteadyRun) value += triangularNoise();
            channel = channel + 1 == channels ? 0 : channel + 1;
        }
        double step = (value + kRound) - kRound;
        const bool over = step > highest, under = step < lowest;
        clipped += over || under;
        step = over ? highest : under ? lowest : step;
        integers[i] = int32_t(uint32_t(int32_t(step)) << shift);
        written[i] = float(step * toFullScale);
    }
    clipped_ += clipped;
}

} // namespace mastering
