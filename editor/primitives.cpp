// Drawing primitives for effect code: a pen, a colour with components from 0 to 1, numbered fonts,
// strings and images, turned into calls of the wrapper's drawing surface.
#include "runtime/parvex.h"

#include <algorithm>
#include <cmath>

uint8_t ToColorByte(double component) {
    const int32_t value = ToIndex(component * 255);
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

namespace {

struct ColorBytes {
    uint8_t red, green, blue, alpha;
};

ColorBytes CurrentColor(const CParvexGraphics& graphics) {
    return {ToColorByte(graphics.ColorR), ToColorByte(graphics.ColorG), ToColorByte(graphics.ColorB),
            ToColorByte(graphics.ColorA)};
}

// A missing font makes the surface answer -1; the pen must not move backwards for it.
double TextWidth(THostLink* host, const std::string& text) {
    return host ? std::max(0.0, host->GetTextWidth(text.c_str())) : 0.0;
}

// Style bits from a script's character constants: any byte 'b' bold, 'i' italic, 'u' underline.
int32_t StyleBits(double style) {
    const auto packed = static_cast<uint32_t>(ToIndex(style));
    int32_t bits = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        switch ((packed >> shift) & 0xFFu) {
        case 'b':
            bits |= 1;
            break;
        case 'i':
            bits |= 2;
            break;
        case 'u':
            bits |= 4;
            break;
        default:
            break;
        }
    }
    return bits;
}

} // namespace

double CParvexGraphics::FillRectTo(double x, double y) {
    const double oldX = PenX, oldY = PenY;
    PenX = x;
    PenY = y;
    if (Host) {
        const ColorBytes color = CurrentColor(*this);
        Host->SetFillColor(color.red, color.green, color.blue, color.alpha);
        Host->SetDrawMode(0);
        Host->FillRect(std::floor(oldX), std::floor(oldY), std::floor(x), std::floor(y));
    }
    return 0;
}

double CParvexGraphics::DrawString(double stringId) {
    if (Host) {
        const ColorBytes color = CurrentColor(*this);
        Host->SetFontColor(color.red, color.green, color.blue, color.alpha);
        Host->SetDrawMode(3);
    }
    const std::string text = GetString(stringId);
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        const std::string line =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const double width = TextWidth(Host, line);
        if (Host) Host->DrawTextInRect(line.c_str(), PenX, PenY, PenX + width, PenY + TextHeight + 2, 0);
        if (end == std::string::npos) {
            PenX += width;
            break;
        }
        PenY += TextHeight;
        start = end + 1;
    }
    return 0;
}

double CParvexGraphics::SetFont(double fontNumber, double nameId, double size, double style) {
    double pixelSize = 16;
    TextHeight = 16 / 0.85;
    if (size < 0) {
        pixelSize = -size;
        TextHeight = -size / 0.85;
    } else if (size > 0) {
        pixelSize = size * 0.85;
        TextHeight = (size * 0.85) / 0.85;
    }
    TFontEntry& font = Fonts[ToIndex(fontNumber)];
    font.face = GetString(nameId);
    font.size = std::max(pixelSize, 1.0);
    font.style = StyleBits(style);
    if (Host && !Host->SelectFont(font.face, ToIndex(font.size), font.style))
        Host->SelectFont("verdana", ToIndex(font.size), font.style);
    return 1;
}

CParvexGraphics::TextSize CParvexGraphics::MeasureString(double stringId) {
    return {TextWidth(Host, GetString(stringId)), TextHeight};
}

double CParvexGraphics::DrawImage(double imageNumber, double /*scale*/, double /*rotation*/, double sourceX,
                                  double sourceY) {
    TImageEntry& image = FindImage(ToIndex(imageNumber));
    if (!Host) return 0;
    const double left = PenX, top = PenY, right = PenX + image.width, bottom = PenY + image.height;
    if (!Host->DrawImageRect(image.slot.get(), left, top, right, bottom, sourceX, sourceY)) {
        Host->SetFillColor(255, 0, 0, 255);
        Host->FillRect(left, top, right, bottom);
        Host->SetFontColor(255, 255, 0, 255);
        Host->DrawTextInRect("ERROR", left, top, right, bottom, 1);
    }
    return 0;
}

TImageEntry& CParvexGraphics::FindImage(int32_t number) {
    TImageEntry& image = Images[number];
    if (image.slot) return image; // loaded, or failed for good
    const auto fileName = FileNames.find(number);
    if (fileName == FileNames.end() || !Host) return image;

    auto loadInto = [&](auto load) {
        image.slot.reset(Host->NewImageSlot());
        image.width = image.height = 0;
        if (!image.slot || !load(*image.slot)) return false;
        image.width = image.slot->ImageWidth();
        image.height = image.slot->ImageHeight();
        return true;
    };
    if (loadInto([&](TImageSlot& slot) { return slot.LoadImageResource(number); })) return image;
    const std::string path = PluginFilePath(fileName->second);
    if (loadInto([&](TImageSlot& slot) { return slot.LoadImageFile(path); })) return image;
    if (image.slot) WriteLog("Unable to load: " + path);
    return image;
}
