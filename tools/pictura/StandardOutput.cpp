#include "StandardOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool OutputWasClosed = false;
bool FailureReported = false; // a failed write already said why: the close need not say it again

std::string Reason(int Error) {
    return "cannot write to standard output: " + std::string(std::strerror(Error));
}

} // namespace

void GuardStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        if (fd == STDOUT_FILENO) OutputWasClosed = true;
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

bool WriteStandardOutput(std::string_view Data, std::string& Error) {
    if (OutputWasClosed) {
        Error = Reason(EBADF);
    } else if (!Data.empty() && std::fwrite(Data.data(), 1, Data.size(), stdout) != Data.size()) {
        Error = Reason(errno);
    } else if (std::fflush(stdout) != 0) {
        // Flushed now, while errno still holds the system's reason (ENOSPC): a later flush of a stream
        // already in error only reports that it is.
        Error = Reason(errno);
    } else {
        return true;
    }
    FailureReported = true;
    return false;
}

std::string FinishStandardOutput() {
    if (OutputWasClosed) return "";
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return FailureReported ? "" : Reason(errno ? errno : EIO);
    // A descriptor shared with the shell stays open for it; closing ours reports late write errors.
    if (::close(STDOUT_FILENO) != 0 && errno != EBADF && errno != EINTR) return Reason(errno);
    return "";
}
