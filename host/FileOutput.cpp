#include <pictura/FileOutput.h>

#include "TemporaryFiles.h"
#include <pictura/SysUtils.h>

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Native(const QString& FileName) {
    return QFile::encodeName(FileName).toStdString();
}

std::string What(const QString& FileName) {
    return "cannot write picture \"" + FileName.toStdString() + "\": ";
}

const char* KindOf(mode_t Mode) {
    if (S_ISDIR(Mode)) return "a folder";
    if (S_ISCHR(Mode) || S_ISBLK(Mode)) return "a device";
    if (S_ISFIFO(Mode)) return "a pipe";
    if (S_ISSOCK(Mode)) return "a socket";
    return "not a regular file";
}

// The file that Path finally names (symbolic links followed) and, when it exists, its status.
// Refuses an existing target that is not a regular file.
std::string ResolveOutput(const QString& FileName, struct stat& Status, bool& Exists) {
    const std::string path = Native(FileName);
    Exists = false;
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0) {
        if (errno == ENOENT) return path;
        throw EInvalidGraphic(What(FileName) + std::strerror(errno));
    }
    std::string target = path;
    if (S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved))
            throw EInvalidGraphic(What(FileName) + "it is a symbolic link that leads nowhere (" +
                                  std::strerror(errno) + ")");
        target = resolved;
    }
    if (::stat(target.c_str(), &Status) != 0) {
        if (errno == ENOENT) return target;
        throw EInvalidGraphic(What(FileName) + std::strerror(errno));
    }
    if (!S_ISREG(Status.st_mode)) {
        const std::string through = target == path ? "" : " (through a symbolic link to \"" + target + "\")";
        throw EInvalidGraphic(What(FileName) + "it is " + KindOf(Status.st_mode) + through +
                              "; only regular files are written");
    }
    Exists = true;
    return target;
}

} // namespace

bool IsSameFile(const QString& A, const QString& B) {
    struct stat a {
    }, b{};
    if (::stat(Native(A).c_str(), &a) != 0 || ::stat(Native(B).c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void CheckOutputFile(const QString& FileName) {
    struct stat status {};
    bool exists = false;
    ResolveOutput(FileName, status, exists);
}

void WriteFileAtomically(const QString& FileName, const QByteArray& Data) {
    WriteFileAtomically(FileName, [&](const std::function<void(const void*, size_t)>& Write) {
        Write(Data.constData(), size_t(Data.size()));
    });
}

void WriteFileAtomically(
    const QString& FileName,
    const std::function<void(const std::function<void(const void* Data, size_t Size)>& Write)>& Produce) {
    struct stat status {};
    bool exists = false;
    const std::string target = ResolveOutput(FileName, status, exists);
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    try {
        TTemporaryFile file(folder, base);
        if (exists) {
            // The replacement keeps the old file's permissions (and, for root, its owner).
            if (::geteuid() == 0) (void)::fchown(file.Descriptor(), status.st_uid, status.st_gid);
            if (::fchmod(file.Descriptor(), status.st_mode & 07777) != 0)
                throw EInvalidGraphic(std::strerror(errno));
        }
        Produce([&](const void* Data, size_t Size) { file.Write(Data, Size); });
        file.Commit(target);
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(What(FileName) + e.what());
    }
}
