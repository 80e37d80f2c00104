// The panel as the plug-in draws it without any window: the reference for screenshots of real windows.
#pragma once

#include "shell/instance.h"
#include "shell/vest.h"
#include "testkit/quiet_host.h"
#include "toolkit/drawcontext.h"

#include <vector>

struct Screenshot {
    int width = 0, height = 0;
    std::vector<VSTGUI::CColor> pixels;
    const VSTGUI::CColor& at(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

// The panel in its first frames after open and resume, painted by an instance of our own.
inline Screenshot HeadlessPanel() {
    CVeST* wrapper = NewLevelerInstance(testkit::QuietHost);
    vst2::AEffect* record = wrapper->getAeffect();
    record->dispatcher(record, vst2::effOpen, 0, 0, nullptr, 0);
    record->dispatcher(record, vst2::effSetSampleRate, 0, 0, nullptr, 48000);
    record->dispatcher(record, vst2::effMainsChanged, 0, 1, nullptr, 0);
    VSTGUI::COffscreenContext image(450, 620);
    wrapper->DrawWith(&image, 450, 620);
    record->dispatcher(record, vst2::effClose, 0, 0, nullptr, 0);
    Screenshot shot{450, 620, {}};
    for (int y = 0; y < 620; ++y)
        for (int x = 0; x < 450; ++x) shot.pixels.push_back(image.getPixel(x, y));
    return shot;
}
