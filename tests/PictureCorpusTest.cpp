// The public BMP and PNG test suites through TPicture, as the tool and the viewer open files: good
// files load and convert to 24 bit, malformed ones give the framework's error naming the file, and
// different encodings of one picture give the same 24-bit pixels. Files of every readable format cut
// short are refused, never decoded into a partly invented picture.
#include <pictura/Picture.h>
#include <pictura/SysUtils.h>

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path Data = PICTURA_TEST_DATA;

// A loaded file as 24-bit rows without padding, or the error it gave.
struct TLoad {
    std::optional<std::string> Error;
    int Width = 0, Height = 0;
    std::vector<uint8_t> Pixels;
};

// Loads Path; only the framework's two picture errors count as a clean failure, anything else escapes.
TLoad Load(const fs::path& Path) {
    TLoad result;
    TPicture picture;
    try {
        picture.LoadFromFile(QString::fromStdString(Path.string()));
    } catch (const EInvalidGraphic& e) {
        result.Error = e.what();
        return result;
    } catch (const EOutOfResources& e) {
        result.Error = e.what();
        return result;
    }
    TBitmap* bitmap = picture.GetBitmap();
    bitmap->SetPixelFormat(pf24bit);
    EXPECT_EQ(bitmap->GetPixelFormat(), pf24bit) << Path;
    result.Width = bitmap->Width();
    result.Height = bitmap->Height();
    for (int y = 0; y < result.Height; ++y) {
        const uint8_t* row = bitmap->GetScanline(y);
        result.Pixels.insert(result.Pixels.end(), row, row + 3 * size_t(result.Width));
    }
    return result;
}

std::vector<fs::path> Files(const fs::path& Folder) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Folder))
        if (entry.is_regular_file() &&
            (entry.path().extension() == ".bmp" || entry.path().extension() == ".png"))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

void ExpectCleanError(const TLoad& Result, const fs::path& Path) {
    ASSERT_TRUE(Result.Error) << Path << " was accepted";
    EXPECT_NE(Result.Error->find(Path.string()), std::string::npos)
        << "the message does not name the file: " << *Result.Error;
}

// Pictures that the suites store in several encodings (interlaced, split data, other chunk sets,
// palette or true colour, other depths); alpha is dropped on the way to 24 bit.
const std::vector<std::vector<std::string>> SamePicture = {
    {"bmp/g/pal1.bmp", "bmp/g/pal1wb.bmp"},
    {"bmp/g/pal4.bmp", "bmp/g/pal4rle.bmp"},
    {"bmp/g/pal8.bmp", "bmp/g/pal8-0.bmp", "bmp/g/pal8os2.bmp", "bmp/g/pal8rle.bmp", "bmp/g/pal8topdown.bmp",
     "bmp/g/pal8v4.bmp", "bmp/g/pal8v5.bmp", "bmp/q/pal8offs.bmp"},
    {"bmp/g/rgb24.bmp", "bmp/g/rgb24pal.bmp", "bmp/g/rgb32.bmp", "bmp/g/rgb32bf.bmp", "bmp/g/rgb32bfdef.bmp",
     "bmp/q/rgb32fakealpha.bmp"},
    {"bmp/g/rgb16.bmp", "bmp/g/rgb16bfdef.bmp"},
    {"bmp/g/rgb16-565.bmp", "bmp/g/rgb16-565pal.bmp"},
    {"png/basn0g16.png", "png/oi1n0g16.png", "png/oi2n0g16.png", "png/oi4n0g16.png", "png/oi9n0g16.png"},
    {"png/basn2c16.png", "png/oi1n2c16.png", "png/oi2n2c16.png", "png/oi4n2c16.png", "png/oi9n2c16.png",
     "png/pp0n2c16.png", "png/ps1n2c16.png", "png/ps2n2c16.png", "png/z00n2c08.png"},
    {"png/z00n2c08.png", "png/z03n2c08.png", "png/z06n2c08.png", "png/z09n2c08.png"},
    {"png/basn0g08.png", "png/ps1n0g08.png", "png/ps2n0g08.png"},
    {"png/basn2c08.png", "png/pp0n6a08.png"},
    {"png/basn3p04.png", "png/ch1n3p04.png"},
    {"png/basn3p08.png", "png/ch2n3p08.png"},
    {"png/cm0n0g04.png", "png/cm7n0g04.png", "png/cm9n0g04.png", "png/ct0n0g04.png", "png/ct1n0g04.png",
     "png/ctzn0g04.png"},
    {"png/cs5n2c08.png", "png/cs5n3p08.png"},
    {"png/cs8n2c08.png", "png/cs8n3p08.png"},
    {"png/basn4a08.png", "png/bgai4a08.png", "png/bgbn4a08.png"},
    {"png/basn4a16.png", "png/bgai4a16.png", "png/bggn4a16.png"},
    {"png/basn6a08.png", "png/bgan6a08.png", "png/bgwn6a08.png"},
    {"png/basn6a16.png", "png/bgan6a16.png", "png/bgyn6a16.png"},
    {"png/tbbn3p08.png", "png/tbgn3p08.png", "png/tbwn3p08.png", "png/tbyn3p08.png", "png/tp1n3p08.png"},
};

} // namespace

