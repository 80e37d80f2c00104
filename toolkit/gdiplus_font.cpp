#include "toolkit/font.h"

#include "toolkit/gdiplus_backend.h"

#include <cctype>
#include <initializer_list>

namespace VSTGUI {

namespace {

// The installed family with the first of these names, or null. GDI+ compares names ignoring case.
std::unique_ptr<Gdiplus::FontFamily> firstInstalled(std::initializer_list<std::wstring> names) {
    for (const std::wstring& name : names) {
        auto family = std::make_unique<Gdiplus::FontFamily>(name.c_str());
        if (family->GetLastStatus() == Gdiplus::Ok && family->IsAvailable()) return family;
    }
    return nullptr;
}

// A face that is not installed (Wine has neither Arial nor Courier New) falls back to a similar one: the
// metric-compatible Liberation faces, then the system's own.
std::unique_ptr<Gdiplus::FontFamily> resolveFamily(const std::string& name) {
    const std::wstring wide = Utf8ToWide(name.c_str());
    if (auto family = firstInstalled({wide})) return family;
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("courier") != std::string::npos || lower.find("mono") != std::string::npos)
        return firstInstalled({L"Courier New", L"Liberation Mono", L"Lucida Console", L"DejaVu Sans Mono"});
    return firstInstalled({L"Arial", L"Liberation Sans", L"Microsoft Sans Serif", L"Tahoma", L"DejaVu Sans"});
}

} // namespace

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
    face->family = resolveFamily(name);
    if (!face->family) return r;
    face->style = bold     ? Gdiplus::FontStyleBold
                  : italic ? Gdiplus::FontStyleItalic
                           : Gdiplus::FontStyleRegular;

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
