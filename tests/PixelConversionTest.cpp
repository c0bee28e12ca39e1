#include "PixelConversion.h"
#include "TestPictures.h"
#include <pictura/SysUtils.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using TRows = std::vector<std::vector<uint8_t>>;
using TColours = std::vector<std::vector<uint32_t>>; // 0xRRGGBB per pixel, top row first

// An image from literal row bytes (without padding).
TDibImage Make(TPixelFormat Format, int Width, const TRows& Rows, std::vector<uint32_t> Palette = {},
               bool Alpha = false) {
    TDibImage img = BlankPicture(Format, Width, int(Rows.size()));
    img.HasAlpha = Alpha;
    img.Palette = std::move(Palette);
    for (size_t y = 0; y < Rows.size(); ++y)
        std::copy(Rows[y].begin(), Rows[y].end(), img.Row(int(y)));
    return img;
}

TColours Colours24(const TDibImage& Rgb) {
    EXPECT_EQ(Rgb.Format, pf24bit);
    TColours out;
    for (int y = 0; y < Rgb.Height; ++y) {
        out.emplace_back();
        const uint8_t* row = Rgb.Row(y);
        for (int x = 0; x < Rgb.Width; ++x)
            out.back().push_back((row[3 * x + 2] << 16) | (row[3 * x + 1] << 8) | row[3 * x]);
    }
    return out;
}

struct TTo24Case {
    const char* Name;
    TDibImage Source;
    TColours Expected;
};

TEST(ConvertPixelFormat, EveryFormatTo24BitIsExact) {
    std::vector<uint32_t> greys16;
    for (uint32_t i = 0; i < 16; ++i)
        greys16.push_back(0xFF000000u | (i * 0x111111u));
    const std::vector<TTo24Case> cases = {
        {"pf1bit",
         Make(pf1bit, 3, {{0b10100000}, {0b01000000}}, {0xFF102030, 0xFFA0B0C0}),
         {{0xA0B0C0, 0x102030, 0xA0B0C0}, {0x102030, 0xA0B0C0, 0x102030}}},
        {"pf4bit",
         Make(pf4bit, 3, {{0x1F, 0x80}, {0x00, 0x70}}, greys16),
         {{0x111111, 0xFFFFFF, 0x888888}, {0x000000, 0x000000, 0x777777}}},
        {"pf8bit short palette",
         Make(pf8bit, 3, {{1, 0, 200}}, {0xFF123456, 0xFFABCDEF}),
         {{0xABCDEF, 0x123456, 0x000000}}},
        // X1R5G5B5: 5-bit channels widen as (v<<3)|(v>>2); the top bit is ignored.
        {"pf15bit",
         Make(pf15bit, 3, {{0xFF, 0x7F, 0x00, 0x7C, 0x01, 0x00}, {0x10, 0x02, 0x00, 0x80, 0x52, 0x4A}}),
         {{0xFFFFFF, 0xFF0000, 0x000008}, {0x008484, 0x000000, 0x949494}}},
        // R5G6B5: the 6-bit green widens as (v<<2)|(v>>4).
        {"pf16bit",
         Make(pf16bit, 3, {{0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00}, {0x20, 0x00, 0x10, 0x84, 0xFF, 0xFF}}),
         {{0xFF0000, 0x00FF00, 0x0000FF}, {0x000400, 0x848284, 0xFFFFFF}}},
        {"pf24bit", Make(pf24bit, 2, {{0x01, 0x02, 0x03, 0xFD, 0xFE, 0xFF}}), {{0x030201, 0xFFFEFD}}},
        {"pf32bit", Make(pf32bit, 2, {{1, 2, 3, 0x44, 4, 5, 6, 0x00}}), {{0x030201, 0x060504}}},
        {"pf32bit alpha",
         Make(pf32bit, 2, {{1, 2, 3, 0x44, 4, 5, 6, 0x00}}, {}, true),
         {{0x030201, 0x060504}}},
        {"pfDevice", Make(pfDevice, 2, {{9, 8, 7, 0xFF, 0, 0, 0xFF, 0xFF}}), {{0x070809, 0xFF0000}}},
    };
    for (const TTo24Case& c : cases)
        EXPECT_EQ(Colours24(ConvertPixelFormat(c.Source, pf24bit)), c.Expected) << c.Name;
}

