// The JPEG codec's threads: a picture decoded in two parts has the pixels and the refusals of one
// decoded whole (and of TurboJPEG's own decoder); strips encoded apart and joined by restart markers make
// the same bytes on any number of threads, and the pixels of the picture encoded whole; the encoder's own
// Huffman tables keep the standard encoder's pixels.
#include "JpegCodec.h"
#include <pictura/SysUtils.h>

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

// Smooth colours with some grain, as a camera's picture compresses.
TDibImage Photo(int Width, int Height, TPixelFormat Format, uint32_t Seed) {
    std::mt19937 random(Seed);
    TDibImage image;
    image.Width = Width;
    image.Height = Height;
    image.Format = Format;
    image.Bits.resize(image.Stride() * size_t(Height));
    const int bytes = Format == pf24bit ? 3 : 4;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            for (int c = 0; c < bytes; ++c)
                image.Row(y)[x * bytes + c] =
                    uint8_t((x * (c + 1) + y * (3 - c) + (x * y >> 6) + int(random() % 12)) & 255);
    return image;
}

TDibImage GreyPhoto(int Width, int Height, uint32_t Seed) {
    TDibImage colour = Photo(Width, Height, pf24bit, Seed), grey;
    grey.Width = Width;
    grey.Height = Height;
    grey.Format = pf8bit;
    for (uint32_t i = 0; i < 256; ++i)
        grey.Palette.push_back(0xFF000000u | i * 0x010101u);
    grey.Bits.resize(grey.Stride() * size_t(Height));
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            grey.Row(y)[x] = colour.Row(y)[3 * x + 1];
    return grey;
}

TBytes TurboEncoded(const TDibImage& Image, int Subsampling, int Flags, int Quality = 85) {
    const tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(handle, Image.Bits.data(), Image.Width, int(Image.Stride()), Image.Height,
                          Image.Format == pf8bit ? TJPF_GRAY : TJPF_BGR, &jpeg, &size, Subsampling, Quality,
                          Flags),
              0);
    TBytes out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

// TurboJPEG's own decoding, which refuses on any warning as the codec does: the pixels, or nothing.
std::optional<TBytes> TurboDecoded(const TBytes& Jpeg, bool Grey, int Width, int Height, size_t Stride) {
    const tjhandle handle = tjInitDecompress();
    TBytes pixels(Stride * size_t(Height));
    const bool ok = tjDecompress2(handle, Jpeg.data(), Jpeg.size(), pixels.data(), Width, int(Stride), Height,
                                  Grey ? TJPF_GRAY : TJPF_BGR, 0) == 0;
    tjDestroy(handle);
    return ok ? std::optional<TBytes>(pixels) : std::nullopt;
}

struct TDecoded {
    std::optional<std::string> Error;
    TDibImage Dib;
};

TDecoded Decoded(const TBytes& Jpeg, int Parts) {
    TDecoded decoded;
    TPictureMetadata metadata;
    try {
        DecodeJpeg(Jpeg.data(), Jpeg.size(), decoded.Dib, metadata, Parts);
    } catch (const Exception& e) {
        decoded.Error = e.what();
    }
    return decoded;
}

TEST(JpegCodecTest, TwoPartsDecodeThePixelsOfOne) {
    const int subsamplings[] = {TJSAMP_444, TJSAMP_422, TJSAMP_420, TJSAMP_440, TJSAMP_411, TJSAMP_GRAY};
    uint32_t seed = 1;
    for (const int subsampling : subsamplings)
        for (const auto& [width, height] : {std::pair(97, 61), std::pair(301, 258), std::pair(640, 1001)})
            for (const int flags : {0, TJFLAG_PROGRESSIVE}) {
                const bool grey = subsampling == TJSAMP_GRAY;
                const TDibImage photo =
                    grey ? GreyPhoto(width, height, seed) : Photo(width, height, pf24bit, seed);
                ++seed;
                const TBytes jpeg = TurboEncoded(photo, subsampling, flags);
                const TDecoded one = Decoded(jpeg, 1), two = Decoded(jpeg, 2);
                const std::string name = "subsampling " + std::to_string(subsampling) + ", " +
                                         std::to_string(width) + " x " + std::to_string(height) +
                                         (flags ? ", progressive" : "");
                ASSERT_FALSE(one.Error) << name << ": " << *one.Error;
                ASSERT_FALSE(two.Error) << name << ": " << *two.Error;
                EXPECT_TRUE(one.Dib.Bits == two.Dib.Bits) << name;
                EXPECT_TRUE(one.Dib.Bits == TurboDecoded(jpeg, grey, width, height, one.Dib.Stride()))
                    << name;
            }
}

