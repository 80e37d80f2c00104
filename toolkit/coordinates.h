// Coordinate checks shared by the drawing backends; included only by toolkit sources.
#pragma once

#include "toolkit/geometry.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace VSTGUI {

inline bool finite(const CRect& r) {
    return std::isfinite(r.left) && std::isfinite(r.top) && std::isfinite(r.right) && std::isfinite(r.bottom);
}

// The backends' fixed-point coordinates overflow near 2^23; nothing visible lies that far out.
inline double limited(double v) {
    return std::clamp(v, -1.0e6, 1.0e6);
}

inline CRect limited(const CRect& r) {
    return {limited(r.left), limited(r.top), limited(r.right), limited(r.bottom)};
}

inline int truncated(double v) {
    return static_cast<int>(std::trunc(limited(v)));
}

// Where a bitmap lands: the whole pixels of the target rectangle, and the image's top-left corner placed
// so that the source point falls on the rectangle's corner. None when nothing would be drawn.
struct BitmapPlacement {
    int left, top, width, height;
    int originX, originY;
};

inline std::optional<BitmapPlacement> placeBitmap(const CRect& rect, const CPoint& source) {
    if (!finite(rect) || !std::isfinite(source.x) || !std::isfinite(source.y)) return std::nullopt;
    const int left = truncated(rect.left), top = truncated(rect.top);
    const int width = truncated(rect.right) - left, height = truncated(rect.bottom) - top;
    if (width <= 0 || height <= 0) return std::nullopt;
    return BitmapPlacement{left, top, width, height, left - truncated(source.x), top - truncated(source.y)};
}

} // namespace VSTGUI
