// Drawing for one paint: rectangles, one-line text and images, with per-context colours and font. The
// backend (Cairo under X11, GDI+ on Windows) stays inside the toolkit.
#pragma once

#include "toolkit/base.h"
#include "toolkit/bitmap.h"
#include "toolkit/font.h"
#include "toolkit/geometry.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace VSTGUI {

enum CHoriTxtAlign { kLeftText = 0, kCenterText = 1, kRightText = 2 };

// Draw mode that antialiases shapes; every other mode draws them aliased.
constexpr int kAntiAliasingDrawMode = 3;

// Drawing state for one paint: fill colour, font colour, draw mode and current font all start afresh with
// each context. Coordinates are pixels of the underlying surface; non-finite coordinates draw nothing.
class CDrawContext {
public:
    // The backend's drawing target and text state, known only inside the toolkit.
    struct Backend;
    explicit CDrawContext(std::unique_ptr<Backend> backend);
    CDrawContext(const CDrawContext&) = delete;
    CDrawContext& operator=(const CDrawContext&) = delete;
    virtual ~CDrawContext();

    void setDrawMode(int mode) { drawMode = mode; }
    int getDrawMode() const { return drawMode; }
    void setFillColor(const CColor& color) { fillColor = color; }
    const CColor& getFillColor() const { return fillColor; }
    void setFontColor(const CColor& color) { fontColor = color; }
    const CColor& getFontColor() const { return fontColor; }

    // Fills from the smaller to the larger x and y with the fill colour, exactly as given (no rounding).
    void fillRect(const CRect& rect);

    // Selects `font` at `pixelSize` (at least 1) with style bits CTxtFace; null deselects.
    void setFont(CFontDesc* font, int pixelSize, int styleBits);
    CFontDesc* getFont() const { return font.get(); }
    int getFontSize() const { return fontSize; }
    CFontStyle getFontStyle() const { return fontStyle; }
    // Ascent plus descent of the current font; 0 without a font.
    double getFontLineHeight() const;
    // Advance width of the UTF-8 text in the current font; -1 without a font, 0 for null text.
    double getStringWidth(const char* utf8);
    // One line in the font colour, antialiased, clipped to `rect`. Starts at the left edge, centred or
    // right-aligned by the advance width; the line box (ascent + descent high) ends at the rectangle's
    // vertical middle plus half the font size. Invalid UTF-8 bytes show as U+FFFD.
    void drawString(const char* utf8, const CRect& rect, int align = kLeftText);

    // Copies the bitmap region starting at `source` with the rectangle's size to the rectangle, one image
    // pixel per pixel, alpha honoured; all coordinates truncated to whole pixels. False for an empty bitmap.
    bool drawBitmap(CBitmap* bitmap, const CRect& rect, const CPoint& source);

protected:
    std::unique_ptr<Backend> backend;

private:
    // Records the selection and returns the face the backend makes its font from; null for none.
    CFontDesc::Face* selectFace(CFontDesc* newFont, int pixelSize, int styleBits) {
        font = SharedPointer<CFontDesc>(newFont, SharedPointer<CFontDesc>::kRemember);
        fontSize = std::max(pixelSize, 1);
        fontStyle = platformFontStyle(styleBits);
        return newFont ? newFont->getFace(fontStyle) : nullptr;
    }

    int drawMode = 0;
    CColor fillColor{0, 0, 0, 255};
    CColor fontColor{0, 0, 0, 255};
    SharedPointer<CFontDesc> font;
    int fontSize = 0;
    CFontStyle fontStyle = CFontStyle::kRegular;
};

// A context over its own 32-bit RGBA image, initially transparent black: headless rendering and tests.
class COffscreenContext : public CDrawContext {
public:
    COffscreenContext(int width, int height);

    int getWidth() const;
    int getHeight() const;
    // Colour of one pixel, not premultiplied; transparent black outside the image.
    CColor getPixel(int x, int y) const;
    // The path is UTF-8.
    bool writePNG(const char* path) const;
    std::vector<uint8_t> encodePNG() const;
};

} // namespace VSTGUI
