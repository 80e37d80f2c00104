// The embedded panel pictures: their PNG form, that they match the loose copies beside the plug-in, and
// that the background leaves room for, and lines up with, what the panel code draws on top of it.

#include "assets/embedded_images.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Picture {
    int number;
    const char* file;
    int width;
    int height;
};

constexpr Picture kPictures[] = {
    {0, "knob_sm.png", 32, 32}, {1, "bg.png", 450, 620}, {2, "conf.png", 440, 270}};

std::uint32_t BigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

using SurfacePtr = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

struct ByteReader {
    const unsigned char* data;
    std::size_t left;
};

cairo_status_t ReadBytes(void* closure, unsigned char* out, unsigned int length) {
    auto* reader = static_cast<ByteReader*>(closure);
    if (length > reader->left) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, reader->data, length);
    reader->data += length;
    reader->left -= length;
    return CAIRO_STATUS_SUCCESS;
}

SurfacePtr Decode(int number) {
    const EmbeddedImage* image = FindEmbeddedImage(number);
    ByteReader reader{image->data, image->size};
    return SurfacePtr(cairo_image_surface_create_from_png_stream(ReadBytes, &reader), cairo_surface_destroy);
}

// Premultiplied ARGB as Cairo stores it; equal to the straight colour wherever the picture is opaque.
std::uint32_t Pixel(cairo_surface_t* surface, int x, int y) {
    cairo_surface_flush(surface);
    const unsigned char* row =
        cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    std::uint32_t value;
    std::memcpy(&value, row + 4 * x, 4);
    return value;
}

unsigned Alpha(std::uint32_t argb) {
    return argb >> 24;
}

double Luminance(std::uint32_t argb) {
    return (0.2126 * ((argb >> 16) & 0xff) + 0.7152 * ((argb >> 8) & 0xff) + 0.0722 * (argb & 0xff)) / 255.0;
}

// Every pixel of [left, right) x [top, bottom) has the colour of the first one.
::testing::AssertionResult Uniform(cairo_surface_t* surface, int left, int top, int right, int bottom) {
    const std::uint32_t expected = Pixel(surface, left, top);
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            if (Pixel(surface, x, y) != expected) {
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is " << std::hex << Pixel(surface, x, y) << ", ("
                       << std::dec << left << ", " << top << ") is " << std::hex << expected;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(EmbeddedImages, AreSinglePictureRgbaPngsOfTheirFixedSize) {
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (const Picture& picture : kPictures) {
        SCOPED_TRACE(picture.file);
        const EmbeddedImage* image = FindEmbeddedImage(picture.number);
        ASSERT_NE(image, nullptr);
        ASSERT_GT(image->size, 8u + 25u);
        const unsigned char* p = image->data;
        ASSERT_EQ(std::memcmp(p, kSignature, 8), 0);

        // IHDR: length 13, then width, height, bit depth, colour type, compression, filter, interlace.
        const unsigned char* ihdr = p + 8;
        EXPECT_EQ(BigEndian32(ihdr), 13u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(ihdr + 4), 4), "IHDR");
        EXPECT_EQ(BigEndian32(ihdr + 8), static_cast<std::uint32_t>(picture.width));
        EXPECT_EQ(BigEndian32(ihdr + 12), static_cast<std::uint32_t>(picture.height));
        EXPECT_EQ(ihdr[16], 8) << "bit depth";
        EXPECT_EQ(ihdr[17], 6) << "colour type RGBA";
        EXPECT_EQ(ihdr[18], 0) << "compression";
        EXPECT_EQ(ihdr[19], 0) << "filter";
        EXPECT_EQ(ihdr[20], 0) << "interlace";

        // The chunks tile the data exactly up to IEND, and none announces an animation.
        std::size_t offset = 8;
        std::string last;
        while (offset + 12 <= image->size && last != "IEND") {
            const std::uint32_t length = BigEndian32(p + offset);
            last.assign(reinterpret_cast<const char*>(p + offset + 4), 4);
            EXPECT_NE(last, "acTL");
            offset += 12 + length;
        }
        EXPECT_EQ(last, "IEND");
        EXPECT_EQ(offset, image->size);

        SurfacePtr decoded = Decode(picture.number);
        ASSERT_EQ(cairo_surface_status(decoded.get()), CAIRO_STATUS_SUCCESS);
        EXPECT_EQ(cairo_image_surface_get_width(decoded.get()), picture.width);
        EXPECT_EQ(cairo_image_surface_get_height(decoded.get()), picture.height);
    }
}

TEST(EmbeddedImages, EqualTheLooseCopiesBesideThePlugin) {
    for (const Picture& picture : kPictures) {
        SCOPED_TRACE(picture.file);
        std::ifstream file(std::string(VANDREL_BINARY_DIR) + "/vandrel_gfx/" + picture.file,
                           std::ios::binary);
        ASSERT_TRUE(file.is_open());
        const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), {}};
        const EmbeddedImage* image = FindEmbeddedImage(picture.number);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(std::vector<unsigned char>(image->data, image->data + image->size), bytes);
    }
}

