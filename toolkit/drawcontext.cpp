#include "toolkit/drawcontext.h"

#include "toolkit/cairo_backend.h"
#include "toolkit/coordinates.h"

#include <algorithm>
#include <cairo-ft.h>
#include <cairo.h>
#include <cmath>
#include <string>

namespace VSTGUI {

namespace {

void setSource(cairo_t* cr, const CColor& c) {
    cairo_set_source_rgba(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0);
}

// Cairo puts a context or scaled font into a permanent error state on invalid UTF-8, which would end all
// further drawing of the paint, so every ill-formed sequence becomes U+FFFD first.
std::string validUtf8(const char* text) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        const unsigned lead = s[0];
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++s;
            continue;
        }
        // Trailing byte count, payload bits of the lead byte, smallest code point not overlong.
        int trail = 0;
        unsigned code = 0, minimum = 0;
        if ((lead & 0xE0) == 0xC0) {
            trail = 1;
            code = lead & 0x1F;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            trail = 2;
            code = lead & 0x0F;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            trail = 3;
            code = lead & 0x07;
            minimum = 0x10000;
        }
        int i = 1;
        while (trail && i <= trail && (s[i] & 0xC0) == 0x80) code = (code << 6) | (s[i++] & 0x3F);
        const bool valid = trail && i > trail && code >= minimum && code <= 0x10FFFF &&
                           (code & 0xFFFFF800) != 0xD800 && (code < 0xFDD0 || code > 0xFDEF) &&
                           (code & 0xFFFE) != 0xFFFE;
        if (valid) {
            out.append(reinterpret_cast<const char*>(s), trail + 1);
            s += trail + 1;
        } else {
            out += kReplacement;
            ++s;
        }
    }
    return out;
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::vector<uint8_t>*>(closure)->insert(static_cast<std::vector<uint8_t>*>(closure)->end(),
                                                        data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

CDrawContext::Backend::~Backend() {
    if (scaledFont) cairo_scaled_font_destroy(scaledFont);
    cairo_destroy(cairo);
}

CDrawContext::CDrawContext(std::unique_ptr<Backend> backend) : backend(std::move(backend)) {}

CDrawContext::~CDrawContext() = default;

void CDrawContext::fillRect(const CRect& rect) {
    if (!finite(rect)) return;
    const CRect r = limited(rect).normalized();
    cairo_t* const cairo = backend->cairo;
    cairo_save(cairo);
    cairo_set_antialias(cairo,
                        drawMode == kAntiAliasingDrawMode ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    cairo_rectangle(cairo, r.left, r.top, r.getWidth(), r.getHeight());
    setSource(cairo, fillColor);
    cairo_fill(cairo);
    cairo_restore(cairo);
}

void CDrawContext::setFont(CFontDesc* newFont, int pixelSize, int styleBits) {
    cairo_scaled_font_t*& scaledFont = backend->scaledFont;
    if (scaledFont) cairo_scaled_font_destroy(scaledFont);
    scaledFont = nullptr;
    CFontDesc::Face* face = selectFace(newFont, pixelSize, styleBits);
    if (!face) return;

    cairo_matrix_t size, identity;
    cairo_matrix_init_scale(&size, fontSize, fontSize);
    cairo_matrix_init_identity(&identity);
    // Unhinted advances keep widths proportional to the size; text is always greyscale antialiased.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    scaledFont = cairo_scaled_font_create(face->face, &size, &identity, options);
    cairo_font_options_destroy(options);
    if (cairo_scaled_font_status(scaledFont) != CAIRO_STATUS_SUCCESS) {
        cairo_scaled_font_destroy(scaledFont);
        scaledFont = nullptr;
    }
}

double CDrawContext::getFontLineHeight() const {
    cairo_scaled_font_t* const scaledFont = backend->scaledFont;
    if (!scaledFont) return 0.0;
    cairo_font_extents_t extents;
    cairo_scaled_font_extents(scaledFont, &extents);
    return extents.ascent + extents.descent;
}

double CDrawContext::getStringWidth(const char* utf8) {
    cairo_scaled_font_t* const scaledFont = backend->scaledFont;
    if (!font) return -1.0;
    if (!utf8 || !scaledFont) return 0.0;
    cairo_text_extents_t extents;
    cairo_scaled_font_text_extents(scaledFont, validUtf8(utf8).c_str(), &extents);
    return extents.x_advance;
}

void CDrawContext::drawString(const char* utf8, const CRect& rect, int align) {
    cairo_t* const cairo = backend->cairo;
    cairo_scaled_font_t* const scaledFont = backend->scaledFont;
    if (!utf8 || !scaledFont || !finite(rect)) return;
    const std::string text = validUtf8(utf8);
    const CRect r = limited(rect);
    cairo_text_extents_t measured;
    cairo_font_extents_t extents;
    cairo_scaled_font_text_extents(scaledFont, text.c_str(), &measured);
    cairo_scaled_font_extents(scaledFont, &extents);
    const double width = measured.x_advance;

    double x = r.left;
    if (align == kCenterText)
        x = r.left + r.getWidth() / 2 - width / 2;
    else if (align == kRightText)
        x = r.right - width;
    const double baseline = (r.top + r.bottom) / 2 + fontSize / 2.0 - extents.descent;

    cairo_save(cairo);
    const CRect clip = r.normalized();
    cairo_rectangle(cairo, clip.left, clip.top, clip.getWidth(), clip.getHeight());
    cairo_clip(cairo);
    setSource(cairo, fontColor);
    cairo_set_scaled_font(cairo, scaledFont);
    cairo_move_to(cairo, x, baseline);
    cairo_show_text(cairo, text.c_str());
    if (fontStyle == CFontStyle::kUnderline) {
        // Position and thickness from the font's own underline metrics (font units, negative = below).
        double offset = extents.descent / 2, thickness = 1.0;
        if (FT_Face face = cairo_ft_scaled_font_lock_face(scaledFont)) {
            if (face->units_per_EM > 0) {
                const double scale = double(fontSize) / face->units_per_EM;
                offset = -face->underline_position * scale;
                thickness = std::max(1.0, face->underline_thickness * scale);
            }
            cairo_ft_scaled_font_unlock_face(scaledFont);
        }
        cairo_new_path(cairo);
        cairo_rectangle(cairo, x, baseline + offset - thickness / 2, width, thickness);
        cairo_fill(cairo);
    }
    cairo_restore(cairo);
}

bool CDrawContext::drawBitmap(CBitmap* bitmap, const CRect& rect, const CPoint& source) {
    if (!bitmap || !bitmap->getPixels()) return false;
    const std::optional<BitmapPlacement> at = placeBitmap(rect, source);
    if (!at) return true;
    cairo_t* const cairo = backend->cairo;
    cairo_save(cairo);
    cairo_set_antialias(cairo, CAIRO_ANTIALIAS_NONE);
    cairo_rectangle(cairo, at->left, at->top, at->width, at->height);
    cairo_clip(cairo);
    cairo_set_source_surface(cairo, bitmap->getPixels()->surface, at->originX, at->originY);
    cairo_pattern_set_filter(cairo_get_source(cairo), CAIRO_FILTER_NEAREST);
    cairo_paint(cairo);
    cairo_restore(cairo);
    return true;
}

namespace {

std::unique_ptr<CDrawContext::Backend> newImageContext(int width, int height) {
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(width, 0), std::max(height, 0));
    cairo_t* cr = cairo_create(surface);
    cairo_surface_destroy(surface);
    return std::make_unique<CDrawContext::Backend>(cr);
}

} // namespace

COffscreenContext::COffscreenContext(int width, int height) : CDrawContext(newImageContext(width, height)) {}

int COffscreenContext::getWidth() const {
    return cairo_image_surface_get_width(cairo_get_target(backend->cairo));
}

int COffscreenContext::getHeight() const {
    return cairo_image_surface_get_height(cairo_get_target(backend->cairo));
}

CColor COffscreenContext::getPixel(int x, int y) const {
    cairo_surface_t* surface = cairo_get_target(backend->cairo);
    if (x < 0 || y < 0 || x >= getWidth() || y >= getHeight()) return {0, 0, 0, 0};
    cairo_surface_flush(surface);
    const unsigned char* row =
        cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    const uint32_t argb = reinterpret_cast<const uint32_t*>(row)[x];
    const unsigned a = argb >> 24;
    if (a == 0) return {0, 0, 0, 0};
    auto channel = [a](unsigned premultiplied) {
        return static_cast<uint8_t>((premultiplied * 255 + a / 2) / a);
    };
    return {channel((argb >> 16) & 0xFF), channel((argb >> 8) & 0xFF), channel(argb & 0xFF),
            static_cast<uint8_t>(a)};
}

bool COffscreenContext::writePNG(const char* path) const {
    return path && cairo_surface_write_to_png(cairo_get_target(backend->cairo), path) == CAIRO_STATUS_SUCCESS;
}

std::vector<uint8_t> COffscreenContext::encodePNG() const {
    std::vector<uint8_t> bytes;
    if (cairo_surface_write_to_png_stream(cairo_get_target(backend->cairo), appendBytes, &bytes) !=
        CAIRO_STATUS_SUCCESS)
        bytes.clear();
    return bytes;
}

} // namespace VSTGUI
