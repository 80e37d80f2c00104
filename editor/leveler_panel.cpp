// The leveler's drawing section: the whole 450 x 620 panel, painted on every frame, and at the same time
// its only input handling.
#include "editor/leveler_panel.h"
#include "leveler/leveler.h"

#include <cmath>

namespace {

// String ids the leveler's reset registers.
enum : int32_t {
    kPanelFont = 10003,
    kReadoutFont = 10037,
    kWarningFont = 10038,
    kLabelFont = 10040,
    kLoudnessFormat = 10031,
    kLoudnessUnit = 10032,
    kDistanceFormat = 10033,
    kDistanceUnit = 10034,
    kLoudnessInvalid = 10035,
    kDistanceInvalid = 10036,
    kWarningText = 10039,
};
constexpr double kLoudnessText = 190001;
constexpr double kDistanceText = 190002;

constexpr double kKnobImage = 0;
constexpr double kBackgroundImage = 1;
constexpr double kConfigImage = 2;
constexpr double kBold = 'b';

struct SliderLayout {
    double x, yOffset, min, max, step, defaultValue, unit, label;
    int32_t slider; // the slider whose copy the control edits and whose value it writes
};

// Main page, then configuration page. The panel's own ranges and steps, not the registered ones.
constexpr SliderLayout kSliderLayout[PanelState::kSliders] = {
    {90, 0, -20, 20, 0.25, 0, 10004, 10005, 1},  {90, 50, -46, 0, 0.5, -23, 10006, 10007, 2},
    {90, 100, -80, 0, 1, -40, 10008, 10009, 3},  {90, 150, 20, 2000, 10, 500, 10010, 10011, 4},
    {90, 200, -6, 6, 0.25, 0, 10012, 10013, 20}, {111, -28, 0, 20, 1, 10, 10017, 10018, 10},
    {111, 12, 0, 20, 1, 0, 10019, 10020, 11},    {111, 52, 0, 20, 1, 10, 10021, 10022, 12},
    {111, 92, 0, 20, 1, 10, 10023, 10024, 13},   {111, 132, 0, 20, 1, 20, 10025, 10026, 14},
    {111, 172, 0, 20, 1, 20, 10027, 10028, 15},  {111, 212, 0, 1, 0.1, 0, 10029, 10030, 6},
};
constexpr double kSliderW = 250, kSliderH = 20;

enum Toggle { kAutomaticTrim, kConfig, kAutomaticThreshold };
constexpr double kToggleX[PanelState::kToggles] = {46, 312, 184};
constexpr double kToggleLabel[PanelState::kToggles] = {10014, 10016, 10015};
constexpr double kToggleYOffset = 240;
constexpr int32_t kAutomaticTrimSlider = 5;
constexpr int32_t kAutomaticThresholdSlider = 7;

} // namespace

