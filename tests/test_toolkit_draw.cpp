// Headless checks of the drawing half of the toolkit: pixels read back from image surfaces.
#include "toolkit/vstgui.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

using namespace VSTGUI;

namespace {

constexpr CColor kWhite{255, 255, 255, 255};

struct InkBounds {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1; // inclusive pixel indices
    bool empty() const { return right < 0; }
};

InkBounds inkBounds(const COffscreenContext& c) {
    InkBounds b;
    for (int y = 0; y < c.getHeight(); ++y)
        for (int x = 0; x < c.getWidth(); ++x)
            if (c.getPixel(x, y).alpha > 0) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
            }
    return b;
}

bool samePixels(const COffscreenContext& a, const COffscreenContext& b) {
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (!(a.getPixel(x, y) == b.getPixel(x, y))) return false;
    return true;
}

double coveredArea(const COffscreenContext& c) {
    double area = 0;
    for (int y = 0; y < c.getHeight(); ++y)
        for (int x = 0; x < c.getWidth(); ++x) area += c.getPixel(x, y).alpha / 255.0;
    return area;
}

struct Text {
    COffscreenContext context{200, 60};
    SharedPointer<CFontDesc> arial{new CFontDesc("Arial"), SharedPointer<CFontDesc>::kAdopt};

    explicit Text(int size = 20, int style = kNormalFace) {
        context.setFont(arial.get(), size, style);
        context.setFontColor(kWhite);
    }
};

} // namespace

TEST(ToolkitFill, EdgesInReverseOrderFillTheSamePixels) {
    for (int mode : {0, kAntiAliasingDrawMode}) {
        COffscreenContext ordered(40, 40), swapped(40, 40);
        for (auto* c : {&ordered, &swapped}) {
            c->setDrawMode(mode);
            c->setFillColor({10, 200, 30, 255});
        }
        ordered.fillRect({3.25, 4.5, 30.75, 20.4});
        swapped.fillRect({30.75, 20.4, 3.25, 4.5});
        EXPECT_TRUE(samePixels(ordered, swapped)) << "mode " << mode;
        EXPECT_EQ(ordered.getPixel(10, 10), (CColor{10, 200, 30, 255}));
    }
}

TEST(ToolkitFill, AliasedModesFillWholePixelsAndModeThreeCoversTheExactArea) {
    const CRect rect{0.9, 5.4, 10.7, 20.2};
    for (int mode : {0, 1, 2, 4}) {
        COffscreenContext c(30, 30);
        c.setDrawMode(mode);
        c.setFillColor(kWhite);
        c.fillRect(rect);
        // Pixels whose centre lies inside: columns 1..10, rows 5..19, nothing partial.
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 30; ++x) {
                const bool inside = x >= 1 && x <= 10 && y >= 5 && y <= 19;
                ASSERT_EQ(c.getPixel(x, y).alpha, inside ? 255 : 0)
                    << "mode " << mode << " at " << x << "," << y;
            }
    }
    COffscreenContext smooth(30, 30);
    smooth.setDrawMode(kAntiAliasingDrawMode);
    smooth.setFillColor(kWhite);
    smooth.fillRect(rect);
    EXPECT_NEAR(coveredArea(smooth), 9.8 * 14.8, 0.2);
    const int edge = smooth.getPixel(0, 10).alpha; // a tenth of column 0 is covered
    EXPECT_GT(edge, 10);
    EXPECT_LT(edge, 40);
}

TEST(ToolkitFill, FillAlphaBlendsOverWhatIsThere) {
    COffscreenContext c(4, 4);
    c.setFillColor({255, 255, 255, 255});
    c.fillRect({0, 0, 4, 4});
    c.setFillColor({0, 0, 255, 128});
    c.fillRect({0, 0, 2, 4});
    const CColor blended = c.getPixel(1, 1);
    EXPECT_NEAR(blended.red, 127, 1);
    EXPECT_EQ(blended.blue, 255);
    EXPECT_EQ(blended.alpha, 255);
    EXPECT_EQ(c.getPixel(3, 1), kWhite);
}

TEST(ToolkitFill, NonFiniteEdgesDrawNothingAndLeaveTheContextUsable) {
    COffscreenContext c(10, 10);
    c.setFillColor(kWhite);
    c.fillRect({NAN, 0, 5, 5});
    c.fillRect({0, 0, INFINITY, 5});
    EXPECT_TRUE(inkBounds(c).empty());
    c.fillRect({-1e300, 2, 1e300, 3}); // huge but finite: the whole row
    EXPECT_EQ(c.getPixel(0, 2), kWhite);
    EXPECT_EQ(c.getPixel(9, 2), kWhite);
    EXPECT_EQ(c.getPixel(0, 3).alpha, 0);
}

