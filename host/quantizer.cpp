#include "host/quantizer.h"

#include <cmath>

namespace host {

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

// The difference of two uniform values: triangular from -1 to 1 step. SplitMix64 for the values.
double PcmQuantizer::triangularNoise() {
    const auto uniform = [this] {
        uint64_t z = (noiseState_ += 0x9E3779B97F4A7C15);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
        return double((z ^ (z >> 31)) >> 11) * 0x1p-53;
    };
    const double first = uniform();
    return first - uniform();
}

void PcmQuantizer::convert(const float* samples, size_t count, int32_t* integers, float* written) {
    run(samples, count, integers, written);
}

void PcmQuantizer::convert(const double* samples, size_t count, int32_t* integers, float* written) {
    run(samples, count, integers, written);
}

template <typename Sample>
void PcmQuantizer::run(const Sample* samples, size_t count, int32_t* integers, float* written) {
    const double lowest = -scale_, highest = scale_ - 1.0;
    const double toInteger = std::ldexp(1.0, 32 - bits_);
    const size_t channels = onSteps_.size();
    for (size_t i = 0; i < count; ++i) {
        double value = double(samples[i]) * scale_;
        if (std::isnan(value)) value = 0.0;
        if (dither_) {
            int32_t& run = onSteps_[i % channels];
            run = std::abs(value - std::floor(value + 0.5)) <= kOnStep ? std::min(run + 1, kSteadyRun) : 0;
            if (run < kSteadyRun) value += triangularNoise();
        }
        double step = std::floor(value + 0.5);
        if (step > highest || step < lowest) {
            ++clipped_;
            step = step > highest ? highest : lowest;
        }
        integers[i] = int32_t(int64_t(step * toInteger));
        written[i] = float(step / scale_);
    }
}

} // namespace host
