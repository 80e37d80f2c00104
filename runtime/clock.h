// The clocks effect code reads, behind one interface, so that tests can move time on instead of waiting for
// it: the wall clock of the block section and the millisecond tick of the editor's frame timer.
#pragma once

#include <cstdint>

class TClock {
public:
    // Seconds since the epoch, to the microsecond.
    virtual double WallSeconds() = 0;
    // Milliseconds on the platform's millisecond clock, wrapping like a signed 32-bit counter.
    virtual int32_t MillisecondTick() = 0;

protected:
    ~TClock() = default;
};

// The machine's own clocks, which every effect reads unless given others.
TClock& SystemClock();
