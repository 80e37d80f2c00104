#include "mastering/true_peak.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>
#include <type_traits>

namespace mastering {

namespace {

using Floats = TruePeakInterpolator::Floats;

// Gain recovers after a peak with this time constant, slow enough not to modulate low notes.
constexpr double kReleaseSeconds = 0.05;
// The look-ahead, over which the gain ramps down to meet a peak.
constexpr double kAttackSeconds = 0.005;
// A recovering gain this close to 1 is 1: where nothing is limited the samples pass untouched.
constexpr double kUnityWithin = 1e-6;
// Below this mean gain (60 dB of reduction) the ramp's mean is summed afresh rather than kept running.
constexpr double kSumAfreshBelow = 1e-3;
// Frames count as limited below this gain, a tenth of a dB; the last of a release does not.
const double kLimitedBelow = std::pow(10.0, -0.1 / 20.0);

// The largest magnitude among interleaved samples, in independent lanes: one running maximum would wait
// on itself at every sample. NaNs are left out; a double's is rounded up to a float, so that the bound it
// gives stays a bound.
template <typename Sample> float largestMagnitude(const Sample* samples, size_t count) {
    typedef Sample Lanes __attribute__((vector_size(16)));
    constexpr size_t kWidth = 16 / sizeof(Sample);
    Lanes lanes[2] = {};
    size_t i = 0;
    for (; i + 2 * kWidth <= count; i += 2 * kWidth)
        for (size_t v = 0; v < 2; ++v) {
            Lanes x;
            std::memcpy(&x, samples + i + kWidth * v, sizeof x);
            x = x < 0 ? -x : x;
            lanes[v] = x > lanes[v] ? x : lanes[v];
        }
    Sample largest = 0;
    for (const Lanes& lane : lanes)
        for (size_t k = 0; k < kWidth; ++k) largest = std::max(largest, lane[k]);
    for (; i < count; ++i) largest = std::max(largest, std::abs(samples[i]));
    if constexpr (std::is_same_v<Sample, float>)
        return largest;
    else
        return std::nextafter(float(largest), INFINITY);
}

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
      groupLargest_(size_t(kPiece) / kGroup, 0.0f), required_(size_t(kPiece), 1.0),
      gains_(size_t(kPiece), 1.0), releasePowers_(kGroup),
      holds_(std::bit_ceil(size_t(attack_ + 2 * reach_ + 1))), ramp_(size_t(attack_), 1.0),
      rampSum_(double(attack_)), rampScale_(1.0 / double(attack_)) {
    for (size_t i = 0; i < kGroup; ++i) releasePowers_[i] = std::pow(releaseCoefficient_, double(i + 1));
}

double TruePeakLimiter::largestReductionDb() const {
    return smallestGain_ < 1.0 ? -20.0 * std::log10(smallestGain_) : 0.0;
}

void TruePeakLimiter::process(float* interleaved, int64_t frames) {
    run(interleaved, frames);
}

void TruePeakLimiter::process(double* interleaved, int64_t frames) {
    run(interleaved, frames);
}

template <typename Sample> std::vector<Sample>& TruePeakLimiter::delayLine() {
    auto& line = [this]() -> std::vector<Sample>& {
        if constexpr (std::is_same_v<Sample, float>)
            return floatDelay_;
        else
            return doubleDelay_;
    }();
    // Room for the latency and a piece: a piece is written before the frames it replaces are read.
    if (line.empty()) line.assign(size_t(latency_ + kPiece) * size_t(channels_), Sample(0));
    return line;
}

template <typename Sample> void TruePeakLimiter::run(Sample* interleaved, int64_t frames) {
    const auto channels = size_t(channels_);
    std::vector<Sample>& line = delayLine<Sample>();
    const size_t capacity = line.size() / channels;
    // Copies frames between a piece and the ring, in at most two stretches.
    const auto ring = [&](size_t at, size_t count, auto&& copy) {
        const size_t first = std::min(count, capacity - at);
        copy(0, at, first);
        copy(first, 0, count - first);
    };
    while (frames > 0) {
        const auto count = size_t(std::min(frames, kPiece));
        const bool quiet = detect(interleaved, count);
        ring(delayAt_, count, [&](size_t from, size_t to, size_t n) {
            std::copy_n(interleaved + from * channels, n * channels, line.begin() + ptrdiff_t(to * channels));
        });
        const size_t readAt = (delayAt_ + capacity - size_t(latency_)) % capacity;
        if (quiet && idle()) {
            frame_ += int64_t(count);
            ring(readAt, count, [&](size_t to, size_t from, size_t n) {
                std::copy_n(line.begin() + ptrdiff_t(from * channels), n * channels,
                            interleaved + to * channels);
            });
        } else {
            computeGains(count);
            // A gain of exactly 1 leaves a sample exactly as it is.
            ring(readAt, count, [&](size_t to, size_t from, size_t n) {
                const Sample* in = &line[from * channels];
                Sample* out = interleaved + to * channels;
                for (size_t i = 0; i < n; ++i)
                    for (size_t c = 0; c < channels; ++c)
                        out[i * channels + c] = in[i * channels + c] * Sample(gains_[to + i]);
            });
        }
        delayAt_ = (delayAt_ + count) % capacity;
        interleaved += count * channels;
        frames -= int64_t(count);
    }
}

template <typename Sample> void TruePeakLimiter::keepHistory(const Sample* interleaved, size_t count) {
    const auto history = size_t(interpolator_.historyFrames);
    const auto channels = size_t(channels_);
    for (size_t c = 0; c < channels; ++c) {
        std::vector<float>& signal = signal_[c];
        // The last history frames of what the signal held before and the piece.
        const size_t kept = history - std::min(history, count);
        std::copy(signal.begin() + ptrdiff_t(history - kept), signal.begin() + ptrdiff_t(history),
                  signal.begin());
        for (size_t i = count - std::min(history, count), k = kept; i < count; ++i, ++k)
            signal[k] = float(interleaved[i * channels + c]);
    }
}

template <typename Sample> bool TruePeakLimiter::detect(const Sample* interleaved, size_t count) {
    const auto history = size_t(interpolator_.historyFrames);
    const auto channels = size_t(channels_);
    const auto ceiling = float(ceiling_);
    const auto requiredFor = [&](float peak) { return peak > ceiling ? ceiling_ / double(peak) : 1.0; };
    const size_t groups = (count + kGroup - 1) / kGroup;
    float largest = historyLargest_;
    for (size_t g = 0; g < groups; ++g) {
        const size_t first = g * kGroup;
        groupLargest_[g] =
            largestMagnitude(interleaved + first * channels, std::min(kGroup, count - first) * channels);
        largest = std::max(largest, groupLargest_[g]);
    }
    const float previousLargest = historyLargest_;
    historyLargest_ = largestMagnitude(interleaved + (count - std::min(count, history)) * channels,
                                       std::min(count, history) * channels);
    if (count < history) historyLargest_ = std::max(historyLargest_, previousLargest);
    // No output of the interpolator exceeds its gain times the largest sample in its reach.
    const auto quiet = float(ceiling_ / interpolator_.gain);
    if (largest <= quiet) {
        std::fill_n(required_.begin(), count, 1.0);
        keepHistory(interleaved, count);
        return true;
    }
    bool none = true;
    if (interpolator_.phases.empty()) {
        for (size_t i = 0; i < count; ++i) {
            float peak = 0.0f;
            for (size_t c = 0; c < channels; ++c)
                peak = std::max(peak, std::abs(float(interleaved[i * channels + c])));
            none &= (required_[i] = requiredFor(peak)) == 1.0;
        }
        return none;
    }

    for (size_t c = 0; c < channels; ++c)
        for (size_t i = 0; i < count; ++i) signal_[c][history + i] = float(interleaved[i * channels + c]);
    // Groups far enough back to cover the interpolator's reach.
    const size_t back = (history + kGroup - 1) / kGroup;
    for (size_t g = 0; g < groups; ++g) {
        const size_t first = g * kGroup, group = std::min(kGroup, count - first);
        float near = g < back ? previousLargest : 0.0f;
        for (size_t k = g < back ? 0 : g - back; k <= g; ++k) near = std::max(near, groupLargest_[k]);
        if (near <= quiet) {
            std::fill_n(required_.begin() + ptrdiff_t(first), group, 1.0);
            continue;
        }
        // Sixteen frames at a time, in four vectors; every phase of every channel.
        Floats peaks[4] = {};
        for (const auto& signal : signal_)
            for (const auto& phase : interpolator_.phases) {
                Floats sums[4];
                TruePeakInterpolator::sixteenOutputs(phase, &signal[history + first], sums);
                for (int v = 0; v < 4; ++v) {
                    const Floats magnitudes = sums[v] < 0 ? -sums[v] : sums[v];
                    peaks[v] = magnitudes > peaks[v] ? magnitudes : peaks[v];
                }
            }
        for (size_t i = 0; i < group; ++i)
            none &= (required_[first + i] = requiredFor(peaks[i / 4][i % 4])) == 1.0;
    }
    for (auto& signal : signal_)
        std::copy(signal.begin() + ptrdiff_t(count), signal.begin() + ptrdiff_t(count + history),
                  signal.begin());
    return none;
}

void TruePeakLimiter::computeGains(size_t count) {
    for (size_t first = 0; first < count; first += kGroup) {
        const size_t group = std::min(kGroup, count - first);
        double* gains = &gains_[first];
        const bool noPeak =
            std::all_of(required_.begin() + ptrdiff_t(first), required_.begin() + ptrdiff_t(first + group),
                        [](double required) { return required == 1.0; });
        if (!noPeak || holdCount_ > 0 || rampReduced_ > 0) {
            for (size_t i = 0; i < group; ++i) gains[i] = nextGain(required_[first + i]);
            continue;
        }
        // Nothing but the release (or unity): its closed form, the same as frame by frame.
        frame_ += int64_t(group);
        const double distance = 1.0 - gain_;
        for (size_t i = 0; i < group; ++i) {
            const double gain = 1.0 - distance * releasePowers_[i];
            gains[i] = gain > 1.0 - kUnityWithin ? 1.0 : gain;
            limitedFrames_ += gains[i] < kLimitedBelow;
        }
        gain_ = gains[group - 1];
    }
}

inline double TruePeakLimiter::nextGain(double required) {
    const int64_t frame = frame_++;
    const size_t mask = holds_.size() - 1;
    // The smallest required gain over the window ending at this frame.
    if (required < 1.0) {
        while (holdCount_ > 0 && holds_[(holdFirst_ + holdCount_ - 1) & mask].gain >= required) --holdCount_;
        holds_[(holdFirst_ + holdCount_) & mask] = {frame, required};
        ++holdCount_;
    }
    const int64_t window = attack_ + 2 * int64_t(reach_);
    while (holdCount_ > 0 && holds_[holdFirst_].frame <= frame - window) {
        holdFirst_ = (holdFirst_ + 1) & mask;
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
    if (rampReduced_ > 0) {
        target = std::min(1.0, rampSum_ * rampScale_);
        // The running sum carries rounding from the gains that left it, a few units in the last place of
        // the ramp's length: nothing beside a gain of a tenth, but a peak 60 dB or more over the ceiling
        // needs a gain that small and as exact as the sample it lowers. Summed afresh, the mean is exact
        // to its own last places.
        if (target < kSumAfreshBelow) {
            rampSum_ = 0.0;
            for (const double gain : ramp_) rampSum_ += gain;
            target = rampSum_ * rampScale_;
        }
    } else {
        rampSum_ = double(attack_); // no rounding left over from the sums
    }

    if (target < gain_)
        gain_ = target;
    else
        gain_ += (target - gain_) * (1.0 - releaseCoefficient_);
    if (target == 1.0 && gain_ > 1.0 - kUnityWithin) gain_ = 1.0;
    limitedFrames_ += gain_ < kLimitedBelow;
    smallestGain_ = std::min(smallestGain_, gain_);
    return gain_;
}

} // namespace mastering
