// Draws the editor's three pictures and writes them as 8-bit RGBA PNG files into the folder given as the
// only argument:
//   knob_sm.png   32 x 32   slider handle, and the lit mark of a toggle that is on
//   bg.png       450 x 620  main page background
//   conf.png     440 x 270  configuration page, shown at (5, 57) over the main page's sliders
// The panel code draws knobs, value texts, meter bars, read-outs and the gating bar on top of these, so the
// coordinates below follow the positions that code uses. Output depends only on this file, Cairo and the
// Liberation fonts, so a rebuild reproduces the same bytes.

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Colour {
    double r, g, b, a;
};

constexpr Colour Rgb(std::uint32_t rgb, double alpha = 1.0) {
    return {((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0, (rgb & 0xff) / 255.0, alpha};
}

// One dark ground, one accent, greys for text and structure.
constexpr Colour kGround = Rgb(0x17191d);
constexpr Colour kHeader = Rgb(0x0f1114);
constexpr Colour kPage = Rgb(0x1d2025);
constexpr Colour kPageEdge = Rgb(0x353b43);
constexpr Colour kRule = Rgb(0x272b31);
constexpr Colour kWell = Rgb(0x0a0b0d);
constexpr Colour kWellEdge = Rgb(0x30353c);
constexpr Colour kWellLip = Rgb(0x24282e);
constexpr Colour kGrid = Rgb(0x1b1e23);
constexpr Colour kTick = Rgb(0x4a515a);
constexpr Colour kTitle = Rgb(0xeef0f2);
constexpr Colour kLabel = Rgb(0xb3bac2);
constexpr Colour kCaption = Rgb(0x7b838c);
constexpr Colour kAccent = Rgb(0x3cc4d4);

constexpr const char* kFamily = "Liberation Sans";

// Slider geometry shared by both pages: a 250-pixel track whose 32-pixel knob has its left edge at
// X + 1 + position, position 0 to 216, so the knob's centre runs from X + 17 to X + 233 on the line Y + 10.
constexpr int kSliderW = 250;
constexpr int kKnobSize = 32;
constexpr int kKnobTravel = kSliderW - kKnobSize - 2;
constexpr int kKnobFirstCentre = 1 + kKnobSize / 2;
constexpr int kTrackCentreY = 10;

// The effect's own coordinates on the 450 x 620 editor.
constexpr int kEditorW = 450;
constexpr int kEditorH = 620;
constexpr int kMainSliderX = 90;
constexpr std::array kMainSliderY{90, 140, 190, 240, 290};
constexpr std::array kMainLabels{"Input Trim", "Target", "Noise Floor", "Gate Speed", "Output Trim"};
constexpr int kToggleY = 330;
constexpr std::array kToggleX{46, 184, 312};
constexpr std::array kToggleLabels{"Automatic Trim", "Automatic Threshold", "Config"};
constexpr std::array kMeterRowY{400, 420, 440};
constexpr std::array kMeterLabels{"Fast", "Medium", "Slow"};
constexpr int kMeterLeft = 50;    // -20 dB
constexpr int kMeterRight = 400;  // +20 dB
constexpr int kMeterCentre = 225; // 0 dB, the centre mark's column
constexpr double kMeterPixelsPerDb = 175.0 / 20.0;
constexpr int kReadoutTop = 514; // text box 514..536, caps centred near y 524
constexpr std::array kReadoutCentreX{165, 286};
constexpr std::array kReadoutCaptions{"LOUDNESS", "TO TARGET"};
constexpr int kGateLeft = 175; // fill runs from x 276 leftward, rows 577..585
constexpr int kGateRight = 276;
constexpr int kGateTop = 577;
constexpr int kGateBottom = 586;

// Configuration page: drawn at (5, 57); its sliders sit at X 111 and Y 62 + 40 n on the editor.
constexpr int kPageX = 5;
constexpr int kPageY = 57;
constexpr int kPageW = 440;
constexpr int kPageH = 270;
constexpr int kConfigSliderX = 111 - kPageX;
constexpr int kConfigFirstY = 62 - kPageY;
constexpr int kConfigRowStep = 40;
constexpr std::array kConfigLabels{"Fast Attenuation", "Fast Gain", "Med Attenuation", "Med Gain",
                                   "Slow Attenuation", "Slow Gain", "HPF Amount"};

class Canvas {
public:
    Canvas(int width, int height)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
          cr_(cairo_create(surface_)) {
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
        cairo_set_font_options(cr_, options);
        cairo_font_options_destroy(options);
    }
    ~Canvas() {
        cairo_destroy(cr_);
        cairo_surface_destroy(surface_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    cairo_t* cr() const { return cr_; }
    cairo_surface_t* surface() const { return surface_; }

private:
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

void SetColour(cairo_t* cr, Colour c) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

// Whole-pixel rectangles keep every edge crisp.
void FillRect(cairo_t* cr, int x, int y, int w, int h, Colour c) {
    SetColour(cr, c);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

// A one-pixel outline lying just inside the rectangle.
void Outline(cairo_t* cr, int x, int y, int w, int h, Colour c) {
    FillRect(cr, x, y, w, 1, c);
    FillRect(cr, x, y + h - 1, w, 1, c);
    FillRect(cr, x, y + 1, 1, h - 2, c);
    FillRect(cr, x + w - 1, y + 1, 1, h - 2, c);
}

void RoundedPath(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

// Filled box with a one-pixel border whose straight runs fall exactly on pixel rows and columns.
void RoundedBox(cairo_t* cr, int x, int y, int w, int h, double radius, Colour fill, Colour edge) {
    RoundedPath(cr, x + 0.5, y + 0.5, w - 1, h - 1, radius);
    SetColour(cr, fill);
    cairo_fill_preserve(cr);
    SetColour(cr, edge);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
}

struct Font {
    double size;
    bool bold;
    double tracking; // extra pixels after each character, for spaced capitals
};

constexpr Font kTitleFont{25, true, 0};
constexpr Font kLabelFont{12, false, 0};
constexpr Font kCaptionFont{9, true, 1.2};
constexpr Font kScaleFont{9, false, 0};
constexpr Font kRowFont{10, false, 0};

enum class Align { Left, Centre, Right };

void UseFont(cairo_t* cr, const Font& font) {
    cairo_select_font_face(cr, kFamily, CAIRO_FONT_SLANT_NORMAL,
                           font.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, font.size);
}

double Advance(cairo_t* cr, const std::string& text) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    return extents.x_advance;
}

double TextWidth(cairo_t* cr, const Font& font, const std::string& text) {
    UseFont(cr, font);
    if (font.tracking == 0) return Advance(cr, text);
    double width = 0;
    for (char c : text) width += Advance(cr, std::string(1, c)) + font.tracking;
    return width - font.tracking;
}

// Baselines and start points are rounded to whole pixels so hinted glyphs stay sharp.
void DrawText(cairo_t* cr, const Font& font, const std::string& text, double x, int baseline, Align align,
              Colour colour) {
    const double width = TextWidth(cr, font, text);
    if (align == Align::Centre) x -= width / 2;
    if (align == Align::Right) x -= width;
    x = std::round(x);
    SetColour(cr, colour);
    if (font.tracking == 0) {
        cairo_move_to(cr, x, baseline);
        cairo_show_text(cr, text.c_str());
        return;
    }
    for (char c : text) {
        const std::string glyph(1, c);
        cairo_move_to(cr, x, baseline);
        cairo_show_text(cr, glyph.c_str());
        x += Advance(cr, glyph) + font.tracking;
    }
}

// ---------------------------------------------------------------------------------------------------------
// Knob: a grey cap with a soft shadow and an accent dot at its centre. The dot marks the value on a slider
// and reads as a lit lamp when the knob fills a toggle's well.

void DrawKnob(cairo_t* cr) {
    const double c = kKnobSize / 2.0;

    cairo_pattern_t* shadow = cairo_pattern_create_radial(c, c + 1, 11, c, c + 1, 16);
    cairo_pattern_add_color_stop_rgba(shadow, 0, 0, 0, 0, 0.6);
    cairo_pattern_add_color_stop_rgba(shadow, 1, 0, 0, 0, 0);
    cairo_set_source(cr, shadow);
    cairo_arc(cr, c, c + 1, 16, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(shadow);

    cairo_pattern_t* rim = cairo_pattern_create_linear(0, c - 13, 0, c + 13);
    cairo_pattern_add_color_stop_rgb(rim, 0, 0.86, 0.88, 0.90);
    cairo_pattern_add_color_stop_rgb(rim, 1, 0.40, 0.43, 0.46);
    cairo_set_source(cr, rim);
    cairo_arc(cr, c, c, 13, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(rim);

    cairo_pattern_t* face = cairo_pattern_create_linear(0, c - 11, 0, c + 11);
    cairo_pattern_add_color_stop_rgb(face, 0, 0.58, 0.61, 0.65);
    cairo_pattern_add_color_stop_rgb(face, 1, 0.76, 0.79, 0.82);
    cairo_set_source(cr, face);
    cairo_arc(cr, c, c, 11, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(face);

    SetColour(cr, Rgb(0x23272c));
    cairo_set_line_width(cr, 1.0);
    cairo_arc(cr, c, c, 12.5, 0, 2 * M_PI);
    cairo_stroke(cr);

    cairo_pattern_t* glow = cairo_pattern_create_radial(c, c, 2, c, c, 6);
    cairo_pattern_add_color_stop_rgba(glow, 0, kAccent.r, kAccent.g, kAccent.b, 0.45);
    cairo_pattern_add_color_stop_rgba(glow, 1, kAccent.r, kAccent.g, kAccent.b, 0);
    cairo_set_source(cr, glow);
    cairo_arc(cr, c, c, 6, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(glow);

    SetColour(cr, kAccent);
    cairo_arc(cr, c, c, 2.5, 0, 2 * M_PI);
    cairo_fill(cr);
}

// ---------------------------------------------------------------------------------------------------------
// Slider rows, drawn in the coordinates of the picture that holds them.

void DrawSliderRow(cairo_t* cr, int x, int y, const char* label, int labelRight) {
    const int line = y + kTrackCentreY;
    const int first = x + kKnobFirstCentre;
    const int last = first + kKnobTravel;

    // Groove four pixels high centred on the knob's centre line, just past both ends of the knob's path.
    FillRect(cr, first - 4, line - 2, last - first + 8, 4, kWell);
    FillRect(cr, first - 4, line + 2, last - first + 8, 1, kWellLip);

    // Quarter marks below the groove; the middle one a little longer.
    for (int quarter = 0; quarter <= 4; ++quarter) {
        const int tickX = first + kKnobTravel * quarter / 4;
        FillRect(cr, tickX, line + 6, 1, quarter == 2 ? 5 : 3, kTick);
    }

    DrawText(cr, kLabelFont, label, labelRight, line + 4, Align::Right, kLabel);
}

// ---------------------------------------------------------------------------------------------------------
// Toggle wells: a recessed round hole with a dark lamp, lit when the effect draws the knob into it.

void DrawWell(cairo_t* cr, int x, int y, const char* label) {
    const double cx = x + kKnobSize / 2.0;
    const double cy = y + kKnobSize / 2.0;

    SetColour(cr, kWellEdge);
    cairo_arc(cr, cx, cy, 15.5, 0, 2 * M_PI);
    cairo_fill(cr);

    cairo_pattern_t* hole = cairo_pattern_create_linear(0, cy - 14, 0, cy + 14);
    cairo_pattern_add_color_stop_rgb(hole, 0, 0.02, 0.02, 0.03);
    cairo_pattern_add_color_stop_rgb(hole, 1, 0.07, 0.08, 0.09);
    cairo_set_source(cr, hole);
    cairo_arc(cr, cx, cy, 14.5, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(hole);

    SetColour(cr, Rgb(0x2c3238));
    cairo_arc(cr, cx, cy, 2.5, 0, 2 * M_PI);
    cairo_fill(cr);

    DrawText(cr, kLabelFont, label, cx, y + kKnobSize + 15, Align::Centre, kLabel);
}

// ---------------------------------------------------------------------------------------------------------
// Dynamics meter: three troughs 350 pixels wide. Each row at y has its bar on rows y + 2 .. y + 7 and the
// effect's centre mark in column 225 from y to y + 9, so the trough's border lies on rows y and y + 9.

int MeterColumn(int db) {
    const int column = kMeterCentre + static_cast<int>(std::floor(db * kMeterPixelsPerDb));
    return std::min(column, kMeterRight - 1);
}

void DrawMeter(cairo_t* cr) {
    constexpr std::array kScaleDb{-20, -15, -10, -5, 0, 5, 10, 15, 20};
    for (std::size_t row = 0; row < kMeterRowY.size(); ++row) {
        const int y = kMeterRowY[row];
        FillRect(cr, kMeterLeft - 1, y, kMeterRight - kMeterLeft + 2, 10, kWellEdge);
        FillRect(cr, kMeterLeft, y + 1, kMeterRight - kMeterLeft, 8, kWell);
        for (int db : kScaleDb) {
            if (db == -20 || db == 20) continue;
            FillRect(cr, MeterColumn(db), y + 1, 1, 8, kGrid);
        }
        DrawText(cr, kRowFont, kMeterLabels[row], kMeterLeft - 7, y + 9, Align::Right, kLabel);
    }

    const int scaleTop = kMeterRowY.back() + 11;
    for (int db = -20; db <= 20; ++db) {
        const bool major = db % 5 == 0;
        FillRect(cr, MeterColumn(db), scaleTop, 1, major ? 4 : 2, major ? kCaption : kTick);
    }
    for (int db : kScaleDb) {
        const std::string text = db > 0 ? "+" + std::to_string(db) : std::to_string(db);
        DrawText(cr, kScaleFont, text, MeterColumn(db) + 0.5, scaleTop + 13, Align::Centre, kCaption);
    }
    DrawText(cr, kScaleFont, "dB", kMeterRight + 14, scaleTop + 13, Align::Left, kCaption);
}

// ---------------------------------------------------------------------------------------------------------
// Read-out boxes around the effect's bold 17-pixel texts, and the gating bar's well.

void DrawReadouts(cairo_t* cr) {
    constexpr int kBoxW = 110;
    constexpr int kBoxTop = kReadoutTop - 6;
    constexpr int kBoxH = 32;
    for (std::size_t i = 0; i < kReadoutCentreX.size(); ++i) {
        const int left = kReadoutCentreX[i] - kBoxW / 2;
        RoundedBox(cr, left, kBoxTop, kBoxW, kBoxH, 3, kWell, kWellEdge);
        DrawText(cr, kCaptionFont, kReadoutCaptions[i], kReadoutCentreX[i] + 0.5, kBoxTop - 6, Align::Centre,
                 kCaption);
    }
}

void DrawGateWell(cairo_t* cr) {
    Outline(cr, kGateLeft - 1, kGateTop - 1, kGateRight - kGateLeft + 2, kGateBottom - kGateTop + 2,
            kWellEdge);
    FillRect(cr, kGateLeft, kGateTop, kGateRight - kGateLeft, kGateBottom - kGateTop, kWell);
    DrawText(cr, kCaptionFont, "GATE", kGateLeft - 9, kGateBottom - 1, Align::Right, kCaption);
}

// ---------------------------------------------------------------------------------------------------------
// Header: product name, maker, and a strip of level bars that start uneven and end level.

constexpr int kHeaderH = 52;

void DrawHeader(cairo_t* cr) {
    FillRect(cr, 0, 0, kEditorW, kHeaderH, kHeader);
    FillRect(cr, 0, kHeaderH, kEditorW, 1, kRule);

    const int baseline = 35;
    DrawText(cr, kTitleFont, "Vandrel", 18, baseline, Align::Left, kTitle);
    const double nameW = TextWidth(cr, kTitleFont, "Vandrel ");
    DrawText(cr, kTitleFont, "2", 18 + nameW, baseline, Align::Left, kAccent);
    DrawText(cr, kCaptionFont, "QUELLORY", kEditorW - 18, baseline - 10, Align::Right, kLabel);
    DrawText(cr, kCaptionFont, "LOUDNESS LEVELER", kEditorW - 18, baseline, Align::Right, kCaption);

    // Bars every third column, symmetric about the header's middle row; heights from a fixed sum of sines
    // blend towards one steady height across the strip.
    constexpr int kStripLeft = 172;
    constexpr int kStripRight = 292;
    constexpr int kMiddle = 26;
    for (int x = kStripLeft; x <= kStripRight; x += 3) {
        const double t = static_cast<double>(x - kStripLeft) / (kStripRight - kStripLeft);
        const double wild = 9 + 5 * std::sin(x * 0.23) + 3 * std::sin(x * 0.071 + 1.3);
        const double level = 5;
        const double blend = t * t * (3 - 2 * t);
        const int half = static_cast<int>(std::lround(wild + (level - wild) * blend));
        FillRect(cr, x, kMiddle - half, 1, 2 * half, Colour{kAccent.r, kAccent.g, kAccent.b, 0.25 + 0.5 * t});
    }
}

// ---------------------------------------------------------------------------------------------------------

void DrawBackground(cairo_t* cr) {
    FillRect(cr, 0, 0, kEditorW, kEditorH, kGround);
    DrawHeader(cr);
    for (std::size_t i = 0; i < kMainSliderY.size(); ++i)
        DrawSliderRow(cr, kMainSliderX, kMainSliderY[i], kMainLabels[i], kMainSliderX - 9);
    for (std::size_t i = 0; i < kToggleX.size(); ++i) DrawWell(cr, kToggleX[i], kToggleY, kToggleLabels[i]);
    DrawMeter(cr);
    DrawReadouts(cr);
    DrawGateWell(cr);
    // Rules between the meter, the read-outs and the gate.
    for (int y : {479, 557}) FillRect(cr, 18, y, kEditorW - 36, 1, kRule);
}

void DrawConfigPage(cairo_t* cr) {
    RoundedBox(cr, 0, 0, kPageW, kPageH, 6, kPage, kPageEdge);
    // Rules after each pair (fast, medium, slow), midway between the centre lines of the rows around them.
    for (int row : {1, 3, 5}) {
        const int y = kConfigFirstY + row * kConfigRowStep + kTrackCentreY + kConfigRowStep / 2;
        FillRect(cr, 12, y, kPageW - 24, 1, kRule);
    }
    for (std::size_t i = 0; i < kConfigLabels.size(); ++i)
        DrawSliderRow(cr, kConfigSliderX, kConfigFirstY + static_cast<int>(i) * kConfigRowStep,
                      kConfigLabels[i], kConfigSliderX - 8);
}

// Cairo keeps premultiplied pixels in native byte order; PNG wants straight R, G, B, A bytes.
std::vector<std::uint8_t> StraightRgba(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = row[x];
            const std::uint32_t a = p >> 24;
            std::uint8_t* o = &out[(static_cast<std::size_t>(y) * width + x) * 4];
            for (int channel = 0; channel < 3; ++channel) {
                const std::uint32_t c = (p >> (16 - 8 * channel)) & 0xff;
                o[channel] = a == 0 ? 0 : static_cast<std::uint8_t>((c * 255 + a / 2) / a);
            }
            o[3] = static_cast<std::uint8_t>(a);
        }
    }
    return out;
}

// libpng rather than cairo_surface_write_to_png: Cairo stores an opaque picture as RGB, and the loader
// expects RGBA for every picture.
bool WritePng(cairo_surface_t* surface, const std::string& path) {
    std::vector<std::uint8_t> pixels = StraightRgba(surface);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(cairo_image_surface_get_width(surface));
    image.height = static_cast<png_uint_32>(cairo_image_surface_get_height(surface));
    image.format = PNG_FORMAT_RGBA;
    const int ok = png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr);
    if (!ok) std::fprintf(stderr, "make_artwork: cannot write %s: %s\n", path.c_str(), image.message);
    png_image_free(&image);
    return ok != 0;
}

// Fontconfig silently substitutes a missing family; the artwork must not change with whatever else is
// installed, so insist on the real one.
bool HaveFamily(const char* family) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    bool found = false;
    FcChar8* matched = nullptr;
    if (match && FcPatternGetString(match, FC_FAMILY, 0, &matched) == FcResultMatch)
        found = std::string(reinterpret_cast<const char*>(matched)) == family;
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return found;
}

template <typename Draw> bool Render(int width, int height, Draw draw, const std::string& path) {
    Canvas canvas(width, height);
    draw(canvas.cr());
    if (cairo_status(canvas.cr()) != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "make_artwork: drawing %s failed: %s\n", path.c_str(),
                     cairo_status_to_string(cairo_status(canvas.cr())));
        return false;
    }
    return WritePng(canvas.surface(), path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_artwork <output folder>\n");
        return 2;
    }
    if (!HaveFamily(kFamily)) {
        std::fprintf(stderr, "make_artwork: font family \"%s\" not found (install fonts-liberation)\n",
                     kFamily);
        return 1;
    }
    const std::string folder = argv[1];
    const bool ok = Render(kKnobSize, kKnobSize, DrawKnob, folder + "/knob_sm.png") &&
                    Render(kEditorW, kEditorH, DrawBackground, folder + "/bg.png") &&
                    Render(kPageW, kPageH, DrawConfigPage, folder + "/conf.png");
    return ok ? 0 : 1;
}
