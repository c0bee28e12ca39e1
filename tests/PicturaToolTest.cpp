// The pictura tool end to end: the built program on real files, its exit codes, its messages, and
// that a failure never leaves an output file or touches the input.
#include "Channel.h"
#include "EnvelopeLines.h"
#include "TestPictures.h"

#include <pictura/KvPictura.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <set>

#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TRun {
    int Code = -1;
    QString Out, Err;
};

TRun RunTool(const QStringList& Args, const QByteArray& Input = {}, const QString& OutputFile = {}) {
    QProcess process;
    if (!OutputFile.isEmpty()) process.setStandardOutputFile(OutputFile);
    process.start(PICTURA_TOOL, Args);
    process.write(Input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QByteArray ReadAll(const QString& Path) {
    QFile file(Path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// Runs the tool with standard error on a pseudo-terminal; returns what the terminal received.
QByteArray RunOnTerminal(const QStringList& Args) {
    std::vector<std::string> args{PICTURA_TOOL};
    for (const QString& arg : Args)
        args.push_back(arg.toStdString());
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    QByteArray seen;
    char buffer[4096];
    for (;;) {
        pollfd p{terminal, POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0) break;
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) break; // EIO once the tool has exited
        seen.append(buffer, n);
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return seen;
}

// Runs the tool with standard error on a pseudo-terminal and standard output into a pipe that is left
// unread for Stall: a save to standard output stands still that long. Returns what the terminal received.
QByteArray RunOnTerminalStallingOutput(const QStringList& Args, std::chrono::milliseconds Stall) {
    std::vector<std::string> args{PICTURA_TOOL};
    for (const QString& arg : Args)
        args.push_back(arg.toStdString());
    int output[2];
    if (::pipe(output) != 0) return {};
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::close(output[0]);
        ::close(output[1]);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(output[1]);
    QByteArray seen;
    char buffer[4096];
    const auto until = std::chrono::steady_clock::now() + Stall;
    bool draining = false;
    for (;;) {
        if (!draining && std::chrono::steady_clock::now() >= until) draining = true;
        pollfd p[2]{{terminal, POLLIN, 0}, {draining ? output[0] : -1, POLLIN, 0}};
        if (::poll(p, 2, 100) < 0) break;
        if (p[1].revents & (POLLIN | POLLHUP)) (void)!::read(output[0], buffer, sizeof buffer);
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(terminal, buffer, sizeof buffer);
            if (n <= 0) break; // EIO once the tool has exited
            seen.append(buffer, n);
        }
    }
    ::close(terminal);
    ::close(output[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return seen;
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
        {Path("in.png"), "-o", Path("no/such/dir/out.png"), "--invert"}, // a plain -o makes no folder
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
    const TRun run = RunTool({"--red-envelop", "0=7,2=100", "--blue-envelop", "1=29", "--print-envelops"});
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

TEST_F(PicturaTool, PipesInAndOut) {
    const QByteArray png = ReadAll(photo);
    ASSERT_EQ(RunTool({photo, "-o", Path("file.bmp"), "--invert"}).Code, 0);
    const TRun toFile = RunTool({"-", "-o", "-", "--format=bmp", "--invert"}, png, Path("piped.bmp"));
    ASSERT_EQ(toFile.Code, 0);
    EXPECT_EQ(ReadAll(Path("piped.bmp")), ReadAll(Path("file.bmp")));
    const TRun unformatted = RunTool({"-", "-o", "-", "--invert"}, png);
    EXPECT_EQ(unformatted.Code, 2);
    EXPECT_TRUE(unformatted.Err.contains("--format")) << unformatted.Err.toStdString();
    const TRun garbage = RunTool({"-", "-o", Path("g.png"), "--invert"}, "not a picture");
    EXPECT_EQ(garbage.Code, 1);
    EXPECT_EQ(garbage.Err.count('\n'), 1) << garbage.Err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("g.png")));
}

TEST_F(PicturaTool, BatchWritesTheGoodPicturesAndCountsTheBad) {
    QDir(dir.path()).mkdir("in");
    QDir(dir.path()).mkdir("one");
    QDir(dir.path()).mkdir("two");
    QStringList inputs;
    for (const char* name : {"in/a.png", "in/b.png", "in/bad.png", "in/c.png"}) {
        if (QString(name).contains("bad")) {
            QFile file(Path(name));
            file.open(QIODevice::WriteOnly);
            file.write("not a picture");
        } else {
            QFile::copy(photo, Path(name));
        }
        inputs << Path(name);
    }
    const QStringList ops{"--greyscale", "--blur", "50,2", "--invert"};
    const TRun serial = RunTool(inputs + QStringList{"--out-dir", Path("one"), "-j", "1"} + ops);
    const TRun parallel = RunTool(inputs + QStringList{"--out-dir", Path("two"), "-j", "3"} + ops);
    for (const TRun& run : {serial, parallel}) {
        EXPECT_EQ(run.Code, 1);
        const QStringList lines = run.Err.split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2) << run.Err.toStdString();
        EXPECT_TRUE(lines[0].startsWith("pictura: bad.png: ")) << lines[0].toStdString();
        EXPECT_EQ(lines[1], "pictura: 3 of 4 pictures written, 1 failed");
    }
    for (const char* name : {"a.png", "b.png", "c.png"})
        EXPECT_EQ(Digest(Path("two/") + name), Digest(Path("one/") + name)) << name;
    EXPECT_EQ(QDir(Path("two")).entryList(QDir::Files | QDir::Hidden).size(), 3);

    // By pattern; an output that is one of the inputs (through a hard link) stops the batch before any work.
    ASSERT_EQ(
        RunTool({Path("in/a.png"), Path("in/b.png"), "-o", Path("one/{stem}-x.{ext}"), "--invert"}).Code, 0);
    EXPECT_TRUE(QFile::exists(Path("one/b-x.png")));
    ASSERT_EQ(
        ::link(Path("in/a.png").toLocal8Bit().constData(), Path("one/a-y.png").toLocal8Bit().constData()), 0);
    const TRun itself =
        RunTool({Path("in/b.png"), Path("in/a.png"), "-o", Path("one/{stem}-y.{ext}"), "--invert"});
    EXPECT_EQ(itself.Code, 2);
    EXPECT_TRUE(itself.Err.contains("is the input picture")) << itself.Err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("one/b-y.png")));

    // Two outputs naming one new file through a symbolic link to their folder, and through "..".
    ASSERT_EQ(::symlink("in", Path("alias").toLocal8Bit().constData()), 0);
    QFile::copy(photo, Path("in/a.jpg"));
    for (const QString& second : {Path("alias/a.jpg"), Path("one/../in/a.jpg")}) {
        const TRun twice =
            RunTool({Path("in/a.png"), second, "-o", "{dir}/{stem}-z.png", "--invert", "-j", "1"});
        EXPECT_EQ(twice.Code, 2) << second.toStdString();
        EXPECT_TRUE(twice.Err.contains("two pictures would be written")) << twice.Err.toStdString();
        EXPECT_FALSE(QFile::exists(Path("in/a-z.png")));
    }
}

TEST_F(PicturaTool, WorkersEndWithTheirParentAndWriteNothingAfterIt) {
    QDir(dir.path()).mkdir("out");
    QImage large(1500, 1500, QImage::Format_RGB32);
    large.fill(qRgb(40, 90, 160));
    QStringList args;
    for (int i = 0; i < 6; ++i) {
        const QString name = Path(("in" + std::to_string(i) + ".png").c_str());
        large.save(name);
        args << name;
    }
    args << "--out-dir" << Path("out") << "-j"
         << "2";
    for (int i = 0; i < 8; ++i)
        args << "--blur"
             << "50,40";
    for (const int signal : {SIGTERM, SIGINT}) {
        QProcess tool;
        tool.start(PICTURA_TOOL, args);
        ASSERT_TRUE(tool.waitForStarted());
        const pid_t parent = pid_t(tool.processId());
        // Both workers started: the parent's children, as /proc lists them.
        QStringList workers;
        for (int wait = 0; wait < 200 && workers.size() < 2; ++wait) {
            ::usleep(20000);
            workers = QString::fromLatin1(ReadAll(QString("/proc/%1/task/%1/children").arg(parent)))
                          .split(' ', Qt::SkipEmptyParts);
        }
        ASSERT_EQ(workers.size(), 2);
        ::usleep(300000); // into their work
        ::kill(parent, signal);
        ASSERT_TRUE(tool.waitForFinished(30000));
        EXPECT_EQ(tool.exitStatus(), QProcess::CrashExit) << "ended by the signal, so its status says so";
        const QStringList atEnd = QDir(Path("out")).entryList(QDir::Files | QDir::Hidden);
        for (const QString& worker : workers) // ended, and reaped by the parent before it ended
            EXPECT_FALSE(QFile::exists("/proc/" + worker))
                << "worker " << worker.toStdString() << " outlived it";
        ::usleep(500000);
        EXPECT_EQ(QDir(Path("out")).entryList(QDir::Files | QDir::Hidden), atEnd)
            << "written after the parent";
        for (const QString& name : atEnd)
            EXPECT_FALSE(name.startsWith('.')) << "a temporary file was left: " << name.toStdString();
    }
}

TEST_F(PicturaTool, FormatsQualityAndWhatTheyCannotHold) {
    TPicture original;
    original.LoadFromFile(photo);
    for (const QString& ext : {QString("tif"), QString("webp")}) {
        const QStringList quality =
            ext == "webp" ? QStringList{"--quality", "100"} : QStringList{}; // lossless
        ASSERT_EQ(RunTool(QStringList{photo, "-o", Path("round.") + ext} + quality).Code, 0)
            << ext.toStdString();
        TPicture back;
        back.LoadFromFile(Path("round.") + ext);
        back.GetBitmap()->SetPixelFormat(pf24bit);
        EXPECT_EQ(back.GetBitmap()->Dib().Bits, original.GetBitmap()->Dib().Bits) << ext.toStdString();
    }
    ASSERT_EQ(RunTool({photo, "-o", Path("low.jpg"), "--quality", "5"}).Code, 0);
    ASSERT_EQ(RunTool({photo, "-o", Path("high.jpg"), "--quality=95"}).Code, 0);
    EXPECT_LT(QFileInfo(Path("low.jpg")).size() * 3, QFileInfo(Path("high.jpg")).size());
    EXPECT_EQ(RunTool({photo, "-o", Path("q.png"), "--quality", "50"}).Code, 2);

    const TRun icon = RunTool({photo, "-o", Path("big.ico"), "--invert"});
    EXPECT_EQ(icon.Code, 1);
    EXPECT_TRUE(icon.Err.contains("at most 256 x 256")) << icon.Err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("big.ico")));

    QImage clear(4, 3, QImage::Format_ARGB32);
    clear.fill(QColor(10, 20, 30, 100));
    clear.save(Path("clear.png"));
    const TRun flattened = RunTool({Path("clear.png"), "-o", Path("flat.png"), "--yes", "--invert"});
    EXPECT_EQ(flattened.Code, 0);
    EXPECT_EQ(flattened.Err,
              "pictura: note: the picture's transparency was dropped (24-bit pixels hold none)\n");
    EXPECT_EQ(RunTool({photo, "-o", Path("opaque.png"), "--yes", "--invert"}).Err, "");
}

