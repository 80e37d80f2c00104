// The leveler's panel painted headless through the wrapper: meters, read-outs and their colours, the
// gating bar, the warning, the two pages, the controls writing back to the sliders, and the frames between
// a reset and the first slider refresh, which must not destroy the slider values.
#include "assets/embedded_images.h"
#include "leveler/leveler.h"
#include "shell/instance.h"
#include "shell/vest.h"
#include "testkit/quiet_host.h"
#include "toolkit/bitmap.h"
#include "toolkit/drawcontext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

using VSTGUI::CBitmap;
using VSTGUI::CColor;
using VSTGUI::COffscreenContext;

namespace {

// Effect button bits as the mouse entries store them, from the toolkit's bits the view passes.
constexpr int32_t kToolkitLeft = 2, kToolkitShift = 16, kToolkitControl = 32;

// The pictures as the panel draws them, for comparison: the background, and the configuration page on it.
std::unique_ptr<COffscreenContext> Picture(bool configPage) {
    auto picture = std::make_unique<COffscreenContext>(450, 620);
    for (int number = 1; number <= (configPage ? 2 : 1); ++number) {
        const EmbeddedImage* embedded = FindEmbeddedImage(number);
        CBitmap bitmap(embedded->data, embedded->size);
        const double left = number == 2 ? 5 : 0, top = number == 2 ? 57 : 0;
        picture->drawBitmap(&bitmap, {left, top, left + bitmap.getWidth(), top + bitmap.getHeight()}, {0, 0});
    }
    return picture;
}

bool Near(const CColor& a, const CColor& b, int tolerance = 2) {
    return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
           std::abs(a.blue - b.blue) <= tolerance && std::abs(a.alpha - b.alpha) <= tolerance;
}

// `colour` at `alpha` over `under`, as an opaque pixel.
CColor Over(const CColor& under, const CColor& colour, double alpha) {
    auto mix = [&](uint8_t below, uint8_t above) {
        return static_cast<uint8_t>(std::lround(below * (1 - alpha) + above * alpha));
    };
    return {mix(under.red, colour.red), mix(under.green, colour.green), mix(under.blue, colour.blue), 255};
}

class Panel : public ::testing::Test {
protected:
    void SetUp() override {
        SetPluginFolder(std::string(VANDREL_BINARY_DIR) + "/");
        effect = new TParvexEffect;
        wrapper = WireInstance(effect, testkit::QuietHost);
        Dispatch(vst2::effSetSampleRate, 0, 48000);
        Dispatch(vst2::effOpen);
        Dispatch(vst2::effMainsChanged, 1);
    }
    void TearDown() override { Dispatch(vst2::effClose); }

    intptr_t Dispatch(int32_t opcode, intptr_t value = 0, float option = 0) {
        return wrapper->getAeffect()->dispatcher(wrapper->getAeffect(), opcode, 0, value, nullptr, option);
    }
    // One frame of the panel into a fresh image.
    COffscreenContext& Frame() {
        image = std::make_unique<COffscreenContext>(450, 620);
        wrapper->DrawWith(image.get(), 450, 620);
        return *image;
    }
    // A hover frame, then a frame that sees the left button (plus modifiers) pressed there.
    void Press(double x, double y, int32_t modifiers = 0) {
        wrapper->EditorMouseMoved(x, y, 0);
        Frame();
        wrapper->EditorMouseDown(x, y, kToolkitLeft | modifiers);
        Frame();
    }
    void Release(double x, double y) {
        wrapper->EditorMouseUp(x, y, kToolkitLeft);
        Frame();
    }
    void Click(double x, double y) {
        Press(x, y);
        Release(x, y);
    }
    // Pixels of the region that differ from the picture underneath.
    int Changed(const COffscreenContext& under, int left, int top, int right, int bottom) const {
        int count = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) count += !Near(image->getPixel(x, y), under.getPixel(x, y));
        return count;
    }
    // Pixels of the region whose colour is `colour` at `alpha` fully covering the picture underneath.
    int Covered(const COffscreenContext& under, CColor colour, double alpha, int left, int top, int right,
                int bottom) const {
        int count = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                count += Near(image->getPixel(x, y), Over(under.getPixel(x, y), colour, alpha), 3);
        return count;
    }
    double Slider(int number) const { return effect->SliderValues[number].Load(); }

    TParvexEffect* effect = nullptr;
    CVeST* wrapper = nullptr;
    std::unique_ptr<COffscreenContext> image;
    std::unique_ptr<COffscreenContext> background = Picture(false);
    std::unique_ptr<COffscreenContext> configPage = Picture(true);
};

