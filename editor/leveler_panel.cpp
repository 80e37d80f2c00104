// The leveler's drawing section: the whole 450 x 620 panel, painted on every frame, and at the same time
// its only input handling.
#include "editor/leveler_panel.h"
#include "leveler/leveler.h"

#include <cmath>

using namespace leveler;

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
    double x, yOffset, unit, label;
    int32_t slider; // the slider whose copy the control edits and whose value it writes
};

// Main page, then configuration page. Ranges, steps and defaults are the parameter table's panel columns.
constexpr SliderLayout kSliderLayout[PanelState::kSliders] = {
    {90, 0, 10004, 10005, 1},     {90, 50, 10006, 10007, 2},    {90, 100, 10008, 10009, 3},
    {90, 150, 10010, 10011, 4},   {90, 200, 10012, 10013, 20},  {111, -28, 10017, 10018, 10},
    {111, 12, 10019, 10020, 11},  {111, 52, 10021, 10022, 12},  {111, 92, 10023, 10024, 13},
    {111, 132, 10025, 10026, 14}, {111, 172, 10027, 10028, 15}, {111, 212, 10029, 10030, 6},
};
constexpr double kSliderW = 250, kSliderH = 20;

enum Toggle { kAutomaticTrim, kConfig, kAutomaticThreshold };
constexpr double kToggleX[PanelState::kToggles] = {46, 312, 184};
constexpr double kToggleLabel[PanelState::kToggles] = {10014, 10016, 10015};
constexpr double kToggleYOffset = 240;
constexpr int32_t kAutomaticTrimSlider = 5;
constexpr int32_t kAutomaticThresholdSlider = 7;

constexpr bool EveryControlEditsAParameter() {
    for (const SliderLayout& layout : kSliderLayout)
        if (ParameterIndexOfSlider(layout.slider) < 0) return false;
    return ParameterIndexOfSlider(kAutomaticTrimSlider) >= 0 &&
           ParameterIndexOfSlider(kAutomaticThresholdSlider) >= 0;
}
static_assert(EveryControlEditsAParameter());

const ParameterRow& RowOf(int32_t slider) {
    return kParameters[ParameterIndexOfSlider(slider)];
}

// Tells the host of the user's edit of one slider on this frame: begun when the slider is taken hold of,
// each value the user gives it while held, ended when let go.
void ReportSliderEdit(THostLink* host, PanelState::TEdit& edit, const TSliderState& state, int32_t slider,
                      double before, double value) {
    const int32_t index = ParameterIndexOfSlider(slider);
    if (IsZero(state.Armed)) {
        if (!IsZero(edit.Open)) HostEndEdit(host, index);
        edit.Open = 0;
        return;
    }
    if (IsZero(edit.Open)) {
        HostBeginEdit(host, index);
        edit.Open = 1;
        edit.Reported = before;
    }
    if (value != edit.Reported) {
        HostParameterEdited(host, index, value);
        edit.Reported = value;
    }
}

// A click on a toggle is a whole edit: begun, reported and ended at once.
void ReportToggleEdit(THostLink* host, int32_t slider, double before, double after) {
    if (before == after) return;
    const int32_t index = ParameterIndexOfSlider(slider);
    HostBeginEdit(host, index);
    HostParameterEdited(host, index, after);
    HostEndEdit(host, index);
}

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
            const ParameterRow& row = RowOf(s.slider);
            SetupSlider(*this, p.sliders[i], s.x, baseY + s.yOffset, kSliderW, kSliderH, row.panel.minimum,
                        row.panel.maximum, row.panel.step, row.defaultValue, kKnobImage, s.unit, s.label);
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
    // Each control's value before and after this frame, for what the host is told.
    double before[PanelState::kSliders] = {}, after[PanelState::kSliders] = {};
    for (int i = first; i < end; ++i) {
        const int32_t slider = kSliderLayout[i].slider;
        before[i] = sliderCopies[slider];
        after[i] = SliderControl(*this, p, p.sliders[i], p.sliderStates[i], sliderCopies[slider]);
        store(slider, after[i]);
    }

    const double trimBefore = sliderCopies[kAutomaticTrimSlider];
    const double trimAfter =
        ToggleControl(*this, p, p.toggles[kAutomaticTrim], p.toggleStates[kAutomaticTrim],
                      sliderCopies[kAutomaticTrimSlider]);
    store(kAutomaticTrimSlider, trimAfter);
    p.ConfigPage = ToggleControl(*this, p, p.toggles[kConfig], p.toggleStates[kConfig], p.ConfigToggle);
    const double thresholdBefore = sliderCopies[kAutomaticThresholdSlider];
    const double thresholdAfter =
        ToggleControl(*this, p, p.toggles[kAutomaticThreshold], p.toggleStates[kAutomaticThreshold],
                      sliderCopies[kAutomaticThresholdSlider]);
    store(kAutomaticThresholdSlider, thresholdAfter);

    if (!IsZero(p.ControlsChanged)) {
        if (writeBack) ApplySliders();
        p.ControlsChanged = 0;
    }
    // The host hears of the edits once they are applied, so that a host echoing them back finds them set.
    if (writeBack) {
        for (int i = first; i < end; ++i)
            ReportSliderEdit(Host, p.sliderEdits[i], p.sliderStates[i], kSliderLayout[i].slider, before[i],
                             after[i]);
        ReportToggleEdit(Host, kAutomaticTrimSlider, trimBefore, trimAfter);
        ReportToggleEdit(Host, kAutomaticThresholdSlider, thresholdBefore, thresholdAfter);
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
