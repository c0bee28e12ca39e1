// The framework's picture limits on real file formats: a file whose header claims more than 2^28
// pixels, or more bytes than the byte limit allows, is refused with EOutOfResources from the header,
// before the decoder allocates the picture.
#include <pictura/ImageLimits.h>
#include <pictura/Picture.h>
#include <pictura/SysUtils.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>

namespace {

QByteArray Bytes(std::initializer_list<int> Values) {
    QByteArray bytes;
    for (const int v : Values)
        bytes.append(char(v));
    return bytes;
}

uint32_t Crc32(const QByteArray& Bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : Bytes) {
        crc ^= uint8_t(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

QByteArray BigEndian32(uint32_t V) {
    return Bytes({int(V >> 24), int(V >> 16), int(V >> 8), int(V)});
}

QByteArray PngChunk(const char* Type, const QByteArray& Body) {
    const QByteArray typed = QByteArray(Type) + Body;
    return BigEndian32(uint32_t(Body.size())) + typed + BigEndian32(Crc32(typed));
}

// A PNG that is only a header: signature, IHDR with the given size, depth and colour type, an IDAT
// holding an empty stream (decoders look for one before they report the size), IEND.
QByteArray PngHeader(uint32_t Width, uint32_t Height, char Depth, char ColourType) {
    const QByteArray ihdr = BigEndian32(Width) + BigEndian32(Height) + Bytes({Depth, ColourType, 0, 0, 0});
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) +
           PngChunk("IDAT", Bytes({0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01})) + PngChunk("IEND", {});
}

// A BMP header (40-byte info header, 24 bit) claiming Width x Height, without pixels.
QByteArray BmpHeader(int32_t Width, int32_t Height) {
    QByteArray bytes(54, '\0');
    auto put32 = [&bytes](int At, uint32_t V) {
        for (int i = 0; i < 4; ++i)
            bytes[At + i] = char(V >> (8 * i));
    };
    bytes[0] = 'B', bytes[1] = 'M';
    put32(2, 54), put32(10, 54), put32(14, 40), put32(18, uint32_t(Width)), put32(22, uint32_t(Height));
    bytes[26] = 1, bytes[28] = 24;
    return bytes;
}

// A real JPEG whose frame header is then made to claim Width x Height.
QByteArray JpegClaiming(uint16_t Width, uint16_t Height) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "jpeg").write(image);
    const qsizetype sof = bytes.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof < 0) return {};
    bytes[sof + 5] = char(Height >> 8), bytes[sof + 6] = char(Height);
    bytes[sof + 7] = char(Width >> 8), bytes[sof + 8] = char(Width);
    return bytes;
}

// A GIF whose screen and only image claim Width x Height.
QByteArray GifClaiming(uint16_t Width, uint16_t Height) {
    const QByteArray size = Bytes({Width & 0xFF, Width >> 8, Height & 0xFF, Height >> 8});
    return QByteArray("GIF89a") + size + QByteArray("\0\0\0", 3) + QByteArray(",\0\0\0\0", 5) + size +
           QByteArray("\0\x02\x02\x4C\x01\0;", 7);
}

struct TClaim {
    const char* Name;
    QByteArray Data;
    const char* Reason; // what the message must say
};

// Puts the byte limit back when a test ends.
class ImageLimits : public ::testing::Test {
protected:
    void TearDown() override { SetMaxBitmapBytes(previous); }
    const size_t previous = GetMaxBitmapBytes();

    // Loads Data into a picture holding a 1 x 1 marker: the error must be EOutOfResources naming the
    // input and saying Reason, and the picture must stay as it was.
    static void ExpectRefused(const QByteArray& Data, const char* Name, const std::string& Reason) {
        TPicture picture;
        picture.GetBitmap()->SetSize(1, 1);
        try {
            picture.LoadFromData(Data, Name);
            ADD_FAILURE() << Name << " was loaded";
        } catch (const EOutOfResources& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(Name), std::string::npos) << message;
            EXPECT_NE(message.find(Reason), std::string::npos) << Name << ": " << message;
        } catch (const std::exception& e) {
            ADD_FAILURE() << Name << ": not EOutOfResources: " << e.what();
        }
        EXPECT_EQ(picture.Width(), 1) << Name;
    }
};

} // namespace

