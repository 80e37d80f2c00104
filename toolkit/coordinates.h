// Coordinate checks shared by the drawing backends; included only by toolkit sources.
#pragma once

#include "toolkit/geometry.h"

#include <algorithm>
#include <cmath>

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

} // namespace VSTGUI
