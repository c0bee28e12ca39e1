#include "BmpCodec.h"
#include "PixelConversion.h"
#include "TestPictures.h"
#include <pictura/ImageLimits.h>
#include <pictura/SysUtils.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

TBytes ReadCorpus(const std::string& Name) {
    const std::string path = std::string(PICTURA_TEST_DATA) + "/bmp/" + Name;
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("missing test file " + path);
    return TBytes(std::istreambuf_iterator<char>(file), {});
}

TDibImage Decode(const TBytes& Data) {
    return DecodeBmp(Data.data(), Data.size());
}

// The pixels as 24-bit rows without padding, for comparing pictures across formats.
TBytes Pixels24(const TDibImage& Image) {
    const TDibImage rgb = ConvertPixelFormat(Image, pf24bit);
    TBytes out;
    for (int y = 0; y < rgb.Height; ++y)
        out.insert(out.end(), rgb.Row(y), rgb.Row(y) + 3 * rgb.Width);
    return out;
}

// What the decoder must say about a file: loads as Format, or throws with Reason in the message.
struct TCase {
    const char* File;
    TPixelFormat Format; // pfCustom: rejected
    const char* Reason;
};

std::ostream& operator<<(std::ostream& Os, const TCase& C) {
    return Os << C.File;
}

std::string TestName(const testing::TestParamInfo<TCase>& Info) {
    std::string name = Info.param.File;
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class BmpCorpus : public testing::TestWithParam<TCase> {};

TEST_P(BmpCorpus, DecodesOrRejectsCleanly) {
    const TCase& c = GetParam();
    const TBytes data = ReadCorpus(c.File);
    if (c.Format == pfCustom) {
        try {
            Decode(data);
            FAIL() << c.File << " was accepted";
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find(c.Reason), std::string::npos) << e.what();
        } catch (const EOutOfResources& e) {
            EXPECT_NE(std::string(e.what()).find(c.Reason), std::string::npos) << e.what();
        }
        return;
    }
    const TDibImage img = Decode(data);
    EXPECT_EQ(img.Format, c.Format);
    const std::string name = c.File;
    const bool odd = name.find("pal8w12") != std::string::npos || name.find("nonsquare") != std::string::npos;
    if (!odd) {
        EXPECT_EQ(img.Width, 127);
        EXPECT_EQ(img.Height, 64);
    }
    ASSERT_EQ(img.Bits.size(), img.Stride() * size_t(img.Height));
    if (IsIndexed(img.Format)) {
        EXPECT_EQ(img.Palette.size(), size_t(1) << BitsPerPixel(img.Format));
    }
}

const TCase GoodFiles[] = {
    {"g/pal1.bmp", pf1bit, ""},        {"g/pal1bg.bmp", pf1bit, ""},
    {"g/pal1wb.bmp", pf1bit, ""},      {"g/pal4.bmp", pf4bit, ""},
    {"g/pal4gs.bmp", pf4bit, ""},      {"g/pal4rle.bmp", pf4bit, ""},
    {"g/pal8-0.bmp", pf8bit, ""},      {"g/pal8.bmp", pf8bit, ""},
    {"g/pal8gs.bmp", pf8bit, ""},      {"g/pal8nonsquare.bmp", pf8bit, ""},
    {"g/pal8os2.bmp", pf8bit, ""},     {"g/pal8rle.bmp", pf8bit, ""},
    {"g/pal8topdown.bmp", pf8bit, ""}, {"g/pal8v4.bmp", pf8bit, ""},
    {"g/pal8v5.bmp", pf8bit, ""},      {"g/pal8w124.bmp", pf8bit, ""},
    {"g/pal8w125.bmp", pf8bit, ""},    {"g/pal8w126.bmp", pf8bit, ""},
    {"g/rgb16-565.bmp", pf16bit, ""},  {"g/rgb16-565pal.bmp", pf16bit, ""},
    {"g/rgb16.bmp", pf15bit, ""},      {"g/rgb16bfdef.bmp", pf15bit, ""},
    {"g/rgb24.bmp", pf24bit, ""},      {"g/rgb24pal.bmp", pf24bit, ""},
    {"g/rgb32.bmp", pf32bit, ""},      {"g/rgb32bf.bmp", pf32bit, ""},
    {"g/rgb32bfdef.bmp", pf32bit, ""},
};
INSTANTIATE_TEST_SUITE_P(Good, BmpCorpus, testing::ValuesIn(GoodFiles), TestName);

