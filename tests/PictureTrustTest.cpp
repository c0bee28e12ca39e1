// Picture data that is cut short, damaged or over the limits: refused with the file's name and the
// real reason, never decoded into invented pixels.
#include "EncodedPictures.h"
#include <pictura/ImageLimits.h>
#include <pictura/Picture.h>
#include <pictura/SysUtils.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <cstdio>

#include <unistd.h>
#include <zlib.h>

namespace {

QImage Gradient(int Width, int Height) {
    QImage image(Width, Height, QImage::Format_RGB32);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / Width, y * 255 / Height, (x ^ y) & 255));
    return image;
}

// A GIF of Width x Height 2-bit pixels whose image data holds Pixels literal codes (a clear code
// before every second one keeps the codes 3 bits wide), with or without its trailer.
QByteArray Gif(int Width, int Height, int Pixels, bool Trailer = true) {
    QByteArray gif("GIF89a");
    gif += char(Width & 255), gif += char(Width >> 8), gif += char(Height & 255), gif += char(Height >> 8);
    gif += char(0x81), gif += char(0), gif += char(0);
    gif += QByteArray("\0\0\0\xff\0\0\0\xff\0\0\0\xff", 12);
    gif += QByteArray("\x2c\0\0\0\0", 5);
    gif += char(Width & 255), gif += char(Width >> 8), gif += char(Height & 255), gif += char(Height >> 8);
    gif += char(0), gif += char(2);
    QByteArray codes;
    uint32_t bits = 0;
    int count = 0;
    auto put = [&](int Code) {
        bits |= uint32_t(Code) << count;
        for (count += 3; count >= 8; count -= 8, bits >>= 8)
            codes += char(bits & 255);
    };
    for (int i = 0; i < Pixels; ++i) {
        if (i % 2 == 0) put(4);
        put(i % 4);
    }
    put(5);
    if (count) codes += char(bits & 255);
    for (qsizetype i = 0; i < codes.size(); i += 255) {
        const QByteArray block = codes.mid(i, 255);
        gif += char(block.size()) + block;
    }
    gif += char(0);
    if (Trailer) gif += char(0x3b);
    return gif;
}

std::string Refusal(const QByteArray& Data, const char* Name) {
    TPicture picture;
    try {
        picture.LoadFromData(Data, Name);
    } catch (const Exception& e) {
        return e.what();
    }
    return "loaded";
}

void ExpectRefused(const QByteArray& Data, const char* Name, const std::string& Reason) {
    const std::string message = Refusal(Data, Name);
    EXPECT_NE(message.find(std::string("\"") + Name + "\""), std::string::npos) << message;
    EXPECT_NE(message.find(Reason), std::string::npos) << Name << ": " << message;
}

} // namespace

TEST(PictureTrust, CompleteFilesOfEveryCheckedFormatLoad) {
    const QImage image = Gradient(13, 9);
    for (const char* format : {"jpeg", "png", "ppm", "pgm", "pbm", "xbm"})
        EXPECT_EQ(Refusal(Encode(image, format), format), "loaded") << format;
    EXPECT_EQ(Refusal(Encode(image, "jpeg", true), "progressive"), "loaded");
    EXPECT_EQ(Refusal(Gif(7, 5, 35), "whole.gif"), "loaded");
    EXPECT_EQ(Refusal("P2\n3 1\n100\n0 50 100\n", "ascii.pgm"), "loaded");
    EXPECT_EQ(Refusal(QByteArray("P5\n2 1\n1000\n\x03\xe8\x00\x07", 17), "wide.pgm"), "loaded");
}

