#include "render/audio_file.h"
#include "render/progress.h"
#include "render/report.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <fontconfig/fontconfig.h>
#include <memory>
#include <vector>

namespace render {

namespace {

constexpr int kWidth = 1400, kHeight = 820;
constexpr double kLeft = 90, kRight = 40, kTop = 70, kBottom = 70;
constexpr double kGap = 90;         // between the two panels
constexpr double kLoudShare = 0.62; // of the height the loudness panel gets
// Values at or below this are silence here, as for the absolute gate of loudness measurement.
constexpr double kSilence = -70.0;
const char* const kFont = "Liberation Sans";

struct Colour {
    double r, g, b;
};
constexpr Colour kInputColour{0.30, 0.45, 0.75}, kOutputColour{0.90, 0.45, 0.08},
    kTargetColour{0.80, 0.10, 0.10}, kGainColour{0.10, 0.55, 0.30}, kGrid{0.88, 0.88, 0.88},
    kInk{0.15, 0.15, 0.15};

struct Panel {
    double x, y, width, height;
    double t0, t1, v0, v1;
    double px(double t) const { return x + (t - t0) / (t1 - t0) * width; }
    double py(double v) const { return y + height - (v - v0) / (v1 - v0) * height; }
};

void setColour(cairo_t* cr, Colour c) {
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
}

void text(cairo_t* cr, double x, double y, const std::string& words, double alignX, double alignY,
          double size = 14, bool bold = false) {
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, words.c_str(), &extents);
    cairo_move_to(cr, x - extents.width * alignX - extents.x_bearing,
                  y - extents.height * alignY - extents.y_bearing);
    cairo_show_text(cr, words.c_str());
}

double niceStep(double span, int most) {
    for (double step : {0.5, 1.0, 2.0, 3.0, 5.0, 6.0, 10.0, 15.0, 20.0, 30.0, 60.0, 120.0, 300.0, 600.0,
                        900.0, 1800.0, 3600.0, 7200.0})
        if (span / step <= most) return step;
    return std::ceil(span / most / 3600.0) * 3600.0;
}

std::string valueLabel(double value) {
    char label[32];
    std::snprintf(label, sizeof label, std::abs(value - std::round(value)) < 1e-9 ? "%.0f" : "%.1f", value);
    return label;
}

// Hours on every tick once the programme reaches an hour, so all ticks read alike.
std::string timeLabel(double seconds, double duration) {
    if (duration < 3600) return formatClock(seconds);
    const long whole = std::lround(seconds);
    char label[32];
    std::snprintf(label, sizeof label, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    return label;
}

void axes(cairo_t* cr, const Panel& p, double valueStep, const std::string& unit, const std::string& title) {
    cairo_set_line_width(cr, 1.0);
    const double timeStep = niceStep(p.t1 - p.t0, 12);
    for (double t = std::ceil(p.t0 / timeStep) * timeStep; t <= p.t1 + 1e-9; t += timeStep) {
        setColour(cr, kGrid);
        cairo_move_to(cr, std::round(p.px(t)) + 0.5, p.y);
        cairo_line_to(cr, std::round(p.px(t)) + 0.5, p.y + p.height);
        cairo_stroke(cr);
        setColour(cr, kInk);
        text(cr, p.px(t), p.y + p.height + 8, timeLabel(t, p.t1), 0.5, 0.0, 13);
    }
    for (double v = std::ceil(p.v0 / valueStep) * valueStep; v <= p.v1 + 1e-9; v += valueStep) {
        setColour(cr, kGrid);
        cairo_move_to(cr, p.x, std::round(p.py(v)) + 0.5);
        cairo_line_to(cr, p.x + p.width, std::round(p.py(v)) + 0.5);
        cairo_stroke(cr);
        setColour(cr, kInk);
        text(cr, p.x - 8, p.py(v), valueLabel(v), 1.0, 0.5, 13);
    }
    setColour(cr, kInk);
    cairo_rectangle(cr, p.x + 0.5, p.y + 0.5, p.width, p.height);
    cairo_stroke(cr);
    text(cr, p.x, p.y - 12, title, 0.0, 1.0, 16, true);
    cairo_save(cr);
    cairo_translate(cr, p.x - 62, p.y + p.height / 2);
    cairo_rotate(cr, -M_PI / 2);
    text(cr, 0, 0, unit, 0.5, 0.5, 14);
    cairo_restore(cr);
}

// A line through the values that are not silence, broken where they are.
void series(cairo_t* cr, const Panel& p, const std::vector<double>& values, double hop, Colour colour,
            double width) {
    setColour(cr, colour);
    cairo_set_line_width(cr, width);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    bool drawing = false;
    for (size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i]) || values[i] <= kSilence) {
            drawing = false;
            continue;
        }
        const double x = p.px(double(i + 1) * hop), y = p.py(std::clamp(values[i], p.v0, p.v1));
        drawing ? cairo_line_to(cr, x, y) : cairo_move_to(cr, x, y);
        drawing = true;
    }
    cairo_stroke(cr);
}