void TParvexEffect::DoGraphics() {
    PanelState& p = panel;
    p.PanelButtons = MouseButtons.Load();
    p.PanelX = MouseX.Load();
    p.PanelY = MouseY.Load();
    // Controls always run; what they answer reaches SliderValues only once the copies hold real values.
    const bool writeBack = !IsZero(p.SliderCopiesValid);
    auto store = [&](int32_t slider, double value) {
        if (writeBack) SliderValues[slider] = value;
    };

    ColorR = ColorG = ColorB = 1;
    ColorA = 1;
    PenX = PenY = 0;
    SetFont(1, kPanelFont, 16, 0);

    PenX = PenY = 0;
    DrawImage(kBackgroundImage, 1, 0, 0, 0);
    p.BaseY = 90;
    const double baseY = p.BaseY;

    if (IsZero(p.SetupDone)) {
        for (int i = 0; i < PanelState::kSliders; ++i) {
            const SliderLayout& s = kSliderLayout[i];
            SetupSlider(*this, p.sliders[i], s.x, baseY + s.yOffset, kSliderW, kSliderH, s.min, s.max, s.step,
                        s.defaultValue, kKnobImage, s.unit, s.label);
        }
        const TImageEntry& knob = FindImage(ToIndex(kKnobImage));
        for (int i = 0; i < PanelState::kToggles; ++i) {
            TToggleRecord& toggle = p.toggles[i];
            toggle.X = kToggleX[i];
            toggle.Y = baseY + kToggleYOffset;
            toggle.Label = kToggleLabel[i];
            toggle.Image = kKnobImage;
            toggle.W = knob.width;
            toggle.H = knob.height;
        }
        p.SetupDone = 1;
    }

    int first = 0, end = PanelState::kMainSliders;
    if (!IsZero(p.ConfigPage)) {
        PenX = 5;
        PenY = 57;
        DrawImage(kConfigImage, 1, 0, 0, 0);
        first = PanelState::kMainSliders;
        end = PanelState::kSliders;
    }
    for (int i = first; i < end; ++i) {
        const int32_t slider = kSliderLayout[i].slider;
        store(slider, SliderControl(*this, p, p.sliders[i], p.sliderStates[i], sliderCopies[slider]));
    }

    store(kAutomaticTrimSlider,
          ToggleControl(*this, p, p.toggles[kAutomaticTrim], p.toggleStates[kAutomaticTrim],
                        sliderCopies[kAutomaticTrimSlider]));
    p.ConfigPage = ToggleControl(*this, p, p.toggles[kConfig], p.toggleStates[kConfig], p.ConfigToggle);
    store(kAutomaticThresholdSlider,
          ToggleControl(*this, p, p.toggles[kAutomaticThreshold], p.toggleStates[kAutomaticThreshold],
                        sliderCopies[kAutomaticThresholdSlider]));

    if (!IsZero(p.ControlsChanged)) {
        if (writeBack) ApplySliders();
        p.ControlsChanged = 0;
    }

    p.MeterTop = 400;
    const double meterTop = p.MeterTop;
    double gains[3] = {fastGain(), medGain(), slowGain()};
    for (int row = 0; row < 3; ++row) {
        const double g = IsZero(gains[row]) ? 1 : gains[row];
        GainMeter(*this, g, 50, meterTop + 20 * row);
    }

    const double loudness = 10 * std::log10(displayPower.Load());
    const double distance = loudness - targetLufs;
    double loudnessId = kLoudnessInvalid, distanceId = kDistanceInvalid;
    if (loudness < 0 && loudness > -49) {
        FormatString(kLoudnessText, kLoudnessFormat, loudness);
        GetString(kLoudnessText) += GetString(kLoudnessUnit);
        FormatString(kDistanceText, kDistanceFormat, distance);
        GetString(kDistanceText) += GetString(kDistanceUnit);
        loudnessId = kLoudnessText;
        distanceId = kDistanceText;
    }
    // Green on target, orange when louder, cyan when quieter.
    ColorR = 0.5;
    ColorG = 1;
    ColorB = 0;
    if (distance > 1) {
        ColorR = 1;
        ColorG = 0.5;
    }
    if (distance < -1) {
        ColorR = 0;
        ColorG = 0.85;
        ColorB = 0.85;
    }
    ColorA = 0.8;
    SetFont(1, kReadoutFont, 20, kBold);
    const double loudnessWidth = MeasureString(loudnessId).width;
    const double distanceWidth = MeasureString(distanceId).width;
    PenX = 165 - loudnessWidth / 2;
    PenY = meterTop + 114;
    DrawString(loudnessId);
    PenX = 286 - distanceWidth / 2;
    PenY = meterTop + 114;
    DrawString(distanceId);

    // Gating bar: grows leftward from x 276 as the gate closes, 101 pixels when shut.
    ColorA = 0.8;
    PenX = 276;
    PenY = meterTop + 177;
    ColorR = 0;
    ColorG = 1;
    ColorB = 1;
    FillRectTo(std::ceil(276 - (1 - gateLevel) * 101), 586);

    if (gateLevel > gateOneSecond && gatingRatio > 0.8) {
        ColorR = ColorG = ColorB = 1;
        SetFont(1, kWarningFont, 13, kBold);
        const TextSize warning = MeasureString(kWarningText);
        // Fades in over 20 frames, then starts again.
        p.BlinkCounter += 1;
        ColorA = std::fmod(p.BlinkCounter, 20) * 0.05;
        PenX = 225 - warning.width / 2;
        PenY = 580 + warning.height;
        DrawString(kWarningText);
    }

    ColorR = ColorG = ColorB = 1;
    PenX = 380;
    PenY = 595;
    ColorA = 0.5;
    SetFont(1, kLabelFont, 11, 0);
    DrawString(BuildLabelId);
}