TEST_F(ImageLimits, HeadersClaimingHugePicturesAreRefusedBeforeDecoding) {
    const TClaim claims[] = {
        {"png-70000x70000.png", PngHeader(70000, 70000, 8, 2), "limit of 2^28 pixels"},
        {"png-20000x20000-grey1.png", PngHeader(20000, 20000, 1, 0), "limit of 2^28 pixels"},
        // 2^28 - 1 pixels, but 16-bit RGBA decodes at 8 bytes a pixel: over the 1 GiB byte limit.
        {"png-16383x16385-rgba16.png", PngHeader(16383, 16385, 16, 6), "limit of 1073741824 bytes"},
        {"bmp-70000x70000.bmp", BmpHeader(70000, 70000), "limit of 2^28 pixels"},
        {"bmp-70000x-70000.bmp", BmpHeader(70000, -70000), "limit of 2^28 pixels"},
        {"ppm-20000x20000.ppm", QByteArray("P6\n20000 20000\n255\n"), "limit of 2^28 pixels"},
        {"pbm-20000x20000.pbm", QByteArray("P4\n20000 20000\n"), "limit of 2^28 pixels"},
        {"xbm-20000x20000.xbm",
         QByteArray("#define a_width 20000\n#define a_height 20000\nstatic char a_bits[] = {\n0x00 };\n"),
         "limit of 2^28 pixels"},
        {"xpm-20000x20000.xpm",
         QByteArray("/* XPM */\nstatic char *a[] = {\n\"20000 20000 1 1\",\n\"a c #000000\",\n\"a\"};\n"),
         "limit of 2^28 pixels"},
        {"gif-60000x60000.gif", GifClaiming(60000, 60000), "limit of 2^28 pixels"},
        {"jpeg-65000x65000.jpg", JpegClaiming(65000, 65000), "limit of 2^28 pixels"},
    };
    for (const TClaim& claim : claims)
        ExpectRefused(claim.Data, claim.Name, claim.Reason);
}

TEST_F(ImageLimits, TheByteLimitIsASettingThatEveryFormatObeys) {
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(qRgb(10, 20, 30));
    TPicture source;
    source.GetBitmap()->FromQImage(image);
    for (const char* format : {"bmp", "png", "ppm", "jpg"}) {
        const QByteArray data = source.SaveToData(format, "source");
        const std::string name = std::string("200x100.") + format;
        // 200 x 100 needs 60000 bytes at 24 bit and 80000 at 32: refused under a 50000-byte limit ...
        SetMaxBitmapBytes(50000);
        ExpectRefused(data, name.c_str(), "limit of 50000 bytes");
        // ... and read under the default one.
        SetMaxBitmapBytes(previous);
        TPicture loaded;
        loaded.LoadFromData(data, QString::fromStdString(name));
        EXPECT_EQ(loaded.Width(), 200) << format;
        EXPECT_EQ(loaded.Height(), 100) << format;
    }
}

TEST_F(ImageLimits, ALimitUnderOneMegabyteStillHoldsForQtFormats) {
    // Qt counts its own limit in whole megabytes; the framework's byte limit must not be rounded to "none".
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    TPicture source;
    source.GetBitmap()->FromQImage(image);
    const QByteArray ppm = source.SaveToData("ppm", "source");
    // While loading, Qt's 32-bit image and the 24-bit bitmap made from it exist together.
    SetMaxBitmapBytes(4 * 40 * 40 + 3 * 40 * 40);
    TPicture loaded;
    loaded.LoadFromData(ppm, "40x40.ppm");
    EXPECT_EQ(loaded.Width(), 40);
    SetMaxBitmapBytes(4 * 40 * 40 + 3 * 40 * 40 - 1);
    ExpectRefused(ppm, "40x40.ppm", "limit of 11199 bytes");
}

TEST_F(ImageLimits, PictureMemoryIsSharedByAllThreadsWhoWaitForEachOther) {
    SetMaxBitmapBytes(1000);
    std::atomic<bool> firstHolds{false}, firstReleased{false};
    std::thread first([&] {
        {
            const TPictureMemory held(600, "first");
            firstHolds = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            firstReleased = true;
        }
    });
    while (!firstHolds)
        std::this_thread::yield();
    {
        // Over the limit with the first one: waits for it instead of failing.
        const TPictureMemory second(600, "second");
        EXPECT_TRUE(firstReleased);
        // A thread that holds memory does not wait for itself: refused at once.
        EXPECT_THROW(TPictureMemory(600, "third"), EOutOfResources);
    }
    first.join();
    EXPECT_THROW(TPictureMemory(1001, "too large"), EOutOfResources);
}
