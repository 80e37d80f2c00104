// Loudness of a programme after EBU R 128 (ITU-R BS.1770), measured with libebur128.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

struct LoudnessSummary {
    double integrated = 0.0;      // LUFS; -inf for silence
    double range = 0.0;           // LU
    double truePeak = 0.0;        // dBTP, the largest of the channels
    double shortTermLow = 0.0;    // 10th percentile of short-term loudness, LUFS
    double shortTermHigh = 0.0;   // 90th percentile, LUFS
    double shortTermSpread = 0.0; // high minus low, LU
};

class LoudnessMeter {
public:
    // Short-term loudness is kept ten times a second, for plots and the spread.
    static constexpr double kShortTermHopSeconds = 0.1;

    // A mono programme counts as played on both loudspeakers, as a stereo effect hears it.
    LoudnessMeter(int channels, int sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    void add(const float* interleaved, int64_t frames);
    LoudnessSummary summary() const;
    // One value per hop, at the end of each complete hop; -inf where the window is silent.
    const std::vector<double>& shortTerm() const { return shortTerm_; }
    int64_t frames() const { return frames_; }

private:
    // libebur128's state, an unnamed struct that cannot be declared ahead.
    void* state_ = nullptr;
    int channels_;
    int64_t hopFrames_;
    int64_t sinceHop_ = 0;
    // Power of the last 30 hops, the 3 s short-term window: cheaper than asking libebur128 for
    // the whole window ten times a second.
    std::array<double, 30> hopPowers_{};
    size_t nextHop_ = 0;
    int64_t frames_ = 0;
    std::vector<double> shortTerm_;
};

// The 10th and 90th percentiles of the short-term values that pass the gates of the loudness range
// (absolute -70 LUFS, relative -20 LU), leaving out the first three seconds, which hold a partial window.
void shortTermSpread(const std::vector<double>& shortTerm, LoudnessSummary& summary);

} // namespace host
