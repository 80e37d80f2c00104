// A clock that moves only when a test moves it, for effects made in the test's own process.
#pragma once

#include "runtime/clock.h"

#include <atomic>
#include <cmath>
#include <cstdint>

namespace testkit {

class ManualClock final : public TClock {
public:
    // Both clocks on by the same amount; the audio and editor threads may read them meanwhile.
    void Advance(double seconds) {
        wall_.store(wall_.load(std::memory_order_relaxed) + seconds, std::memory_order_relaxed);
        milliseconds_ += std::llround(seconds * 1000);
    }
    double WallSeconds() override { return wall_.load(std::memory_order_relaxed); }
    int32_t MillisecondTick() override {
        return static_cast<int32_t>(static_cast<uint32_t>(milliseconds_.load(std::memory_order_relaxed)));
    }

private:
    // Far from zero, as the machine's clocks are.
    std::atomic<double> wall_{1.8e9};
    std::atomic<int64_t> milliseconds_{1000000};
};

} // namespace testkit