// With restart markers the lower part starts at the one nearest the middle, its markers renumbered.
TEST(JpegCodecTest, TwoPartsDecodeThePixelsOfOneFromARestartMarker) {
    uint32_t seed = 20;
    for (const bool grey : {false, true})
        for (const auto& [width, height] : {std::pair(97, 200), std::pair(333, 517)})
            for (const int mcuRows : {1, 2, 3, 7}) {
                const TDibImage photo =
                    grey ? GreyPhoto(width, height, seed) : Photo(width, height, pf24bit, seed);
                ++seed;
                const std::string encoded = EncodeJpeg(photo, {}, 90, 1, mcuRows);
                const TBytes jpeg(encoded.begin(), encoded.end());
                const TDecoded one = Decoded(jpeg, 1), two = Decoded(jpeg, 2);
                ASSERT_FALSE(one.Error) << *one.Error;
                ASSERT_FALSE(two.Error) << *two.Error;
                EXPECT_TRUE(one.Dib.Bits == two.Dib.Bits) << width << " x " << height << ", " << mcuRows;
                EXPECT_TRUE(one.Dib.Bits == TurboDecoded(jpeg, grey, width, height, one.Dib.Stride()));
            }
}

TEST(JpegCodecTest, DamagedDataIsRefusedAlikeInOneOrTwoParts) {
    std::mt19937 random(5);
    for (const int kind : {0, 1, 2, 3}) {
        // grey or colour, with restart markers (every 2 rows of MCUs) or without
        const bool grey = kind % 2 == 1, restarts = kind >= 2;
        const int width = grey ? 160 : 213, height = grey ? 97 : 150;
        const TDibImage photo = grey ? GreyPhoto(width, height, 4) : Photo(width, height, pf24bit, 3);
        const std::string strips = EncodeJpeg(photo, {}, 80, 1, 2);
        const TBytes source = restarts ? TBytes(strips.begin(), strips.end())
                                       : TurboEncoded(photo, grey ? TJSAMP_GRAY : TJSAMP_420, 0);
        const size_t stride = grey ? size_t(width + 3) / 4 * 4 : size_t(width * 3 + 3) / 4 * 4;
        std::vector<TBytes> damaged;
        for (const size_t cut : {source.size() / 3, source.size() * 2 / 3, source.size() - 2})
            damaged.emplace_back(source.begin(), source.begin() + long(cut));
        for (int i = 0; i < 200; ++i) {
            TBytes changed = source;
            changed[random() % changed.size()] ^= uint8_t(1 << (random() % 8));
            damaged.push_back(changed);
        }
        // each restart marker renumbered, or made into stuffed data
        for (size_t at = 2; at + 1 < source.size(); ++at)
            if (source[at] == 0xFF && source[at + 1] >= 0xD0 && source[at + 1] <= 0xD7)
                for (const uint8_t to : {uint8_t(0xD0 + (source[at + 1] + 1) % 8), uint8_t(0)}) {
                    damaged.push_back(source);
                    damaged.back()[at + 1] = to;
                }
        for (size_t i = 0; i < damaged.size(); ++i) {
            const TDecoded one = Decoded(damaged[i], 1), two = Decoded(damaged[i], 2);
            const std::optional<TBytes> turbo = TurboDecoded(damaged[i], grey, width, height, stride);
            ASSERT_EQ(one.Error.has_value(), two.Error.has_value())
                << "damage " << i << ": " << one.Error.value_or(two.Error.value_or(""));
            EXPECT_EQ(one.Error, two.Error) << "damage " << i;
            // A header that changed the picture's size or kind is not TurboJPEG's case here.
            if (!one.Error && (one.Dib.Width != width || one.Dib.Height != height)) continue;
            EXPECT_EQ(one.Error.has_value(), !turbo.has_value())
                << "damage " << i << ": " << one.Error.value_or("");
            if (!one.Error) {
                EXPECT_TRUE(one.Dib.Bits == two.Dib.Bits) << "damage " << i;
                EXPECT_TRUE(one.Dib.Bits == *turbo) << "damage " << i;
            }
        }
    }
}

// The pixels TurboJPEG decodes from Jpeg (which must decode without a warning).
TBytes PixelsOf(const std::string& Jpeg, const TDibImage& Like, bool Grey) {
    const TBytes bytes(Jpeg.begin(), Jpeg.end());
    const std::optional<TBytes> pixels = TurboDecoded(
        bytes, Grey, Like.Width, Like.Height, Grey ? size_t(Like.Width + 3) / 4 * 4 : size_t(Like.Width) * 3);
    EXPECT_TRUE(pixels.has_value());
    return pixels.value_or(TBytes());
}

