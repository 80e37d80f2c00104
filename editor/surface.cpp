#include "editor/surface.h"

#include "toolkit/bitmap.h"
#include "toolkit/drawcontext.h"
#include "toolkit/font.h"
#include "toolkit/platform.h"

#include <strings.h>

using namespace VSTGUI;

TDrawingSurface::~TDrawingSurface() {
    for (CFontDesc* font : FontCache) font->forget();
}

bool TDrawingSurface::SetDrawMode(int32_t mode) {
    if (!context) return false;
    context->setDrawMode(mode);
    return true;
}

bool TDrawingSurface::SetFillColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    if (!context) return false;
    context->setFillColor({red, green, blue, alpha});
    return true;
}

bool TDrawingSurface::SetFontColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    if (!context) return false;
    context->setFontColor({red, green, blue, alpha});
    return true;
}

bool TDrawingSurface::FillRect(double left, double top, double right, double bottom) {
    if (!context) return false;
    context->fillRect(CRect{left, top, right, bottom}.normalized());
    return true;
}

bool TDrawingSurface::DrawTextInRect(const char* text, double left, double top, double right, double bottom,
                                     int32_t alignment) {
    if (!context) return false;
    if (text) context->drawString(text, {left, top, right, bottom}, alignment);
    return true;
}

double TDrawingSurface::GetTextWidth(const char* text) {
    if (!context) return 0;
    return context->getStringWidth(text);
}

bool TDrawingSurface::SelectFont(const std::string& face, int32_t size, int32_t style) {
    if (!context) return false;
    CFontDesc* font = nullptr;
    for (auto cached = FontCache.rbegin(); cached != FontCache.rend() && !font; ++cached)
        if (strcasecmp((*cached)->getName().c_str(), face.c_str()) == 0) font = *cached;
    if (!font) {
        font = new CFontDesc(face);
        FontCache.push_back(font);
    }
    context->setFont(font, size, style);
    return true;
}

namespace {

class BitmapSlot : public TImageSlot {
public:
    ~BitmapSlot() override { Release(); }

    bool LoadImageResource(int32_t number) override {
        Release();
        const std::span<const unsigned char> picture = EmbeddedPicture(number);
        if (picture.empty()) return false;
        return Keep(new CBitmap(picture.data(), picture.size()));
    }

    bool LoadImageFile(const std::string& path) override {
        Release();
        return Keep(new CBitmap(path.c_str()));
    }

    double ImageWidth() const override { return bitmap ? bitmap->getWidth() : 0; }
    double ImageHeight() const override { return bitmap ? bitmap->getHeight() : 0; }
    CBitmap* Bitmap() const { return bitmap; }

private:
    // Only an image wider and taller than 0 pixels counts as loaded.
    bool Keep(CBitmap* decoded) {
        if (decoded->isLoaded() && decoded->getWidth() > 0 && decoded->getHeight() > 0) {
            bitmap = decoded;
            return true;
        }
        decoded->forget();
        return false;
    }
    void Release() {
        if (bitmap) bitmap->forget();
        bitmap = nullptr;
    }

    CBitmap* bitmap = nullptr;
};

} // namespace

TImageSlot* NewImageSlot() {
    return new BitmapSlot;
}

bool TDrawingSurface::DrawImageRect(TImageSlot* slot, double left, double top, double right, double bottom,
                                    double sourceX, double sourceY) {
    auto* bitmapSlot = dynamic_cast<BitmapSlot*>(slot);
    if (!context || !bitmapSlot || !bitmapSlot->Bitmap()) return false;
    context->drawBitmap(bitmapSlot->Bitmap(), {left, top, right, bottom}, {sourceX, sourceY});
    return true;
}
