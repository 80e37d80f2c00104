// A progress bar on a terminal: percentage, speed as a multiple of real time, time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace render {

// m:ss, or h:mm:ss from an hour on.
std::string formatClock(double seconds);

// A number as printf's `format` (one conversion of a double) writes it.
std::string formatted(double value, const char* format);

// "1 sample", "2 samples": a count with its noun, in the plural (an s added) but for one.
std::string counted(int64_t count, const std::string& noun);

class ProgressBar {
public:
    // Draws on stderr only when enabled; `totalFrames` 0 means unknown (no percentage).
    ProgressBar(bool enabled, int64_t totalFrames, int sampleRate);
    void update(int64_t frames);
    // Clears the bar's line.
    void finish();

private:
    void draw(int64_t frames, double elapsed);

    bool enabled_;
    int64_t total_;
    double rate_;
    std::chrono::steady_clock::time_point start_;
    double lastDraw_ = -1.0;
};

} // namespace render
