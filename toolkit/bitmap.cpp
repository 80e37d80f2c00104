#include "toolkit/bitmap.h"

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
    adopt(cairo_image_surface_create_from_png_stream(readBytes, &reader));
}

CBitmap::CBitmap(const char* pngPath) {
    if (pngPath) adopt(cairo_image_surface_create_from_png(pngPath));
}

CBitmap::~CBitmap() {
    if (surface) cairo_surface_destroy(surface);
}

void CBitmap::adopt(cairo_surface_t* decoded) {
    const int w = cairo_image_surface_get_width(decoded);
    const int h = cairo_image_surface_get_height(decoded);
    if (cairo_surface_status(decoded) != CAIRO_STATUS_SUCCESS || w <= 0 || h <= 0) {
        cairo_surface_destroy(decoded);
        return;
    }
    surface = decoded;
    width = w;
    height = h;
}

} // namespace VSTGUI