TEST(EmbeddedImages, OtherNumbersHaveNone) {
    for (int number : {-1, 3, 4, 100, INT_MIN, INT_MAX})
        EXPECT_EQ(FindEmbeddedImage(number), nullptr) << number;
}

struct Centre {
    double x, y;
};

// Weighted mean position of the pixels of [left, right) x [top, bottom), each weighing weight(pixel); pixel
// centres sit at half-integer coordinates.
template <typename Weight>
Centre CentreOf(cairo_surface_t* surface, int left, int top, int right, int bottom, Weight weight) {
    double sum = 0, sx = 0, sy = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const double w = weight(Pixel(surface, x, y));
            sum += w;
            sx += w * (x + 0.5);
            sy += w * (y + 0.5);
        }
    }
    return {sx / sum, sy / sum};
}

// The slider math puts the knob's centre on its image's centre line x = 16, and the toggle's lit mark over
// the well centred at X + 16: the knob must be round and centred, transparent in its corners.
TEST(PanelArtwork, KnobIsRoundAndCentred) {
    SurfacePtr knob = Decode(0);
    for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}})
        EXPECT_EQ(Alpha(Pixel(knob.get(), x, y)), 0u);
    for (auto [x, y] : {std::pair{16, 16}, {16, 4}, {4, 16}, {27, 16}, {16, 27}})
        EXPECT_EQ(Alpha(Pixel(knob.get(), x, y)), 255u) << x << ", " << y;

    const Centre body =
        CentreOf(knob.get(), 0, 0, 32, 32, [](std::uint32_t p) { return Alpha(p) == 255 ? 1.0 : 0.0; });
    EXPECT_NEAR(body.x, 16.0, 0.05);
    EXPECT_NEAR(body.y, 16.0, 0.05);
    const Centre all = CentreOf(knob.get(), 0, 0, 32, 32, [](std::uint32_t p) { return double(Alpha(p)); });
    EXPECT_NEAR(all.x, 16.0, 0.05);
}

TEST(PanelArtwork, BackgroundIsOpaque) {
    SurfacePtr bg = Decode(1);
    for (int y = 0; y < 620; ++y)
        for (int x = 0; x < 450; ++x) ASSERT_EQ(Alpha(Pixel(bg.get(), x, y)), 255u) << x << ", " << y;
}

// The gating bar fills [175, 276) x [577, 586) from the right: the well is exactly that area, one colour,
// with a border of another colour around it.
TEST(PanelArtwork, GatingWellMatchesTheBar) {
    SurfacePtr bg = Decode(1);
    EXPECT_TRUE(Uniform(bg.get(), 175, 577, 276, 586));
    const std::uint32_t well = Pixel(bg.get(), 175, 577);
    EXPECT_LT(Luminance(well), 0.08);
    for (int x = 175; x < 276; ++x) {
        EXPECT_NE(Pixel(bg.get(), x, 576), well) << x;
        EXPECT_NE(Pixel(bg.get(), x, 586), well) << x;
    }
    for (int y = 577; y < 586; ++y) {
        EXPECT_NE(Pixel(bg.get(), 174, y), well) << y;
        EXPECT_NE(Pixel(bg.get(), 276, y), well) << y;
    }
}

