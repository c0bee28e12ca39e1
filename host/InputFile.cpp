#include "InputFile.h"

#include <pictura/SysUtils.h>

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class TDescriptor {
public:
    explicit TDescriptor(int Fd) : FFd(Fd) {}
    ~TDescriptor() {
        if (FFd >= 0) ::close(FFd);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

// Reads up to Size bytes at Into; fewer only at the end of the file.
size_t ReadFully(int Fd, char* Into, size_t Size, const std::string& What) {
    size_t done = 0;
    while (done < Size) {
        const ssize_t n = ::read(Fd, Into + done, Size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EInvalidGraphic(What + std::strerror(errno));
        if (n == 0) break;
        done += size_t(n);
    }
    return done;
}

} // namespace

QByteArray ReadInputFile(const QString& FileName, size_t MaxBytes,
                         const std::function<void(const QByteArray& Head)>& CheckHead) {
    const std::string what = "cannot open picture \"" + FileName.toStdString() + "\": ";
    const TDescriptor file(
        ::open(QFile::encodeName(FileName).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) {
        if (errno == ENOENT) throw EInvalidGraphic(what + "the file does not exist");
        throw EInvalidGraphic(what + std::strerror(errno));
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) throw EInvalidGraphic(what + std::strerror(errno));
    if (S_ISDIR(status.st_mode)) throw EInvalidGraphic(what + "it is a folder");
    // Devices and pipes could block or never end (/dev/zero): only regular files are read.
    if (!S_ISREG(status.st_mode)) throw EInvalidGraphic(what + "it is not a regular file");
    const int flags = ::fcntl(file.Get(), F_GETFL);
    if (flags >= 0) ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK);
    const size_t size = size_t(status.st_size);
    if (size > MaxBytes)
        throw EOutOfResources(what + "the file is " + std::to_string(size) +
                              " bytes, larger than the limit of " + std::to_string(MaxBytes) + " bytes");
    QByteArray data(qsizetype(std::min(size, InputHeadBytes)), Qt::Uninitialized);
    data.resize(qsizetype(ReadFully(file.Get(), data.data(), size_t(data.size()), what)));
    if (CheckHead) CheckHead(data);
    if (size_t(data.size()) == InputHeadBytes && size > InputHeadBytes) {
        const qsizetype head = data.size();
        data.resize(qsizetype(size));
        data.resize(head + qsizetype(ReadFully(file.Get(), data.data() + head, size - size_t(head), what)));
    }
    return data;
}
