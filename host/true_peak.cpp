#include "host/true_peak.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace host {

namespace {

using Floats = float __attribute__((vector_size(16)));

// Gain recovers after a peak with this time constant, slow enough not to modulate low notes.
constexpr double kReleaseSeconds = 0.05;
// The look-ahead, over which the gain ramps down to meet a peak.
constexpr double kAttackSeconds = 0.005;
// A recovering gain this close to 1 is 1: where nothing is limited the samples pass untouched.
constexpr double kUnityWithin = 1e-6;

} // namespace

TruePeakInterpolator::TruePeakInterpolator(int sampleRate) {
    factor = sampleRate < 96000 ? 4 : sampleRate < 192000 ? 2 : 1;
    if (factor == 1) return;
    constexpr int kTaps = 49;
    phases.resize(size_t(factor));
    for (int j = 0; j < kTaps; ++j) {
        const double m = double(j) - double(kTaps - 1) / 2.0;
        const double x = m * std::numbers::pi / factor;
        double c = std::abs(m) > 1e-6 ? std::sin(x) / x : 1.0;
        c *= 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * j / (kTaps - 1)));
        if (std::abs(c) <= 1e-6) continue;
        phases[size_t(j % factor)].coefficients.push_back(float(c));
        phases[size_t(j % factor)].delays.push_back(j / factor);
    }
    gain = 0.0;
    for (const Phase& phase : phases) {
        double sum = 0.0;
        for (float c : phase.coefficients) sum += std::abs(double(c));
        gain = std::max(gain, sum);
    }
    delayFrames = (kTaps - 1) / 2 / factor;
    historyFrames = (kTaps + factor - 1) / factor - 1;
}

TruePeakLimiter::TruePeakLimiter(int channels, int sampleRate, double ceilingDbtp)
    : interpolator_(sampleRate), channels_(channels), ceiling_(std::pow(10.0, ceilingDbtp / 20.0)),
      attack_(std::max(1, int32_t(std::lround(kAttackSeconds * sampleRate)))),
      reach_((interpolator_.historyFrames + 1) / 2 + 1),
      latency_(interpolator_.delayFrames + attack_ - 1 + reach_),
      releaseCoefficient_(std::exp(-1.0 / (kReleaseSeconds * sampleRate))),
      signal_(size_t(channels),
              std::vector<float>(size_t(interpolator_.historyFrames + kPiece) + kGroup, 0.0f)),
      required_(size_t(kPiece), 1.0), delayed_(size_t((latency_ + kPiece) * channels), 0.0),
      holds_(size_t(attack_ + 2 * reach_ + 1)), ramp_(size_t(attack_), 1.0), rampSum_(double(attack_)) {}

double TruePeakLimiter::largestReductionDb() const {
    return smallestGain_ < 1.0 ? -20.0 * std::log10(smallestGain_) : 0.0;
}

void TruePeakLimiter::process(float* interleaved, int64_t frames) {
    run(interleaved, frames);
}

void TruePeakLimiter::process(double* interleaved, int64_t frames) {
    run(interleaved, frames);
}

template <typename Sample> void TruePeakLimiter::run(Sample* interleaved, int64_t frames) {
    const auto history = size_t(interpolator_.historyFrames);
    const auto channels = size_t(channels_);
    const size_t waiting = size_t(latency_) * channels;
    while (frames > 0) {
        const auto count = size_t(std::min(frames, kPiece));
        for (size_t c = 0; c < channels; ++c) {
            float* signal = signal_[c].data();
            for (size_t i = 0; i < count; ++i) signal[history + i] = float(interleaved[i * channels + c]);
        }
        for (size_t i = 0; i < count * channels; ++i) delayed_[waiting + i] = double(interleaved[i]);

        detect(count);
        const bool untouched = idle() && std::all_of(required_.begin(), required_.begin() + ptrdiff_t(count),
                                                     [](double required) { return required == 1.0; });
        if (untouched) {
            frame_ += int64_t(count);
            for (size_t i = 0; i < count * channels; ++i) interleaved[i] = Sample(delayed_[i]);
        } else {
            for (size_t i = 0; i < count; ++i) {
                const double gain = nextGain(required_[i]);
                for (size_t c = 0; c < channels; ++c)
                    interleaved[i * channels + c] = Sample(delayed_[i * channels + c] * gain);
            }
        }

        std::copy(delayed_.begin() + ptrdiff_t(count * channels),
                  delayed_.begin() + ptrdiff_t(waiting + count * channels), delayed_.begin());
        for (auto& signal : signal_)
            std::copy(signal.begin() + ptrdiff_t(count), signal.begin() + ptrdiff_t(count + history),
                      signal.begin());
        interleaved += count * channels;
        frames -= int64_t(count);
    }
}

