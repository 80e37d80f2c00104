#include "toolkit/drawcontext.h"

#include "toolkit/coordinates.h"
#include "toolkit/gdiplus_backend.h"

#include <objidl.h>

namespace VSTGUI {

namespace {

Gdiplus::Color toGdiplus(const CColor& c) {
    return Gdiplus::Color(c.alpha, c.red, c.green, c.blue);
}

// Pixel centres at half-pixel positions, as in Cairo: a rectangle on whole pixels covers whole pixels.
void prepare(Gdiplus::Graphics& graphics) {
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
    graphics.SetCompositingMode(Gdiplus::CompositingModeSourceOver);
}

// Measures and draws without GDI+'s extra space around a line, and counts trailing spaces.
const Gdiplus::StringFormat& typographic() {
    static const Gdiplus::StringFormat* format = [] {
        auto* f = Gdiplus::StringFormat::GenericTypographic()->Clone();
        f->SetFormatFlags(f->GetFormatFlags() | Gdiplus::StringFormatFlagsMeasureTrailingSpaces |
                          Gdiplus::StringFormatFlagsNoWrap);
        return f;
    }();
    return *format;
}

CLSID pngEncoder() {
    CLSID found{};
    UINT count = 0, bytes = 0;
    Gdiplus::GetImageEncodersSize(&count, &bytes);
    if (bytes == 0) return found;
    std::vector<BYTE> storage(bytes);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(storage.data());
    Gdiplus::GetImageEncoders(count, bytes, encoders);
    for (UINT i = 0; i < count; ++i)
        if (std::wstring(encoders[i].MimeType) == L"image/png") found = encoders[i].Clsid;
    return found;
}

} // namespace

CDrawContext::Backend::Backend(std::unique_ptr<Gdiplus::Graphics> graphics) : graphics(std::move(graphics)) {
    prepare(*this->graphics);
}

CDrawContext::Backend::~Backend() {
    font.reset();
    graphics.reset();
    image.reset();
}

CDrawContext::CDrawContext(std::unique_ptr<Backend> backend) : backend(std::move(backend)) {}

CDrawContext::~CDrawContext() = default;

void CDrawContext::fillRect(const CRect& rect) {
    if (!finite(rect)) return;
    const CRect r = limited(rect).normalized();
    Gdiplus::Graphics& g = *backend->graphics;
    g.SetSmoothingMode(drawMode == kAntiAliasingDrawMode ? Gdiplus::SmoothingModeAntiAlias
                                                         : Gdiplus::SmoothingModeNone);
    Gdiplus::SolidBrush brush(toGdiplus(fillColor));
    g.FillRectangle(&brush, Gdiplus::RectF(Gdiplus::REAL(r.left), Gdiplus::REAL(r.top),
                                           Gdiplus::REAL(r.getWidth()), Gdiplus::REAL(r.getHeight())));
}

void CDrawContext::setFont(CFontDesc* newFont, int pixelSize, int styleBits) {
    backend->font.reset();
    backend->ascent = backend->descent = 0;
    CFontDesc::Face* face = selectFace(newFont, pixelSize, styleBits);
    if (!face) return;
    const INT style = fontStyle == CFontStyle::kUnderline ? Gdiplus::FontStyleUnderline : face->style;
    auto made = std::make_unique<Gdiplus::Font>(face->family.get(), Gdiplus::REAL(fontSize), style,
                                                Gdiplus::UnitPixel);
    if (made->GetLastStatus() != Gdiplus::Ok) return;
    const double em = face->family->GetEmHeight(style);
    if (em > 0) {
        backend->ascent = fontSize * face->family->GetCellAscent(style) / em;
        backend->descent = fontSize * face->family->GetCellDescent(style) / em;
    }
    backend->font = std::move(made);
}

double CDrawContext::getFontLineHeight() const {
    if (!backend->font) return 0.0;
    return backend->ascent + backend->descent;
}

double CDrawContext::getStringWidth(const char* utf8) {
    if (!font) return -1.0;
    if (!utf8 || !backend->font) return 0.0;
    const std::wstring text = Utf8ToWide(utf8);
    if (text.empty()) return 0.0;
    Gdiplus::RectF box;
    backend->graphics->MeasureString(text.c_str(), INT(text.size()), backend->font.get(),
                                     Gdiplus::PointF(0, 0), &typographic(), &box);
    return box.Width;
}

void CDrawContext::drawString(const char* utf8, const CRect& rect, int align) {
    if (!utf8 || !backend->font || !finite(rect)) return;
    const std::wstring text = Utf8ToWide(utf8);
    if (text.empty()) return;
    const CRect r = limited(rect);
    const double width = getStringWidth(utf8);
    double x = r.left;
    if (align == kCenterText)
        x = r.left + r.getWidth() / 2 - width / 2;
    else if (align == kRightText)
        x = r.right - width;
    const double baseline = (r.top + r.bottom) / 2 + fontSize / 2.0 - backend->descent;

    Gdiplus::Graphics& g = *backend->graphics;
    const Gdiplus::GraphicsState saved = g.Save();
    const CRect clip = r.normalized();
    g.SetClip(Gdiplus::RectF(Gdiplus::REAL(clip.left), Gdiplus::REAL(clip.top),
                             Gdiplus::REAL(clip.getWidth()), Gdiplus::REAL(clip.getHeight())));
    Gdiplus::SolidBrush brush(toGdiplus(fontColor));
    g.DrawString(text.c_str(), INT(text.size()), backend->font.get(),
                 Gdiplus::PointF(Gdiplus::REAL(x), Gdiplus::REAL(baseline - backend->ascent)), &typographic(),
                 &brush);
    g.Restore(saved);
}

bool CDrawContext::drawBitmap(CBitmap* bitmap, const CRect& rect, const CPoint& source) {
    if (!bitmap || !bitmap->getPixels()) return false;
    const std::optional<BitmapPlacement> at = placeBitmap(rect, source);
    if (!at) return true;
    Gdiplus::Graphics& g = *backend->graphics;
    const Gdiplus::GraphicsState saved = g.Save();
    g.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    g.SetClip(Gdiplus::Rect(at->left, at->top, at->width, at->height));
    // The whole image, placed so that the source point lands on the rectangle's corner; the clip keeps the
    // rest out. One image pixel per pixel, whatever resolution the file states.
    Gdiplus::Bitmap* image = bitmap->getPixels()->bitmap.get();
    g.DrawImage(image, Gdiplus::Rect(at->originX, at->originY, bitmap->getWidth(), bitmap->getHeight()), 0, 0,
                bitmap->getWidth(), bitmap->getHeight(), Gdiplus::UnitPixel);
    g.Restore(saved);
    return true;
}

namespace {

std::unique_ptr<CDrawContext::Backend> newImageContext(int width, int height) {
    GdiplusSession session; // GDI+ runs while the image is made; the backend keeps its own session
    auto image =
        std::make_unique<Gdiplus::Bitmap>(std::max(width, 1), std::max(height, 1), PixelFormat32bppPARGB);
    auto backend = std::make_unique<CDrawContext::Backend>(std::make_unique<Gdiplus::Graphics>(image.get()));
    backend->graphics->Clear(Gdiplus::Color(0, 0, 0, 0));
    backend->image = std::move(image);
    return backend;
}

} // namespace

COffscreenContext::COffscreenContext(int width, int height) : CDrawContext(newImageContext(width, height)) {}

int COffscreenContext::getWidth() const {
    return static_cast<int>(backend->image->GetWidth());
}

int COffscreenContext::getHeight() const {
    return static_cast<int>(backend->image->GetHeight());
}

CColor COffscreenContext::getPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= getWidth() || y >= getHeight()) return {0, 0, 0, 0};
    backend->graphics->Flush(Gdiplus::FlushIntentionSync);
    Gdiplus::Color c;
    backend->image->GetPixel(x, y, &c);
    if (c.GetA() == 0) return {0, 0, 0, 0};
    return {c.GetR(), c.GetG(), c.GetB(), c.GetA()};
}

bool COffscreenContext::writePNG(const char* path) const {
    if (!path) return false;
    const std::vector<uint8_t> bytes = encodePNG();
    if (bytes.empty()) return false;
    std::FILE* file = _wfopen(Utf8ToWide(path).c_str(), L"wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::vector<uint8_t> COffscreenContext::encodePNG() const {
    backend->graphics->Flush(Gdiplus::FlushIntentionSync);
    std::vector<uint8_t> bytes;
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(nullptr, TRUE, &stream) != S_OK) return bytes;
    const CLSID encoder = pngEncoder();
    if (backend->image->Save(stream, &encoder, nullptr) == Gdiplus::Ok) {
        STATSTG status{};
        stream->Stat(&status, STATFLAG_NONAME);
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        bytes.resize(static_cast<size_t>(status.cbSize.QuadPart));
        ULONG read = 0;
        stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
        bytes.resize(read);
    }
    stream->Release();
    return bytes;
}

} // namespace VSTGUI