TEST(ToolkitFont, FaceNamesResolveCaseInsensitivelyToLiberationAndFallBack) {
    CFontDesc arial("Arial"), lower("arial"), upper("ARIAL"), courier("Courier New");
    CFontDesc verdana("verdana"), unknown("No Such Face Anywhere");
    EXPECT_NE(arial.getResolvedFile().find("LiberationSans-Regular"), std::string::npos)
        << arial.getResolvedFile();
    EXPECT_EQ(lower.getResolvedFile(), arial.getResolvedFile());
    EXPECT_EQ(upper.getResolvedFile(), arial.getResolvedFile());
    EXPECT_NE(courier.getResolvedFile().find("LiberationMono-Regular"), std::string::npos);
    EXPECT_NE(arial.getResolvedFile(CFontStyle::kBold).find("LiberationSans-Bold."), std::string::npos);
    EXPECT_NE(arial.getResolvedFile(CFontStyle::kItalic).find("LiberationSans-Italic."), std::string::npos);
    EXPECT_EQ(arial.getResolvedFile(CFontStyle::kUnderline), arial.getResolvedFile());
    for (CFontDesc* fallback : {&verdana, &unknown}) {
        EXPECT_FALSE(fallback->getResolvedFile().empty()) << fallback->getName();
        EXPECT_NE(fallback->getFace(CFontStyle::kRegular), nullptr);
    }
}

TEST(ToolkitFont, LineHeightAndWidthsFollowTheFontTables) {
    Text t(20);
    // Liberation Sans: ascender 1854, descender 434, 2048 units per em.
    EXPECT_NEAR(t.context.getFontLineHeight(), (1854.0 + 434.0) / 2048.0 * 20, 0.01);
    const double w = t.context.getStringWidth("Target");
    EXPECT_GT(w, 40);
    EXPECT_LT(w, 70);
    t.context.setFont(t.arial.get(), 40, kNormalFace);
    EXPECT_NEAR(t.context.getStringWidth("Target"), 2 * w, 1e-6); // unhinted advances scale exactly
    EXPECT_EQ(t.context.getStringWidth(nullptr), 0.0);
}

TEST(ToolkitFont, WithoutAFontWidthIsMinusOneAndNothingIsDrawn) {
    COffscreenContext c(50, 30);
    EXPECT_EQ(c.getStringWidth("abc"), -1.0);
    c.setFontColor(kWhite);
    c.drawString("abc", {0, 0, 50, 30});
    EXPECT_TRUE(inkBounds(c).empty());
    SharedPointer<CFontDesc> arial(new CFontDesc("Arial"), SharedPointer<CFontDesc>::kAdopt);
    c.setFont(arial.get(), 13, 0);
    EXPECT_EQ(arial->getNbReference(), 2); // the context holds the description while selected
    c.setFont(nullptr, 13, 0);
    EXPECT_EQ(arial->getNbReference(), 1);
    EXPECT_EQ(c.getStringWidth("abc"), -1.0);
}

TEST(ToolkitText, AlignmentPlacesTheAdvanceBoxLeftCentredOrRight) {
    const char* text = "HMH";
    Text left;
    left.context.drawString(text, {10, 0, 200, 60}, kLeftText);
    const InkBounds reference = inkBounds(left.context);
    ASSERT_FALSE(reference.empty());
    const double w = left.context.getStringWidth(text);
    EXPECT_NEAR(reference.right + 1 - reference.left, w, 4.0);

    Text centred, right;
    centred.context.drawString(text, {0, 0, 100, 60}, kCenterText);
    right.context.drawString(text, {0, 0, 100, 60}, kRightText);
    // The same glyphs, moved so the advance box starts at the rule's x instead of 10.
    const InkBounds c = inkBounds(centred.context), r = inkBounds(right.context);
    EXPECT_NEAR(c.left, reference.left + (50 - w / 2 - 10), 1.0);
    EXPECT_NEAR(c.right, reference.right + (50 - w / 2 - 10), 1.0);
    EXPECT_NEAR(r.left, reference.left + (100 - w - 10), 1.0);
    EXPECT_EQ(c.top, reference.top);
}

