// The framework's bounds on what comes in and what goes out: a pipe read into the limit and counted, a
// TIFF's tables counted before libtiff makes them, a TIFF that would be decoded with invented pixels
// refused with libtiff's reason naming the file, a save refused before any work when its writer would rescale
// the picture or its encoding cannot fit, and the progress of a load or a save that always ends.
#include <pictura/ImageLimits.h>
#include <pictura/Picture.h>
#include <pictura/PixelFormat.h>
#include <pictura/SysUtils.h>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

constexpr size_t MiB = size_t(1) << 20;

// Restores the default byte limit when a test ends.
struct TLimit {
    explicit TLimit(size_t Bytes) { SetMaxBitmapBytes(Bytes); }
    ~TLimit() { SetMaxBitmapBytes(size_t(1) << 30); }
};

// A directory entry beyond the nine every test TIFF has.
struct TTiffEntry {
    uint16_t Tag = 0, Type = 3;
    uint32_t Count = 1, Value = 0;
};

// A little-endian classic TIFF of one 8-bit grey (or palette) image, its directory after the header, with
// the given strip counts; the strip arrays and pixels follow as far as Strips says.
QByteArray Tiff(uint32_t Width, uint32_t Height, uint32_t RowsPerStrip, uint32_t OffsetCount,
                uint16_t Photometric = 1, TTiffEntry Extra = {}) {
    QByteArray data("II*\0\x08\0\0\0", 8);
    const auto put16 = [&](uint32_t V) { data.append(char(V & 255)).append(char(V >> 8 & 255)); };
    const auto put32 = [&](uint32_t V) { put16(V & 0xFFFF), put16(V >> 16); };
    const uint32_t strips = (Height + RowsPerStrip - 1) / RowsPerStrip;
    const uint32_t entries = Extra.Tag ? 10 : 9, arrays = 8 + 2 + entries * 12 + 4;
    const uint32_t pixels = arrays + 4 * OffsetCount + 4 * strips;
    put16(entries);
    const auto entry = [&](uint16_t Tag, uint16_t Type, uint32_t Count, uint32_t Value) {
        put16(Tag), put16(Type), put32(Count), put32(Value);
    };
    entry(256, 4, 1, Width);
    entry(257, 4, 1, Height);
    entry(258, 3, 1, 8);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, Photometric);
    entry(273, 4, OffsetCount, OffsetCount == 1 ? pixels : arrays);
    entry(277, 3, 1, 1);
    entry(278, 4, 1, RowsPerStrip);
    entry(279, 4, strips, strips == 1 ? Width * Height : arrays + 4 * OffsetCount);
    if (Extra.Tag) entry(Extra.Tag, Extra.Type, Extra.Count, Extra.Value);
    put32(0);
    if (OffsetCount > 100000) return data; // refused from the directory: no arrays needed
    for (uint32_t s = 0; s < OffsetCount && OffsetCount > 1; ++s)
        put32(pixels + s * Width * RowsPerStrip);
    for (uint32_t s = 0; s < strips && strips > 1; ++s)
        put32(Width * std::min(RowsPerStrip, Height - s * RowsPerStrip));
    data.append(QByteArray(int(Width * Height), char(0x40)));
    return data;
}

void Write(const QString& Path, const QByteArray& Data) {
    QFile file(Path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Data);
}

template <class TError> std::string Refusal(const std::function<void()>& Work) {
    try {
        Work();
    } catch (const TError& e) {
        return e.what();
    }
    return "(accepted)";
}

TPicture& Sized(TPicture& Picture, int Width, int Height) {
    TDibImage image;
    image.Width = Width;
    image.Height = Height;
    image.Format = pf24bit;
    image.Bits.assign(image.Stride() * size_t(Height), 0x80);
    Picture.Assign(std::move(image));
    return Picture;
}

} // namespace

