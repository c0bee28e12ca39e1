// The byte limit bounds the memory of the whole process while a picture is read and converted: small
// files that claim huge pictures are refused before decoding, and accepted pictures stay within the
// limit plus what the program itself needs.
#include "EncodedPictures.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uint64_t MiB = uint64_t(1) << 20;
// What the program needs besides pictures: code, Qt, the heap's own slack.
constexpr uint64_t Overhead = 128 * MiB;

struct TProbe {
    int Status = -1;
    uint64_t PeakBytes = 0;
    std::string Said;
};

// Runs the probe on File under Limit bytes (0: the default limit) and measures its peak resident size.
TProbe RunProbe(const QString& File, uint64_t Limit) {
    int out[2];
    if (::pipe(out) != 0) return {};
    const std::string file = File.toStdString(), limit = std::to_string(Limit);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        if (Limit)
            ::execl(PICTURA_MEMORY_PROBE, "probe", file.c_str(), limit.c_str(), nullptr);
        else
            ::execl(PICTURA_MEMORY_PROBE, "probe", file.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    TProbe probe;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
        probe.Said.append(buffer, size_t(n));
    ::close(out[0]);
    int status = 0;
    struct rusage usage {};
    if (::wait4(child, &status, 0, &usage) != child) return probe;
    probe.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    probe.PeakBytes = uint64_t(usage.ru_maxrss) * 1024;
    return probe;
}

QImage Noise(int Width, int Height) {
    QImage image(Width, Height, QImage::Format_RGB32);
    uint32_t state = 12345;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            image.setPixel(x, y, (state = state * 1664525u + 1013904223u) >> 8);
    return image;
}

void Put32(QByteArray& Data, int At, uint32_t Value) {
    for (int i = 0; i < 4; ++i)
        Data[At + i] = char(Value >> (8 * i));
}

class PictureMemory : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "sanitizer builds keep shadow memory: peak sizes are not the program's";
#endif
    }
    QTemporaryDir dir;
    QString Write(const char* Name, const QByteArray& Data) {
        QFile file(dir.filePath(Name));
        file.open(QIODevice::WriteOnly);
        file.write(Data);
        return file.fileName();
    }
    void ExpectWithin(const QString& File, uint64_t Limit, bool Loads) {
        const TProbe probe = RunProbe(File, Limit);
        const uint64_t limit = Limit ? Limit : 1024 * MiB;
        EXPECT_EQ(probe.Status, Loads ? 0 : 1) << File.toStdString() << ": " << probe.Said;
        EXPECT_LE(probe.PeakBytes, limit + Overhead)
            << File.toStdString() << " under " << limit / MiB << " MiB: peak " << probe.PeakBytes / MiB
            << " MiB; " << probe.Said;
    }
};

} // namespace

TEST_F(PictureMemory, SmallFilesClaimingHugePicturesStayWithinTheLimit) {
    // A progressive JPEG says 16384 x 16384: its coefficient buffers alone would be 1.5 GiB.
    QByteArray jpeg = Encode(Noise(16, 16), "jpeg", true);
    const qsizetype frame = jpeg.indexOf("\xff\xc2");
    ASSERT_GT(frame, 0);
    jpeg[frame + 5] = jpeg[frame + 7] = char(0x40);
    jpeg[frame + 6] = jpeg[frame + 8] = char(0);
    const QString progressive = Write("bomb.jpg", jpeg);
    // An RLE8 BMP of 1 x 2^28 pixels in 1,080 bytes: the picture is allowed, its 24-bit copy is not.
    QByteArray bmp(14 + 40 + 1024 + 2, '\0');
    bmp[0] = 'B', bmp[1] = 'M';
    Put32(bmp, 2, uint32_t(bmp.size()));
    Put32(bmp, 10, 14 + 40 + 1024);
    Put32(bmp, 14, 40);
    Put32(bmp, 18, 1);
    Put32(bmp, 22, 1u << 28);
    bmp[26] = 1, bmp[28] = 8, bmp[30] = 1;
    bmp[bmp.size() - 1] = 1; // end of bitmap at once
    const QString rle = Write("bomb.bmp", bmp);
    const QString xbm = Write(
        "bomb.xbm", "#define b_width 16384\n#define b_height 16384\nstatic char b_bits[] = {\n0x00 };\n");
    for (const uint64_t limit : {uint64_t(0), 64 * MiB})
        for (const QString& file : {progressive, rle, xbm})
            ExpectWithin(file, limit, false);
}

TEST_F(PictureMemory, AHugeFileIsRefusedFromItsHeaderWithoutBeingRead) {
    // 1 GiB (sparse) whose header claims 100000 x 100000 pixels.
    QByteArray header(54, '\0');
    header[0] = 'B', header[1] = 'M';
    Put32(header, 10, 54);
    Put32(header, 14, 40);
    Put32(header, 18, 100000);
    Put32(header, 22, 100000);
    header[26] = 1, header[28] = 24;
    const QString file = Write("huge.bmp", header);
    ASSERT_EQ(::truncate(file.toLocal8Bit().constData(), off_t(1) << 30), 0);
    const TProbe probe = RunProbe(file, 0);
    EXPECT_EQ(probe.Status, 1);
    EXPECT_NE(probe.Said.find("100000 x 100000"), std::string::npos) << probe.Said;
    EXPECT_LT(probe.PeakBytes, Overhead) << probe.PeakBytes / MiB << " MiB";
}

TEST_F(PictureMemory, AcceptedPicturesStayWithinASmallLimit) {
    const QImage noise = Noise(1600, 1200);
    for (const auto& [name, data] :
         {std::pair{"noise.png", Encode(noise, "png")}, std::pair{"noise.jpg", Encode(noise, "jpeg", true)},
          std::pair{"noise.ppm", Encode(noise, "ppm")}})
        ExpectWithin(Write(name, data), 64 * MiB, true);
}