TEST(ConvertPixelFormat, RowsWiderThanAPieceConvertWhole) {
    // A row goes through in pieces of 4096 pixels: every pixel of 1-bit and 32-bit rows 10001 wide lands.
    const int width = 10001;
    TDibImage mono = BlankPicture(pf1bit, width, 2);
    mono.Palette = {0xFF102030, 0xFFA0B0C0};
    TDibImage wide = BlankPicture(pf32bit, width, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < width; ++x) {
            if ((x * 7 + y) % 3 == 0) mono.Row(y)[x / 8] |= uint8_t(0x80 >> (x % 8));
            wide.Row(y)[4 * x] = uint8_t(x), wide.Row(y)[4 * x + 1] = uint8_t(x >> 8),
                            wide.Row(y)[4 * x + 3] = 255;
        }
    const TColours fromMono = Colours24(ConvertPixelFormat(mono, pf24bit));
    const TColours fromWide = Colours24(ConvertPixelFormat(wide, pf24bit));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < width; ++x) {
            ASSERT_EQ(fromMono[y][x], (x * 7 + y) % 3 == 0 ? 0xA0B0C0u : 0x102030u) << x;
            ASSERT_EQ(fromWide[y][x], uint32_t(x & 0xFFFF)) << x;
        }
}

TEST(ConvertPixelFormat, DirectTo15And16BitDropsLowBits) {
    // (R 255, G 130, B 7) and (R 8, G 4, B 255).
    const TDibImage rgb = Make(pf24bit, 2, {{7, 130, 255, 255, 4, 8}});
    const TDibImage p15 = ConvertPixelFormat(rgb, pf15bit);
    const TDibImage p16 = ConvertPixelFormat(rgb, pf16bit);
    EXPECT_EQ(std::vector<uint8_t>(p15.Bits.begin(), p15.Bits.begin() + 4),
              (std::vector<uint8_t>{0x00, 0x7E, 0x1F, 0x04}));
    EXPECT_EQ(std::vector<uint8_t>(p16.Bits.begin(), p16.Bits.begin() + 4),
              (std::vector<uint8_t>{0x00, 0xFC, 0x3F, 0x08}));
}

TEST(ConvertPixelFormat, FifteenAndSixteenBitSurviveA24BitDetour) {
    for (TPixelFormat format : {pf15bit, pf16bit}) {
        const int words = format == pf15bit ? 32768 : 65536;
        TDibImage img;
        img.Width = 256, img.Height = words / 256, img.Format = format;
        img.Bits.resize(img.Stride() * size_t(img.Height));
        for (int i = 0; i < words; ++i)
            img.Bits[2 * i] = uint8_t(i), img.Bits[2 * i + 1] = uint8_t(i >> 8);
        const TDibImage back = ConvertPixelFormat(ConvertPixelFormat(img, pf24bit), format);
        EXPECT_EQ(back.Bits, img.Bits) << "format " << format;
    }
}

TEST(ConvertPixelFormat, FewColoursBecomeAnExactPalette) {
    const TDibImage rgb = Make(pf24bit, 3, {{0, 0, 255, 255, 0, 0, 0, 0, 255}}); // red, blue, red
    const TDibImage mono = ConvertPixelFormat(rgb, pf1bit);
    EXPECT_EQ(mono.Palette, (std::vector<uint32_t>{0xFFFF0000, 0xFF0000FF}));
    EXPECT_EQ(mono.Bits[0], 0b01000000);

    const TDibImage p8 = ConvertPixelFormat(rgb, pf8bit);
    EXPECT_EQ(p8.Palette.size(), 256u);
    EXPECT_EQ(p8.Palette[1], 0xFF0000FFu);
    EXPECT_EQ(std::vector<uint8_t>(p8.Bits.begin(), p8.Bits.begin() + 3), (std::vector<uint8_t>{0, 1, 0}));
    EXPECT_EQ(Colours24(ConvertPixelFormat(p8, pf24bit)), Colours24(rgb));

    // Widening between indexed formats keeps indices and palette.
    const TDibImage widened =
        ConvertPixelFormat(Make(pf1bit, 3, {{0b10100000}}, {0xFF010203, 0xFF040506}), pf4bit);
    EXPECT_EQ(widened.Bits[0], 0x10);
    EXPECT_EQ(widened.Bits[1], 0x10);
    EXPECT_EQ(widened.Palette[1], 0xFF040506u);
}

