// True peak (ITU-R BS.1770): the interpolator that finds the peaks between samples, and a limiter that
// keeps them under a ceiling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mastering {

// libebur128's interpolator: a 49-tap Hann-windowed sinc, four times oversampled below 96 kHz and twice
// below 192 kHz, split into one sub-filter per phase without its (near) zero coefficients. From 192 kHz
// there is none and the true peak is the sample peak. Phase p's output at input frame n is the signal at
// n - delayFrames + p / factor; phase 0 is the input itself.
struct TruePeakInterpolator {
    explicit TruePeakInterpolator(int sampleRate);

    struct Phase {
        std::vector<float> coefficients;
        std::vector<int> delays; // in input frames
    };
    using Floats = float __attribute__((vector_size(16)));

    // A phase's outputs for sixteen input frames from `current` on, in four vectors of four: one channel's
    // samples in a row, with historyFrames of them before `current`.
    static void sixteenOutputs(const Phase& phase, const float* current, Floats (&sums)[4]) {
        for (Floats& sum : sums) sum = Floats{};
        for (size_t t = 0; t < phase.coefficients.size(); ++t) {
            const float* x = current - phase.delays[t];
            const float coefficient = phase.coefficients[t];
            for (int v = 0; v < 4; ++v) {
                Floats values;
                __builtin_memcpy(&values, x + 4 * v, sizeof values);
                sums[v] += coefficient * values;
            }
        }
    }
    std::vector<Phase> phases;
    int factor = 1;
    int delayFrames = 0;
    // Input frames an output reaches back besides the current one.
    int historyFrames = 0;
    // The largest sum of a phase's coefficient magnitudes: no output exceeds it times the largest input
    // sample in reach.
    double gain = 1.0;
};

// A look-ahead limiter that holds the true peak of what it lets through under a ceiling, with one gain for
// all channels. It finds peaks on the interpolated signal, as the meter does; each one pulls the gain down in
// a straight line over the look-ahead, holds it while the interpolator's reach around the peak passes, and
// lets it recover smoothly. Where the programme stays under the ceiling the gain is exactly 1: the samples
// come through unchanged, delayed by latency().
class TruePeakLimiter {
public:
    TruePeakLimiter(int channels, int sampleRate, double ceilingDbtp);

    int32_t latency() const { return latency_; }
    // Interleaved frames, in place: what comes out is the input of latency() frames before.
    void process(float* interleaved, int64_t frames);
    void process(double* interleaved, int64_t frames);

    // The deepest gain reduction so far, in dB (0 or positive), and how many frames were lowered by more
    // than a tenth of a dB.
    double largestReductionDb() const;
    int64_t limitedFrames() const { return limitedFrames_; }

private:
    // Frames taken at a time; groups of 16 for the interpolator.
    static constexpr int64_t kPiece = 1024;
    static constexpr size_t kGroup = 16;

    template <typename Sample> void run(Sample* interleaved, int64_t frames);
    template <typename Sample> std::vector<Sample>& delayLine();
    // Each channel's last history frames for the interpolator, from the piece.
    template <typename Sample> void keepHistory(const Sample* interleaved, size_t count);
    // The gain each arriving frame of the piece asks for (1 or less), for the frame delayFrames before it;
    // answers whether every frame asks for none.
    template <typename Sample> bool detect(const Sample* interleaved, size_t count);
    bool idle() const { return holdCount_ == 0 && rampReduced_ == 0 && gain_ == 1.0; }
    // The gain of each frame of the piece into gains_.
    void computeGains(size_t count);
    double nextGain(double required);

    const TruePeakInterpolator interpolator_;
    const int channels_;
    const double ceiling_; // linear
    const int32_t attack_; // frames of the ramp down, the look-ahead
    const int32_t reach_;  // frames held around a peak on either side: the interpolator's half-length
    const int32_t latency_;
    const double releaseCoefficient_;

    // Each channel's recent input for the interpolator: history, then the piece, then room for a group.
    std::vector<std::vector<float>> signal_;
    std::vector<float> groupLargest_;   // each group's largest sample magnitude
    float historyLargest_ = 0.0f;       // the history's
    std::vector<double> required_;      // per frame of the piece
    std::vector<double> gains_;         // per frame of the piece
    std::vector<double> releasePowers_; // the release coefficient to the powers 1 to kGroup
    // The frames on their way through, interleaved, in a ring of either sample width.
    std::vector<float> floatDelay_;
    std::vector<double> doubleDelay_;
    size_t delayAt_ = 0; // frame where the next one goes

    // The smallest required gain over a sliding window of attack_ + 2 reach_ frames: entries (frame, gain)
    // in a ring, increasing in gain from the oldest; frames that need no reduction are not stored.
    struct Hold {
        int64_t frame;
        double gain;
    };
    std::vector<Hold> holds_; // a power of two long
    size_t holdFirst_ = 0;
    size_t holdCount_ = 0;
    int64_t frame_ = 0; // frames of required gain seen
    // The held gains of the last attack_ frames, their sum and how many are below 1: their mean ramps.
    std::vector<double> ramp_;
    size_t rampAt_ = 0;
    double rampSum_ = 0.0;
    double rampScale_ = 0.0; // 1 / attack_
    int64_t rampReduced_ = 0;
    double gain_ = 1.0;

    double smallestGain_ = 1.0;
    int64_t limitedFrames_ = 0;
};

} // namespace mastering
