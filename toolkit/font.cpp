// What every backend shares: the description and its cache of resolved faces, one per style.
#include "toolkit/font.h"

namespace VSTGUI {

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
    load(r, bold, italic);
    return r;
}

} // namespace VSTGUI
