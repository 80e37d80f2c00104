// The polled panel controls, frame by frame against hand-computed values: hit testing, hover and arming,
// dragging (normal, fine with shift, control for the default), clamping, and what they draw.
#include "editor/panel_controls.h"
#include "runtime/parvex.h"
#include "shell/instance.h"
#include "shell/vest.h"
#include "testkit/quiet_host.h"
#include "toolkit/bitmap.h"
#include "toolkit/drawcontext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

using VSTGUI::CColor;
using VSTGUI::COffscreenContext;

namespace {

constexpr double kLeft = 1, kShift = 8, kControl = 4;

class ControlEffect : public TParvex {
public:
    void DoGraphics() override {
        if (frame) frame(*this);
    }
    std::function<void(ControlEffect&)> frame;
};

class PanelControls : public ::testing::Test {
protected:
    void SetUp() override {
        SetPluginFolder(std::string(VANDREL_BINARY_DIR) + "/");
        effect = new ControlEffect;
        wrapper = WireInstance(effect, testkit::QuietHost);
        effect->SetFileName(0, "vandrel_gfx\\knob_sm.png");
        effect->SetString(10002, "%.2f");
        effect->SetString(10010, " ms");
        effect->SetString(10003, "Arial");
        // A gate-speed-like slider: 20 to 2000 ms in steps of 10, default 500, track at (90, 100).
        Frame([&](ControlEffect& e) {
            e.SetFont(1, 10003, 16, 0);
            SetupSlider(e, slider, 90, 100, 250, 20, 20, 2000, 10, 500, 0, 10010, 10011);
        });
    }
    void TearDown() override {
        wrapper->getAeffect()->dispatcher(wrapper->getAeffect(), vst2::effClose, 0, 0, nullptr, 0);
    }
    void Frame(std::function<void(ControlEffect&)> body) {
        effect->frame = std::move(body);
        image = std::make_unique<COffscreenContext>(450, 620);
        wrapper->DrawWith(image.get(), 450, 620);
    }
    // One frame that sees the pointer at (x, y) with the given buttons; answers the slider's value.
    double SliderFrame(double x, double y, double buttons) {
        input.PanelX = x;
        input.PanelY = y;
        input.PanelButtons = buttons;
        double result = 0;
        Frame([&](ControlEffect& e) {
            e.SetFont(1, 10003, 16, 0);
            e.ColorA = 1; // the slider keeps the alpha it finds
            result = SliderControl(e, input, slider, sliderState, sliderValue);
        });
        EXPECT_EQ(result, sliderValue.Load());
        return result;
    }
    double ToggleFrame(double x, double y, double buttons) {
        input.PanelX = x;
        input.PanelY = y;
        input.PanelButtons = buttons;
        double result = 0;
        Frame([&](ControlEffect& e) { result = ToggleControl(e, input, toggle, toggleState, toggleValue); });
        return result;
    }

    ControlEffect* effect = nullptr;
    CVeST* wrapper = nullptr;
    std::unique_ptr<COffscreenContext> image;
    TPanelInput input;
    TSliderRecord slider;
    TSliderState sliderState;
    SharedDouble sliderValue{500};
    TToggleRecord toggle{46, 330, 10014, 0, 32, 32};
    TToggleState toggleState;
    SharedDouble toggleValue{0};
};

// Pointer x whose normal drag offset (pointer - X - half knob) is `offset`.
constexpr double PointerAt(double offset) {
    return 90 + 16 + offset;
}

} // namespace

TEST_F(PanelControls, SetupFillsTheRecordFromTheKnobImage) {
    EXPECT_EQ(slider.ImageW, 32);
    EXPECT_EQ(slider.ImageH, 32);
    EXPECT_EQ(slider.HalfImageW, 16);
    EXPECT_EQ(slider.Range, 1980);
    EXPECT_EQ(slider.Right, 340);
    EXPECT_EQ(slider.CentreY, 110);
    EXPECT_EQ(slider.KnobY, 94); // ceil(100 - 16 + 10)
    EXPECT_EQ(slider.Step, 10);
    EXPECT_EQ(slider.BaseStep, 10);
    EXPECT_EQ(slider.Format, 10002);
}

