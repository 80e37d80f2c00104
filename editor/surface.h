// The drawing surface the wrapper offers its effect: colours, rectangles, text, fonts and images on the
// draw context of the paint in progress. Outside a paint every call does nothing and answers 0.
#pragma once

#include "runtime/host_link.h"

#include <cstdint>
#include <string>
#include <vector>

namespace VSTGUI {
class CDrawContext;
class CFontDesc;
} // namespace VSTGUI

class TDrawingSurface {
public:
    TDrawingSurface() = default;
    TDrawingSurface(const TDrawingSurface&) = delete;
    TDrawingSurface& operator=(const TDrawingSurface&) = delete;
    ~TDrawingSurface();

    // Set by the view for exactly the duration of a paint.
    VSTGUI::CDrawContext* context = nullptr;
    // Font descriptions by face name; only grows, released with the wrapper.
    std::vector<VSTGUI::CFontDesc*> FontCache;

    bool SetDrawMode(int32_t mode);
    bool SetFillColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha);
    bool SetFontColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha);
    bool FillRect(double left, double top, double right, double bottom);
    bool DrawTextInRect(const char* text, double left, double top, double right, double bottom,
                        int32_t alignment);
    double GetTextWidth(const char* text);
    bool SelectFont(const std::string& face, int32_t size, int32_t style);
    bool DrawImageRect(TImageSlot* slot, double left, double top, double right, double bottom, double sourceX,
                       double sourceY);
};

// An image slot over the toolkit's bitmaps, loading the pictures compiled into the plug-in or PNG files.
TImageSlot* NewImageSlot();
