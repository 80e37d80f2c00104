#include "toolkit/font.h"

#include "toolkit/cairo_backend.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

namespace VSTGUI {

CFontDesc::Face::~Face() {
    cairo_font_face_destroy(face);
}

// Defined where the backend's face type is complete.
CFontDesc::Resolved::Resolved() = default;
CFontDesc::Resolved::~Resolved() = default;

void CFontDesc::load(Resolved& r, bool bold, bool italic) const {
    FcPattern* request = FcPatternCreate();
    if (!name.empty()) FcPatternAddString(request, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcPatternAddInteger(request, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(request, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, request, FcMatchPattern);
    FcDefaultSubstitute(request);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, request, &result);
    FcPatternDestroy(request);
    if (!match) return;

    FcChar8* file = nullptr;
    int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
        FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
        FcPatternGetInteger(match, FC_SLANT, 0, &slant);
        // Only the file goes to cairo: rendering options (antialiasing, hinting) are the draw context's, not
        // the user's fontconfig settings, so text measures and looks the same on every surface.
        FcPattern* exact = FcPatternCreate();
        FcPatternAddString(exact, FC_FILE, file);
        FcPatternAddInteger(exact, FC_INDEX, index);
        cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(exact);
        FcPatternDestroy(exact);
        if (cairo_font_face_status(face) == CAIRO_STATUS_SUCCESS) {
            unsigned synthesize = 0;
            if (bold && weight < FC_WEIGHT_DEMIBOLD) synthesize |= CAIRO_FT_SYNTHESIZE_BOLD;
            if (italic && slant == FC_SLANT_ROMAN) synthesize |= CAIRO_FT_SYNTHESIZE_OBLIQUE;
            cairo_ft_font_face_set_synthesize(face, synthesize);
            r.face = std::make_unique<Face>(face);
            r.file = reinterpret_cast<const char*>(file);
        } else {
            cairo_font_face_destroy(face);
        }
    }
    FcPatternDestroy(match);
}

} // namespace VSTGUI
