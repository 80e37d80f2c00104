#include "toolkit/bitmap.h"

#include "toolkit/gdiplus_backend.h"
#include "toolkit/win32_module.h"

#include <cstring>
#include <shlwapi.h>

namespace VSTGUI {

namespace {

SRWLOCK sessionLock = SRWLOCK_INIT;
int sessionCount = 0;
ULONG_PTR sessionToken = 0;

// A copy of the decoded image that owns its pixels: GDI+ keeps reading the stream or file of an image it
// decoded for as long as that image lives.
std::unique_ptr<CBitmap::Pixels> ownCopy(Gdiplus::Bitmap* decoded) {
    if (!decoded || decoded->GetLastStatus() != Gdiplus::Ok) return nullptr;
    const UINT width = decoded->GetWidth(), height = decoded->GetHeight();
    if (width == 0 || height == 0) return nullptr;
    auto pixels = std::make_unique<CBitmap::Pixels>();
    pixels->bitmap = std::make_unique<Gdiplus::Bitmap>(INT(width), INT(height), PixelFormat32bppARGB);
    if (pixels->bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
    const Gdiplus::Rect all(0, 0, INT(width), INT(height));
    Gdiplus::BitmapData source{}, target{};
    if (decoded->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &source) != Gdiplus::Ok)
        return nullptr;
    bool copied = false;
    if (pixels->bitmap->LockBits(&all, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &target) ==
        Gdiplus::Ok) {
        for (UINT y = 0; y < height; ++y)
            std::memcpy(static_cast<BYTE*>(target.Scan0) + ptrdiff_t(y) * target.Stride,
                        static_cast<const BYTE*>(source.Scan0) + ptrdiff_t(y) * source.Stride, width * 4);
        pixels->bitmap->UnlockBits(&target);
        copied = true;
    }
    decoded->UnlockBits(&source);
    return copied ? std::move(pixels) : nullptr;
}

} // namespace

GdiplusSession::GdiplusSession() {
    SlimLockGuard lock(sessionLock);
    if (sessionCount++ == 0) {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&sessionToken, &input, nullptr);
    }
}

GdiplusSession::~GdiplusSession() {
    SlimLockGuard lock(sessionLock);
    if (--sessionCount == 0) Gdiplus::GdiplusShutdown(sessionToken);
}

std::wstring Utf8ToWide(const char* utf8) {
    const int bytes = static_cast<int>(std::strlen(utf8));
    if (bytes == 0) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, bytes, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8, bytes, wide.data(), length);
    return wide;
}

CBitmap::CBitmap(const void* pngData, size_t size) {
    if (!pngData || size == 0 || size > 0x7FFFFFFF) return;
    GdiplusSession session;
    IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(pngData), static_cast<UINT>(size));
    if (!stream) return;
    {
        std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream));
        adopt(ownCopy(decoded.get()));
    }
    stream->Release();
}

CBitmap::CBitmap(const char* pngPath) {
    if (!pngPath) return;
    GdiplusSession session;
    std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromFile(Utf8ToWide(pngPath).c_str()));
    adopt(ownCopy(decoded.get()));
}

CBitmap::~CBitmap() = default;

void CBitmap::adopt(std::unique_ptr<Pixels> decoded) {
    if (!decoded) return;
    width = static_cast<int>(decoded->bitmap->GetWidth());
    height = static_cast<int>(decoded->bitmap->GetHeight());
    pixels = std::move(decoded);
}

} // namespace VSTGUI
