#include "mastering/loudness.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ebur128.h>
#include <limits>
#include <new>

namespace mastering {

namespace {

constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();

ebur128_state* meter(void* state) {
    return static_cast<ebur128_state*>(state);
}

double percentile(const std::vector<double>& sorted, double fraction) {
    const double position = fraction * double(sorted.size() - 1);
    const auto below = size_t(std::floor(position));
    const size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (position - double(below));
}

using Floats = TruePeakInterpolator::Floats;

// Each channel's largest magnitude in interleaved frames, leaving out NaNs. Sixteen values at a time in
// four independent maxima, where the lanes hold whole channels: one running maximum per channel would wait
// on itself at every value.
void largestMagnitudes(const float* interleaved, size_t frames, size_t channels,
                       std::vector<float>& largest) {
    std::fill(largest.begin(), largest.end(), 0.0f);
    const size_t values = frames * channels;
    size_t i = 0;
    if (4 % channels == 0) {
        Floats lanes[4] = {};
        for (; i + 16 <= values; i += 16)
            for (int v = 0; v < 4; ++v) {
                Floats x;
                std::memcpy(&x, interleaved + i + 4 * v, sizeof x);
                x = x < 0 ? -x : x;
                lanes[v] = x > lanes[v] ? x : lanes[v];
            }
        for (const Floats& group : lanes)
            for (size_t lane = 0; lane < 4; ++lane)
                largest[lane % channels] = std::max(largest[lane % channels], group[lane]);
    }
    for (; i < values; ++i) largest[i % channels] = std::max(largest[i % channels], std::abs(interleaved[i]));
}

// libebur128's gates and conversion, written as it writes them so that the figures come out the same.
const double kAbsoluteGate = std::pow(10.0, (-70.0 + 0.691) / 10.0);
const double kIntegratedRelativeGate = std::pow(10.0, -10.0 / 10.0);
const double kRangeRelativeGate = std::pow(10.0, -20.0 / 10.0);

double loudnessOf(double power) {
    return 10 * (std::log(power) / std::log(10.0)) - 0.691;
}

// The mean power of the blocks at or above the relative gate, 10 LU below the mean of all blocks.
double integratedLoudness(const std::vector<double>& blocks) {
    if (blocks.empty()) return kNegativeInfinity;
    double threshold = 0.0;
    for (double block : blocks) threshold += block;
    threshold = threshold / double(blocks.size()) * kIntegratedRelativeGate;
    double sum = 0.0;
    size_t count = 0;
    for (double block : blocks)
        if (block >= threshold) {
            sum += block;
            ++count;
        }
    return count > 0 ? loudnessOf(sum / double(count)) : kNegativeInfinity;
}

// From the 10th to the 95th percentile of the 3 s blocks at or above the relative gate, 20 LU below
// their mean (EBU Tech 3342), with libebur128's rounding of the percentile positions.
double loudnessRange(std::vector<double> blocks) {
    if (blocks.empty()) return 0.0;
    std::sort(blocks.begin(), blocks.end());
    double power = 0.0;
    for (double block : blocks) power += block;
    const double gate = kRangeRelativeGate * (power / double(blocks.size()));
    const auto first = std::lower_bound(blocks.begin(), blocks.end(), gate);
    const auto size = size_t(blocks.end() - first);
    if (size == 0) return 0.0;
    const double high = first[ptrdiff_t(double(size - 1) * 0.95 + 0.5)];
    const double low = first[ptrdiff_t(double(size - 1) * 0.1 + 0.5)];
    return loudnessOf(high) - loudnessOf(low);
}

} // namespace

TruePeakMeter::TruePeakMeter(int channels, int sampleRate)
    : channels_(channels), interpolator_(sampleRate), pieceLargest_(size_t(channels)),
      historyLargest_(size_t(channels)) {
    if (interpolator_.phases.empty()) return;
    state_ = ebur128_init(unsigned(channels), unsigned(sampleRate), EBUR128_MODE_TRUE_PEAK);
    if (state_ == nullptr) throw std::bad_alloc();
    history_.assign(size_t(interpolator_.historyFrames * channels), 0.0f);
}

TruePeakMeter::~TruePeakMeter() {
    if (state_ == nullptr) return;
    ebur128_state* state = meter(state_);
    ebur128_destroy(&state);
}

// The largest output of every phase of the interpolator for the piece in channel_, in single precision,
// leaving out each group of sixteen outputs whose inputs are too small for any phase to raise the peak:
// where the programme is held under a ceiling, the loud pieces' quieter stretches.
float TruePeakMeter::estimate(size_t count) {
    const auto history = size_t(interpolator_.historyFrames);
    // Group g's outputs reach the inputs from 16 g to 16 g + 15 + history: blocks g to g + reach.
    const size_t groups = (count + 15) / 16, reach = (history + 15) / 16;
    groupLargest_.assign(groups + reach, 0.0f);
    for (size_t i = 0; i < channel_.size() && i / 16 < groupLargest_.size(); ++i)
        groupLargest_[i / 16] = std::max(groupLargest_[i / 16], std::abs(channel_[i]));
    const double enough = truePeak_ / (interpolator_.gain * (1.0 + 1e-5));
    Floats highest{}, lowest{};
    for (size_t g = 0; g < groups; ++g) {
        float largest = 0.0f;
        for (size_t block = g; block <= g + reach; ++block) largest = std::max(largest, groupLargest_[block]);
        if (double(largest) <= enough) continue;
        // Sixteen outputs at a time, in four independent sums.
        for (const auto& phase : interpolator_.phases) {
            Floats sums[4];
            TruePeakInterpolator::sixteenOutputs(phase, &channel_[history + 16 * g], sums);
            for (const Floats& sum : sums) {
                highest = highest > sum ? highest : sum;
                lowest = lowest < sum ? lowest : sum;
            }
        }
    }
    float largest = 0.0f;
    for (int lane = 0; lane < 4; ++lane) largest = std::max({largest, highest[lane], -lowest[lane]});
    return largest;
}

void TruePeakMeter::add(const float* interleaved, int64_t frames) {
    if (frames <= 0) return;
    ++pieces_;
    const auto history = size_t(interpolator_.historyFrames);
    const auto count = size_t(frames);
    largestMagnitudes(interleaved, count, size_t(channels_), pieceLargest_);
    largestMagnitudes(history_.data(), history, size_t(channels_), historyLargest_);
    bool mayRaise = false;
    for (int c = 0; c < channels_; ++c) {
        const float pieceSample = pieceLargest_[size_t(c)];
        samplePeak_ = std::max(samplePeak_, double(pieceSample));
        const float largestSample = std::max(historyLargest_[size_t(c)], pieceSample);
        if (interpolator_.phases.empty() || mayRaise) continue;

        // No phase can give more than the sum of its coefficients' magnitudes times the largest sample.
        if (interpolator_.gain * double(largestSample) * (1.0 + 1e-5) <= truePeak_) continue;
        // Room for a last group of sixteen outputs; the zeros there only ever raise the estimate.
        channel_.resize(history + count + 16);
        std::fill(channel_.begin() + ptrdiff_t(history + count), channel_.end(), 0.0f);
        for (size_t i = 0; i < history; ++i) channel_[i] = history_[i * size_t(channels_) + size_t(c)];
        for (size_t i = 0; i < count; ++i)
            channel_[history + i] = interleaved[i * size_t(channels_) + size_t(c)];
        // Single-precision coefficients and sums stay within 1e-6 of the largest sample in reach.
        mayRaise = double(estimate(count)) + 2e-5 * double(largestSample) > truePeak_;
    }

    if (mayRaise) {
        ++measuredPieces_;
        ebur128_add_frames_float(meter(state_), history_.data(), history);
        ebur128_add_frames_float(meter(state_), interleaved, count);
        for (int c = 0; c < channels_; ++c) {
            double channelPeak = 0.0;
            if (ebur128_prev_true_peak(meter(state_), unsigned(c), &channelPeak) == EBUR128_SUCCESS)
                truePeak_ = std::max(truePeak_, channelPeak);
        }
    }

    const size_t values = history * size_t(channels_);
    if (count >= history) {
        std::copy_n(interleaved + (count - history) * size_t(channels_), values, history_.begin());
    } else {
        const size_t fresh = count * size_t(channels_);
        std::copy(history_.begin() + ptrdiff_t(fresh), history_.end(), history_.begin());
        std::copy_n(interleaved, fresh, history_.end() - ptrdiff_t(fresh));
    }
}

LoudnessMeter::LoudnessMeter(int channels, int sampleRate, MonoCount mono)
    // libebur128 rounds a 100 ms window down to whole frames the same way, and its gating hop to the
    // nearest frame.
    : truePeak_(channels, sampleRate), channels_(channels), hopFrames_(std::max(1, sampleRate / 10)),
      blocksFromHops_(sampleRate % 10 < 5) {
    state_ =
        ebur128_init(unsigned(channels), unsigned(sampleRate),
                     blocksFromHops_ ? EBUR128_MODE_M : EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA);
    if (state_ == nullptr) throw std::bad_alloc();
    if (channels == 1 && mono == MonoCount::kDualMono)
        ebur128_set_channel(meter(state_), 0, EBUR128_DUAL_MONO);
}

LoudnessMeter::~LoudnessMeter() {
    ebur128_state* state = meter(state_);
    ebur128_destroy(&state);
}

void LoudnessMeter::add(const float* interleaved, int64_t frames) {
    // Split at hop boundaries so the short-term values fall on a regular grid.
    while (frames > 0) {
        const int64_t take = std::min(frames, hopFrames_ - sinceHop_);
        ebur128_add_frames_float(meter(state_), interleaved, size_t(take));
        truePeak_.add(interleaved, take);
        // The true-peak meter has just found each channel's largest sample of these frames.
        hopPeak_ = std::max(hopPeak_, truePeak_.pieceLargest());
        interleaved += take * channels_;
        frames -= take;
        frames_ += take;
        sinceHop_ += take;
        if (sinceHop_ == hopFrames_) endHop();
    }
}

void LoudnessMeter::endHop() {
    sinceHop_ = 0;
    hopPeaks_.push_back(hopPeak_);
    hopPeak_ = 0.0f;
    if (!blocksFromHops_) {
        double shortTerm = kNegativeInfinity;
        if (ebur128_loudness_shortterm(meter(state_), &shortTerm) != EBUR128_SUCCESS)
            shortTerm = kNegativeInfinity;
        shortTerm_.push_back(shortTerm);
        return;
    }
    double hop = kNegativeInfinity;
    if (ebur128_loudness_window(meter(state_), 100, &hop) != EBUR128_SUCCESS) hop = kNegativeInfinity;
    // Loudness is -0.691 dB plus the weighted mean square in dB (BS.1770).
    hopPowers_[size_t(hops_) % hopPowers_.size()] =
        std::isfinite(hop) ? std::pow(10.0, (hop + 0.691) / 10.0) : 0.0;
    ++hops_;
    // The sum of the last `count` hops' powers.
    const auto lastHops = [&](size_t count) {
        double sum = 0.0;
        for (size_t back = 1; back <= count; ++back)
            sum += hopPowers_[(size_t(hops_) + hopPowers_.size() - back) % hopPowers_.size()];
        return sum;
    };
    const double window = lastHops(hopPowers_.size());
    shortTerm_.push_back(window > 0.0 ? -0.691 + 10.0 * std::log10(window / double(hopPowers_.size()))
                                      : kNegativeInfinity);
    // A 400 ms block ends at every hop from the fourth on, a 3 s block every tenth hop from the 30th on.
    if (hops_ >= 4) {
        const double block = lastHops(4) / 4.0;
        if (block >= kAbsoluteGate) gatingBlocks_.push_back(block);
    }
    if (hops_ >= 30 && (hops_ - 30) % 10 == 0) {
        const double block = window / double(hopPowers_.size());
        if (block >= kAbsoluteGate) rangeBlocks_.push_back(block);
    }
}

LoudnessSummary LoudnessMeter::summary() const {
    LoudnessSummary result;
    if (blocksFromHops_) {
        result.integrated = integratedLoudness(gatingBlocks_);
        result.range = loudnessRange(rangeBlocks_);
    } else {
        if (ebur128_loudness_global(meter(state_), &result.integrated) != EBUR128_SUCCESS)
            result.integrated = kNegativeInfinity;
        if (ebur128_loudness_range(meter(state_), &result.range) != EBUR128_SUCCESS) result.range = 0.0;
    }
    const double peak = truePeak_.peak();
    result.truePeak = peak > 0.0 ? 20.0 * std::log10(peak) : kNegativeInfinity;
    const double samplePeak = truePeak_.samplePeak();
    result.samplePeak = samplePeak > 0.0 ? 20.0 * std::log10(samplePeak) : kNegativeInfinity;
    shortTermSpread(shortTerm_, result);
    return result;
}

void shortTermSpread(const std::vector<double>& shortTerm, LoudnessSummary& summary) {
    const auto partialWindow = size_t(std::llround(3.0 / LoudnessMeter::kShortTermHopSeconds)) - 1;
    std::vector<double> gated;
    double power = 0.0;
    for (size_t i = partialWindow; i < shortTerm.size(); ++i)
        if (shortTerm[i] > -70.0) {
            gated.push_back(shortTerm[i]);
            power += std::pow(10.0, shortTerm[i] / 10.0);
        }
    if (!gated.empty()) {
        const double relativeGate = 10.0 * std::log10(power / double(gated.size())) - 20.0;
        std::erase_if(gated, [&](double value) { return value < relativeGate; });
    }
    if (gated.empty()) {
        summary.shortTermLow = summary.shortTermHigh = kNegativeInfinity;
        summary.shortTermSpread = 0.0;
        return;
    }
    std::sort(gated.begin(), gated.end());
    summary.shortTermLow = percentile(gated, 0.10);
    summary.shortTermHigh = percentile(gated, 0.90);
    summary.shortTermSpread = summary.shortTermHigh - summary.shortTermLow;
}

} // namespace mastering