// Bad files: rejected with the reason, except those whose defect lies in a field the reader does
// not need (densities, the file and image sizes) or is made safe (indices beyond the palette).
const TCase BadFiles[] = {
    {"b/badbitcount.bmp", pfCustom, "bits per pixel 30000 is not valid"},
    {"b/badbitssize.bmp", pf1bit, ""},
    {"b/baddens1.bmp", pf1bit, ""},
    {"b/baddens2.bmp", pf1bit, ""},
    {"b/badfilesize.bmp", pf1bit, ""},
    {"b/badheadersize.bmp", pfCustom, "info header size 66"},
    {"b/badpalettesize.bmp", pfCustom, "palette of 305402420 colours"},
    {"b/badplanes.bmp", pfCustom, "planes is 30000"},
    {"b/badrle.bmp", pfCustom, "overruns row"},
    {"b/badrlebis.bmp", pfCustom, "RLE delta moves outside"},
    {"b/badrleter.bmp", pfCustom, "RLE delta moves outside"},
    {"b/badrle4.bmp", pfCustom, "overruns row"},
    {"b/badrle4bis.bmp", pfCustom, "RLE delta moves outside"},
    {"b/badrle4ter.bmp", pfCustom, "RLE delta moves outside"},
    {"b/badwidth.bmp", pfCustom, "width -127"},
    {"b/pal8badindex.bmp", pf8bit, ""},
    {"b/reallybig.bmp", pfCustom, "limit of 2^28 pixels"},
    {"b/rgb16-880.bmp", pfCustom, "blue mask is empty"},
    {"b/rletopdown.bmp", pfCustom, "cannot be top-down"},
    {"b/shortfile.bmp", pfCustom, "truncated pixel data: row 14 of 64 missing"},
    {"x/ba-bm.bmp", pfCustom, "bitmap arrays"},
};
INSTANTIATE_TEST_SUITE_P(Bad, BmpCorpus, testing::ValuesIn(BadFiles), TestName);

const TCase QuestionableFiles[] = {
    {"q/pal1huffmsb.bmp", pfCustom, "compression 3 (Huffman 1D)"},
    {"q/pal1p1.bmp", pf1bit, ""},
    {"q/pal2.bmp", pf4bit, ""},
    {"q/pal4rletrns.bmp", pf4bit, ""},
    {"q/pal8offs.bmp", pf8bit, ""},
    {"q/pal8os2sp.bmp", pf8bit, ""},
    {"q/pal8os2v2-16.bmp", pf8bit, ""},
    {"q/pal8oversizepal.bmp", pf8bit, ""},
    {"q/pal8rlecut.bmp", pf8bit, ""},
    {"q/rgb24jpeg.bmp", pfCustom, "unsupported compression 4 (JPEG)"},
    {"q/rgb24png.bmp", pfCustom, "unsupported compression 5 (PNG)"},
    {"q/rgb32fakealpha.bmp", pf32bit, ""},
};
INSTANTIATE_TEST_SUITE_P(Questionable, BmpCorpus, testing::ValuesIn(QuestionableFiles), TestName);

TEST(BmpCorpus, EncodingsOfOnePictureDecodeToTheSamePixels) {
    const std::vector<std::vector<std::string>> groups = {
        {"g/pal1.bmp", "g/pal1wb.bmp"},
        {"g/pal4.bmp", "g/pal4rle.bmp"},
        {"g/pal8.bmp", "g/pal8-0.bmp", "g/pal8os2.bmp", "g/pal8rle.bmp", "g/pal8topdown.bmp", "g/pal8v4.bmp",
         "g/pal8v5.bmp", "q/pal8offs.bmp", "q/pal8os2v2-16.bmp"},
        {"g/rgb24.bmp", "g/rgb24pal.bmp", "g/rgb32.bmp", "g/rgb32bf.bmp", "g/rgb32bfdef.bmp",
         "q/rgb32fakealpha.bmp"},
        {"g/rgb16.bmp", "g/rgb16bfdef.bmp"},
        {"g/rgb16-565.bmp", "g/rgb16-565pal.bmp"},
    };
    for (const auto& group : groups) {
        const TBytes reference = Pixels24(Decode(ReadCorpus(group[0])));
        for (size_t i = 1; i < group.size(); ++i)
            EXPECT_EQ(Pixels24(Decode(ReadCorpus(group[i]))), reference)
                << group[i] << " differs from " << group[0];
    }
}

