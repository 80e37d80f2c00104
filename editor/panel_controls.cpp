#include "editor/panel_controls.h"

#include <cmath>
#include <cstdint>

namespace {

bool HasBit(double buttons, int32_t bit) {
    return (static_cast<int32_t>(std::trunc(buttons)) & bit) != 0;
}

constexpr int32_t kControlBit = 4;
constexpr int32_t kShiftBit = 8;

bool Inside(const TPanelInput& input, double x, double y, double w, double h) {
    const double px = input.PanelX, py = input.PanelY;
    return x <= px && px <= x + w && y <= py && py <= y + h;
}

} // namespace

double SetupSlider(TParvex& effect, TSliderRecord& slider, double x, double y, double w, double h, double min,
                   double max, double step, double defaultValue, double image, double unit, double label) {
    slider.X = x;
    slider.Y = y;
    slider.W = w;
    slider.H = h;
    slider.Min = min;
    slider.Max = max;
    slider.Step = step;
    slider.BaseStep = step;
    slider.Default = defaultValue;
    slider.Image = image;
    slider.Unit = unit;
    slider.Label = label;
    const TImageEntry& knob = effect.FindImage(ToIndex(image));
    slider.ImageW = knob.width;
    slider.ImageH = knob.height;
    slider.HalfImageW = knob.width * 0.5;
    slider.Range = std::abs(min - max);
    slider.Format = kSliderFormatId;
    slider.Right = x + w;
    slider.CentreY = std::floor(y + h * 0.5);
    slider.KnobY = std::ceil(y - knob.height * 0.5 + h * 0.5);
    return 1;
}

double SliderControl(TParvex& effect, TPanelInput& input, TSliderRecord& slider, TSliderState& state,
                     SharedDouble& value) {
    const double x = slider.X, w = slider.W;
    const double buttons = input.PanelButtons;
    const bool inside = Inside(input, x, slider.Y, w, slider.H);
    if (IsZero(buttons)) {
        state.Armed = 0;
        state.Anchor = 0;
    }
    if (inside) {
        if (IsZero(buttons))
            state.Hover = 1;
        else if (!IsZero(state.Hover))
            state.Armed = 1;
    } else {
        // Armed stays: a drag goes on outside the slider until the button is released.
        state.Hover = 0;
    }

    const double imageW = slider.ImageW;
    const double track = w - imageW - 2;
    if (!IsZero(state.Armed)) {
        const double px = input.PanelX;
        double offset;
        if (!HasBit(buttons, kShiftBit)) {
            offset = px - x - slider.HalfImageW;
            state.Anchor = 0;
            slider.Step = slider.BaseStep.Load();
        } else {
            // Fine mode: from the knob position at the anchor, 10 / Anchor pixels per pixel of travel.
            if (IsZero(state.Anchor)) state.Anchor = px;
            const double anchor = state.Anchor;
            offset = (px / anchor - 1) * 10 + slider.HalfImageW + anchor - x - imageW;
            slider.Step = 0.1;
        }
        const double fraction = offset / track;
        const double q = 1 / slider.Step;
        const double raw = std::ceil(fraction * slider.Range * q) / q; // quantised upward to the step
        value = HasBit(buttons, kControlBit) ? slider.Default.Load() : raw + slider.Min;
        input.ControlsChanged = 1;
    }

    // A NaN fails both tests and becomes Min.
    double v = value;
    if (v > slider.Max) v = slider.Max;
    if (!(v > slider.Min)) v = slider.Min;
    value = v;

    const double range = slider.Range;
    effect.PenX = x + 1 + track * (v + range - slider.Max) / range;
    effect.PenY = slider.KnobY.Load();
    effect.DrawImage(slider.Image, 1, 0, 0, 0);

    effect.ColorR = effect.ColorG = effect.ColorB = 0.8;
    effect.FormatString(kSliderTextId, slider.Format, v);
    effect.GetString(kSliderTextId) += effect.GetString(slider.Unit);
    const CParvexGraphics::TextSize size = effect.MeasureString(kSliderTextId);
    effect.PenX = slider.Right.Load();
    effect.PenY = std::floor(slider.CentreY - size.height * 0.5);
    effect.DrawString(kSliderTextId);
    return v;
}

double ToggleControl(TParvex& effect, TPanelInput& input, const TToggleRecord& toggle, TToggleState& state,
                     SharedDouble& value) {
    const double buttons = input.PanelButtons;
    if (Inside(input, toggle.X, toggle.Y, toggle.W, toggle.H)) {
        if (IsZero(buttons))
            state.Hover = 1;
        else if (!IsZero(state.Hover))
            state.Armed = 1;
    } else {
        state.Hover = 0;
        state.Armed = 0;
    }
    if (!IsZero(buttons) && !IsZero(state.Armed)) {
        // Hover is cleared so that holding the button does not flip it again.
        value = 1 - value;
        state.Hover = 0;
        state.Armed = 0;
        input.ControlsChanged = 1;
    }
    if (IsZero(buttons)) state.Armed = 0;

    if (!IsZero(value)) {
        effect.PenX = toggle.X.Load();
        effect.PenY = toggle.Y.Load();
        effect.DrawImage(toggle.Image, 1, 0, 0, 0);
    }
    return value;
}

double GainMeter(TParvex& effect, double gain, double x, double y) {
    effect.PenX = x + 176;
    effect.PenY = y + 2;
    double g = gain;
    if (!(g > 0.1)) g = 0.1;
    if (g > 10) g = 10;

    // Unity is 0.25 red and 0.75 green; a factor of 4 either way and beyond is pure red.
    double red = g >= 1 ? g * 0.25 : 0.25 / g;
    double green;
    if (red > 1) {
        red = 1;
        green = 0;
    } else {
        green = 1 - red;
    }
    effect.ColorR = red;
    effect.ColorG = green;
    effect.ColorB = 0;
    effect.ColorA = 1;
    effect.FillRectTo(x + 175 * std::log10(g) + 175, y + 8);

    effect.ColorR = effect.ColorG = effect.ColorB = 0.5;
    effect.ColorA = 1;
    effect.PenX = x + 175;
    effect.PenY = y;
    effect.FillRectTo(x + 176, y + 10);
    return 0;
}
