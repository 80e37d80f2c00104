// Font descriptions: a face name that the platform resolves to an installed font per style.
#pragma once

#include "toolkit/base.h"

#include <memory>
#include <string>

namespace VSTGUI {

// Style bits as callers pass them; several may be set.
enum CTxtFace { kNormalFace = 0, kBoldFace = 1, kItalicFace = 2, kUnderlineFace = 4 };

// The single style a platform font is made with: underline wins over italic, italic over bold.
enum class CFontStyle { kRegular, kBold, kItalic, kUnderline };
inline CFontStyle platformFontStyle(int styleBits) {
    if (styleBits & kUnderlineFace) return CFontStyle::kUnderline;
    if (styleBits & kItalicFace) return CFontStyle::kItalic;
    if (styleBits & kBoldFace) return CFontStyle::kBold;
    return CFontStyle::kRegular;
}

// A face name ("Arial", "courier new"...). The platform resolves it, ignoring letter case and falling back
// to a similar installed face (fontconfig under X11, GDI+ on Windows); the resolved faces are cached here
// for the description's lifetime.
class CFontDesc : public CBaseObject {
public:
    explicit CFontDesc(std::string faceName);
    ~CFontDesc() override;

    const std::string& getName() const { return name; }
    // What was chosen for the style: the font file under X11, the family name on Windows; empty when
    // nothing resolves.
    const std::string& getResolvedFile(CFontStyle style = CFontStyle::kRegular);
    // The backend's face for the style (underline uses the regular face), owned by this description; null
    // when nothing resolves.
    struct Face;
    Face* getFace(CFontStyle style);

private:
    struct Resolved {
        Resolved();
        ~Resolved();
        bool attempted = false;
        std::string file;
        std::unique_ptr<Face> face;
    };
    Resolved& resolve(CFontStyle style);
    // The backend's part: finds the face for the style and fills `into`, leaving it empty on failure.
    void load(Resolved& into, bool bold, bool italic) const;

    std::string name;
    Resolved resolved[3]; // regular, bold, italic
};

} // namespace VSTGUI