TEST(ToolkitText, LineBoxEndsHalfTheFontSizeBelowTheMiddle) {
    // Liberation Sans descent at 20 px: 434 / 2048 x 20. "H" sits on the baseline.
    const double descent20 = 434.0 / 2048.0 * 20, descent40 = 2 * descent20;
    for (double top : {0.0, 7.0}) {
        Text t(20);
        t.context.drawString("H", {0, top, 100, top + 30});
        const double baseline = top + 15 + 10 - descent20;
        EXPECT_NEAR(inkBounds(t.context).bottom + 1, baseline, 1.0) << "top " << top;
    }
    Text big(40);
    big.context.drawString("H", {0, 0, 100, 30});
    EXPECT_NEAR(inkBounds(big.context).bottom + 1, 15 + 20 - descent40, 1.0);
}

TEST(ToolkitText, TextIsClippedToItsRectangleAndNullTextDrawsNothing) {
    Text t;
    t.context.drawString(nullptr, {0, 0, 200, 60});
    EXPECT_TRUE(inkBounds(t.context).empty());
    t.context.drawString("WWWWWWWW", {20, 10, 45, 28});
    const InkBounds b = inkBounds(t.context);
    ASSERT_FALSE(b.empty());
    EXPECT_GE(b.left, 20);
    EXPECT_LE(b.right, 44);
    EXPECT_GE(b.top, 10);
    EXPECT_LE(b.bottom, 27);
    EXPECT_EQ(b.right, 44); // the text is wider: ink reaches the clip edge
}

TEST(ToolkitText, TextIsAntialiasedWhateverTheDrawModeAndHonoursFontAlpha) {
    Text t;
    t.context.setDrawMode(0);
    t.context.setFontColor({255, 255, 255, 128});
    t.context.drawString("O", {0, 0, 60, 60});
    int partial = 0, maximum = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) {
            const int a = t.context.getPixel(x, y).alpha;
            maximum = std::max(maximum, a);
            if (a > 0 && a < 120) ++partial;
        }
    EXPECT_GT(partial, 5);
    EXPECT_NEAR(maximum, 128, 1);
}

TEST(ToolkitText, InvalidUtf8IsDrawnAsReplacementAndLaterDrawingStillWorks) {
    Text t;
    const char bad[] = {'A', char(0xFF), char(0xC3), 'B', char(0xED), char(0xA0), char(0x80), 0};
    const double w = t.context.getStringWidth(bad);
    EXPECT_GT(w, t.context.getStringWidth("AB"));
    t.context.drawString(bad, {0, 0, 200, 60});
    EXPECT_FALSE(inkBounds(t.context).empty());
    EXPECT_EQ(t.context.getStringWidth("AB"), Text().context.getStringWidth("AB"));
    t.context.setFillColor({1, 2, 3, 255});
    t.context.fillRect({190, 50, 200, 60});
    EXPECT_EQ(t.context.getPixel(195, 55), (CColor{1, 2, 3, 255}));
}

TEST(ToolkitText, OneStyleWinsUnderlineThenItalicThenBold) {
    auto render = [](int style) {
        auto t = std::make_unique<Text>(20, style);
        t->context.drawString("Hxg", {0, 0, 200, 60});
        return t;
    };
    const auto regular = render(kNormalFace), bold = render(kBoldFace), italic = render(kItalicFace);
    const auto underline = render(kUnderlineFace);
    EXPECT_EQ(bold->context.getFontStyle(), CFontStyle::kBold);
    EXPECT_FALSE(samePixels(regular->context, bold->context));
    EXPECT_FALSE(samePixels(regular->context, italic->context));
    EXPECT_TRUE(samePixels(render(kBoldFace | kItalicFace)->context, italic->context));
    EXPECT_TRUE(samePixels(render(kBoldFace | kItalicFace | kUnderlineFace)->context, underline->context));
    EXPECT_TRUE(samePixels(render(kItalicFace | kUnderlineFace)->context, underline->context));

    // The underline is the regular glyphs plus a line under the whole advance width, below the baseline.
    const double w = regular->context.getStringWidth("Hxg");
    const double baseline = 30 + 10 - 434.0 / 2048.0 * 20;
    int lineRow = -1;
    for (int y = int(baseline); y < 60 && lineRow < 0; ++y) {
        int covered = 0;
        for (int x = 0; x < int(w); ++x) covered += underline->context.getPixel(x, y).alpha > 100;
        if (covered >= int(w) - 1) lineRow = y;
    }
    EXPECT_GE(lineRow, int(baseline));
    EXPECT_LE(lineRow, int(baseline) + 3);
    EXPECT_EQ(regular->context.getPixel(2, lineRow).alpha, 0);
}

