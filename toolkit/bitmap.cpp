#include "toolkit/bitmap.h"

#include "toolkit/cairo_backend.h"

#include <cairo.h>
#include <cstring>

namespace VSTGUI {

namespace {

struct ByteReader {
    const unsigned char* next;
    size_t left;
};

cairo_status_t readBytes(void* closure, unsigned char* data, unsigned int length) {
    auto* reader = static_cast<ByteReader*>(closure);
    if (length > reader->left) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, reader->next, length);
    reader->next += length;
    reader->left -= length;
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

CBitmap::CBitmap(const void* pngData, size_t size) {
    if (!pngData) return;
    ByteReader reader{static_cast<const unsigned char*>(pngData), size};
    adopt(std::make_unique<Pixels>(cairo_image_surface_create_from_png_stream(readBytes, &reader)));
}

CBitmap::CBitmap(const char* pngPath) {
    if (pngPath) adopt(std::make_unique<Pixels>(cairo_image_surface_create_from_png(pngPath)));
}

CBitmap::Pixels::~Pixels() {
    cairo_surface_destroy(surface);
}

CBitmap::~CBitmap() = default;

void CBitmap::adopt(std::unique_ptr<Pixels> decoded) {
    const int w = cairo_image_surface_get_width(decoded->surface);
    const int h = cairo_image_surface_get_height(decoded->surface);
    if (cairo_surface_status(decoded->surface) != CAIRO_STATUS_SUCCESS || w <= 0 || h <= 0) return;
    pixels = std::move(decoded);
    width = w;
    height = h;
}

} // namespace VSTGUI
