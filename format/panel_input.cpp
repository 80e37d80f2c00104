#include "format/panel_input.h"

#include <algorithm>

namespace format {

namespace {

void RaiseFrameRate(TParvex& effect) {
    effect.FrameRate = std::max(effect.FrameRate.Load(), 30.0);
}

} // namespace

int32_t EffectButtons(int32_t toolkitButtons) {
    struct Bit {
        int32_t toolkit, effect;
    };
    static constexpr Bit kMap[] = {{2, 1}, {8, 2}, {32, 4}, {16, 8}, {64, 16}, {4, 64}};
    int32_t buttons = 0;
    for (const Bit& bit : kMap)
        if (toolkitButtons & bit.toolkit) buttons |= bit.effect;
    return buttons;
}

void PanelMouseDown(TParvex& effect, double x, double y, int32_t toolkitButtons) {
    effect.MouseX = x;
    effect.MouseY = y;
    effect.MouseButtons = EffectButtons(toolkitButtons);
    RaiseFrameRate(effect);
}

void PanelMouseUp(TParvex& effect, double x, double y) {
    effect.MouseX = x;
    effect.MouseY = y;
    effect.MouseButtons = 0;
    RaiseFrameRate(effect);
}

void PanelMouseMove(TParvex& effect, double x, double y) {
    effect.MouseX = x;
    effect.MouseY = y;
    RaiseFrameRate(effect);
}

} // namespace format
