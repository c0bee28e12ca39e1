// The pictura tool end to end: the built program on real files, its exit codes, its messages, and
// that a failure never leaves an output file or touches the input.
#include <pictura/KvPictura.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
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
    const TRun run =
        RunTool({photo, "-o", Path("out.bmp"), "--greyscale", "--brightness", "20", "--invert", "--blur",
                 "60,3", "--sharpen", "40,1", "--red-envelop", "10=50,200=7", "--apply-envelops"});
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
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "a temporary file was left behind";
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

// Hostile inputs, outputs and option values: each run fails with one line naming the problem, writes no
// output (nor a temporary file), leaves an existing output as it was, and never touches the input.
TEST_F(PicturaTool, HostileFilesAndValuesFailWithOneLineAndWriteNothing) {
    QFile::copy(photo, Path("in.png"));
    const QByteArray png = [&] {
        QFile file(photo);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    TPicture sample;
    sample.LoadFromFile(photo);
    const QByteArray bmp = sample.SaveToData("bmp", "sample"), jpg = sample.SaveToData("jpg", "sample");
    auto write = [&](const char* Name, const QByteArray& Bytes) {
        QFile file(Path(Name));
        file.open(QIODevice::WriteOnly);
        file.write(Bytes);
    };
    write("empty.png", {});
    write("cut.png", png.left(png.size() / 2));
    write("cut.bmp", bmp.left(bmp.size() * 3 / 4));
    write("cut.jpg", jpg.left(jpg.size() * 3 / 4));
    write("text.png", "not a picture\n");
    write("keep.png", "an earlier result");
    QDir(dir.path()).mkdir("folder.png");
    QFile::link(Path("in.png"), Path("link.png"));
    ASSERT_EQ(::mkfifo(Path("fifo.png").toLocal8Bit().constData(), 0600), 0);
    const QStringList prepared =
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    const QByteArray input = Digest(Path("in.png"));
    const QString out = Path("out.png");

    struct TCase {
        const char* What;
        QStringList Args;
    };
    const TCase cases[] = {
        {"empty file", {Path("empty.png"), "-o", out, "--invert"}},
        {"truncated PNG", {Path("cut.png"), "-o", out, "--invert"}},
        {"truncated BMP", {Path("cut.bmp"), "-o", out, "--invert"}},
        {"truncated JPEG", {Path("cut.jpg"), "-o", out, "--invert"}},
        {"not a picture", {Path("text.png"), "-o", out, "--invert"}},
        {"folder as input", {Path("folder.png"), "-o", out, "--invert"}},
        {"device as input", {"/dev/zero", "-o", out, "--invert"}},
        {"named pipe as input", {Path("fifo.png"), "-o", out, "--invert"}},
        {"folder as output", {Path("in.png"), "-o", Path("folder.png"), "--invert"}},
        {"output is the input through a link", {Path("in.png"), "-o", Path("link.png"), "--invert"}},
        {"output is the input spelled otherwise",
         {Path("in.png"), "-o", Path("folder.png/../in.png"), "--invert"}},
        {"brightness beyond 32 bits", {Path("in.png"), "-o", out, "--brightness", "99999999999"}},
        {"negative size", {Path("in.png"), "-o", out, "--size", "-1x5", "--invert"}},
        {"size without height", {Path("in.png"), "-o", out, "--size", "5x", "--invert"}},
        {"amount above 127", {Path("in.png"), "-o", out, "--sharpen", "128,1"}},
        {"radius beyond 32 bits", {Path("in.png"), "-o", out, "--blur", "1,2147483648"}},
        {"filter without radius", {Path("in.png"), "-o", out, "--blur", "10"}},
        {"option without its value", {Path("in.png"), "-o", out, "--blur"}},
        {"envelope index 256", {Path("in.png"), "-o", out, "--red-envelop", "256=5"}},
        {"envelope percent NaN", {Path("in.png"), "-o", out, "--red-envelop", "1=nan"}},
        {"envelope file is a device", {Path("in.png"), "-o", out, "--envelop-file", "red=/dev/zero"}},
        {"envelope file is a folder",
         {Path("in.png"), "-o", out, "--envelop-file", "red=" + Path("folder.png")}},
        {"envelope file is a pipe", {Path("in.png"), "-o", out, "--envelop-file", "red=" + Path("fifo.png")}},
    };
    for (const TCase& c : cases) {
        for (const QString& target : {out, Path("keep.png")}) {
            QStringList args = c.Args;
            if (target != out) args.replaceInStrings(out, target);
            const TRun run = RunTool(args);
            EXPECT_GT(run.Code, 0) << c.What;
            EXPECT_EQ(run.Err.count('\n'), 1) << c.What << ": " << run.Err.toStdString();
            EXPECT_TRUE(run.Err.startsWith("pictura: ")) << c.What << ": " << run.Err.toStdString();
            EXPECT_FALSE(QFile::exists(out)) << c.What;
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                      prepared)
                << c.What << ": a file was left behind";
            QFile keep(Path("keep.png"));
            keep.open(QIODevice::ReadOnly);
            EXPECT_EQ(keep.readAll(), "an earlier result") << c.What;
        }
    }
    EXPECT_EQ(Digest(Path("in.png")), input);
    EXPECT_TRUE(QFileInfo(Path("link.png")).isSymLink());
}

TEST_F(PicturaTool, ReadOnlyFolderRefusesTheOutput) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root, for whom a read-only folder is still writable";
    QDir(dir.path()).mkdir("locked");
    QFile::setPermissions(Path("locked"), QFile::ReadOwner | QFile::ExeOwner);
    const TRun run = RunTool({photo, "-o", Path("locked/out.png"), "--invert"});
    QFile::setPermissions(Path("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_NE(run.Code, 0);
    EXPECT_EQ(run.Err.count('\n'), 1) << run.Err.toStdString();
    EXPECT_TRUE(QDir(Path("locked")).isEmpty());
}
