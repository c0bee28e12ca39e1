// The framework's PNG and JPEG codecs against Qt's (same pixels, same refusals), its PNG, TIFF and WebP
// writers read back by Qt's readers, what travels with a picture from file to file, turning it upright,
// grey pictures written with one channel, and notes.
#include "CodecChoice.h"
#include "TiffExif.h"
#include <pictura/Picture.h>
#include <pictura/SysUtils.h>

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTransform>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

// A load's result: the error, or the picture as the bitmap holds it.
struct TLoaded {
    std::optional<std::string> Error;
    TDibImage Dib;
    TPictureMetadata Metadata;
};

TLoaded Load(const QByteArray& Data, bool Own) {
    SetOwnPictureCodecs(Own);
    TLoaded loaded;
    TPicture picture;
    try {
        picture.LoadFromData(Data, "test");
        loaded.Dib = picture.GetBitmap()->Dib();
        loaded.Metadata = picture.Metadata();
    } catch (const Exception& e) {
        loaded.Error = e.what();
    }
    SetOwnPictureCodecs(true);
    return loaded;
}

void ExpectSameLoad(const QByteArray& Data, const std::string& Name) {
    const TLoaded own = Load(Data, true), qt = Load(Data, false);
    ASSERT_EQ(own.Error.has_value(), qt.Error.has_value())
        << Name << ": " << own.Error.value_or("accepted") << " / Qt: " << qt.Error.value_or("accepted");
    if (own.Error) return;
    EXPECT_EQ(own.Dib.Format, qt.Dib.Format) << Name;
    EXPECT_EQ(own.Dib.HasAlpha, qt.Dib.HasAlpha) << Name;
    EXPECT_EQ(own.Dib.Palette, qt.Dib.Palette) << Name;
    EXPECT_TRUE(own.Dib.Bits == qt.Dib.Bits) << Name << ": the pixels differ";
}

QByteArray ReadAll(const fs::path& Path) {
    QFile file(QString::fromStdString(Path.string()));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << Path;
    return file.readAll();
}

QByteArray Encoded(const QImage& Image, const char* Format, int Quality = -1, bool Progressive = false) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, Format);
    writer.setQuality(Quality);
    writer.setProgressiveScanWrite(Progressive);
    EXPECT_TRUE(writer.write(Image));
    return data;
}

// Smooth colours with some grain, Width x Height, in Format.
QImage Photo(int Width, int Height, QImage::Format Format, uint32_t Seed) {
    std::mt19937 random(Seed);
    QImage image(Width, Height, QImage::Format_ARGB32);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            image.setPixel(x, y,
                           qRgba((x * 7 + int(random() % 9)) & 255, (y * 5 + int(random() % 5)) & 255,
                                 (x * y / 3) & 255, 128 + int(random() % 128)));
    return image.convertToFormat(Format);
}

TEST(PictureCodecsTest, PngSuiteDecodesAndRefusesAsQtDoes) {
    int files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(PICTURA_TEST_DATA) / "png"))
        if (entry.path().extension() == ".png") {
            // Qt reads these wrongly (see SixteenBitPicturesWithATransparentColourAreWhole).
            const std::string name = entry.path().filename().string();
            if (name == "tbbn2c16.png" || name == "tbgn2c16.png") continue;
            ExpectSameLoad(ReadAll(entry.path()), entry.path().filename().string());
            ++files;
        }
    EXPECT_GT(files, 150);
}

// Qt leaves pixels of 16-bit colour pictures with a transparent colour unset (and the colour opaque);
// the own reader gives the same pixels on every load, the transparent colour (white here) transparent.
TEST(PictureCodecsTest, SixteenBitPicturesWithATransparentColourAreWhole) {
    for (const char* name : {"tbbn2c16.png", "tbgn2c16.png"}) {
        const QByteArray data = ReadAll(fs::path(PICTURA_TEST_DATA) / "png" / name);
        const TLoaded own = Load(data, true), again = Load(data, true);
        ASSERT_FALSE(own.Error) << *own.Error;
        EXPECT_TRUE(own.Dib.Bits == again.Dib.Bits) << name;
        int transparent = 0;
        for (size_t i = 0; i < own.Dib.Bits.size(); i += 4) {
            const bool white =
                own.Dib.Bits[i] == 255 && own.Dib.Bits[i + 1] == 255 && own.Dib.Bits[i + 2] == 255;
            EXPECT_EQ(own.Dib.Bits[i + 3], white ? 0 : 255) << name << " byte " << i;
            transparent += white;
        }
        EXPECT_GT(transparent, 0) << name;
    }
}