TEST(ConvertPixelFormat, ManyColoursMapToTheNearestFixedEntry) {
    // Two light/dark greys and one mid grey into black and white.
    const TDibImage mono =
        ConvertPixelFormat(Make(pf24bit, 3, {{200, 200, 200, 30, 20, 10, 128, 128, 128}}), pf1bit);
    EXPECT_EQ(mono.Palette, FixedPalette(pf1bit));
    EXPECT_EQ(mono.Bits[0], 0b10100000);

    // 16 distinct reds, then (250,10,10) -> VGA red (9) and (190,190,200) -> silver (7).
    TRows row16(1);
    for (int x = 0; x < 16; ++x)
        row16[0].insert(row16[0].end(), {0, 0, uint8_t(x * 10)});
    row16[0].insert(row16[0].end(), {10, 10, 250, 200, 190, 190});
    const TDibImage p4 = ConvertPixelFormat(Make(pf24bit, 18, row16), pf4bit);
    EXPECT_EQ(p4.Palette, FixedPalette(pf4bit));
    EXPECT_EQ(p4.Bits[8], 0x97);

    // 256 distinct colours, then (200,100,30) -> cube (204,85,51) at 4*42+2*6+1 = 181 and
    // (100,100,100) -> the extra grey 102 at 253.
    TRows row256(1);
    for (int x = 0; x < 256; ++x)
        row256[0].insert(row256[0].end(), {77, uint8_t(255 - x), uint8_t(x)});
    row256[0].insert(row256[0].end(), {30, 100, 200, 100, 100, 100});
    const TDibImage p8 = ConvertPixelFormat(Make(pf24bit, 258, row256), pf8bit);
    EXPECT_EQ(p8.Palette, FixedPalette(pf8bit));
    EXPECT_EQ(p8.Palette[181], 0xFFCC5533u);
    EXPECT_EQ(p8.Bits[256], 181);
    EXPECT_EQ(p8.Bits[257], 253);
}

TEST(ConvertPixelFormat, AlphaIsKeptWhereTheTargetHasIt) {
    const TDibImage p8 = Make(pf8bit, 2, {{0, 1}}, {0x80FF0000, 0xFF00FF00});
    const TDibImage argb = ConvertPixelFormat(p8, pf32bit);
    EXPECT_TRUE(argb.HasAlpha);
    EXPECT_EQ(PixelArgb(argb, 0, 0), 0x80FF0000u);
    const TDibImage opaque = ConvertPixelFormat(Make(pf24bit, 1, {{1, 2, 3}}), pfDevice);
    EXPECT_FALSE(opaque.HasAlpha);
    EXPECT_EQ(opaque.Format, pfDevice);
    EXPECT_EQ(opaque.Bits, (std::vector<uint8_t>{1, 2, 3, 255}));
}

TEST(ConvertPixelFormat, RefusesFormatsWithoutALayout) {
    const TDibImage rgb = Make(pf24bit, 1, {{1, 2, 3}});
    EXPECT_THROW(ConvertPixelFormat(rgb, pfCustom), EArgumentError);
    TDibImage custom = rgb;
    custom.Format = pfCustom;
    EXPECT_THROW(ConvertPixelFormat(custom, pf24bit), EArgumentError);
    TDibImage shortMemory = rgb;
    shortMemory.Bits.resize(2);
    EXPECT_THROW(ConvertPixelFormat(shortMemory, pf32bit), EArgumentError);
}

TEST(PixelArgb, ReadsOnePixelAndRefusesOutsideThePicture) {
    const TDibImage img = Make(pf32bit, 2, {{1, 2, 3, 4, 5, 6, 7, 8}}, {}, true);
    EXPECT_EQ(PixelArgb(img, 1, 0), 0x08070605u);
    EXPECT_THROW(PixelArgb(img, 2, 0), ERangeError);
    EXPECT_THROW(PixelArgb(img, 0, -1), ERangeError);
}

} // namespace
