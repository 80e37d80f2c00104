#include "toolkit/font.h"

#include "toolkit/gdiplus_backend.h"

namespace VSTGUI {

CFontDesc::Resolved::Resolved() = default;
CFontDesc::Resolved::~Resolved() = default;

CFontDesc::CFontDesc(std::string faceName) : name(std::move(faceName)) {}

CFontDesc::~CFontDesc() = default;

const std::string& CFontDesc::getResolvedFile(CFontStyle style) {
    return resolve(style).file;
}

CFontDesc::Face* CFontDesc::getFace(CFontStyle style) {
    return resolve(style).face.get();
}

CFontDesc::Resolved& CFontDesc::resolve(CFontStyle style) {
    const bool bold = style == CFontStyle::kBold;
    const bool italic = style == CFontStyle::kItalic;
    Resolved& r = resolved[bold ? 1 : italic ? 2 : 0];
    if (r.attempted) return r;
    r.attempted = true;

    auto face = std::make_unique<Face>();
    // GDI+ matches family names ignoring case; a face that is not installed falls back to the system's
    // sans-serif face.
    face->family = std::make_unique<Gdiplus::FontFamily>(Utf8ToWide(name.c_str()).c_str());
    if (face->family->GetLastStatus() != Gdiplus::Ok || !face->family->IsAvailable())
        face->family.reset(Gdiplus::FontFamily::GenericSansSerif()->Clone());
    if (!face->family || face->family->GetLastStatus() != Gdiplus::Ok) return r;
    face->style = bold ? Gdiplus::FontStyleBold : italic ? Gdiplus::FontStyleItalic : Gdiplus::FontStyleRegular;

    WCHAR family[LF_FACESIZE] = {};
    face->family->GetFamilyName(family);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, family, -1, nullptr, 0, nullptr, nullptr);
    if (bytes > 1) {
        r.file.resize(static_cast<size_t>(bytes - 1));
        WideCharToMultiByte(CP_UTF8, 0, family, -1, r.file.data(), bytes, nullptr, nullptr);
    }
    r.face = std::move(face);
    return r;
}

} // namespace VSTGUI