TEST(PictureCodecsTest, DamagedPngAndJpegAreRefusedAsQtRefusesThem) {
    const QImage photo = Photo(97, 61, QImage::Format_RGB32, 1);
    const QByteArray sources[] = {Encoded(photo, "png"), Encoded(photo, "jpg", 80),
                                  Encoded(photo, "jpg", 80, true),
                                  Encoded(photo.convertToFormat(QImage::Format_Grayscale8), "jpg")};
    std::mt19937 random(7);
    for (const QByteArray& source : sources) {
        ExpectSameLoad(source, "whole");
        for (int cut : {20, 100, int(source.size()) / 2, int(source.size()) - 3})
            ExpectSameLoad(source.left(cut), "cut at " + std::to_string(cut));
        for (int i = 0; i < 40; ++i) {
            QByteArray damaged = source;
            const int at = int(random() % uint32_t(source.size()));
            damaged[at] = char(damaged[at] ^ char(1 << (random() % 8)));
            ExpectSameLoad(damaged, "byte " + std::to_string(at) + " changed");
        }
    }
}

// PNG data whose image data's checksum (the last 4 bytes of its zlib stream) is wrong, every chunk whole.
QByteArray WrongImageChecksum(QByteArray Png) {
    const qsizetype end = Png.lastIndexOf("IEND") - 4; // the last image chunk ends here
    Png[end - 5] = char(Png[end - 5] ^ 0x40);
    const qsizetype start = Png.lastIndexOf("IDAT", end);
    const uint32_t length = uint32_t(end - 4 - start - 4);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(Png.constData() + start), uInt(length + 4));
    for (int i = 0; i < 4; ++i)
        Png[end - 4 + i] = char(crc >> (24 - 8 * i));
    return Png;
}

TEST(PictureCodecsTest, AWrongImageDataChecksumIsRefused) {
    const QByteArray png = Encoded(Photo(50, 20, QImage::Format_RGB32, 8), "png");
    ASSERT_FALSE(Load(png, true).Error);
    const TLoaded own = Load(WrongImageChecksum(png), true);
    ASSERT_TRUE(own.Error);
    EXPECT_NE(own.Error->find("damaged"), std::string::npos) << *own.Error;
    ExpectSameLoad(WrongImageChecksum(png), "wrong checksum");
}

// PNG, TIFF and lossless WebP keep every pixel (WebP also the colour under transparent ones), read back
// by Qt's readers.
TEST(PictureCodecsTest, WritersRoundTripEveryFormatAtEveryLevel) {
    std::mt19937 random(3);
    for (const char* ext : {"png", "tif", "webp"}) {
        if (!TPicture::WritableExtensions().contains(ext)) continue; // no Qt plugin to read it back
        for (const TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit, pf32bit}) {
            for (int level = 0; level <= 9; level += 3) {
                TPicture picture;
                picture.GetBitmap()->FromQImage(
                    Photo(1 + int(random() % 300), 1 + int(random() % 40), QImage::Format_ARGB32, random()));
                if (format != pf32bit) picture.GetBitmap()->SetPixelFormat(format);
                const TLoaded back = Load(picture.SaveToData(ext, "test", 100, level), false);
                ASSERT_FALSE(back.Error) << *back.Error;
                // Black and white stays one bit a pixel in TIFF.
                if (format == pf1bit && std::string(ext) == "tif") {
                    EXPECT_EQ(back.Dib.Format, pf1bit);
                }
                TBitmap expected, got;
                expected.Assign(picture.GetBitmap()->Dib());
                got.Assign(back.Dib);
                expected.SetPixelFormat(pf32bit);
                got.SetPixelFormat(pf32bit);
                // Qt's TIFF reader premultiplies translucent pixels: their colours come back rounded,
                // the alpha and the opaque pixels whole.
                const std::vector<uint8_t>& want = expected.Dib().Bits;
                std::vector<uint8_t> have = got.Dib().Bits;
                if (format == pf32bit && std::string(ext) == "tif")
                    for (size_t i = 0; i + 3 < have.size() && want.size() == have.size(); i += 4)
                        if (have[i + 3] == want[i + 3] && want[i + 3] != 255)
                            std::memcpy(&have[i], &want[i], 3);
                EXPECT_TRUE(want == have) << ext << " format " << format << " level " << level;
            }
        }
    }
    // Strips: a picture of many rows is deflated in parts that join into one stream.
    TPicture tall;
    tall.GetBitmap()->FromQImage(Photo(700, 2000, QImage::Format_RGB888, 9));
    const TLoaded back = Load(tall.SaveToData("png", "test"), false);
    ASSERT_FALSE(back.Error);
    EXPECT_TRUE(back.Dib.Bits == tall.GetBitmap()->Dib().Bits);
}

