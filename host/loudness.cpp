#include "host/loudness.h"

#include <algorithm>
#include <cmath>
#include <ebur128.h>
#include <limits>
#include <new>

namespace host {

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

} // namespace

LoudnessMeter::LoudnessMeter(int channels, int sampleRate)
    // libebur128 rounds a 100 ms window down to whole frames the same way.
    : channels_(channels), hopFrames_(std::max(1, sampleRate / 10)) {
    state_ = ebur128_init(unsigned(channels), unsigned(sampleRate),
                          EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    if (state_ == nullptr) throw std::bad_alloc();
    if (channels == 1) ebur128_set_channel(meter(state_), 0, EBUR128_DUAL_MONO);
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
        interleaved += take * channels_;
        frames -= take;
        frames_ += take;
        sinceHop_ += take;
        if (sinceHop_ == hopFrames_) {
            double hop = kNegativeInfinity;
            if (ebur128_loudness_window(meter(state_), 100, &hop) != EBUR128_SUCCESS) hop = kNegativeInfinity;
            // Loudness is -0.691 dB plus the weighted mean square in dB (BS.1770).
            hopPowers_[nextHop_] = std::isfinite(hop) ? std::pow(10.0, (hop + 0.691) / 10.0) : 0.0;
            nextHop_ = (nextHop_ + 1) % hopPowers_.size();
            double sum = 0.0;
            for (double power : hopPowers_) sum += power;
            shortTerm_.push_back(sum > 0.0 ? -0.691 + 10.0 * std::log10(sum / double(hopPowers_.size()))
                                           : kNegativeInfinity);
            sinceHop_ = 0;
        }
    }
}

LoudnessSummary LoudnessMeter::summary() const {
    LoudnessSummary result;
    if (ebur128_loudness_global(meter(state_), &result.integrated) != EBUR128_SUCCESS)
        result.integrated = kNegativeInfinity;
    if (ebur128_loudness_range(meter(state_), &result.range) != EBUR128_SUCCESS) result.range = 0.0;
    double peak = 0.0;
    for (int c = 0; c < channels_; ++c) {
        double channelPeak = 0.0;
        if (ebur128_true_peak(meter(state_), unsigned(c), &channelPeak) == EBUR128_SUCCESS)
            peak = std::max(peak, channelPeak);
    }
    result.truePeak = peak > 0.0 ? 20.0 * std::log10(peak) : kNegativeInfinity;
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

} // namespace host
