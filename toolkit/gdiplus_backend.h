// What the GDI+ backend keeps behind the toolkit's drawing classes; included only by toolkit sources on
// Windows.
#pragma once

#include "toolkit/bitmap.h"
#include "toolkit/drawcontext.h"
#include "toolkit/font.h"

#include <memory>
#include <string>
#include <windows.h>
// Lean windows.h leaves out the COM declarations GDI+ needs.
#include <objidl.h>
// GDI+'s headers use min and max, which NOMINMAX keeps out of windows.h.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
} // namespace Gdiplus
#include <gdiplus.h>

namespace VSTGUI {

// GDI+ is started when the first object that needs it is made and shut down after the last one goes (never
// from DllMain, where neither is allowed). Every holder of GDI+ objects keeps one of these first.
class GdiplusSession {
public:
    GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    ~GdiplusSession();
};

// UTF-8 to UTF-16; ill-formed bytes become U+FFFD.
std::wstring Utf8ToWide(const char* utf8);

struct CDrawContext::Backend {
    // Draws on `graphics`, which the backend owns.
    explicit Backend(std::unique_ptr<Gdiplus::Graphics> graphics);
    ~Backend();

    GdiplusSession session;
    std::unique_ptr<Gdiplus::Graphics> graphics;
    std::unique_ptr<Gdiplus::Bitmap> image; // the pixels of an off-screen context, null otherwise
    std::unique_ptr<Gdiplus::Font> font;    // the current font at its size, null without one
    double ascent = 0, descent = 0;         // of the current font, in pixels
};

struct CBitmap::Pixels {
    GdiplusSession session;
    std::unique_ptr<Gdiplus::Bitmap> bitmap; // 32-bit ARGB, independent of the bytes it came from
};

struct CFontDesc::Face {
    GdiplusSession session;
    std::unique_ptr<Gdiplus::FontFamily> family;
    INT style = Gdiplus::FontStyleRegular;
};

} // namespace VSTGUI