TEST(PictureTrust, CutOrDamagedDataIsRefused) {
    const QByteArray jpeg = Encode(Gradient(64, 64), "jpeg");
    const qsizetype scan = jpeg.indexOf("\xff\xda");
    const int scanHeader = (uint8_t(jpeg[scan + 2]) << 8 | uint8_t(jpeg[scan + 3])) + 2;
    const qsizetype halfScan = scan + scanHeader + (jpeg.size() - scan - scanHeader) / 2;
    ExpectRefused(jpeg.left(halfScan) + "\xff\xd9", "half.jpg", "Corrupt JPEG data");
    ExpectRefused(jpeg.left(scan + scanHeader) + "\xff\xd9", "no-scan-data.jpg", "JPEG");

    ExpectRefused(Gif(16, 16, 10), "sparse.gif", "covers 10 of its 16 x 16 pixels");
    ExpectRefused(Gif(7, 5, 35, false), "no-trailer.gif", "without its trailer");

    const QByteArray xbm = "#define b_width 16\n#define b_height 16\nstatic char b_bits[] = {\n0xff };\n";
    ExpectRefused(xbm, "short.xbm", "holds 1 of its 32 bytes");

    const QByteArray png = Encode(Gradient(8, 8), "png");
    for (int cut = 1; cut <= 4; ++cut)
        ExpectRefused(png.left(png.size() - cut), "cut.png", "ends inside its chunk \"IEND\"");

    ExpectRefused("P2\n3 2\n100\n0 50 100\n1 250 3\n", "over.pgm",
                  "sample 250 in row 1 is larger than the maximum 100");
    ExpectRefused(QByteArray("P6\n1 2\n100\n\x01\x02\x03\x04\x65\x06", 18), "over.ppm", "in row 1");
}

TEST(PictureTrust, RefusalsNameTheRealReason) {
    // Data that Qt's readers refuse with a bare "unable to read image data" gets a reason of its own.
    const QByteArray ppm = Encode(Gradient(13, 9), "ppm");
    for (const std::string& message :
         {Refusal(ppm.left(ppm.size() - 5), "cut.ppm"), Refusal(Gif(7, 5, 35).left(20), "cut.gif")}) {
        EXPECT_EQ(message.find("unable to read image data"), std::string::npos) << message;
        EXPECT_EQ(message.find("nknown error"), std::string::npos) << message;
    }
    // Over-limit pictures say their size and the limit, whatever their format.
    const size_t previous = GetMaxBitmapBytes();
    SetMaxBitmapBytes(1 << 20);
    const QByteArray bigXbm =
        "#define b_width 4000\n#define b_height 4000\nstatic char b_bits[] = {\n0xff };\n";
    for (const auto& [data, name] :
         {std::pair{Gif(4000, 4000, 10), "big.gif"}, std::pair{QByteArray("P5\n4000 4000\n255\n"), "big.pgm"},
          std::pair{bigXbm, "big.xbm"}})
        ExpectRefused(data, name, "4000 x 4000");
    SetMaxBitmapBytes(previous);
}

TEST(PictureTrust, DecodersSayNothingOnTheTerminalAndTheirReasonReachesTheMessage) {
    // A PNG whose image data is not a zlib stream, though every checksum matches.
    QByteArray png = Encode(Gradient(8, 8), "png");
    const qsizetype idat = png.indexOf("IDAT");
    const uint32_t length = uint32_t(uint8_t(png[idat - 4])) << 24 | uint8_t(png[idat - 3]) << 16 |
                            uint8_t(png[idat - 2]) << 8 | uint8_t(png[idat - 1]);
    for (uint32_t k = 2; k < length; ++k)
        png[idat + 4 + k] = char(0x55);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + idat), uInt(length + 4));
    for (int k = 0; k < 4; ++k)
        png[idat + 4 + length + k] = char(crc >> (24 - 8 * k));
    const QByteArray jpeg = Encode(Gradient(64, 64), "jpeg");

    std::fflush(stderr);
    FILE* capture = std::tmpfile();
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(::fileno(capture), STDERR_FILENO);
    const std::string pngMessage = Refusal(png, "zlib.png");
    const std::string jpegMessage = Refusal(jpeg.left(jpeg.size() - 40) + "\xff\xd9", "cut.jpg");
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::rewind(capture);
    char said[256] = {};
    const size_t n = std::fread(said, 1, sizeof said - 1, capture);
    std::fclose(capture);
    EXPECT_EQ(n, 0u) << said;
    EXPECT_NE(pngMessage.find("the PNG image data is damaged"), std::string::npos) << pngMessage;
    EXPECT_NE(jpegMessage.find("Corrupt JPEG data"), std::string::npos) << jpegMessage;
}