TEST_F(PanelControls, TogglesFlipOnceAfterHoverAndNeverForAPressBegunOutside) {
    EXPECT_EQ(ToggleFrame(60, 340, kLeft), 0) << "press outside the hover never seen";
    EXPECT_EQ(ToggleFrame(10, 10, kLeft), 0);
    EXPECT_EQ(ToggleFrame(60, 340, kLeft), 0) << "dragged in with the button down";
    EXPECT_EQ(ToggleFrame(60, 340, kLeft), 0);
    EXPECT_EQ(input.ControlsChanged, 0);

    EXPECT_EQ(ToggleFrame(60, 340, 0), 0) << "hover";
    EXPECT_EQ(ToggleFrame(60, 340, kLeft), 1) << "press over a hovered toggle flips it";
    EXPECT_EQ(input.ControlsChanged, 1);
    EXPECT_EQ(ToggleFrame(60, 340, kLeft), 1) << "holding does not flip again";
    EXPECT_EQ(ToggleFrame(60, 340, kLeft), 1);
    EXPECT_EQ(ToggleFrame(60, 340, 0), 1) << "release re-arms through hover";
    EXPECT_EQ(ToggleFrame(78, 362, kLeft + kShift), 0) << "edges count as inside; any button flips";

    EXPECT_EQ(ToggleFrame(60, 340, 0), 0);
    EXPECT_EQ(ToggleFrame(100, 340, 0), 0) << "leaving clears hover";
    EXPECT_EQ(ToggleFrame(60, 340, kLeft), 0);
}

TEST_F(PanelControls, ALitToggleDrawsTheKnobAtItsCorner) {
    ToggleFrame(0, 0, 0);
    EXPECT_EQ(image->getPixel(62, 346).alpha, 0) << "off: nothing drawn";
    toggleValue = 1;
    ToggleFrame(0, 0, 0);
    EXPECT_EQ(image->getPixel(62, 346).alpha, 255) << "knob centre";
    EXPECT_EQ(image->getPixel(45, 346).alpha, 0);
    EXPECT_EQ(image->getPixel(79, 346).alpha, 0);
}

TEST_F(PanelControls, PressingTheTrackOfAHoveredSliderJumpsToThePointer) {
    EXPECT_EQ(SliderFrame(PointerAt(108), 110, 0), 500) << "hover alone changes nothing";
    EXPECT_EQ(input.ControlsChanged, 0);
    // Offset 108 of a 216-pixel track is half the range: 990 above the minimum.
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(108), 110, kLeft), 1010);
    EXPECT_EQ(input.ControlsChanged, 1);
    EXPECT_EQ(effect->GetString(190000), "1010.00 ms");
    // Quantised upward: offset 50 gives 458.33 above the minimum, so 460.
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(50), 110, kLeft), 480);
}

TEST_F(PanelControls, ADragContinuesOutsideTheSliderUntilRelease) {
    SliderFrame(200, 110, 0);
    SliderFrame(200, 110, kLeft);
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(216), 300, kLeft), 2000) << "far below the track";
    EXPECT_DOUBLE_EQ(SliderFrame(-50, -50, kLeft), 20) << "past the left edge: clamped to Min";
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(54), 300, kLeft), 520);
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(54), 300, 0), 520);
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(108), 110, 0), 520) << "moves after release do nothing";
}

TEST_F(PanelControls, APressBegunOutsideTheSliderDoesNotMoveIt) {
    SliderFrame(20, 20, kLeft);
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(108), 110, kLeft), 500);
    EXPECT_EQ(input.ControlsChanged, 0);
}

TEST_F(PanelControls, ShiftDragsFinelyFromTheAnchorWithStepOneTenth) {
    SliderFrame(PointerAt(108), 110, 0);
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(108), 110, kLeft), 1010);
    // Shift pressed mid-drag: the knob stays under the pointer, the anchor is taken, the step is 0.1.
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(108), 110, kLeft + kShift), 1010);
    EXPECT_EQ(sliderState.Anchor, 214);
    EXPECT_EQ(slider.Step, 0.1);
    // 40 pixels of travel move the knob 40 x 10 / 214 = 1.869 pixels: offset 109.869, 1007.13 -> 1007.2.
    EXPECT_NEAR(SliderFrame(PointerAt(148), 110, kLeft + kShift), 1027.2, 1e-9);
    // Releasing shift returns to the pointer and to the slider's own step.
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(148), 110, kLeft), 1380);
    EXPECT_EQ(sliderState.Anchor, 0);
    EXPECT_EQ(slider.Step, 10);
}

TEST_F(PanelControls, ControlPutsTheDefaultOnEveryFrameOfTheDrag) {
    SliderFrame(PointerAt(10), 110, 0);
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(10), 110, kLeft + kControl), 500);
    sliderValue = 1500;
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(200), 300, kLeft + kControl), 500);
    EXPECT_DOUBLE_EQ(SliderFrame(PointerAt(200), 300, kLeft), 1860);
}

TEST_F(PanelControls, AHostSetValueOutsideTheRangeIsClampedAndWrittenBack) {
    sliderValue = 3000;
    EXPECT_EQ(SliderFrame(0, 0, 0), 2000);
    EXPECT_EQ(sliderValue, 2000);
    sliderValue = -5;
    EXPECT_EQ(SliderFrame(0, 0, 0), 20);
    sliderValue = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(SliderFrame(0, 0, 0), 20) << "not a number becomes Min";
    EXPECT_EQ(input.ControlsChanged, 0) << "clamping is not a change by the user";
}