// Read-out boxes: loudness centred on x 165, distance on x 286, text from y 514.
constexpr int kReadoutTop = 510, kReadoutBottom = 540;
const CColor kGreen{127, 255, 0, 255}, kOrange{255, 127, 0, 255}, kCyan{0, 216, 216, 255};

} // namespace

TEST_F(Panel, FirstFrameShowsTheMainPageWithTheSlidersWhereTheyAre) {
    Frame();
    EXPECT_EQ(effect->panel.SetupDone, 1);
    EXPECT_EQ(effect->panel.ConfigPage, 0);
    EXPECT_EQ(effect->panel.BaseY, 90);
    EXPECT_EQ(effect->panel.MeterTop, 400);
    // The header and the area around the sliders are the background itself.
    EXPECT_EQ(Changed(*background, 0, 0, 450, 60), 0);
    // Knobs at the slider copies: Target -23 of -46..0 is mid-track, its knob centre at x 90 + 1 + 108 + 16.
    EXPECT_GT(Changed(*background, 205, 134, 225, 146), 100);
    EXPECT_EQ(effect->GetString(190000), "0.00 dB") << "the last main slider drawn is Output Trim";
    // Defaults fall inside the panel's ranges: the frame writes them back unchanged.
    for (const TSlider& slider : effect->Sliders)
        EXPECT_EQ(Slider(slider.number), slider.defaultValue) << slider.name;
    // Both automatic switches are on: their toggles are lit; Config is not.
    EXPECT_GT(Changed(*background, 52, 336, 72, 356), 100);
    EXPECT_GT(Changed(*background, 190, 336, 210, 356), 100);
    EXPECT_EQ(Changed(*background, 318, 336, 338, 356), 0);
}

TEST_F(Panel, GainMetersShowEachStageAndTakeAZeroGainForUnity) {
    effect->fast.gain = 1;
    effect->medium.gain = 0.1;
    effect->slow.gain = 0;
    Frame();
    // Unity: no bar, only the grey centre mark at x 225, rows 400 to 410.
    EXPECT_EQ(image->getPixel(225, 400), (CColor{127, 127, 127, 255}));
    EXPECT_EQ(image->getPixel(225, 409), (CColor{127, 127, 127, 255}));
    EXPECT_EQ(Changed(*background, 50, 400, 225, 412), 0);
    EXPECT_EQ(Changed(*background, 226, 400, 400, 412), 0);
    // Gain 0.1: red from x 50 to 226, rows 422 to 428.
    for (int x : {50, 120, 224}) EXPECT_EQ(image->getPixel(x, 425), (CColor{255, 0, 0, 255})) << x;
    EXPECT_EQ(image->getPixel(49, 425), background->getPixel(49, 425));
    EXPECT_EQ(image->getPixel(226, 425), background->getPixel(226, 425));
    EXPECT_EQ(image->getPixel(120, 421), background->getPixel(120, 421));
    EXPECT_EQ(image->getPixel(120, 428), background->getPixel(120, 428));
    // Gain 0 on the slow row reads as unity.
    EXPECT_EQ(Changed(*background, 50, 440, 225, 452), 0);
    EXPECT_EQ(image->getPixel(225, 445), (CColor{127, 127, 127, 255}));
}

TEST_F(Panel, ReadoutsShowLoudnessAndDistanceInTheColourOfTheDistance) {
    effect->displayPower = std::pow(10, -2.3);
    Frame();
    EXPECT_EQ(effect->GetString(190001), "-23.0 LUFS");
    EXPECT_EQ(effect->GetString(190002), "0.0 LU");
    // On target: green (0.5, 1, 0) at alpha 0.8 on both read-outs; no pixel in the other two colours.
    EXPECT_GT(Covered(*background, kGreen, 0.8, 100, kReadoutTop, 230, kReadoutBottom), 30);
    EXPECT_GT(Covered(*background, kGreen, 0.8, 240, kReadoutTop, 340, kReadoutBottom), 15);
    EXPECT_EQ(Covered(*background, kOrange, 0.8, 100, kReadoutTop, 340, kReadoutBottom), 0);
    EXPECT_EQ(Covered(*background, kCyan, 0.8, 100, kReadoutTop, 340, kReadoutBottom), 0);

    effect->targetLufs = -26;
    Frame();
    EXPECT_EQ(effect->GetString(190002), "3.0 LU");
    EXPECT_GT(Covered(*background, kOrange, 0.8, 100, kReadoutTop, 340, kReadoutBottom), 30) << "louder";
    EXPECT_EQ(Covered(*background, kGreen, 0.8, 100, kReadoutTop, 340, kReadoutBottom), 0);

    effect->targetLufs = -21.5;
    Frame();
    EXPECT_EQ(effect->GetString(190002), "-1.5 LU");
    EXPECT_GT(Covered(*background, kCyan, 0.8, 100, kReadoutTop, 340, kReadoutBottom), 30) << "quieter";
    EXPECT_EQ(Covered(*background, kGreen, 0.8, 100, kReadoutTop, 340, kReadoutBottom), 0);
}

