#include "render/progress.h"

#include <cstdio>
#include <string>

namespace render {

namespace {

constexpr double kRedrawSeconds = 0.1;
constexpr int kBarWidth = 30;

} // namespace

std::string formatClock(double seconds) {
    const auto whole = long(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

std::string formatted(double value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string counted(int64_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

ProgressBar::ProgressBar(bool enabled, int64_t totalFrames, int sampleRate)
    : enabled_(enabled), total_(totalFrames), rate_(sampleRate), start_(std::chrono::steady_clock::now()) {}

void ProgressBar::update(int64_t frames) {
    if (!enabled_) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (elapsed - lastDraw_ < kRedrawSeconds) return;
    lastDraw_ = elapsed;
    draw(frames, elapsed);
}

void ProgressBar::draw(int64_t frames, double elapsed) {
    const double audioSeconds = double(frames) / rate_;
    const double speed = elapsed > 0.0 ? audioSeconds / elapsed : 0.0;
    std::string line = "\r";
    if (total_ > 0) {
        const double done = double(frames) / double(total_);
        const int filled = int(done * kBarWidth);
        line += "[" + std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), '.') + "] ";
        char text[96];
        const double left = speed > 0.0 ? (double(total_ - frames) / rate_) / speed : 0.0;
        std::snprintf(text, sizeof text, "%3.0f%%  %.1fx real time  %s left", done * 100.0, speed,
                      formatClock(left).c_str());
        line += text;
    } else {
        char text[96];
        std::snprintf(text, sizeof text, "%s rendered  %.1fx real time", formatClock(audioSeconds).c_str(),
                      speed);
        line += text;
    }
    line += "\033[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void ProgressBar::finish() {
    if (!enabled_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
}

} // namespace render