TEST(PictureCodecsTest, GreyPicturesAreWrittenWithOneChannel) {
    TPicture picture;
    picture.GetBitmap()->FromQImage(
        Photo(120, 50, QImage::Format_Grayscale8, 5).convertToFormat(QImage::Format_RGB888));
    ASSERT_EQ(picture.GetBitmap()->GetPixelFormat(), pf24bit);
    const QByteArray png = picture.SaveToData("png", "test");
    EXPECT_EQ(png[25], 0) << "PNG colour type";
    TBitmap back;
    back.Assign(Load(png, true).Dib);
    back.SetPixelFormat(pf24bit);
    EXPECT_TRUE(back.Dib().Bits == picture.GetBitmap()->Dib().Bits);
    for (const char* format : {"jpg", "tif"}) {
        if (!TPicture::WritableExtensions().contains(format)) continue; // no TIFF plugin (some cross builds)
        QImage image = QImage::fromData(picture.SaveToData(format, "test"));
        EXPECT_EQ(image.format(), QImage::Format_Grayscale8) << format;
    }
    if (!TPicture::WritableExtensions().contains("tif")) return;
    back.Assign(Load(picture.SaveToData("tif", "test"), true).Dib);
    back.SetPixelFormat(pf24bit);
    EXPECT_TRUE(back.Dib().Bits == picture.GetBitmap()->Dib().Bits) << "grey TIFF";
}

// A little-endian EXIF block laid out as the TIFF reader lays it out: a first directory with the make,
// the orientation and an EXIF directory holding the date taken.
std::string ExifWithDate(int Orientation) {
    std::string exif("II*\0\x08\0\0\0", 8);
    const auto put = [&](uint32_t Value, int Bytes) {
        for (int i = 0; i < Bytes; ++i)
            exif += char(Value >> 8 * i);
    };
    const auto entry = [&](uint16_t Tag, uint16_t Type, uint32_t Count, uint32_t Value) {
        put(Tag, 2);
        put(Type, 2);
        put(Count, 4);
        put(Value, 4);
    };
    put(3, 2);
    entry(0x010F, 2, 8, 50);
    entry(0x0112, 3, 1, uint32_t(Orientation));
    entry(0x8769, 4, 1, 58);
    put(0, 4);
    exif += std::string("Pictura\0", 8);
    put(1, 2);
    entry(0x9003, 2, 20, 76);
    put(0, 4);
    exif += std::string("2026:12:08 19:00:00\0", 20);
    return exif;
}

// Metadata that travels, per format: EXIF with an orientation, XMP, an ICC profile, 300 dpi.
TEST(PictureCodecsTest, MetadataTravelsWhereTheFormatHoldsIt) {
    TPictureMetadata metadata;
    metadata.Exif = ExifWithDate(6); // turned right
    metadata.Xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'>test</x:xmpmeta>";
    metadata.Icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile().toStdString();
    metadata.DotsPerMeterX = metadata.DotsPerMeterY = 300 / 0.0254;
    ASSERT_EQ(metadata.Orientation(), 6);
    ASSERT_FALSE(metadata.Icc.empty());
    TPicture picture;
    picture.GetBitmap()->FromQImage(Photo(40, 30, QImage::Format_RGB888, 2));
    picture.Metadata() = metadata;
    for (const QString format : {"png", "jpg", "tif", "webp"}) {
        if (!TPicture::WritableExtensions().contains(format)) continue; // Qt's plugin for it is missing
        const TLoaded back = Load(picture.SaveToData(format, "test"), true);
        ASSERT_FALSE(back.Error) << *back.Error;
        const QStringList notes = picture.SaveNotes(format);
        EXPECT_EQ(back.Metadata.Icc, metadata.Icc) << format.toStdString();
        EXPECT_EQ(back.Metadata.Exif, metadata.Exif) << format.toStdString();
        EXPECT_EQ(back.Metadata.Xmp, metadata.Xmp) << format.toStdString();
        if (format != "webp") {
            EXPECT_TRUE(notes.isEmpty()) << notes.join("; ").toStdString();
            EXPECT_NEAR(back.Metadata.DotsPerMeterX * 0.0254, 300, 0.01) << format.toStdString();
        } else {
            EXPECT_EQ(notes.join(" ").toStdString(),
                      "the resolution was dropped (the WebP writer holds none)");
        }
    }
    // A big-endian block makes a big-endian TIFF and comes back as it was.
    if (TPicture::WritableExtensions().contains("tif")) {
        const std::string bigEndian("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x08\0\0\0\0\0\0", 26);
        picture.Metadata().Exif = bigEndian;
        const QByteArray tiff = picture.SaveToData("tif", "test");
        EXPECT_TRUE(tiff.startsWith("MM"));
        EXPECT_EQ(Load(tiff, true).Metadata.Exif, bigEndian);
        // A first-directory tag a TIFF does not take over gets a note there only.
        picture.Metadata().Exif =
            std::string("II*\0\x08\0\0\0\x01\0\x46\x47\x03\0\x01\0\0\0\x05\0\0\0\0\0\0\0", 26);
        EXPECT_TRUE(picture.SaveNotes("tif").join(" ").contains("EXIF tags 0x4746 of its first directory"));
        EXPECT_TRUE(picture.SaveNotes("png").isEmpty());
        picture.Metadata().Exif = metadata.Exif;
    }
    EXPECT_TRUE(picture.SaveNotes("bmp").join(" ").contains("shows turned"));
}

