// Effect drawing code through the wrapper's drawing surface into an off-screen image: pixels, fonts,
// text placement and the image table.
#include "runtime/parvex.h"
#include "shell/instance.h"
#include "shell/vest.h"
#include "testkit/quiet_host.h"
#include "toolkit/bitmap.h"
#include "toolkit/drawcontext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;
using VSTGUI::CColor;
using VSTGUI::COffscreenContext;

namespace {

class SketchEffect : public TParvex {
public:
    void DoGraphics() override {
        if (sketch) sketch(*this);
    }
    std::function<void(SketchEffect&)> sketch;
};

class DrawingTest : public ::testing::Test {
protected:
    void SetUp() override {
        logFolder = fs::temp_directory_path() / ("vandrel-drawing-log-" + std::to_string(getpid()));
        fs::remove_all(logFolder);
        setenv("XDG_STATE_HOME", logFolder.c_str(), 1);
        SetPluginFolder(std::string(VANDREL_BINARY_DIR) + "/");
        effect = new SketchEffect;
        wrapper = WireInstance(effect, testkit::QuietHost);
    }
    void TearDown() override {
        wrapper->getAeffect()->dispatcher(wrapper->getAeffect(), vst2::effClose, 0, 0, nullptr, 0);
        unsetenv("XDG_STATE_HOME");
        fs::remove_all(logFolder);
    }
    // Runs one paint of the sketch into a fresh 200 x 200 image.
    void Paint(std::function<void(SketchEffect&)> sketch) {
        effect->sketch = std::move(sketch);
        wrapper->DrawWith(&image, 200, 200);
    }
    std::vector<std::string> LogLines() {
        std::ifstream in(LogFilePath());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    fs::path logFolder;
    SketchEffect* effect = nullptr;
    CVeST* wrapper = nullptr;
    COffscreenContext image{200, 200};
};

const CColor kNothing{0, 0, 0, 0};

} // namespace

TEST(ColorBytes, RoundDownWithATinyNudgeAndClamp) {
    EXPECT_EQ(ToColorByte(1.0), 255);
    EXPECT_EQ(ToColorByte(0.8), 204);
    EXPECT_EQ(ToColorByte(0.5), 127);
    EXPECT_EQ(ToColorByte(0.85), 216);
    EXPECT_EQ(ToColorByte(0.0), 0);
    EXPECT_EQ(ToColorByte(1.2), 255);
    EXPECT_EQ(ToColorByte(-0.1), 0);
}

TEST_F(DrawingTest, OutsideAPaintNothingIsDrawnButStateMoves) {
    EXPECT_FALSE(wrapper->SetFillColor(255, 0, 0, 255));
    EXPECT_FALSE(wrapper->FillRect(0, 0, 10, 10));
    EXPECT_FALSE(wrapper->SelectFont("Arial", 12, 0));
    EXPECT_EQ(wrapper->GetTextWidth("abc"), 0.0);
    effect->ColorR = effect->ColorA = 1;
    effect->FillRectTo(50, 50);
    EXPECT_EQ(effect->SetFont(1, 10003, 16, 0), 1);
    EXPECT_EQ(effect->TextHeight, 16);
    EXPECT_EQ(effect->PenX, 50);
    EXPECT_EQ(image.getPixel(10, 10), kNothing);
    int32_t width = 0, height = 0;
    ASSERT_TRUE(wrapper->GetEditorSize(width, height));
    EXPECT_EQ(width, 450);
    EXPECT_EQ(height, 620);
}

TEST_F(DrawingTest, FillRectToFloorsBothCornersAndOrdersEdges) {
    Paint([](SketchEffect& e) {
        e.ColorR = 0.5;
        e.ColorG = 0;
        e.ColorB = 1;
        e.ColorA = 1;
        e.PenX = 0.9;
        e.PenY = 5.5;
        e.FillRectTo(10.7, 20.2);
        e.PenX = 120;
        e.PenY = 130;
        e.FillRectTo(100.2, 110.9); // drawn toward the upper left
    });
    EXPECT_EQ(image.getPixel(0, 5), (CColor{127, 0, 255, 255}));
    EXPECT_EQ(image.getPixel(9, 19), (CColor{127, 0, 255, 255}));
    EXPECT_EQ(image.getPixel(10, 19), kNothing);
    EXPECT_EQ(image.getPixel(9, 20), kNothing);
    EXPECT_EQ(image.getPixel(0, 4), kNothing);
    EXPECT_EQ(image.getPixel(100, 110).alpha, 255);
    EXPECT_EQ(image.getPixel(119, 129).alpha, 255);
    EXPECT_EQ(image.getPixel(120, 129), kNothing);
    EXPECT_EQ(effect->PenX, 100.2);
    EXPECT_EQ(effect->PenY, 110.9);
}

TEST_F(DrawingTest, SetFontDerivesSizeAndLineHeightAndReusesFaces) {
    struct Case {
        double size, pixels, textHeight;
    };
    for (const Case c : {Case{16, 13, 16}, Case{20, 17, 20}, Case{13, 11, 13}, Case{11, 9, 11},
                         Case{-20, 20, 23.529411764705884}, Case{0, 16, 18.823529411764707}}) {
        Paint([&](SketchEffect& e) {
            e.SetString(10003, "Arial");
            e.SetFont(1, 10003, c.size, 0);
        });
        EXPECT_DOUBLE_EQ(effect->TextHeight, c.textHeight) << c.size;
        EXPECT_EQ(ToIndex(effect->Fonts.at(1).size), c.pixels) << c.size;
        EXPECT_EQ(image.getFontSize(), c.pixels) << "the surface gets whole pixels";
    }
    Paint([](SketchEffect& e) {
        e.SetString(1, "arial");
        e.SetString(2, "ARIAL");
        e.SetFont(2, 1, 16, 0);
        e.SetFont(3, 2, 16, 98 + 105 * 256);
    });
    EXPECT_EQ(wrapper->Surface().FontCache.size(), 1u);
    EXPECT_EQ(effect->Fonts.at(3).style, 3);
    EXPECT_EQ(effect->Fonts.at(2).style, 0);
}

TEST_F(DrawingTest, DrawStringAdvancesByLinesAndLastWidth) {
    double firstWidth = 0, secondWidth = 0;
    Paint([&](SketchEffect& e) {
        e.SetString(10003, "Arial");
        e.SetString(20, "Wide first line\nab");
        e.SetString(21, "Wide first line");
        e.SetString(22, "ab");
        e.ColorR = e.ColorG = e.ColorB = e.ColorA = 1;
        e.SetFont(1, 10003, 16, 0);
        firstWidth = e.MeasureString(21).width;
        secondWidth = e.MeasureString(22).width;
        e.PenX = 10;
        e.PenY = 40;
        e.DrawString(20);
    });
    EXPECT_GT(firstWidth, secondWidth);
    EXPECT_DOUBLE_EQ(effect->PenY, 40 + 16);
    EXPECT_DOUBLE_EQ(effect->PenX, 10 + secondWidth);
    int inkedFirstRow = 0, inkedSecondRow = 0;
    for (int x = 0; x < 200; ++x) {
        for (int y = 40; y < 56; ++y) inkedFirstRow += image.getPixel(x, y).alpha > 128;
        for (int y = 56; y < 72; ++y) inkedSecondRow += image.getPixel(x, y).alpha > 128;
    }
    EXPECT_GT(inkedFirstRow, inkedSecondRow);
    EXPECT_GT(inkedSecondRow, 0);
}

TEST_F(DrawingTest, ImagesComeFromThePluginFirstAndDrawAtThePen) {
    effect->SetFileName(0, "vandrel_gfx\\knob_sm.png");
    effect->SetFileName(1, "vandrel_gfx\\bg.png");
    Paint([](SketchEffect& e) {
        e.PenX = 100;
        e.PenY = 120;
        e.DrawImage(0, 3.0, 45.0, 8, 8);
    });
    const TImageEntry& knob = effect->Images.at(0);
    EXPECT_EQ(knob.width, 32);
    EXPECT_EQ(knob.height, 32);
    VSTGUI::CBitmap reference((std::string(VANDREL_BINARY_DIR) + "/vandrel_gfx/knob_sm.png").c_str());
    COffscreenContext expected(200, 200);
    expected.drawBitmap(&reference, {100, 120, 132, 152}, {8, 8});
    for (int y = 118; y < 156; y += 3)
        for (int x = 98; x < 136; x += 3)
            ASSERT_EQ(image.getPixel(x, y), expected.getPixel(x, y)) << x << "," << y;
    EXPECT_EQ(effect->PenX, 100) << "the pen stays";
    EXPECT_EQ(effect->FindImage(1).width, 450);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(DrawingTest, FilesBesideThePluginStandInForMissingEmbeddedCopies) {
    effect->SetFileName(7, "\\vandrel_gfx\\conf.png");
    const TImageEntry& page = effect->FindImage(7);
    EXPECT_EQ(page.width, 440);
    EXPECT_EQ(page.height, 270);
    EXPECT_TRUE(LogLines().empty());
    EXPECT_EQ(effect->FindImage(9).width, 0) << "numbers without a file name are never loaded";
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(DrawingTest, AnImageThatCannotLoadIsLoggedOnceAndMarked) {
    effect->SetFileName(8, "nowhere\\missing.png");
    for (int i = 0; i < 3; ++i) Paint([](SketchEffect& e) { e.DrawImage(8, 1, 0, 0, 0); });
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Unable to load: " + std::string(VANDREL_BINARY_DIR) +
                                                   "/nowhere/missing.png"});
    EXPECT_EQ(effect->Images.at(8).width, 0);

    // An entry that claims a size but holds no picture gets the red "ERROR" box.
    effect->Images[11].width = 60;
    effect->Images[11].height = 20;
    effect->Images[11].slot.reset(NewImageSlot());
    Paint([](SketchEffect& e) {
        e.SetString(10003, "Arial");
        e.SetFont(1, 10003, 16, 0);
        e.PenX = 20;
        e.PenY = 30;
        e.DrawImage(11, 1, 0, 0, 0);
    });
    EXPECT_EQ(image.getPixel(21, 31), (CColor{255, 0, 0, 255}));
    EXPECT_EQ(image.getPixel(79, 49), (CColor{255, 0, 0, 255}));
    EXPECT_EQ(image.getPixel(80, 50), kNothing);
    int yellow = 0;
    for (int y = 30; y < 50; ++y)
        for (int x = 20; x < 80; ++x) {
            const CColor c = image.getPixel(x, y);
            yellow += c.red > 200 && c.green > 200 && c.blue < 60;
        }
    EXPECT_GT(yellow, 10) << "the word ERROR is written in yellow";
}