TEST(PictureCorpus, GoodBmpFilesLoadAndConvertTo24Bit) {
    for (const fs::path& path : Files(Data / "bmp/g")) {
        const TLoad result = Load(path);
        EXPECT_FALSE(result.Error) << *result.Error;
        EXPECT_GT(result.Width * result.Height, 0) << path;
    }
}

TEST(PictureCorpus, QuestionableAndBadBmpFilesLoadOrFailCleanly) {
    // Which of them load is the BMP reader's decision (BmpCodecTest pins it); here only a clean outcome.
    for (const char* folder : {"bmp/q", "bmp/b"})
        for (const fs::path& path : Files(Data / folder)) {
            const TLoad result = Load(path);
            if (result.Error)
                ExpectCleanError(result, path);
            else
                EXPECT_EQ(result.Pixels.size(), 3 * size_t(result.Width) * size_t(result.Height)) << path;
        }
    for (const fs::path& path : Files(Data / "bmp/x"))
        ExpectCleanError(Load(path), path);
}

// Every signature of the BMP family reaches the BMP reader, which names what it refuses.
TEST(PictureCorpus, Os2BitmapArraysAreRefusedAsSuch) {
    const TLoad result = Load(Data / "bmp/x/ba-bm.bmp");
    ASSERT_TRUE(result.Error);
    EXPECT_NE(result.Error->find("bitmap arrays"), std::string::npos) << *result.Error;
}

TEST(PictureCorpus, ValidPngFilesLoadAtTheirSize) {
    int count = 0;
    for (const fs::path& path : Files(Data / "png")) {
        const std::string name = path.filename().string();
        if (name[0] == 'x') continue;
        ++count;
        const TLoad result = Load(path);
        ASSERT_FALSE(result.Error) << *result.Error;
        // The odd-size files say their size in the name (s01 .. s40), three pixel-aspect files are
        // smaller, all others are 32 x 32.
        const int side = name[0] == 's' && isdigit(name[1]) ? std::stoi(name.substr(1, 2)) : 32;
        const std::pair<int, int> size = name == "cdfn2c08.png"   ? std::pair(8, 32)
                                         : name == "cdhn2c08.png" ? std::pair(32, 8)
                                         : name == "cdsn2c08.png" ? std::pair(8, 8)
                                                                  : std::pair(side, side);
        EXPECT_EQ(std::pair(result.Width, result.Height), size) << name;
    }
    EXPECT_EQ(count, 161);
}

