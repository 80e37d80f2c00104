// Samples that are not finite numbers, set to 0 and counted: a float file may hold them (a faulty program
// wrote it), and one would poison every filter and meter after it for good.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace mastering {

class NonFiniteSamples {
public:
    // Interleaved or not, in place.
    template <typename Sample> void clean(Sample* samples, size_t count) {
        // A sum of x - x is 0 while every x is finite, and not a number from the first that is not: one
        // pass without a branch for the usual case, in eight independent sums.
        constexpr size_t kLanes = 8;
        Sample sums[kLanes] = {};
        size_t i = 0;
        for (; i + kLanes <= count; i += kLanes)
            for (size_t lane = 0; lane < kLanes; ++lane) sums[lane] += samples[i + lane] - samples[i + lane];
        for (; i < count; ++i) sums[0] += samples[i] - samples[i];
        Sample check = 0;
        for (const Sample sum : sums) check += sum;
        if (check == 0) [[likely]]
            return;
        for (i = 0; i < count; ++i) {
            if (std::isnan(samples[i])) {
                ++notNumbers_;
                samples[i] = 0;
            } else if (std::isinf(samples[i])) {
                ++infinite_;
                samples[i] = 0;
            }
        }
    }

    int64_t notNumbers() const { return notNumbers_; }
    int64_t infinite() const { return infinite_; }

private:
    int64_t notNumbers_ = 0;
    int64_t infinite_ = 0;
};

} // namespace mastering