bool HasRestartInterval(const std::string& Jpeg) {
    return Jpeg.find("\xFF\xDD\x00\x04") != std::string::npos;
}

TEST(JpegCodecTest, StripsMakeTheSameBytesOnAnyThreadsAndThePixelsOfOneStrip) {
    const TDibImage pictures[] = {Photo(333, 250, pf24bit, 7), Photo(64, 97, pf32bit, 8),
                                  GreyPhoto(250, 129, 9), Photo(17, 300, pf24bit, 10)};
    for (const TDibImage& picture : pictures) {
        const bool grey = picture.Format == pf8bit;
        const std::string whole = EncodeJpeg(picture, {}, -1, 1, 100000);
        ASSERT_FALSE(HasRestartInterval(whole));
        const TBytes expected = PixelsOf(whole, picture, grey);
        for (const int mcuRows : {1, 3}) {
            const std::string one = EncodeJpeg(picture, {}, -1, 1, mcuRows);
            EXPECT_TRUE(HasRestartInterval(one));
            for (const int threads : {2, 3, 8})
                EXPECT_EQ(one, EncodeJpeg(picture, {}, -1, threads, mcuRows)) << threads << " threads";
            EXPECT_TRUE(PixelsOf(one, picture, grey) == expected)
                << picture.Width << " x " << picture.Height << ", " << mcuRows << " MCU rows a strip";
        }
    }
}

// Strips chosen from the picture's size: a large picture gets several, a wide grey one at most the
// restart interval a JPEG can state (65535 MCUs, 8 rows of MCUs at 65,500 pixels).
TEST(JpegCodecTest, StripsChosenFromTheSizeJoinWithinTheLargestInterval) {
    for (const TDibImage& picture : {Photo(4000, 2200, pf24bit, 11), GreyPhoto(65500, 70, 12)}) {
        const bool grey = picture.Format == pf8bit;
        const std::string strips = EncodeJpeg(picture, {}, -1, 2, grey ? 20 : 0);
        EXPECT_TRUE(HasRestartInterval(strips));
        EXPECT_EQ(strips, EncodeJpeg(picture, {}, -1, 1, grey ? 20 : 0));
        EXPECT_TRUE(PixelsOf(strips, picture, grey) ==
                    PixelsOf(EncodeJpeg(picture, {}, -1, 1, 100000), picture, grey));
    }
}

// The Huffman tables are made for the picture (from all of a one-strip picture, else from a sample of its
// rows): the coefficients stay those of the standard encoder (the same pixels decode), symbols the sample
// never saw are still encoded (noise at quality 100 in the rows between the sampled ones of a large
// picture, flat grey in those), and a photo shrinks.
TEST(JpegCodecTest, TablesMadeForThePictureKeepItsPixelsAndShrinkIt) {
    TDibImage unseen = Photo(4000, 1100, pf24bit, 13);
    std::mt19937 random(14);
    for (int y = 0; y < unseen.Height; ++y)
        for (int x = 0; x < 3 * unseen.Width; ++x)
            unseen.Row(y)[x] = y / 16 % 2 ? 128 : uint8_t(random());
    struct TCase {
        TDibImage Picture;
        int Quality;
        int McuRows; // 0: one strip, the tables counted from all of it
        bool Photo;
    };
    const TCase cases[] = {{Photo(333, 250, pf24bit, 15), 75, 0, true},
                           {Photo(1200, 1000, pf24bit, 15), 75, 4, true},
                           {GreyPhoto(250, 129, 16), 90, 0, true},
                           {Photo(1, 1, pf24bit, 17), 75, 0, false},
                           {unseen, 100, 8, false}};
    for (const TCase& test : cases) {
        const bool grey = test.Picture.Format == pf8bit;
        const TBytes standard =
            TurboEncoded(test.Picture, grey ? TJSAMP_GRAY : TJSAMP_420, TJFLAG_ACCURATEDCT, test.Quality);
        const std::string ours = EncodeJpeg(test.Picture, {}, test.Quality, 2, test.McuRows);
        const std::string name =
            std::to_string(test.Picture.Width) + " x " + std::to_string(test.Picture.Height);
        EXPECT_TRUE(
            PixelsOf(ours, test.Picture, grey) ==
            TurboDecoded(standard, grey, test.Picture.Width, test.Picture.Height,
                         grey ? size_t(test.Picture.Width + 3) / 4 * 4 : size_t(test.Picture.Width) * 3))
            << name;
        if (test.Photo) {
            EXPECT_LT(ours.size(), standard.size()) << name;
        }
    }
}

} // namespace