// Value texts start at x 340 on the rows of the main sliders, and at the page's x 356 on the configuration
// page; nothing of the artwork may sit under them.
TEST(PanelArtwork, ValueTextColumnsAreFree) {
    SurfacePtr bg = Decode(1);
    const std::uint32_t ground = Pixel(bg.get(), 449, 90);
    for (int y : {90, 140, 190, 240, 290}) {
        EXPECT_TRUE(Uniform(bg.get(), 340, y - 6, 450, y + 26)) << "row " << y;
        EXPECT_EQ(Pixel(bg.get(), 340, y), ground) << "row " << y;
    }
    SurfacePtr page = Decode(2);
    for (int y = 5; y < 270; y += 40)
        EXPECT_TRUE(Uniform(page.get(), 356, y, 438, y + 20)) << "page row " << y;
}

// The stage meters draw their bars on rows y + 2 .. y + 7 from x 50 to x 400 and a centre mark in column 225.
TEST(PanelArtwork, MeterTroughsHoldTheBars) {
    SurfacePtr bg = Decode(1);
    for (int y : {400, 420, 440}) {
        SCOPED_TRACE(y);
        for (int row = y + 2; row < y + 8; ++row) {
            for (int x = 50; x < 400; ++x)
                ASSERT_LT(Luminance(Pixel(bg.get(), x, row)), 0.12) << x << ", " << row;
            EXPECT_GT(Luminance(Pixel(bg.get(), 49, row)), Luminance(Pixel(bg.get(), 50, row)));
            EXPECT_GT(Luminance(Pixel(bg.get(), 400, row)), Luminance(Pixel(bg.get(), 399, row)));
        }
    }
    // The scale's 0 dB tick below the meter continues the centre mark's column.
    const int tickRow = 452;
    EXPECT_GT(Luminance(Pixel(bg.get(), 225, tickRow)), Luminance(Pixel(bg.get(), 224, tickRow)) + 0.1);
    EXPECT_GT(Luminance(Pixel(bg.get(), 225, tickRow)), Luminance(Pixel(bg.get(), 226, tickRow)) + 0.1);
}

// The read-outs are centred on x 165 and 286 in a box running from y 514 to 536; the toggles' wells are round
// about the centre of the 32-pixel knob placed at (X, 330).
TEST(PanelArtwork, ReadoutBoxesAndWellsSitUnderTheirMarks) {
    SurfacePtr bg = Decode(1);
    for (int centre : {165, 286}) {
        EXPECT_TRUE(Uniform(bg.get(), centre - 50, 512, centre + 50, 538)) << centre;
        EXPECT_LT(Luminance(Pixel(bg.get(), centre, 524)), 0.08) << centre;
    }
    const std::uint32_t ground = Pixel(bg.get(), 449, 346);
    for (int x : {46, 184, 312}) {
        const Centre well = CentreOf(bg.get(), x - 8, 322, x + 40, 364,
                                     [ground](std::uint32_t p) { return p != ground ? 1.0 : 0.0; });
        EXPECT_NEAR(well.x, x + 16.0, 0.1) << x;
        EXPECT_NEAR(well.y, 346.0, 0.1) << x;
    }
}

TEST(PanelArtwork, WarningAndBuildLabelHaveClearGround) {
    SurfacePtr bg = Decode(1);
    EXPECT_TRUE(Uniform(bg.get(), 150, 590, 300, 620));
    EXPECT_TRUE(Uniform(bg.get(), 376, 590, 450, 620));
}

} // namespace