TEST_F(PicturaTool, StandardOutputFailuresAreReported) {
    const QStringList runs[] = {
        {"--help"},
        {"--version"},
        {"--red-envelop", "0=50", "--print-envelops"},
        {photo, "-o", "-", "--format", "png", "--invert"},
        {"tiny.ppm", "-o", "-", "--format", "png", "--invert"}}; // within stdio's buffer
    QImage(4, 4, QImage::Format_RGB888).save(Path("tiny.ppm"));
    for (QStringList args : runs) {
        args.replaceInStrings(QRegularExpression("^tiny.ppm$"), Path("tiny.ppm"));
        const TRun run = RunTool(args, {}, "/dev/full");
        EXPECT_EQ(run.Code, 1) << args.join(' ').toStdString();
        EXPECT_EQ(run.Err, "pictura: cannot write to standard output: No space left on device\n")
            << args.join(' ').toStdString();
    }
}

// --red-curve sets the whole table through the curve function the viewer's Envelopes dialog draws.
TEST_F(PicturaTool, CurvesSetTheWholeTable) {
    const TRun run = RunTool({"--curve=+40=+10", "--red-curve", "0=0,100=80,255=30", "--print-envelops"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    const QStringList lines = run.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 256);
    const std::vector<TEnvelopePoint> points{{0, 0}, {100, 80}, {255, 30}};
    const TEnvelopeTable red = EnvelopeLines(points);
    TKvPictura expected;
    for (int level = 0; level < 256; ++level)
        expected.SetRedEnvelop(uint8_t(level), red[size_t(level)]);
    for (int level = 0; level < 256; ++level) {
        const QStringList values = lines[level].split(' ');
        EXPECT_EQ(values[0].toDouble(), expected.GetRedEnvelop(uint8_t(level))) << level;
        EXPECT_EQ(values[2], "10") << level; // one point: the same everywhere
    }
}

TEST_F(PicturaTool, ProgressOnATerminalAndTimes) {
    const QByteArray seen = RunOnTerminal({photo, "-o", Path("p.png"), "--blur", "50,4", "--invert"});
    for (const char* step : {"\rpictura: loading sample.png", "\rpictura: --blur", "\rpictura: --invert",
                             "\rpictura: saving p.png"})
        EXPECT_TRUE(seen.contains(step)) << step << " in " << seen.toStdString();
    EXPECT_TRUE(seen.contains("100%"));
    EXPECT_TRUE(seen.endsWith("\r\x1b[K")) << "the line is cleared at the end";
    EXPECT_EQ(RunOnTerminal({photo, "-o", Path("q.png"), "--invert", "--quiet"}), "");
    const QByteArray batch =
        RunOnTerminal({photo, palette, "--out-dir", dir.path(), "--suffix=-b", "--yes", "-j2", "--invert"});
    EXPECT_TRUE(batch.contains("\rpictura: 1 of 2 pictures")) << batch.toStdString();
    EXPECT_TRUE(batch.contains("pictura: 2 pictures written")) << batch.toStdString();
    EXPECT_TRUE(
        RunOnTerminal({photo, "-o", "-", "--format", "png"}).contains("standard output is a terminal"));
    EXPECT_EQ(RunTool({photo, "-o", Path("r.png"), "--invert"}).Err, "") << "nothing when not a terminal";
    const TRun forced = RunTool({photo, "-o", Path("s.png"), "--invert", "--progress"});
    EXPECT_TRUE(forced.Err.contains("pictura: --invert 100%")) << forced.Err.toStdString();

    const QStringList timed =
        RunTool({photo, "-o", Path("t.png"), "--invert", "--time"}).Err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(timed.size(), 4);
    const char* steps[] = {"loading ", "--invert ", "saving ", "total "};
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(timed[i].startsWith(QString("pictura: ") + steps[i]) && timed[i].endsWith(" ms"))
            << timed[i].toStdString();
}

TEST_F(PicturaTool, OrientationCompressionAndNotesForLosses) {
    // A JPEG turned right by its EXIF orientation keeps the tag; --auto-orient turns the pixels instead.
    TPicture turned;
    turned.LoadFromFile(photo);
    turned.Metadata().Exif =
        std::string("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
    turned.SaveToFile(Path("turned.jpg"));
    ASSERT_EQ(RunTool({Path("turned.jpg"), "-o", Path("kept.png")}).Code, 0);
    TPicture kept;
    kept.LoadFromFile(Path("kept.png"));
    EXPECT_EQ(kept.Metadata().Orientation(), 6);
    EXPECT_EQ(kept.Width(), turned.Width());
    const TRun upright = RunTool({Path("turned.jpg"), "-o", Path("upright.png"), "--auto-orient"});
    EXPECT_EQ(upright.Err, "pictura: note: the picture was turned upright as its EXIF orientation (6) says, "
                           "and marked upright\n");
    TPicture back;
    back.LoadFromFile(Path("upright.png"));
    EXPECT_EQ(back.Metadata().Orientation(), 1);
    EXPECT_EQ(back.Width(), turned.Height());
    // A format without EXIF says so, and that the picture will show turned.
    const TRun bmp = RunTool({Path("turned.jpg"), "-o", Path("turned.bmp")});
    EXPECT_TRUE(bmp.Err.contains("note: the EXIF data was dropped") && bmp.Err.contains("shows turned"))
        << bmp.Err.toStdString();
    EXPECT_EQ(RunTool({Path("turned.jpg"), "-o", Path("turned.bmp"), "-q"}).Err, "");

    // --compression: the same pixels, smaller files at higher levels; refused where it means nothing.
    for (const std::string ext : {"png", "tif", "webp"}) {
        if (!TPicture::WritableExtensions().contains(ext.c_str())) continue; // no Qt plugin to read it back
        const QString c0 = Path(("c0." + ext).c_str()), c9 = Path(("c9." + ext).c_str());
        const QStringList lossless = ext == "webp" ? QStringList{"--quality", "100"} : QStringList{};
        ASSERT_EQ(RunTool(QStringList{photo, "-o", c0, "--compression", "0"} + lossless).Code, 0);
        ASSERT_EQ(RunTool(QStringList{photo, "-o", c9, "--compression=9"} + lossless).Code, 0);
        EXPECT_LT(QFileInfo(c9).size() * (ext == "webp" ? 1 : 2), QFileInfo(c0).size()) << ext;
        TPicture p0, p9;
        p0.LoadFromFile(c0);
        p9.LoadFromFile(c9);
        EXPECT_EQ(p0.GetBitmap()->Dib().Bits, p9.GetBitmap()->Dib().Bits) << ext;
    }
    EXPECT_EQ(RunTool({photo, "-o", Path("c.jpg"), "--compression", "5"}).Code, 2);
    EXPECT_EQ(RunTool({photo, "-o", Path("c.png"), "--compression", "10"}).Code, 2);

    // Deep channels reduced to 8 bits get a note.
    const TRun deep = RunTool({QString(PICTURA_TEST_DATA) + "/png/basn2c16.png", "-o", Path("deep.png")});
    EXPECT_EQ(deep.Err, "pictura: note: the picture's 16 bits per channel were reduced to 8\n");
}

// A save that stands still (standard output blocked) still shows time passing: the line is redrawn
// with a new elapsed time while its percent stays, at the rows the BMP writer encoded before the write.
TEST_F(PicturaTool, ProgressLineTicksWhileAStepStandsStill) {
    TPicture large; // a file well over a pipe's buffer
    large.GetBitmap()->Assign(BlankPicture(pf24bit, 400, 400));
    large.SaveToFile(Path("large.bmp"));
    const QByteArray seen = RunOnTerminalStallingOutput({Path("large.bmp"), "-o", "-", "--format", "bmp"},
                                                        std::chrono::milliseconds(1200));
    std::set<QByteArray> lines;
    for (const QByteArray& line : seen.split('\r'))
        if (line.startsWith("pictura: saving standard output  99%")) lines.insert(line);
    EXPECT_GE(lines.size(), 4u) << seen.toStdString();
}

// The README's batch examples, verbatim, in a folder that holds only the pictures: output folders are
// made, folders walked with -r, names read from find -print0.
TEST_F(PicturaTool, ReadmeBatchExamplesRunInAnEmptyFolder) {
    QFile readme(QString(PICTURA_SOURCE) + "/README.md");
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype marker = text.indexOf("<!-- example: batch -->");
    ASSERT_GE(marker, 0);
    const qsizetype start = text.indexOf("```sh\n", marker) + 6, end = text.indexOf("```", start);
    const QStringList commands = text.mid(start, end - start).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(commands.size(), 4);
    ASSERT_TRUE(QDir(dir.path()).mkpath("photos/trip"));
    for (const char* name : {"photos/a.png", "photos/b.png", "photos/trip/c.png"})
        ASSERT_TRUE(QFile::copy(photo, Path(name)));
    for (const QString& command : commands) {
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", QFileInfo(PICTURA_TOOL).absolutePath() + ":" + environment.value("PATH"));
        shell.setProcessEnvironment(environment);
        shell.start("sh", {"-ec", command});
        ASSERT_TRUE(shell.waitForFinished(120000));
        EXPECT_EQ(shell.exitCode(), 0) << command.toStdString() << "\n"
                                       << shell.readAllStandardError().toStdString();
    }
    for (const char* name : {"small/a-grey.png", "small/b-grey.png", "out/a-blur.png", "out/b-blur.png",
                             "copies/a.png", "copies/trip/c.png", "out/a.jpg", "out/c.jpg"})
        EXPECT_TRUE(QFile::exists(Path(name))) << name;
}

TEST_F(PicturaTool, FoldersListsAndOutputFolders) {
    ASSERT_TRUE(QDir(dir.path()).mkpath("in/sub"));
    for (const char* name : {"in/a.png", "in/sub/b.png"})
        ASSERT_TRUE(QFile::copy(photo, Path(name)));
    QFile notes(Path("in/notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.close();

    const TRun folder = RunTool({Path("in"), "--out-dir", Path("out"), "--invert"});
    EXPECT_EQ(folder.Code, 2);
    EXPECT_TRUE(folder.Err.contains("is a folder: give -r")) << folder.Err.toStdString();
    // -r keeps the structure below --out-dir, made several levels deep; the text file is passed over.
    const TRun walked = RunTool({"-r", Path("in"), "--out-dir", Path("out/deep"), "--invert"});
    EXPECT_EQ(walked.Code, 0) << walked.Err.toStdString();
    EXPECT_TRUE(QFile::exists(Path("out/deep/a.png")));
    EXPECT_TRUE(QFile::exists(Path("out/deep/sub/b.png")));
    // Names from standard input, NUL-separated (one holds a line break), into a pattern's new folders.
    ASSERT_TRUE(QFile::copy(photo, Path("in/odd\nname.png")));
    const QByteArray list = (Path("in/sub/b.png") + QChar(0) + Path("in/odd\nname.png") + QChar(0)).toUtf8();
    const TRun listed =
        RunTool({"--files-from", "-", "-0", "-o", Path("listed/{stem}.bmp"), "--invert"}, list);
    EXPECT_EQ(listed.Code, 0) << listed.Err.toStdString();
    EXPECT_TRUE(QFile::exists(Path("listed/b.bmp")));
    EXPECT_TRUE(QFile::exists(Path("listed/odd\nname.bmp")));
    // What cannot be made is refused with the reason.
    const TRun blocked = RunTool({photo, "-o", Path("in/notes.txt/{stem}.png"), "--invert"});
    EXPECT_EQ(blocked.Code, 1);
    EXPECT_TRUE(blocked.Err.contains("notes.txt\" is not a folder")) << blocked.Err.toStdString();
}

TEST_F(PicturaTool, TablesNeverAppliedGetANote) {
    const TRun unapplied = RunTool({photo, "-o", Path("c.png"), "--curve", "0=0,128=60,255=100"});
    EXPECT_EQ(unapplied.Code, 0);
    EXPECT_EQ(unapplied.Err, "pictura: note: --curve sets gain tables that no later --apply-envelops or "
                             "--apply-CHANNEL-envelop applies; they change no pixel\n");
    const TRun oneChannel = RunTool({photo, "-o", Path("d.png"), "--red-curve", "0=0,255=50",
                                     "--green-envelop", "3=5", "--apply-green-envelop"});
    EXPECT_TRUE(oneChannel.Err.startsWith("pictura: note: --red-curve sets")) << oneChannel.Err.toStdString();
    EXPECT_EQ(RunTool({photo, "-o", Path("e.png"), "--curve", "0=0,255=50", "--apply-envelops"}).Err, "");
    EXPECT_EQ(RunTool({"--curve", "0=0,255=50", "--print-envelops"}).Err, "");
}