TEST(PictureCorpus, CorruptPngFilesFailCleanly) {
    int count = 0;
    for (const fs::path& path : Files(Data / "png"))
        if (path.filename().string()[0] == 'x') {
            ++count;
            ExpectCleanError(Load(path), path);
        }
    EXPECT_EQ(count, 14);
}

TEST(PictureCorpus, EncodingsOfOnePictureGiveTheSamePixels) {
    for (const std::vector<std::string>& group : SamePicture) {
        const TLoad reference = Load(Data / group[0]);
        ASSERT_FALSE(reference.Error) << *reference.Error;
        for (size_t i = 1; i < group.size(); ++i) {
            const TLoad other = Load(Data / group[i]);
            ASSERT_FALSE(other.Error) << *other.Error;
            EXPECT_EQ(other.Width, reference.Width) << group[i];
            EXPECT_TRUE(other.Pixels == reference.Pixels) << group[i] << " differs from " << group[0];
        }
    }
    // Interlacing never changes a picture: every interlaced file equals its plain twin.
    for (const fs::path& path : Files(Data / "png")) {
        std::string twin = path.filename().string();
        if (twin.size() < 4 || twin[3] != 'i') continue;
        twin[3] = 'n';
        if (!fs::exists(path.parent_path() / twin)) continue;
        EXPECT_TRUE(Load(path).Pixels == Load(path.parent_path() / twin).Pixels)
            << path.filename() << " vs " << twin;
    }
}

TEST(PictureFiles, EveryFormatCutShortIsRefused) {
    TPicture source;
    source.LoadFromFile(QString::fromStdString((Data / "png/basn2c08.png").string()));
    std::vector<std::pair<std::string, QByteArray>> files;
    for (const char* format : {"bmp", "png", "jpg", "ppm", "pgm", "pbm", "xpm", "xbm"})
        files.emplace_back(format, source.SaveToData(format, "source"));
    QFile gif(QString::fromStdString((Data / "gif/pattern.gif").string()));
    ASSERT_TRUE(gif.open(QIODevice::ReadOnly));
    files.emplace_back("gif", gif.readAll());
    for (const auto& [format, data] : files) {
        TPicture whole;
        ASSERT_NO_THROW(whole.LoadFromData(data, "whole")) << format;
        // Cut inside the pixel data (a file that only lost a trailer after complete pixels may load).
        for (const qsizetype size :
             {data.size() / 4, data.size() / 2, data.size() * 3 / 4, data.size() * 9 / 10}) {
            TPicture cut;
            EXPECT_THROW(cut.LoadFromData(data.left(size), "cut"), EInvalidGraphic)
                << format << " cut to " << size << " of " << data.size() << " bytes";
        }
    }
}

TEST(PictureFiles, RowPaddingAndUnusedBitsAreZero) {
    // Qt's decoders leave row padding uninitialised; the bitmap must not take it over.
    const std::pair<const char*, QByteArray> files[] = {
        {"3x2.ppm", "P3\n3 2\n255\n255 0 0 0 255 0 0 0 255\n255 255 0 0 255 255 255 0 255\n"},
        {"5x2.pbm", "P1\n5 2\n1 1 1 1 1\n1 0 1 0 1\n"},
        {"3x1.pgm", "P2\n3 1\n255\n1 2 3\n"},
    };
    for (const auto& [name, data] : files) {
        TPicture picture;
        picture.LoadFromData(data, name);
        const TDibImage& dib = picture.GetBitmap()->Dib();
        const size_t usedBits = size_t(dib.Width) * size_t(BitsPerPixel(dib.Format));
        for (int y = 0; y < dib.Height; ++y) {
            const uint8_t* row = dib.Row(y);
            if (usedBits % 8) {
                EXPECT_EQ(row[usedBits / 8] & (0xFF >> (usedBits % 8)), 0) << name << " row " << y;
            }
            for (size_t i = (usedBits + 7) / 8; i < dib.Stride(); ++i)
                EXPECT_EQ(row[i], 0) << name << " row " << y;
        }
    }
}