TEST(BmpCorpus, TruncatedFilesAlwaysThrow) {
    // One file per decoding path; every shorter prefix must be refused, never half decoded.
    for (const char* name :
         {"g/pal1.bmp", "g/pal4.bmp", "g/pal4rle.bmp", "g/pal8os2.bmp", "g/pal8rle.bmp", "g/pal8topdown.bmp",
          "g/pal8v5.bmp", "g/rgb16-565.bmp", "g/rgb16.bmp", "g/rgb24.bmp", "g/rgb32bf.bmp", "q/pal2.bmp"}) {
        const TBytes data = ReadCorpus(name);
        for (size_t size = 0; size < data.size(); ++size)
            EXPECT_THROW(DecodeBmp(data.data(), size), EInvalidGraphic)
                << name << " cut to " << size << " bytes";
    }
}

TEST(BmpCorpus, DecodedFilesSurviveEncodeDecode) {
    for (const TCase& c : GoodFiles) {
        const TDibImage original = Decode(ReadCorpus(c.File));
        const TDibImage again = Decode(EncodeBmp(original));
        EXPECT_EQ(again.Format, original.Format) << c.File;
        EXPECT_EQ(again.Palette, original.Palette) << c.File;
        EXPECT_EQ(again.Bits, original.Bits) << c.File;
    }
}

// Builds a BMP file from its fields; Pixels are in file order.
struct TBmpSpec {
    uint32_t HeaderSize = 40;
    int32_t Width = 1, Height = 1;
    uint16_t Bpp = 8;
    uint32_t Compression = 0;
    uint32_t ColoursUsed = 0;
    std::vector<uint32_t> Masks;   // after a 40-byte header, inside larger ones
    std::vector<uint32_t> Palette; // 0x00RRGGBB
    TBytes Pixels;
};

TBmpSpec Spec(int32_t Width, int32_t Height, uint16_t Bpp = 8, uint32_t Compression = 0,
              uint32_t HeaderSize = 40) {
    TBmpSpec s;
    s.HeaderSize = HeaderSize, s.Width = Width, s.Height = Height, s.Bpp = Bpp, s.Compression = Compression;
    return s;
}

void Put(TBytes& Out, uint32_t V, int Bytes) {
    for (int i = 0; i < Bytes; ++i)
        Out.push_back(i < 4 ? uint8_t(V >> (8 * i)) : 0);
}

TBytes MakeBmp(const TBmpSpec& S) {
    TBytes header;
    Put(header, S.HeaderSize, 4);
    if (S.HeaderSize == 12) {
        Put(header, S.Width, 2), Put(header, S.Height, 2), Put(header, 1, 2), Put(header, S.Bpp, 2);
    } else {
        Put(header, S.Width, 4), Put(header, S.Height, 4), Put(header, 1, 2), Put(header, S.Bpp, 2);
        Put(header, S.Compression, 4), Put(header, 0, 12), Put(header, S.ColoursUsed, 4), Put(header, 0, 4);
        if (S.HeaderSize > 40)
            for (uint32_t m : S.Masks)
                Put(header, m, 4);
        header.resize(S.HeaderSize, 0);
        if (S.HeaderSize == 40)
            for (uint32_t m : S.Masks)
                Put(header, m, 4);
    }
    for (uint32_t c : S.Palette)
        Put(header, c, S.HeaderSize == 12 ? 3 : 4);
    TBytes file = {'B', 'M'};
    Put(file, uint32_t(14 + header.size() + S.Pixels.size()), 4);
    Put(file, 0, 4);
    Put(file, uint32_t(14 + header.size()), 4);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), S.Pixels.begin(), S.Pixels.end());
    return file;
}