TEST(PictureBounds, TiffThatWouldBeFilledWithInventedPixelsIsRefused) {
    QTemporaryDir dir;
    TPicture picture;
    Write(dir.filePath("whole.tif"), Tiff(8, 64, 8, 8));
    picture.LoadFromFile(dir.filePath("whole.tif"));
    EXPECT_EQ(picture.Width(), 8);
    EXPECT_EQ(picture.GetBitmap()->GetScanline(63)[0], 0x40);

    Write(dir.filePath("short.tif"), Tiff(8, 64, 8, 1));
    EXPECT_NE(Refusal<EInvalidGraphic>([&] {
                  picture.LoadFromFile(dir.filePath("short.tif"));
              }).find("lists 1 strip offsets for 8 strips"),
              std::string::npos);
    Write(dir.filePath("palette.tif"), Tiff(8, 64, 8, 8, 3));
    EXPECT_NE(Refusal<EInvalidGraphic>([&] {
                  picture.LoadFromFile(dir.filePath("palette.tif"));
              }).find("has no colour map"),
              std::string::npos);
    EXPECT_EQ(picture.Width(), 8); // the refusals kept the picture
}

std::vector<std::string> qtWarnings;

size_t Occurrences(const std::string& Text, const std::string& Part) {
    size_t n = 0;
    for (size_t at = Text.find(Part); at != std::string::npos; at = Text.find(Part, at + 1))
        ++n;
    return n;
}

TEST(PictureBounds, LibtiffsComplaintsNameTheFileOnceAndRefuseMissingPixels) {
    QTemporaryDir dir;
    const QByteArray whole = Tiff(8, 64, 8, 8);
    QByteArray beyond = whole;
    beyond[8 + 2 + 9 * 12 + 4 + 4 * 7 + 2] = 0x10; // the last strip's offset a MiB further
    // PackBits rows of eight bytes, the first a run of nine: libtiff drops one with a warning, reads on.
    QByteArray packed = whole;
    packed[10 + 3 * 12 + 8] = 0x05, packed[10 + 3 * 12 + 9] = char(0x80);
    for (int row = 0, pixels = 8 + 2 + 9 * 12 + 4 + 4 * 8 + 4 * 8; row < 64; ++row) {
        packed[pixels + row / 8 * 64 + row % 8 * 2] = char(row == 0 ? 0xF8 : 0xF9);
        packed[pixels + row / 8 * 64 + row % 8 * 2 + 1] = 0x40;
    }
    const std::pair<QString, QByteArray> hostile[] = {
        {"packbits.tif", packed},
        {"cut.tif", whole.left(whole.size() - 100)},
        {"beyond.tif", beyond},
        // A palette whose colour map lies past the file's end: libtiff ignores the map.
        {"palette.tif", Tiff(8, 64, 8, 8, 3, {320, 3, 768, 1 << 20})}};
    std::map<QString, std::string> alone;
    for (const auto& [name, data] : hostile) {
        Write(dir.filePath(name), data);
        TPicture picture;
        const std::string said = Refusal<EInvalidGraphic>([&] { picture.LoadFromFile(dir.filePath(name)); });
        EXPECT_EQ(Occurrences(said, dir.filePath(name).toStdString()), 1u) << said;
        EXPECT_EQ(Occurrences(said, ".tif\": damaged TIFF data: "), 1u) << said;
        EXPECT_EQ(said.find("foo"), std::string::npos) << said;
        alone[name] = said;
    }
    EXPECT_NE(alone["palette.tif"].find("ColorMap"), std::string::npos) << alone["palette.tif"];
    // Two threads decoding at once each hear their own file's complaints, no more and no fewer.
    const auto again = [&](const QString& Name, int& Differing) {
        TPicture picture;
        for (int i = 0; i < 20; ++i)
            Differing +=
                Refusal<EInvalidGraphic>([&] { picture.LoadFromFile(dir.filePath(Name)); }) != alone[Name];
    };
    int differingCut = 0, differingPalette = 0;
    std::thread other(again, QString("cut.tif"), std::ref(differingCut));
    again("palette.tif", differingPalette);
    other.join();
    EXPECT_EQ(differingCut + differingPalette, 0);

    // An unknown tag is harmless: the picture loads, and libtiff's word of it is told once, naming the file.
    Write(dir.filePath("tagged.tif"), Tiff(8, 64, 8, 8, 1, {65000, 3, 1, 7}));
    qtWarnings.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& Message) {
            qtWarnings.push_back(Message.toStdString());
        });
    TPicture picture;
    picture.LoadFromFile(dir.filePath("tagged.tif"));
    qInstallMessageHandler(previous);
    EXPECT_EQ(picture.GetBitmap()->GetScanline(63)[0], 0x40);
    ASSERT_EQ(qtWarnings.size(), 1u);
    EXPECT_EQ(Occurrences(qtWarnings[0], "TIFF picture \"" + dir.filePath("tagged.tif").toStdString()), 1u)
        << qtWarnings[0];
    EXPECT_NE(qtWarnings[0].find("Unknown field with tag 65000"), std::string::npos) << qtWarnings[0];
}

