// Polled panel controls for effect drawing code: sliders, toggle buttons and gain meters that run once per
// frame inside DoGraphics, read the frame's mouse snapshot, draw themselves and return their value.
// Every field is a script value: all 0 after the effect's reset. They are shared values because the reset
// runs on the host's thread and the frames on the editor's.
#pragma once

#include "runtime/parvex.h"

// The frame's mouse snapshot, in the effect's button bits (1 left, 2 right, 4 control, 8 shift, 16 alt,
// 64 middle), and the flag a control raises when it changed its value.
struct TPanelInput {
    SharedDouble PanelButtons, PanelX, PanelY;
    SharedDouble ControlsChanged;
};

// Filled once by SetupSlider, then only read, except Step (fine dragging changes it).
struct TSliderRecord {
    SharedDouble X, Y, W, H;
    SharedDouble Min, Max, Step, Default;
    SharedDouble Image, Unit, Label;
    SharedDouble ImageW, ImageH, HalfImageW;
    SharedDouble Range, Format, Right, CentreY, KnobY, BaseStep;
};

struct TSliderState {
    SharedDouble Hover, Armed;
    SharedDouble Anchor; // 0, or the pointer x at which fine dragging began
};

struct TToggleRecord {
    SharedDouble X, Y, Label, Image, W, H;
};

struct TToggleState {
    SharedDouble Hover, Armed;
};

// String slot the slider value texts are formatted into.
inline constexpr double kSliderTextId = 190000;
// String id of the slider value format, "%.2f".
inline constexpr double kSliderFormatId = 10002;

double SetupSlider(TParvex& effect, TSliderRecord& slider, double x, double y, double w, double h, double min,
                   double max, double step, double defaultValue, double image, double unit, double label);

// Hit test, drag (shift: fine, control: default), clamping, knob and value text; answers the value after
// this frame, which is also stored in `value`.
double SliderControl(TParvex& effect, TPanelInput& input, TSliderRecord& slider, TSliderState& state,
                     SharedDouble& value);

// Flips `value` between 0 and 1 on the first frame that sees a button down over the toggle after a frame
// that saw the pointer over it with no button; draws the lit mark while on. Answers the value.
double ToggleControl(TParvex& effect, TPanelInput& input, const TToggleRecord& toggle, TToggleState& state,
                     SharedDouble& value);

// One dynamics meter row: a bar from x + 176 growing right for gain and left for cut, 175 pixels per
// 20 dB, with a grey centre mark at x + 175. Answers 0.
double GainMeter(TParvex& effect, double gain, double x, double y);
