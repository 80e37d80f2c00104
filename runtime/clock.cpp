#include "runtime/clock.h"

#include <chrono>

// The platform's millisecond clock (runtime/system_*.cpp).
int32_t PlatformMillisecondTick();

namespace {

class TSystemClock final : public TClock {
public:
    double WallSeconds() override {
        const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count();
        return static_cast<double>(micros / 1000000) + static_cast<double>(micros % 1000000) * 0.000001;
    }
    int32_t MillisecondTick() override { return PlatformMillisecondTick(); }
};

} // namespace

TClock& SystemClock() {
    static TSystemClock clock;
    return clock;
}