TEST(PictureBounds, TiffStripTablesCountBeforeLibtiffMakesThem) {
    QTemporaryDir dir;
    const TLimit limit(16 * MiB);
    // A file of a few hundred bytes declaring a million strips: 24 MB of tables, over the limit.
    Write(dir.filePath("strips.tif"), Tiff(1, 1000000, 1, 1000000));
    TPicture picture;
    const std::string said =
        Refusal<EOutOfResources>([&] { picture.LoadFromFile(dir.filePath("strips.tif")); });
    EXPECT_NE(said.find("the TIFF's table of 1000000 strips or tiles needs 24000000 bytes"),
              std::string::npos)
        << said;
}

TEST(PictureBounds, PipeIsReadIntoTheLimitAndCountedLikeAFile) {
    QTemporaryDir dir;
    const TLimit limit(1 * MiB);
    std::signal(SIGPIPE, SIG_IGN); // the writer of a refused pipe finds it closed
    TPicture picture;
    const auto throughPipe = [&](const QByteArray& Data) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        std::thread writer([&] {
            for (qsizetype at = 0; at < Data.size();) {
                const ssize_t n = ::write(fds[1], Data.constData() + at, size_t(Data.size() - at));
                if (n <= 0) break;
                at += n;
            }
            ::close(fds[1]);
        });
        try {
            picture.LoadFromDescriptor(fds[0], "standard input");
        } catch (...) {
            ::close(fds[0]);
            writer.join();
            throw;
        }
        ::close(fds[0]);
        writer.join();
    };
    // Over the limit plus 1 MiB: the same message as a file of that size, without a size it never learns.
    const QByteArray zeros(int(3 * MiB), '\0');
    const std::string piped = Refusal<EOutOfResources>([&] { throughPipe(zeros); });
    EXPECT_NE(piped.find("the file is larger than the limit of 2097152 bytes"), std::string::npos) << piped;
    Write(dir.filePath("zeros"), zeros);
    const std::string file = Refusal<EOutOfResources>([&] { picture.LoadFromFile(dir.filePath("zeros")); });
    EXPECT_EQ(file.substr(file.find(": ")), piped.substr(piped.find(": ")) + " (3145728 bytes)");

    // A 300 KB picture fits in 512 KiB; through a pipe its 300 KB of bytes count beside it, and it does not.
    TPicture source;
    const QByteArray bmp = Sized(source, 200, 500).SaveToData("bmp", "source");
    throughPipe(bmp);
    EXPECT_EQ(picture.Width(), 200);
    const TLimit smaller(512 * 1024);
    Write(dir.filePath("p.bmp"), bmp);
    picture.LoadFromFile(dir.filePath("p.bmp")); // mapped: nothing held beside the bitmap
    EXPECT_THROW(throughPipe(bmp), EOutOfResources);
}

