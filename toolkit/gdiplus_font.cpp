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

// Defined where the backend's face type is complete.
CFontDesc::Resolved::Resolved() = default;
CFontDesc::Resolved::~Resolved() = default;

void CFontDesc::load(Resolved& r, bool bold, bool italic) const {
    auto face = std::make_unique<Face>();
    face->family = resolveFamily(name);
    if (!face->family) return;
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
}

} // namespace VSTGUI
