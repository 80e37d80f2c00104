#include "assets/embedded_images.h"

#include <array>

namespace {

const unsigned char kKnob[] = {
#include "knob_sm.png.inc"
};

const unsigned char kBackground[] = {
#include "bg.png.inc"
};

const unsigned char kConfigPage[] = {
#include "conf.png.inc"
};

const std::array<EmbeddedImage, 3> kImages{{
    {kKnob, sizeof kKnob},
    {kBackground, sizeof kBackground},
    {kConfigPage, sizeof kConfigPage},
}};

} // namespace

const EmbeddedImage* FindEmbeddedImage(int number) {
    if (number < 0 || number >= static_cast<int>(kImages.size())) return nullptr;
    return &kImages[static_cast<std::size_t>(number)];
}