TEST(PictureBounds, SavesThatWouldChangeThePictureAreRefusedBeforeAnyWork) {
    QTemporaryDir dir;
    TPicture picture;
    Sized(picture, 800, 500);
    for (const char* name : {"out.ico", "out.cur", "out.icns"}) {
        const std::string said = Refusal<EInvalidGraphic>([&] { picture.SaveToFile(dir.filePath(name)); });
        EXPECT_NE(said.find("would"), std::string::npos) << said;
        EXPECT_FALSE(QFile::exists(dir.filePath(name))) << name;
    }
    EXPECT_THROW(picture.SaveToFile(dir.filePath("q.jpg"), 150), EInvalidGraphic);
    EXPECT_THROW(picture.SaveToData("webp", "q", -2), EInvalidGraphic);
    EXPECT_THROW(TPicture::CheckFileWritable("tall.ico", 16, 257, pf24bit), EInvalidGraphic);
    EXPECT_THROW(TPicture::CheckFileWritable("wide.icns", 64, 32, pf24bit), EInvalidGraphic);
    // A size an icon holds is written as it is.
    Sized(picture, 128, 128).SaveToFile(dir.filePath("fits.icns"));
    TPicture back;
    back.LoadFromFile(dir.filePath("fits.icns"));
    EXPECT_EQ(back.Width(), 128);
    EXPECT_EQ(back.Height(), 128);

    // The encoding's memory, known before the work from the size and the format the work leaves.
    const TLimit limit(4 * MiB);
    const std::string need = Refusal<EOutOfResources>(
        [&] { TPicture::CheckFileWritable(dir.filePath("big.bmp"), 1000, 1000, pf24bit); });
    EXPECT_NE(need.find("encoding the picture of 1000 x 1000 pixels needs 6000000 bytes"), std::string::npos)
        << need;
    TPicture::CheckFileWritable(dir.filePath("big.bmp"), 1000, 1000, pf8bit);
    // Lossless WebP needs libwebp's buffers of several times the picture, more at the highest effort.
    TPicture::CheckFileWritable(dir.filePath("s.webp"), 300, 300, pf24bit, 75);
    TPicture::CheckFileWritable(dir.filePath("s.webp"), 300, 300, pf24bit, 100, 8);
    EXPECT_THROW(TPicture::CheckFileWritable(dir.filePath("s.webp"), 300, 300, pf24bit, 100, 9),
                 EOutOfResources);
    EXPECT_THROW(TPicture::CheckFileWritable(dir.filePath("s.webp"), 400, 400, pf24bit, 100),
                 EOutOfResources);
}

TEST(PictureBounds, ALoadThatFailsStillEndsItsProgress) {
    TPicture picture;
    std::vector<TProgressStage> stages;
    picture.OnProgress = [&](TProgressStage Stage, int, const QString&) { stages.push_back(Stage); };
    EXPECT_THROW(picture.LoadFromFile("/no/such/picture.png"), EInvalidGraphic);
    EXPECT_EQ(stages, (std::vector<TProgressStage>{psStarting, psEnding}));
}

// A save's events: stages and percents, the file's bytes unchanged by the listener.
TEST(PictureBounds, SavesReportGrowingPercentsAndAlwaysEnd) {
    QTemporaryDir dir;
    TPicture picture;
    picture.GetBitmap()->SetPixelFormat(pf24bit);
    picture.GetBitmap()->SetSize(1000, 2000); // PNG: six strips of about 1 MiB
    for (int y = 0; y < 2000; ++y)
        picture.GetBitmap()->GetScanline(y)[3 * (y % 1000)] = uint8_t(y);
    std::vector<std::pair<TProgressStage, int>> events;
    const auto listen = [&] {
        events.clear();
        picture.OnProgress = [&](TProgressStage Stage, int Percent, const QString&) {
            events.emplace_back(Stage, Percent);
        };
    };
    for (const QString& ext : {QString("png"), QString("bmp")}) {
        picture.OnProgress = nullptr;
        const QByteArray quiet = picture.SaveToData(ext, "quiet");
        listen();
        picture.SaveToFile(dir.filePath("out." + ext));
        QFile file(dir.filePath("out." + ext));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll() == quiet) << ext.toStdString() << ": the listener changed the file";
        ASSERT_GE(events.size(), 4u) << ext.toStdString();
        EXPECT_EQ(events.front(), std::make_pair(psStarting, 0)) << ext.toStdString();
        EXPECT_EQ(events.back(), std::make_pair(psEnding, 100)) << ext.toStdString();
        for (size_t i = 1; i + 1 < events.size(); ++i) {
            EXPECT_EQ(events[i].first, psRunning) << ext.toStdString();
            EXPECT_GT(events[i].second, events[i - 1].second) << ext.toStdString();
            EXPECT_LT(events[i].second, 100) << ext.toStdString();
        }
        listen();
        const QByteArray data = picture.SaveToData(ext, "memory");
        EXPECT_TRUE(data == quiet) << ext.toStdString();
        EXPECT_EQ(events.back(), std::make_pair(psEnding, 100)) << ext.toStdString();
    }
    listen();
    EXPECT_THROW(picture.SaveToFile("/no/such/folder/out.png"), Exception);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().first, psStarting);
    EXPECT_EQ(events.back().first, psEnding);
}