// The 8-bit index (or nibble) of every pixel, top row first.
std::vector<std::vector<int>> Indices(const TDibImage& Image) {
    std::vector<std::vector<int>> rows;
    for (int y = 0; y < Image.Height; ++y) {
        rows.emplace_back();
        for (int x = 0; x < Image.Width; ++x)
            rows.back().push_back(Image.Format == pf4bit ? (Image.Row(y)[x / 2] >> ((x & 1) ? 0 : 4)) & 15
                                                         : Image.Row(y)[x]);
    }
    return rows;
}

TEST(BmpRle, DecodesRunsLiteralsDeltasAndLineEnds) {
    // 5 x 3, bottom row first: run of 2 x 7, literal 1 2 3 (padded), EOL; delta (1, 1) to the top row;
    // run 2 x 9, EOB. Pixels not written stay index 0.
    TBmpSpec s = Spec(5, 3, 8, 1);
    s.Palette = {0, 0xFF};
    s.Pixels = {2, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 2, 9, 0, 1};
    const TDibImage img = Decode(MakeBmp(s));
    EXPECT_EQ(img.Format, pf8bit);
    EXPECT_EQ(Indices(img),
              (std::vector<std::vector<int>>{{0, 9, 9, 0, 0}, {0, 0, 0, 0, 0}, {7, 7, 1, 2, 3}}));

    // RLE4: a run alternates the two nibbles; an odd literal block is padded to a whole word.
    TBmpSpec s4 = Spec(5, 1, 4, 2);
    s4.Palette = {0, 0xFF};
    s4.Pixels = {2, 0x5A, 0, 3, 0x12, 0x30, 0, 1};
    EXPECT_EQ(Indices(Decode(MakeBmp(s4))), (std::vector<std::vector<int>>{{5, 10, 1, 2, 3}}));
}

