#pragma once

#include <cstddef>

// PNG files of the panel, compiled into the plug-in.
struct EmbeddedImage {
    const unsigned char* data;
    std::size_t size;
};

// 0 knob, 1 background, 2 configuration page; null for any other number.
const EmbeddedImage* FindEmbeddedImage(int number);
