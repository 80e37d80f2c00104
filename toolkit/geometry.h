// Colours, points and rectangles in frame pixels (origin top-left, y downward).
#pragma once

#include <algorithm>
#include <cstdint>

namespace VSTGUI {

struct CColor {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 255; // 255 is opaque

    friend bool operator==(const CColor&, const CColor&) = default;
};

struct CPoint {
    double x = 0.0;
    double y = 0.0;

    friend bool operator==(const CPoint&, const CPoint&) = default;
};

struct CRect {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;

    double getWidth() const { return right - left; }
    double getHeight() const { return bottom - top; }
    // Same area with left <= right and top <= bottom.
    CRect normalized() const {
        return {std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
    }
    // Left and top edges inside, right and bottom outside, as for pixels.
    bool pointInside(const CPoint& p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }

    friend bool operator==(const CRect&, const CRect&) = default;
};

} // namespace VSTGUI