namespace {

// A small picture with a distinct opaque colour in every pixel.
COffscreenContext& pattern() {
    static COffscreenContext p(8, 6);
    static bool drawn = false;
    if (!drawn) {
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) {
                p.setFillColor({uint8_t(x * 30), uint8_t(y * 40), uint8_t(100 + x + y), 255});
                p.fillRect({double(x), double(y), x + 1.0, y + 1.0});
            }
        drawn = true;
    }
    return p;
}

} // namespace

TEST(ToolkitBitmap, DecodesPngBytesAndFilesAndRejectsGarbage) {
    const std::vector<uint8_t> png = pattern().encodePNG();
    ASSERT_GT(png.size(), 8u);
    SharedPointer<CBitmap> fromBytes(new CBitmap(png.data(), png.size()), SharedPointer<CBitmap>::kAdopt);
    EXPECT_TRUE(fromBytes->isLoaded());
    EXPECT_EQ(fromBytes->getWidth(), 8);
    EXPECT_EQ(fromBytes->getHeight(), 6);

    const std::string path = ::testing::TempDir() + "toolkit_pattern.png";
    ASSERT_TRUE(pattern().writePNG(path.c_str()));
    CBitmap fromFile(path.c_str());
    EXPECT_EQ(fromFile.getWidth(), 8);
    EXPECT_EQ(fromFile.getHeight(), 6);
    std::remove(path.c_str());

    const uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (CBitmap* failed : {new CBitmap(garbage, sizeof garbage), new CBitmap(png.data(), png.size() / 2),
                            new CBitmap(nullptr, 0), new CBitmap("/nonexistent/toolkit.png")}) {
        EXPECT_FALSE(failed->isLoaded());
        EXPECT_EQ(failed->getWidth(), 0);
        EXPECT_EQ(failed->getHeight(), 0);
        COffscreenContext c(4, 4);
        EXPECT_FALSE(c.drawBitmap(failed, {0, 0, 4, 4}, {0, 0}));
        failed->forget();
    }
}

TEST(ToolkitBitmap, DrawCopiesTheSourceRegionAtTruncatedCoordinates) {
    const std::vector<uint8_t> png = pattern().encodePNG();
    SharedPointer<CBitmap> bitmap(new CBitmap(png.data(), png.size()), SharedPointer<CBitmap>::kAdopt);
    COffscreenContext c(40, 30);
    // Truncates to the rectangle (20, 10)-(23, 12) and the source (2, 1).
    EXPECT_TRUE(c.drawBitmap(bitmap.get(), {20.7, 10.2, 23.9, 12.99}, {2.9, 1.7}));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool inside = x >= 20 && x < 23 && y >= 10 && y < 12;
            const CColor expected = inside ? pattern().getPixel(x - 20 + 2, y - 10 + 1) : CColor{0, 0, 0, 0};
            ASSERT_EQ(c.getPixel(x, y), expected) << x << "," << y;
        }
}

TEST(ToolkitBitmap, ImageAlphaIsHonouredAndOutsideTheImageNothingIsDrawn) {
    COffscreenContext picture(2, 1);
    picture.setFillColor({0, 0, 255, 128});
    picture.fillRect({0, 0, 1, 1}); // half-transparent blue, right pixel left transparent
    const std::vector<uint8_t> png = picture.encodePNG();
    SharedPointer<CBitmap> bitmap(new CBitmap(png.data(), png.size()), SharedPointer<CBitmap>::kAdopt);

    COffscreenContext c(6, 2);
    c.setFillColor({255, 0, 0, 255});
    c.fillRect({0, 0, 6, 2});
    EXPECT_TRUE(c.drawBitmap(bitmap.get(), {0, 0, 6, 2}, {0, 0}));
    const CColor blended = c.getPixel(0, 0);
    EXPECT_NEAR(blended.red, 127, 2);
    EXPECT_NEAR(blended.blue, 128, 2);
    for (CPoint untouched : {CPoint{1, 0}, CPoint{5, 0}, CPoint{0, 1}})
        EXPECT_EQ(c.getPixel(int(untouched.x), int(untouched.y)), (CColor{255, 0, 0, 255}));
}
