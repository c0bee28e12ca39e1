// The pictura tool end to end: the built program on real files, its exit codes, its messages, and
// that a failure never leaves an output file or touches the input.
#include "KvPictura.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct TRun {
    int Code = -1;
    QString Out, Err;
};

TRun RunTool(const QStringList& Args, const QByteArray& Input = {}) {
    QProcess process;
    process.start(PICTURA_TOOL, Args);
    process.write(Input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

QByteArray Digest(const QString& Path) {
    QFile file(Path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

class PicturaTool : public ::testing::Test {
protected:
    QTemporaryDir dir;
    const QString photo = QString(PICTURA_SAMPLES) + "/sample.png";
    const QString palette = QString(PICTURA_SAMPLES) + "/sample-palette.png";
    QString Path(const char* Name) { return dir.filePath(Name); }
};

} // namespace

TEST_F(PicturaTool, ChainGivesTheControlsOwnResult) {
    const TRun run = RunTool({photo, "-o", Path("out.bmp"), "--greyscale", "--brightness", "20", "--invert",
                              "--blur", "60,3", "--sharpen", "40,1", "--red-envelop", "10=50,200=7",
                              "--apply-envelops"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    TKvPictura expected;
    expected.SetAutoSize(true);
    expected.Picture()->LoadFromFile(photo);
    expected.GreyScale();
    expected.Brightness(20);
    expected.Invert();
    expected.Blur(60, 3);
    expected.Sharpen(40, 1);
    expected.SetRedEnvelop(10, 50);
    expected.SetRedEnvelop(200, 7);
    expected.ApplyEnvelops();
    TPicture written;
    written.LoadFromFile(Path("out.bmp"));
    EXPECT_EQ(written.GetBitmap()->GetPixelFormat(), pf24bit);
    EXPECT_EQ(written.GetBitmap()->Dib().Bits, expected.Picture()->GetBitmap()->Dib().Bits);
}

TEST_F(PicturaTool, SizeLimitsTheProcessedArea) {
    ASSERT_EQ(RunTool({photo, "-o", Path("part.png"), "--size", "10x5", "--invert"}).Code, 0);
    TPicture original, written;
    original.LoadFromFile(photo);
    written.LoadFromFile(Path("part.png"));
    ASSERT_EQ(written.Width(), original.Width());
    EXPECT_EQ(written.GetBitmap()->GetScanline(4)[29], 255 - original.GetBitmap()->GetScanline(4)[29]);
    EXPECT_EQ(written.GetBitmap()->GetScanline(4)[30], original.GetBitmap()->GetScanline(4)[30]);
    EXPECT_EQ(written.GetBitmap()->GetScanline(5)[0], original.GetBitmap()->GetScanline(5)[0]);
}

TEST_F(PicturaTool, PaletteImageNeedsAnAnswer) {
    const TRun declined = RunTool({palette, "-o", Path("no.png"), "--no", "--invert"});
    EXPECT_NE(declined.Code, 0);
    EXPECT_EQ(declined.Err.count('\n'), 1) << declined.Err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("no.png")));
    const TRun unasked = RunTool({palette, "-o", Path("unasked.png"), "--invert"});
    EXPECT_NE(unasked.Code, 0);
    EXPECT_TRUE(unasked.Err.contains("--yes")) << unasked.Err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("unasked.png")));
    ASSERT_EQ(RunTool({palette, "-o", Path("yes.bmp"), "--yes", "--invert"}).Code, 0);
    TPicture written;
    written.LoadFromFile(Path("yes.bmp"));
    EXPECT_EQ(written.GetBitmap()->GetPixelFormat(), pf24bit);
}

TEST_F(PicturaTool, FailuresWriteNothingAndKeepTheInput) {
    QFile::copy(photo, Path("in.png"));
    const QByteArray before = Digest(Path("in.png"));
    const QStringList bad[] = {
        {Path("in.png"), "-o", Path("out.png"), "--blur", "300,1"},
        {Path("in.png"), "-o", Path("out.png"), "--bogus"},
        {Path("missing.png"), "-o", Path("out.png"), "--invert"},
        {Path("in.png"), "-o", Path("out.png"), "--sharpen", "10,-3"},
        {Path("in.png"), "-o", Path("in.png"), "--invert"},
        {Path("in.png"), "-o", Path("no/such/dir/out.png"), "--invert"},
        {Path("in.png"), "-o", Path("out.xyz"), "--invert"},
        {dir.path(), "-o", Path("out.png"), "--invert"},
    };
    for (const QStringList& args : bad) {
        const TRun run = RunTool(args);
        EXPECT_NE(run.Code, 0) << args.join(' ').toStdString();
        EXPECT_EQ(run.Err.count('\n'), 1) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.startsWith("pictura: ")) << run.Err.toStdString();
        EXPECT_FALSE(QFile::exists(Path("out.png")));
        EXPECT_FALSE(QFile::exists(Path("out.xyz")));
    }
    EXPECT_EQ(Digest(Path("in.png")), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "a temporary file was left behind";
}

TEST_F(PicturaTool, PrintsEnvelopesAsTheGettersReadThem) {
    const TRun run = RunTool({"--red-envelop", "0=7,2=150", "--blue-envelop", "1=29", "--print-envelops"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    const QStringList lines = run.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 256);
    EXPECT_EQ(lines[0], "7.000000000000001 100 100");
    EXPECT_EQ(lines[1], "100 100 28.999999999999996");
    EXPECT_EQ(lines[2], "100 100 100");
    EXPECT_EQ(lines[255], "100 100 100");
}

TEST_F(PicturaTool, HelpAndVersion) {
    EXPECT_EQ(RunTool({"--version"}).Out, "pictura 1.0.0\n");
    const TRun help = RunTool({"--help"});
    EXPECT_EQ(help.Code, 0);
    EXPECT_TRUE(help.Out.contains("--blur AMOUNT,RADIUS"));
}
