// Decoded PNG images.
#pragma once

#include "toolkit/base.h"

#include <cstddef>
#include <memory>

namespace VSTGUI {

// A decoded image. A failed decode leaves an empty bitmap: isLoaded() false, size 0 x 0.
class CBitmap : public CBaseObject {
public:
    // Decodes PNG bytes (the bytes are not kept).
    CBitmap(const void* pngData, size_t size);
    // Decodes a PNG file; the path is UTF-8.
    explicit CBitmap(const char* pngPath);
    ~CBitmap() override;

    bool isLoaded() const { return pixels != nullptr; }
    int getWidth() const { return width; }
    int getHeight() const { return height; }
    // The decoded image in the backend's form, known only inside the toolkit; null when empty.
    struct Pixels;
    const Pixels* getPixels() const { return pixels.get(); }

private:
    void adopt(std::unique_ptr<Pixels> decoded);

    std::unique_ptr<Pixels> pixels;
    int width = 0;
    int height = 0;
};

} // namespace VSTGUI