// In a row above the panel's right end, clear of the curves.
void legend(cairo_t* cr, const Panel& p, const std::vector<std::pair<std::string, Colour>>& entries) {
    double x = p.x + p.width;
    const double y = p.y - 18;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 13);
        cairo_text_extents_t extents;
        cairo_text_extents(cr, entry->first.c_str(), &extents);
        x -= extents.x_advance;
        setColour(cr, kInk);
        text(cr, x, y, entry->first, 0.0, 0.5, 13);
        x -= 34;
        setColour(cr, entry->second);
        cairo_set_line_width(cr, 3.0);
        cairo_move_to(cr, x, y);
        cairo_line_to(cr, x + 28, y);
        cairo_stroke(cr);
        x -= 24;
    }
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

void writePlot(const std::filesystem::path& path, const RenderOptions& options, const RenderResult& result,
               std::optional<double> target) {
    const double hop = mastering::LoudnessMeter::kShortTermHopSeconds;
    const auto& in = result.inputShortTerm;
    const auto& out = result.outputShortTerm;
    // The raw stream lags the input by the latency; the gain compares the same moment of the programme.
    const auto lag = result.latencyCompensated ? 0L : std::lround(result.latency / (hop * result.sampleRate));
    std::vector<double> gain(in.size(), -INFINITY);
    double gainLow = -6.0, gainHigh = 6.0;
    for (size_t i = 0; i < in.size(); ++i) {
        const size_t j = i + size_t(lag);
        if (j < out.size() && in[i] > kSilence && out[j] > kSilence && std::isfinite(in[i]) &&
            std::isfinite(out[j])) {
            gain[i] = out[j] - in[i];
            gainLow = std::min(gainLow, gain[i]);
            gainHigh = std::max(gainHigh, gain[i]);
        }
    }
    double low = target.value_or(-23.0) - 6.0, high = target.value_or(-23.0) + 3.0;
    for (const auto* values : {&in, &out})
        for (double v : *values)
            if (std::isfinite(v) && v > kSilence) low = std::min(low, v), high = std::max(high, v);

    const double duration = std::max(hop, double(std::max(in.size(), out.size())) * hop);
    const double plotWidth = kWidth - kLeft - kRight;
    const double plotHeight = kHeight - kTop - kBottom - kGap;
    const double loudStep = niceStep(high - low, 10);
    Panel loud{kLeft,
               kTop,
               plotWidth,
               plotHeight * kLoudShare,
               0.0,
               duration,
               std::floor(low / loudStep) * loudStep,
               std::ceil(high / loudStep) * loudStep};
    const double gainStep = niceStep(gainHigh - gainLow, 6);
    Panel gains{kLeft,
                kTop + loud.height + kGap,
                plotWidth,
                plotHeight - loud.height,
                0.0,
                duration,
                std::floor(gainLow / gainStep) * gainStep,
                std::ceil(gainHigh / gainStep) * gainStep};

    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight), cairo_surface_destroy);
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> context(cairo_create(surface.get()), cairo_destroy);
    cairo_t* cr = context.get();
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);

    setColour(cr, kInk);
    text(cr, kLeft, 16, options.input.filename().string() + " through " + result.pluginName, 0.0, 0.0, 18,
         true);
    axes(cr, loud, loudStep, "Loudness (LUFS)", "Short-term loudness (3 s window)");
    series(cr, loud, in, hop, kInputColour, 1.5);
    series(cr, loud, out, hop, kOutputColour, 2.0);
    std::vector<std::pair<std::string, Colour>> entries = {{"Input", kInputColour},
                                                           {"Output", kOutputColour}};
    if (target) {
        setColour(cr, kTargetColour);
        cairo_set_line_width(cr, 1.5);
        const double dashes[] = {8.0, 5.0};
        cairo_set_dash(cr, dashes, 2, 0);
        cairo_move_to(cr, loud.x, loud.py(*target));
        cairo_line_to(cr, loud.x + loud.width, loud.py(*target));
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
        entries.push_back({"Target " + valueLabel(*target) + " LUFS", kTargetColour});
    }
    legend(cr, loud, entries);

    axes(cr, gains, gainStep, "Gain (dB)", "Gain applied (output minus input short-term loudness)");
    setColour(cr, kInk);
    cairo_set_line_width(cr, 1.0);
    cairo_move_to(cr, gains.x, std::round(gains.py(0.0)) + 0.5);
    cairo_line_to(cr, gains.x + gains.width, std::round(gains.py(0.0)) + 0.5);
    cairo_stroke(cr);
    series(cr, gains, gain, hop, kGainColour, 1.8);
    setColour(cr, kInk);
    text(cr, kLeft + plotWidth / 2, kHeight - 22, duration >= 3600 ? "Time (h:min:s)" : "Time (min:s)", 0.5,
         0.5, 14);

    std::string png;
    cairo_surface_flush(surface.get());
    const bool drawn =
        cairo_surface_write_to_png_stream(surface.get(), appendBytes, &png) == CAIRO_STATUS_SUCCESS;
    if (!drawn) throw FileError(path, "cannot draw the plot");
    writeTextFile(path, png);
}

void releaseFontCaches() {
    cairo_debug_reset_static_data();
    FcFini();
}

} // namespace render
