// What the Cairo backend keeps behind the toolkit's drawing classes; included only by toolkit sources.
#pragma once

#include "toolkit/bitmap.h"
#include "toolkit/drawcontext.h"
#include "toolkit/font.h"

#include <cairo.h>

namespace VSTGUI {

struct CDrawContext::Backend {
    // Takes over the caller's reference to `cairo`.
    explicit Backend(cairo_t* cairo) : cairo(cairo) {}
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;
    ~Backend();

    cairo_t* cairo;
    cairo_scaled_font_t* scaledFont = nullptr; // the current font at its size, null without one
};

struct CBitmap::Pixels {
    // Takes over the surface, whatever its status.
    explicit Pixels(cairo_surface_t* surface) : surface(surface) {}
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;
    ~Pixels();

    cairo_surface_t* surface;
};

struct CFontDesc::Face {
    explicit Face(cairo_font_face_t* face) : face(face) {}
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;
    ~Face();

    cairo_font_face_t* face;
};

} // namespace VSTGUI