TEST(BmpRle, RejectsOverrunsAndUnterminatedStreams) {
    const std::vector<std::pair<TBytes, std::string>> streams = {
        {{6, 1, 0, 1}, "overruns row"},                               // run longer than the row
        {{0, 3, 1, 2, 3, 0, 0, 3, 4, 5, 6, 0, 0, 1}, "overruns row"}, // literal crossing the row end
        {{0, 0, 0, 0, 1, 1, 0, 1}, "past the last row"},              // writes after the last row
        {{0, 2, 6, 0, 0, 1}, "delta moves outside"},                  // delta beyond the row end
        {{0, 2, 0, 3, 0, 1}, "delta moves outside"},                  // delta beyond the last row
        {{2, 1, 0, 0}, "without an end-of-bitmap"},                   // no end marker
        {{2, 1, 0}, "truncated RLE"},                                 // cut inside a code
        {{0, 4, 1, 2, 3}, "truncated RLE"},                           // literal block cut short
    };
    for (const auto& [stream, reason] : streams) {
        TBmpSpec s = Spec(5, 2, 8, 1);
        s.Palette = {0, 0xFF};
        s.Pixels = stream;
        try {
            Decode(MakeBmp(s));
            ADD_FAILURE() << "accepted stream for: " << reason;
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
    }
}

TEST(BmpHeaders, RejectsMalformedFieldsWithTheReason) {
    TBmpSpec ok = Spec(2, 1);
    ok.Palette = {0};
    ok.Pixels = {0, 0, 0, 0};
    auto reason = [](TBmpSpec S) -> std::string {
        try {
            Decode(MakeBmp(S));
            return "accepted";
        } catch (const EInvalidGraphic& e) {
            return e.what();
        }
    };
    auto with = [&](auto Change) {
        TBmpSpec s = ok;
        Change(s);
        return reason(s);
    };
    EXPECT_EQ(reason(ok), "accepted");
    EXPECT_NE(with([](TBmpSpec& s) { s.Width = 0; }).find("width 0 is not valid"), std::string::npos);
    EXPECT_NE(with([](TBmpSpec& s) { s.Height = 0; }).find("height is 0"), std::string::npos);
    EXPECT_NE(with([](TBmpSpec& s) { s.Bpp = 7; }).find("bits per pixel 7 is not valid"), std::string::npos);
    EXPECT_NE(with([](TBmpSpec& s) { s.Compression = 2; }).find("RLE4 compression needs 4"),
              std::string::npos);
    EXPECT_NE(with([](TBmpSpec& s) { s.Compression = 9; }).find("unsupported compression 9"),
              std::string::npos);
    EXPECT_NE(with([](TBmpSpec& s) { s.Compression = 3; }).find("needs 16 or 32"), std::string::npos);
    EXPECT_NE(with([](TBmpSpec& s) { s.HeaderSize = 42; }).find("info header size 42"), std::string::npos);
    EXPECT_NE(with([](TBmpSpec& s) { s.ColoursUsed = 3; }).find("truncated palette"), std::string::npos);
    EXPECT_NE(with([](TBmpSpec& s) { s.Pixels.resize(3); }).find("row 1 of 1 missing"), std::string::npos);
    // 16-bit masks: not contiguous, overlapping, wider than the pixel.
    TBmpSpec m = Spec(1, 1, 16, 3);
    m.Pixels = {0, 0, 0, 0};
    m.Masks = {0xF801, 0x07E0, 0x001E};
    EXPECT_NE(reason(m).find("not a contiguous run"), std::string::npos);
    m.Masks = {0xF800, 0x0FE0, 0x001F};
    EXPECT_NE(reason(m).find("overlap"), std::string::npos);
    m.Masks = {0x1F0000, 0x07E0, 0x001F};
    EXPECT_NE(reason(m).find("outside the 16-bit pixel"), std::string::npos);
    TBmpSpec noPalette = Spec(1, 1);
    noPalette.Pixels = {0, 0, 0, 0};
    EXPECT_NE(reason(noPalette).find("has no palette"), std::string::npos);
}

TEST(BmpHeaders, RefusesHugeClaimsBeforeAllocating) {
    // 16384 x 16384 at 8 bits is within the pixel limit, but the pixels are not in the file.
    TBmpSpec s = Spec(16384, 16384);
    s.Palette = {0};
    s.Pixels = {1, 2, 3, 4};
    EXPECT_THROW(Decode(MakeBmp(s)), EInvalidGraphic);
    s.Width = 65536; // over 2^28 pixels
    EXPECT_THROW(Decode(MakeBmp(s)), EOutOfResources);
    s.Height = INT32_MIN; // top-down of a height that has no positive counterpart
    EXPECT_THROW(Decode(MakeBmp(s)), EOutOfResources);
}

TEST(BmpBitFields, OddMasksWidenByBitReplicationAndAlphaIsKept) {
    // 16 bit with 2-3-1 bit channels -> pf24bit: red 2 -> 0xAA, green 5 -> 0xB6, blue 1 -> 0xFF.
    TBmpSpec s = Spec(1, 1, 16, 3);
    s.Masks = {0x30, 0x0E, 0x01};
    s.Pixels = {0x2B, 0x00, 0, 0};
    TDibImage img = Decode(MakeBmp(s));
    EXPECT_EQ(img.Format, pf24bit);
    EXPECT_EQ(PixelArgb(img, 0, 0), 0xFFAAB6FFu);

    // 32 bit 10-10-10-2 with alpha in a 124-byte header: channels keep their top 8 bits.
    TBmpSpec a = Spec(1, 1, 32, 3, 124);
    a.Masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000};
    const uint32_t v = (1u << 30) | (0x3FFu << 20) | (0x200u << 10) | 0x0FF;
    a.Pixels = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    img = Decode(MakeBmp(a));
    EXPECT_EQ(img.Format, pf32bit);
    EXPECT_TRUE(img.HasAlpha);
    EXPECT_EQ(PixelArgb(img, 0, 0), 0x55FF803Fu);

    // An alpha channel that is zero everywhere loads as opaque.
    a.Masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    a.Pixels = {1, 2, 3, 0};
    img = Decode(MakeBmp(a));
    EXPECT_FALSE(img.HasAlpha);
    EXPECT_EQ(PixelArgb(img, 0, 0), 0xFF030201u);

    // 16 bit 5-5-5 with a 1-bit alpha loads as pf32bit with alpha.
    TBmpSpec b = Spec(1, 1, 16, 3, 56);
    b.Masks = {0x7C00, 0x03E0, 0x001F, 0x8000};
    b.Pixels = {0x1F, 0x80, 0, 0};
    img = Decode(MakeBmp(b));
    EXPECT_EQ(img.Format, pf32bit);
    EXPECT_EQ(PixelArgb(img, 0, 0), 0xFF0000FFu);
}

