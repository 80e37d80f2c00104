// Decoded PNG images.
#pragma once

#include "toolkit/base.h"

#include <cstddef>

typedef struct _cairo_surface cairo_surface_t;

namespace VSTGUI {

// A decoded image. A failed decode leaves an empty bitmap: isLoaded() false, size 0 x 0.
class CBitmap : public CBaseObject {
public:
    // Decodes PNG bytes (the bytes are not kept).
    CBitmap(const void* pngData, size_t size);
    // Decodes a PNG file.
    explicit CBitmap(const char* pngPath);
    ~CBitmap() override;

    bool isLoaded() const { return surface != nullptr; }
    int getWidth() const { return width; }
    int getHeight() const { return height; }
    // The decoded pixels as a cairo image surface owned by the bitmap; null when empty.
    cairo_surface_t* getSurface() const { return surface; }

private:
    void adopt(cairo_surface_t* decoded);

    cairo_surface_t* surface = nullptr;
    int width = 0;
    int height = 0;
};

} // namespace VSTGUI
