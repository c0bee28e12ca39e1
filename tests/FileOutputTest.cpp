// Writing and reading files as an attacker or a careless user would have them: devices, pipes and
// symbolic links as outputs, one file under two paths, signals during a write, an input swapped for
// a pipe while it is opened.
#include "TemporaryFiles.h"
#include <pictura/FileOutput.h>
#include <pictura/Picture.h>
#include <pictura/SysUtils.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <future>
#include <thread>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class FileOutput : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Path(const char* Name) const { return dir.filePath(Name); }
    std::string Native(const char* Name) const { return Path(Name).toStdString(); }

    void SaveSmallPicture(const QString& FileName) {
        TPicture picture;
        QImage image(3, 2, QImage::Format_RGB32);
        image.fill(Qt::red);
        picture.GetBitmap()->FromQImage(image);
        picture.SaveToFile(FileName);
    }
    QByteArray Contents(const char* Name) const {
        QFile file(Path(Name));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }
    // The names in the folder, hidden ones included.
    QStringList Entries() const {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
};

} // namespace

TEST_F(FileOutput, DevicesPipesAndFoldersAreRefusedAlsoThroughSymbolicLinks) {
    ASSERT_EQ(::mkfifo(Native("pipe.png").c_str(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.png"));
    ASSERT_EQ(::symlink(Native("pipe.png").c_str(), Native("to-pipe.png").c_str()), 0);
    std::vector<std::pair<const char*, const char*>> outputs = {{"pipe.png", "it is a pipe"},
                                                                {"folder.png", "it is a folder"},
                                                                {"to-pipe.png", "through a symbolic link"}};
    if (::geteuid() == 0) {
        // A device of our own (the null device's numbers): writing over it would replace the node.
        ASSERT_EQ(::mknod(Native("null.png").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        ASSERT_EQ(::symlink(Native("null.png").c_str(), Native("discard.png").c_str()), 0);
        outputs.push_back({"null.png", "it is a device"});
        outputs.push_back({"discard.png", "it is a device (through a symbolic link"});
    } else {
        std::cout << "not root: devices cannot be made, only pipes and folders are tried\n";
    }
    for (const auto& [name, reason] : outputs) {
        try {
            SaveSmallPicture(Path(name));
            ADD_FAILURE() << name << " was written";
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
    }
    struct stat status {};
    EXPECT_TRUE(::stat(Native("pipe.png").c_str(), &status) == 0 && S_ISFIFO(status.st_mode));
    if (::geteuid() == 0) {
        EXPECT_TRUE(::stat(Native("null.png").c_str(), &status) == 0 && S_ISCHR(status.st_mode));
    }
    EXPECT_TRUE(::lstat(Native("to-pipe.png").c_str(), &status) == 0 && S_ISLNK(status.st_mode));
    EXPECT_EQ(Entries().size(), qsizetype(outputs.size()) + 0) << Entries().join(" ").toStdString();
}

TEST_F(FileOutput, ASymbolicLinkIsWrittenThroughAndTheTargetKeepsItsMode) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    {
        QFile old(Path("real/picture.png"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    ASSERT_EQ(::chmod(Native("real/picture.png").c_str(), 0444), 0);
    ASSERT_EQ(::symlink("real/picture.png", Native("link.png").c_str()), 0);
    SaveSmallPicture(Path("link.png"));
    struct stat link {
    }, target{};
    ASSERT_EQ(::lstat(Native("link.png").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    ASSERT_EQ(::stat(Native("real/picture.png").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0444u);
    EXPECT_TRUE(Contents("real/picture.png").startsWith("\x89PNG"));
    EXPECT_EQ(QDir(Path("real")).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_EQ(Entries().size(), 2);

    // A new file gets the usual mode for new files.
    const mode_t mask = ::umask(022);
    SaveSmallPicture(Path("new.png"));
    ::umask(mask);
    ASSERT_EQ(::stat(Native("new.png").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0644u);
}

TEST_F(FileOutput, WriteFailuresCarryTheSystemsReason) {
    try {
        WriteFileAtomically(Path("no/such/folder/out.png"), "data");
        ADD_FAILURE() << "written into a missing folder";
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("out.png"), std::string::npos) << e.what();
    }
}

TEST_F(FileOutput, AFullDiskSaysSoAndLeavesNothing) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("small"));
    const std::string small = Native("small");
    if (::geteuid() != 0 || ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    QByteArray big(256 * 1024, 'x');
    try {
        WriteFileAtomically(Path("small/out.png"), big);
        ADD_FAILURE() << "256 KiB written into 16 KiB";
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(
        QDir(Path("small")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    ::umount(small.c_str());
}

TEST_F(FileOutput, SameFileMeansSameDeviceAndInode) {
    SaveSmallPicture(Path("a.png"));
    SaveSmallPicture(Path("b.png"));
    ASSERT_EQ(::link(Native("a.png").c_str(), Native("hard.png").c_str()), 0);
    ASSERT_EQ(::symlink(Native("a.png").c_str(), Native("soft.png").c_str()), 0);
    EXPECT_TRUE(IsSameFile(Path("a.png"), Path("hard.png")));
    EXPECT_TRUE(IsSameFile(Path("a.png"), Path("soft.png")));
    EXPECT_TRUE(IsSameFile(Path("a.png"), dir.path() + "//a.png"));
    EXPECT_FALSE(IsSameFile(Path("a.png"), Path("b.png")));
    // A bind mount shows the folder again under another path, where root can make one.
    ASSERT_TRUE(QDir(dir.path()).mkdir("again"));
    if (::geteuid() == 0 && ::mount(dir.path().toLocal8Bit().constData(), Native("again").c_str(), nullptr,
                                    MS_BIND, nullptr) == 0) {
        EXPECT_TRUE(IsSameFile(Path("a.png"), Path("again/a.png")));
        ::umount(Native("again").c_str());
    } else {
        std::cout << "no bind mount here (needs root): hard and symbolic links only\n";
    }
    EXPECT_FALSE(IsSameFile(Path("a.png"), Path("missing.png")));

    // The tool refuses an output that is its input under another name, and leaves the input alone.
    const QByteArray before = Contents("a.png");
    QProcess tool;
    tool.start(PICTURA_TOOL, {Path("a.png"), "-o", Path("hard.png"), "--invert", "--yes"});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 2); // a command line that cannot run
    EXPECT_TRUE(tool.readAllStandardError().contains("is the input picture"));
    EXPECT_EQ(Contents("a.png"), before);
}

TEST_F(FileOutput, InterruptedWritesLeaveNoTemporaryFile) {
    for (const bool named : {true, false})
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            int ready[2];
            ASSERT_EQ(::pipe(ready), 0);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                ::close(ready[0]);
                {
                    TTemporaryFile file(dir.path().toStdString(), "out.png", named);
                    file.Write("partial", 7);
                    const char byte = named ? 'n' : 'u';
                    (void)!::write(ready[1], &byte, 1);
                    for (;;)
                        ::pause();
                }
            }
            ::close(ready[1]);
            char byte = 0;
            ASSERT_EQ(::read(ready[0], &byte, 1), 1);
            ::close(ready[0]);
            if (named) {
                EXPECT_EQ(Entries().size(), 1) << "the named path was not taken";
            }
            ::kill(child, signal);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
            EXPECT_TRUE(Entries().isEmpty())
                << "signal " << signal << ": " << Entries().join(" ").toStdString();
        }
}

TEST_F(FileOutput, AnInputSwappedForAPipeIsRefusedWithoutWaiting) {
    SaveSmallPicture(Path("regular.png"));
    ASSERT_EQ(::mkfifo(Native("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::link(Native("regular.png").c_str(), Native("input.png").c_str()), 0);
    std::atomic<bool> stop{false};
    // Swaps the two under the name "input.png" as fast as it can (rename replaces it atomically).
    std::thread swapper([&] {
        for (bool fifo = false; !stop; fifo = !fifo) {
            ::link(Native(fifo ? "fifo" : "regular.png").c_str(), Native("next").c_str());
            ::rename(Native("next").c_str(), Native("input.png").c_str());
        }
    });
    auto loads = std::async(std::launch::async, [&] {
        int loaded = 0, refused = 0;
        for (int i = 0; i < 400; ++i) {
            TPicture picture;
            try {
                picture.LoadFromFile(Path("input.png"));
                ++loaded;
            } catch (const EInvalidGraphic& e) {
                const std::string message = e.what();
                if (message.find("not a regular file") != std::string::npos)
                    ++refused;
                else if (message.find("does not exist") == std::string::npos)
                    ADD_FAILURE() << message;
            }
        }
        return loaded + refused;
    });
    const bool finished = loads.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    stop = true;
    swapper.join();
    if (!finished) {
        ADD_FAILURE() << "a load waited on the pipe";
        std::_Exit(1);
    }
    EXPECT_EQ(loads.get(), 400);
}