TEST(BmpHeaders, Os2CoreHeaderWithShortPalette) {
    // 12-byte header, 3-byte palette entries, palette size taken from the pixel data offset.
    TBmpSpec s = Spec(3, 1, 8, 0, 12);
    s.Palette = {0x112233, 0x445566};
    s.Pixels = {1, 0, 7, 0};
    const TDibImage img = Decode(MakeBmp(s));
    EXPECT_EQ(img.Palette.size(), 256u);
    EXPECT_EQ(PixelArgb(img, 0, 0), 0xFF445566u);
    EXPECT_EQ(PixelArgb(img, 1, 0), 0xFF112233u);
    EXPECT_EQ(PixelArgb(img, 2, 0), 0xFF000000u); // beyond the palette: black
}

// A small picture of every format with varied pixels, laid out as the decoder produces them.
TDibImage Sample(TPixelFormat Format, bool Alpha = false) {
    TDibImage img = BlankPicture(Format, 5, 3);
    img.HasAlpha = Alpha;
    for (uint32_t i = 0; i < img.Palette.size(); ++i)
        img.Palette[i] = 0xFF000000u | (i * 0x010307u);
    uint32_t seed = 12345;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            seed = seed * 1103515245u + 12345u;
            const uint32_t r = seed >> 8;
            uint8_t* row = img.Row(y);
            switch (Format) {
            case pf1bit:
                row[x / 8] |= uint8_t((r & 1) << (7 - x % 8));
                break;
            case pf4bit:
                row[x / 2] |= uint8_t((r & 15) << (x % 2 ? 0 : 4));
                break;
            case pf8bit:
                row[x] = uint8_t(r);
                break;
            case pf15bit:
                row[2 * x] = uint8_t(r), row[2 * x + 1] = uint8_t(r >> 8) & 0x7F;
                break;
            case pf16bit:
                row[2 * x] = uint8_t(r), row[2 * x + 1] = uint8_t(r >> 8);
                break;
            case pf24bit:
                row[3 * x] = uint8_t(r), row[3 * x + 1] = uint8_t(r >> 8), row[3 * x + 2] = uint8_t(r >> 16);
                break;
            default:
                for (int i = 0; i < 4; ++i)
                    row[4 * x + i] = uint8_t(r >> (6 * i));
                if (!Alpha) row[4 * x + 3] = 255;
            }
        }
    return img;
}

TEST(BmpRoundTrip, EveryFormatComesBackExactly) {
    const std::vector<std::pair<TDibImage, TPixelFormat>> samples = {
        {Sample(pf1bit), pf1bit},   {Sample(pf4bit), pf4bit},         {Sample(pf8bit), pf8bit},
        {Sample(pf15bit), pf15bit}, {Sample(pf16bit), pf16bit},       {Sample(pf24bit), pf24bit},
        {Sample(pf32bit), pf32bit}, {Sample(pf32bit, true), pf32bit}, {Sample(pfDevice), pf32bit},
    };
    for (const auto& [image, loadsAs] : samples) {
        const TDibImage back = Decode(EncodeBmp(image));
        EXPECT_EQ(back.Format, loadsAs) << "format " << image.Format;
        EXPECT_EQ(back.HasAlpha, image.HasAlpha) << "format " << image.Format;
        EXPECT_EQ(back.Width, image.Width);
        EXPECT_EQ(back.Height, image.Height);
        EXPECT_EQ(back.Palette, image.Palette) << "format " << image.Format;
        EXPECT_EQ(back.Bits, image.Bits) << "format " << image.Format;
    }
    EXPECT_THROW(EncodeBmp(TDibImage{}), EInvalidGraphic);
    TDibImage custom = Sample(pf24bit);
    custom.Format = pfCustom;
    EXPECT_THROW(EncodeBmp(custom), EInvalidGraphic);
}

} // namespace