TEST_F(PanelControls, TheKnobSitsAtTheValuesShareOfTheTrack) {
    sliderValue = 20;
    SliderFrame(0, 0, 0);
    // Left edge at X + 1 = 91, top at KnobY = 94: centre (107, 110).
    EXPECT_EQ(image->getPixel(107, 110).alpha, 255);
    EXPECT_EQ(image->getPixel(89, 110).alpha, 0);
    sliderValue = 2000;
    SliderFrame(0, 0, 0);
    // Left edge at 91 + 216 = 307: centre (323, 110); the value text starts at Right = 340.
    EXPECT_EQ(image->getPixel(323, 110).alpha, 255);
    EXPECT_EQ(image->getPixel(107, 110).alpha, 0);
    EXPECT_EQ(effect->GetString(190000), "2000.00 ms");
    int textInk = 0;
    for (int x = 340; x < 440; ++x)
        for (int y = 100; y < 120; ++y) {
            const CColor pixel = image->getPixel(x, y);
            if (pixel.alpha == 255) {
                ++textInk;
                EXPECT_EQ(pixel.red, 204) << "value text in grey 0.8";
            }
        }
    EXPECT_GT(textInk, 5);
}

namespace {

struct Bar {
    int left, right; // first and one-past-last inked column on the bar's middle row
};

Bar InkedSpan(const COffscreenContext& image, int row) {
    Bar bar{-1, -1};
    for (int x = 0; x < image.getWidth(); ++x)
        if (image.getPixel(x, row).alpha) {
            if (bar.left < 0) bar.left = x;
            bar.right = x + 1;
        }
    return bar;
}

} // namespace

TEST_F(PanelControls, GainMeterBarsGrowFromTheCentreByDecibels) {
    struct Case {
        double gain;
        int left, right;
        CColor colour;
    };
    // 175 pixels per 20 dB around x + 175; the grey mark covers x + 175 itself.
    const Case cases[] = {
        {1, 225, 226, {127, 127, 127, 255}},       // no bar: only the centre mark's column
        {0.1, 50, 226, {255, 0, 0, 255}},          // -20 dB: the full left half, pure red
        {0.01, 50, 226, {255, 0, 0, 255}},         // clamped to 0.1
        {10, 225, 400, {255, 0, 0, 255}},          // +20 dB: x + 176 to x + 350
        {2, 225, 277, {127, 127, 0, 255}},         // +6 dB: 52.68 pixels; r = 0.5, g = 0.5
        {0.5, 172, 226, {127, 127, 0, 255}},       // -6 dB
        {std::nan(""), 50, 226, {255, 0, 0, 255}}, // not a number counts as the smallest gain
    };
    for (const Case& c : cases) {
        Frame([&](ControlEffect& e) { EXPECT_EQ(GainMeter(e, c.gain, 50, 400), 0); });
        const Bar bar = InkedSpan(*image, 405);
        EXPECT_EQ(bar.left, c.left) << c.gain;
        EXPECT_EQ(bar.right, c.right) << c.gain;
        if (c.gain != 1) {
            // Bar rows y + 2 to y + 8.
            const int probe = c.left == 225 ? c.right - 1 : c.left;
            EXPECT_EQ(image->getPixel(probe, 405), c.colour) << c.gain;
            EXPECT_EQ(image->getPixel(probe, 401).alpha, 0) << c.gain;
            EXPECT_NE(image->getPixel(probe, 402).alpha, 0) << c.gain;
            EXPECT_EQ(image->getPixel(probe, 408).alpha, 0) << c.gain;
        }
        // Centre mark: x + 175, rows y to y + 10.
        EXPECT_EQ(image->getPixel(225, 400), (CColor{127, 127, 127, 255})) << c.gain;
        EXPECT_EQ(image->getPixel(225, 409), (CColor{127, 127, 127, 255})) << c.gain;
        EXPECT_EQ(image->getPixel(225, 410).alpha, 0) << c.gain;
        EXPECT_EQ(image->getPixel(226, 400).alpha, 0) << c.gain;
        EXPECT_EQ(effect->PenX, 226);
        EXPECT_EQ(effect->PenY, 410);
    }
}

TEST_F(PanelControls, GainMeterColourTurnsFromGreenToRedAwayFromUnity) {
    Frame([&](ControlEffect& e) { GainMeter(e, 1.2, 50, 400); });
    // 1.2 x 0.25 = 0.3 red, 0.7 green: bytes 76 and 178.
    EXPECT_EQ(image->getPixel(227, 405), (CColor{76, 178, 0, 255}));
}
