// Samples rounded to an integer output format's steps, as the file will hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mastering {

// 16-bit and 8-bit formats get TPDF dither of up to one step either way from a generator with a fixed seed,
// so the same render writes the same bytes. Dither stops once a channel's last 32 samples already lay on
// the format's steps: digital silence stays digital silence, and a file passed through unchanged keeps its
// samples. What lies beyond full scale is clipped, and counted.
class PcmQuantizer {
public:
    static constexpr int kMostDitheredBits = 16;

    PcmQuantizer(int bits, int channels, bool dither);

    // Interleaved samples, whole frames, to full-scale 32-bit integers whose top `bits` bits carry the
    // value, and to the same values as floats for measuring.
    void convert(const float* samples, size_t count, int32_t* integers, float* written);
    void convert(const double* samples, size_t count, int32_t* integers, float* written);

    bool dithers() const { return dither_; }
    int64_t clipped() const { return clipped_; }

private:
    template <bool Dither, typename Sample>
    void run(const Sample* samples, size_t count, int32_t* integers, float* written);
    double triangularNoise();

    const int bits_;
    const double scale_; // steps per unit of full scale
    const bool dither_;
    std::vector<int32_t> onSteps_; // per channel: how many samples in a row lay on the steps already
    uint64_t noiseState_;
    int64_t clipped_ = 0;
};

} // namespace mastering