void TruePeakLimiter::detect(size_t count) {
    const auto history = size_t(interpolator_.historyFrames);
    const auto ceiling = float(ceiling_);
    const auto requiredFor = [&](float peak) { return peak > ceiling ? ceiling_ / double(peak) : 1.0; };
    if (interpolator_.phases.empty()) {
        for (size_t i = 0; i < count; ++i) {
            float peak = 0.0f;
            for (const auto& signal : signal_) peak = std::max(peak, std::abs(signal[i]));
            required_[i] = requiredFor(peak);
        }
        return;
    }
    // No output of the interpolator exceeds its gain times the largest sample in its reach.
    const auto quiet = float(ceiling_ / interpolator_.gain);
    for (size_t first = 0; first < count; first += kGroup) {
        const size_t group = std::min(kGroup, count - first);
        float largest = 0.0f;
        for (const auto& signal : signal_)
            for (size_t k = first; k < first + history + group; ++k)
                largest = std::max(largest, std::abs(signal[k]));
        if (largest <= quiet) {
            std::fill_n(required_.begin() + ptrdiff_t(first), group, 1.0);
            continue;
        }
        // Sixteen frames at a time, in four vectors; every phase of every channel.
        Floats peaks[4] = {};
        for (const auto& signal : signal_)
            for (const auto& phase : interpolator_.phases) {
                Floats sums[4] = {};
                for (size_t t = 0; t < phase.coefficients.size(); ++t) {
                    const float* x = &signal[history + first - size_t(phase.delays[t])];
                    const float coefficient = phase.coefficients[t];
                    for (int v = 0; v < 4; ++v) {
                        Floats values;
                        std::memcpy(&values, x + 4 * v, sizeof values);
                        sums[v] += coefficient * values;
                    }
                }
                for (int v = 0; v < 4; ++v) {
                    const Floats magnitude = sums[v] < 0 ? -sums[v] : sums[v];
                    peaks[v] = magnitude > peaks[v] ? magnitude : peaks[v];
                }
            }
        for (size_t i = 0; i < group; ++i) required_[first + i] = requiredFor(peaks[i / 4][i % 4]);
    }
}

double TruePeakLimiter::nextGain(double required) {
    const int64_t frame = frame_++;
    const size_t capacity = holds_.size();
    // The smallest required gain over the window ending at this frame.
    if (required < 1.0) {
        while (holdCount_ > 0 && holds_[(holdFirst_ + holdCount_ - 1) % capacity].gain >= required)
            --holdCount_;
        holds_[(holdFirst_ + holdCount_) % capacity] = {frame, required};
        ++holdCount_;
    }
    const int64_t window = attack_ + 2 * int64_t(reach_);
    while (holdCount_ > 0 && holds_[holdFirst_].frame <= frame - window) {
        holdFirst_ = (holdFirst_ + 1) % capacity;
        --holdCount_;
    }
    const double held = holdCount_ > 0 ? holds_[holdFirst_].gain : 1.0;

    // Their mean over the look-ahead: a straight ramp down that reaches each peak's gain in time.
    const double leaving = ramp_[rampAt_];
    rampReduced_ -= leaving < 1.0;
    rampReduced_ += held < 1.0;
    rampSum_ += held - leaving;
    ramp_[rampAt_] = held;
    rampAt_ = rampAt_ + 1 == ramp_.size() ? 0 : rampAt_ + 1;
    double target = 1.0;
    if (rampReduced_ > 0)
        target = std::min(1.0, rampSum_ / double(attack_));
    else
        rampSum_ = double(attack_); // no rounding left over from the sums

    if (target < gain_)
        gain_ = target;
    else
        gain_ += (target - gain_) * (1.0 - releaseCoefficient_);
    if (target == 1.0 && gain_ > 1.0 - kUnityWithin) gain_ = 1.0;
    if (gain_ < 1.0) {
        ++limitedFrames_;
        smallestGain_ = std::min(smallestGain_, gain_);
    }
    return gain_;
}

} // namespace host
