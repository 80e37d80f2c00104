// Loudness of a programme after EBU R 128 (ITU-R BS.1770), measured with libebur128.
#pragma once

#include "mastering/true_peak.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mastering {

struct LoudnessSummary {
    double integrated = 0.0;      // LUFS; -inf for silence
    double range = 0.0;           // LU
    double truePeak = 0.0;        // dBTP, the largest of the channels
    double shortTermLow = 0.0;    // 10th percentile of short-term loudness, LUFS
    double shortTermHigh = 0.0;   // 90th percentile, LUFS
    double shortTermSpread = 0.0; // high minus low, LU
    double samplePeak = 0.0;      // dBFS, the largest sample magnitude; -inf for silence
};

// How a one-channel programme counts: as one channel, the way BS.1770 and every standard meter reading the
// file count it, or as played on two loudspeakers (dual mono), 3 dB louder, the way a stereo effect fed the
// channel on both inputs hears it.
enum class MonoCount { kOneChannel, kDualMono };

// The largest inter-sample peak, the figure libebur128's true-peak mode gives, at a fraction of its cost.
// Each piece of programme is first estimated with the same interpolator in single precision; only a
// piece whose estimate comes near the largest peak found so far goes to libebur128, after the samples
// its interpolator still remembers, so that it computes exactly what it would in the whole programme.
// The estimate's error is bounded far below the margin, so no piece that could raise the peak is skipped.
class TruePeakMeter {
public:
    TruePeakMeter(int channels, int sampleRate);
    ~TruePeakMeter();
    TruePeakMeter(const TruePeakMeter&) = delete;
    TruePeakMeter& operator=(const TruePeakMeter&) = delete;

    void add(const float* interleaved, int64_t frames);
    // Linear, the largest of the channels, never below the largest sample.
    double peak() const { return std::max(truePeak_, samplePeak_); }
    double samplePeak() const { return samplePeak_; }
    // The largest sample magnitude of the last piece added, over every channel (NaNs left out).
    float pieceLargest() const { return *std::max_element(pieceLargest_.begin(), pieceLargest_.end()); }
    // How many pieces came and how many of them libebur128 measured.
    int64_t pieces() const { return pieces_; }
    int64_t measuredPieces() const { return measuredPieces_; }

private:
    float estimate(size_t count);

    void* state_ = nullptr;
    int channels_;
    const TruePeakInterpolator interpolator_;
    std::vector<float> history_;                       // the interpolator's history, interleaved
    std::vector<float> channel_;                       // history and piece of one channel
    std::vector<float> pieceLargest_, historyLargest_; // each channel's largest magnitude
    std::vector<float> groupLargest_;                  // of each sixteen samples of channel_
    double truePeak_ = 0.0;
    double samplePeak_ = 0.0;
    int64_t pieces_ = 0;
    int64_t measuredPieces_ = 0;
};

class LoudnessMeter {
public:
    // Short-term loudness is kept ten times a second, for plots and the spread.
    static constexpr double kShortTermHopSeconds = 0.1;

    LoudnessMeter(int channels, int sampleRate, MonoCount mono = MonoCount::kOneChannel);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    void add(const float* interleaved, int64_t frames);
    LoudnessSummary summary() const;
    // One value per hop, at the end of each complete hop; -inf where the window is silent.
    const std::vector<double>& shortTerm() const { return shortTerm_; }
    // The largest sample magnitude of each complete hop, linear, on the same grid.
    const std::vector<float>& hopPeaks() const { return hopPeaks_; }
    int64_t frames() const { return frames_; }

private:
    void endHop();

    // libebur128's state, an unnamed struct that cannot be declared ahead.
    void* state_ = nullptr;
    TruePeakMeter truePeak_;
    int channels_;
    int64_t hopFrames_;
    // Whether the 100 ms hops are libebur128's own gating hops, so that its 400 ms and 3 s blocks are
    // sums of whole hops. libebur128 then only filters and gives each hop's power; the blocks are added
    // up here from those, once each instead of libebur128 summing every block's samples afresh, which
    // cost it more than the filter. At other rates (11025 Hz, where its hop is one frame longer than
    // 100 ms) libebur128 gates its own blocks and measures each short-term window whole.
    bool blocksFromHops_;
    int64_t sinceHop_ = 0;
    int64_t hops_ = 0;
    // Power of the last 30 hops, the 3 s short-term window; hop k in slot k % 30.
    std::array<double, 30> hopPowers_{};
    int64_t frames_ = 0;
    std::vector<double> shortTerm_;
    std::vector<float> hopPeaks_;
    float hopPeak_ = 0.0f;            // of the hop under way
    // The powers of the 400 ms blocks and of the 3 s blocks (one a second) at or above the absolute
    // gate, in order, as libebur128 keeps them for the integrated loudness and the loudness range.
    std::vector<double> gatingBlocks_;
    std::vector<double> rangeBlocks_;
};

// The 10th and 90th percentiles of the short-term values that pass the gates of the loudness range
// (absolute -70 LUFS, relative -20 LU), leaving out the first three seconds, which hold a partial window.
void shortTermSpread(const std::vector<double>& shortTerm, LoudnessSummary& summary);

} // namespace mastering