TEST_F(Panel, ReadoutsSayInvalidWithoutAMeasurementOrOutsideTheWindow) {
    for (double power : {0.0, 1.0, std::pow(10, -5.0), -1.0}) {
        effect->displayPower = power;
        effect->Strings.erase(190001);
        Frame();
        EXPECT_EQ(effect->Strings.count(190001), 0u) << power;
        // Both read-outs say INVALID, each centred on its box.
        int left = 450, right = 0;
        for (int y = kReadoutTop; y < kReadoutBottom; ++y)
            for (int x = 100; x < 230; ++x)
                if (!Near(image->getPixel(x, y), background->getPixel(x, y))) {
                    left = std::min(left, x);
                    right = std::max(right, x + 1);
                }
        EXPECT_NEAR((left + right) / 2.0, 165, 3) << power;
        EXPECT_GT(right - left, 50) << "seven bold capitals at 17 pixels";
    }
    // No measurement: the distance is minus infinity, so the colour is the quieter one.
    effect->displayPower = 0;
    Frame();
    EXPECT_GT(Covered(*background, kCyan, 0.8, 100, kReadoutTop, 340, kReadoutBottom), 30);
}

TEST_F(Panel, GatingBarGrowsLeftFromX276AsTheGateCloses) {
    const CColor cyan{0, 255, 255, 255};
    effect->gateLevel = 0.5;
    Frame();
    // ceil(276 - 50.5) = 226: columns 226 to 275, rows 577 to 585.
    for (int x : {226, 250, 275})
        for (int y : {577, 585})
            EXPECT_TRUE(Near(image->getPixel(x, y), Over(background->getPixel(x, y), cyan, 204 / 255.0), 1))
                << x << "," << y;
    EXPECT_EQ(Changed(*background, 200, 570, 226, 592), 0);
    EXPECT_EQ(Changed(*background, 276, 570, 300, 592), 0);
    EXPECT_EQ(Changed(*background, 226, 586, 276, 592), 0);

    effect->gateLevel = 1;
    Frame();
    EXPECT_EQ(Changed(*background, 150, 570, 300, 592), 0) << "open gate: no bar";
    effect->gateLevel = 0;
    Frame();
    EXPECT_EQ(Changed(*background, 175, 577, 276, 586), 101 * 9) << "shut: 101 pixels";
    EXPECT_EQ(Changed(*background, 174, 577, 175, 586), 0);
}

TEST_F(Panel, WarningBlinksAboveEightyPercentGatingOnly) {
    effect->gateLevel = 0.5;
    effect->gateOneSecond = 0.1;
    effect->gatingRatio = 0.8;
    for (int i = 0; i < 3; ++i) Frame();
    EXPECT_EQ(effect->panel.BlinkCounter, 0) << "exactly 0.8 shows nothing";
    const int warningTop = 593, warningBottom = 610;
    EXPECT_EQ(Changed(*background, 100, warningTop, 370, warningBottom), 0);

    effect->gatingRatio = 0.81;
    int previous = -1;
    for (int frame = 1; frame <= 20; ++frame) {
        Frame();
        EXPECT_EQ(effect->panel.BlinkCounter, frame);
        const int ink = Changed(*background, 100, warningTop, 370, warningBottom);
        if (frame == 20) {
            EXPECT_EQ(ink, 0) << "the fade starts again from alpha 0";
        } else if (frame >= 4) {
            EXPECT_GE(ink, previous) << "fading in, frame " << frame;
        }
        previous = ink;
    }
    effect->gatingRatio = 0.81;
    effect->gateLevel = 0.05;
    Frame();
    EXPECT_EQ(effect->panel.BlinkCounter, 20) << "a gate below its one-second level shows no warning";
}

TEST_F(Panel, ConfigTogglesThePageFromTheNextFrame) {
    Press(328, 346);
    EXPECT_EQ(effect->panel.ConfigPage, 1);
    EXPECT_EQ(effect->GetString(190000), "0.00 dB") << "the frame that saw the press showed the main page";
    Release(328, 346);
    EXPECT_EQ(effect->GetString(190000), "0.00") << "HPF Amount has no unit and is drawn last";
    // The configuration picture covers (5, 57) to (445, 327) except where knobs and values sit.
    EXPECT_EQ(Changed(*configPage, 5, 57, 100, 327), 0);
    EXPECT_GT(Changed(*background, 5, 57, 100, 327), 1000);

    Click(328, 346);
    EXPECT_EQ(effect->panel.ConfigPage, 0);
    EXPECT_EQ(Changed(*background, 0, 0, 90, 330), 0);
}