// Directories cut short or with damaged counts, types and offsets are read within their bytes (the
// sanitizer builds catch a read outside), into blocks no larger than the bytes allow.
TEST(PictureCodecsTest, DamagedExifDirectoriesAreReadWithinTheirBytes) {
    const std::string exif = ExifWithDate(6);
    std::mt19937 random(8);
    for (int round = 0; round < 20000; ++round) {
        std::string damaged = exif.substr(0, round % 7 == 0 ? random() % exif.size() : exif.size());
        for (int flips = 1 + int(random() % 3); flips > 0 && !damaged.empty(); --flips)
            damaged[random() % damaged.size()] = char(random());
        std::string block, xmp;
        ReadTiffExifXmp(reinterpret_cast<const uint8_t*>(damaged.data()), damaged.size(), block, xmp);
        const TTiffExif layout = TiffExifLayout(damaged, 8);
        ASSERT_LE(block.size(), 4 * damaged.size() + 100);
        ASSERT_LE(layout.Directories.size(), 4 * damaged.size() + 100);
        TiffExifLayout(block, 8);
    }
}

// A TIFF from another writer: its orientation tag becomes the EXIF orientation, an upright one no EXIF.
TEST(PictureCodecsTest, TiffOrientationFromQtsWriter) {
    if (!TPicture::WritableExtensions().contains("tif")) return; // no TIFF plugin (some cross builds)
    const QImage image = Photo(6, 4, QImage::Format_RGB888, 6);
    for (const bool turned : {false, true}) {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "tiff");
        if (turned) writer.setTransformation(QImageIOHandler::TransformationRotate90);
        ASSERT_TRUE(writer.write(image));
        const TLoaded back = Load(data, true);
        ASSERT_FALSE(back.Error) << *back.Error;
        EXPECT_EQ(back.Metadata.Orientation(), turned ? 6 : 1);
        EXPECT_EQ(back.Metadata.Exif.empty(), !turned);
    }
}

TEST(PictureCodecsTest, AutoOrientMatchesThePictureTurnedByHand) {
    const QImage stored = Photo(5, 3, QImage::Format_RGB888, 4);
    // What each orientation shows, made with Qt's own mirroring and turning.
    const auto turned = [&](int Degrees) { return stored.transformed(QTransform().rotate(Degrees)); };
    const QImage upright[9] = {QImage(),
                               stored,
                               stored.mirrored(true, false),
                               turned(180),
                               stored.mirrored(false, true),
                               turned(90).mirrored(true, false),
                               turned(90),
                               turned(270).mirrored(true, false),
                               turned(270)};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        TPicture picture;
        picture.GetBitmap()->FromQImage(stored);
        picture.Metadata().Exif = std::string("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 19) +
                                  char(orientation) + std::string(6, '\0');
        ASSERT_EQ(picture.Metadata().Orientation(), orientation);
        EXPECT_EQ(picture.AutoOrient(), orientation != 1);
        EXPECT_EQ(picture.Metadata().Orientation(), 1);
        TBitmap expected;
        expected.FromQImage(upright[orientation].convertToFormat(QImage::Format_RGB888));
        EXPECT_EQ(picture.Width(), expected.Width()) << orientation;
        EXPECT_TRUE(picture.GetBitmap()->Dib().Bits == expected.Dib().Bits) << "orientation " << orientation;
    }
}

TEST(PictureCodecsTest, DeepChannelsGetANote) {
    TPicture picture;
    picture.LoadFromFile(
        QString::fromStdString((fs::path(PICTURA_TEST_DATA) / "png" / "basn2c16.png").string()));
    EXPECT_EQ(picture.Metadata().SourceBitsPerSample, 16);
    EXPECT_TRUE(picture.SaveNotes("png").join(" ").contains("16 bits per channel were reduced to 8"));
    picture.LoadFromFile(
        QString::fromStdString((fs::path(PICTURA_TEST_DATA) / "png" / "basn2c08.png").string()));
    EXPECT_TRUE(picture.SaveNotes("png").isEmpty());
}

} // namespace
