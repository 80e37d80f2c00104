// Font descriptions resolved through fontconfig into cairo font faces.
#pragma once

#include "toolkit/base.h"

#include <string>

typedef struct _cairo_font_face cairo_font_face_t;

namespace VSTGUI {

// Style bits as callers pass them; several may be set.
enum CTxtFace { kNormalFace = 0, kBoldFace = 1, kItalicFace = 2, kUnderlineFace = 4 };

// The single style a platform font is made with: underline wins over italic, italic over bold.
enum class CFontStyle { kRegular, kBold, kItalic, kUnderline };
CFontStyle platformFontStyle(int styleBits);

// A face name ("Arial", "courier new"...). Fontconfig resolves it, ignoring letter case and falling back to
// a similar installed face; the resolved cairo faces are cached here for the description's lifetime.
class CFontDesc : public CBaseObject {
public:
    explicit CFontDesc(std::string faceName);
    ~CFontDesc() override;

    const std::string& getName() const { return name; }
    // Path of the font file chosen for the style; empty when nothing resolves.
    const std::string& getResolvedFile(CFontStyle style = CFontStyle::kRegular);
    // Cairo face for the style (underline uses the regular face), owned by this description; null when
    // nothing resolves.
    cairo_font_face_t* getFontFace(CFontStyle style);

private:
    struct Resolved {
        bool attempted = false;
        std::string file;
        cairo_font_face_t* face = nullptr;
    };
    Resolved& resolve(CFontStyle style);

    std::string name;
    Resolved resolved[3]; // regular, bold, italic
};

} // namespace VSTGUI