TEST_F(Panel, EachPageWritesOnlyItsOwnSlidersClampedToThePanelsRanges) {
    effect->SliderValues[2] = -50; // the host's range is the same; the automatic controls are not bound
    effect->SliderValues[20] = 2;
    effect->SliderValues[10] = 25;
    effect->DoSlider();
    Frame();
    EXPECT_EQ(Slider(2), -46);
    EXPECT_EQ(Slider(20), 2);
    EXPECT_EQ(Slider(10), 25) << "configuration page hidden";
    Click(328, 346);
    Frame();
    EXPECT_EQ(Slider(10), 20);
    EXPECT_EQ(effect->sliderCopies[10], 20);
}

TEST_F(Panel, DraggingASliderWritesTheSliderAndAppliesIt) {
    // Target: x 90, y 140, range -46..0 in steps of 0.5; offset 162 of 216 is three quarters.
    Press(90 + 16 + 162, 150);
    EXPECT_EQ(Slider(2), -11.5);
    EXPECT_EQ(effect->sliderCopies[2], -11.5);
    EXPECT_EQ(effect->targetLufs, -11.5) << "applied on the same frame";
    EXPECT_EQ(effect->panel.ControlsChanged, 0);
    wrapper->EditorMouseMoved(90 + 16 + 54, 300, kToolkitLeft);
    Frame();
    EXPECT_EQ(Slider(2), -34.5) << "dragged below the slider";
    Release(90 + 16 + 54, 300);

    // Control: Gate Speed to its default from wherever it was.
    effect->SliderValues[4] = 1500;
    effect->DoSlider();
    Press(300, 250, kToolkitControl);
    EXPECT_EQ(Slider(4), 500);
    Release(300, 250);

    // Shift: fine drag on Noise Floor (x 90, y 190, -80..0): 0.1 steps from the anchor.
    Press(90 + 16 + 108, 200, kToolkitShift);
    EXPECT_EQ(Slider(3), -40);
    wrapper->EditorMouseMoved(90 + 16 + 108 + 107, 200, kToolkitLeft | kToolkitShift);
    Frame();
    // 107 pixels of travel with the anchor at 214: offset 113, fraction 0.523148.., -38.148 -> -38.1.
    EXPECT_NEAR(Slider(3), -38.1, 1e-9);
}

TEST_F(Panel, ToggleSwitchesWriteTheirSliders) {
    EXPECT_EQ(Slider(5), 1);
    Click(62, 346);
    EXPECT_EQ(Slider(5), 0);
    EXPECT_EQ(effect->automaticTrim, 0) << "applied";
    EXPECT_EQ(Changed(*background, 52, 336, 72, 356), 0) << "unlit";
    Click(200, 346);
    EXPECT_EQ(Slider(7), 0);
    Click(62, 346);
    EXPECT_EQ(Slider(5), 1);
}

TEST_F(Panel, FramesBeforeTheFirstSliderRefreshWriteNothing) {
    // A fresh open: the slider copies are all 0 until the next DoSlider.
    Dispatch(vst2::effOpen);
    ASSERT_EQ(effect->sliderCopies[2], 0);
    Frame();
    Click(62, 346);
    Click(328, 346);
    Frame();
    for (const TSlider& slider : effect->Sliders)
        EXPECT_EQ(Slider(slider.number), slider.defaultValue) << slider.name;
    EXPECT_EQ(effect->panel.ConfigPage, 1) << "the panel itself still works";

    // A restored state refreshes the copies; from then on frames write them back.
    void* saved = nullptr;
    const int32_t bytes = effect->GetStateChunk(&saved, false);
    std::vector<float> state(static_cast<const float*>(saved), static_cast<const float*>(saved) + bytes / 4);
    state[2] = -30; // entry 2: Target
    effect->SetStateChunk(state.data(), bytes, false);
    Click(328, 346);
    Frame();
    EXPECT_EQ(Slider(2), -30);
    Click(62, 346);
    EXPECT_EQ(Slider(5), 0);
}

TEST_F(Panel, BuildLabelSitsAtTheBottomRight) {
    Frame();
    EXPECT_GT(Changed(*background, 380, 595, 450, 615), 20);
    EXPECT_EQ(effect->GetString(effect->BuildLabelId), "build 170407");
}
