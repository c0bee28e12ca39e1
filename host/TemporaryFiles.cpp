#include "TemporaryFiles.h"

#include <pictura/SysUtils.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The names of live temporary files, readable from a signal handler: a slot is claimed (1) while its
// name is written and live (2) once the handler may remove it.
struct TNameSlot {
    std::atomic<int> State{0};
    char Path[PATH_MAX];
};
std::array<TNameSlot, 256> nameSlots;

constexpr int InterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[3];
std::atomic<bool> unnamedAllowed{true};

void RemoveLiveFiles(int Signal) {
    for (TNameSlot& slot : nameSlots)
        if (slot.State.load(std::memory_order_acquire) == 2) ::unlink(slot.Path);
    // The previous disposition takes the signal next (the default one ends the process).
    for (size_t i = 0; i < std::size(InterruptSignals); ++i)
        if (InterruptSignals[i] == Signal) ::sigaction(Signal, &previousActions[i], nullptr);
    ::raise(Signal);
}

void InstallHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (size_t i = 0; i < std::size(InterruptSignals); ++i) {
            struct sigaction action {};
            ::sigaction(InterruptSignals[i], nullptr, &previousActions[i]);
            // A signal the process ignores (nohup) stays ignored.
            if (previousActions[i].sa_handler == SIG_IGN && !(previousActions[i].sa_flags & SA_SIGINFO))
                continue;
            action.sa_handler = RemoveLiveFiles;
            sigemptyset(&action.sa_mask);
            for (const int other : InterruptSignals)
                sigaddset(&action.sa_mask, other);
            ::sigaction(InterruptSignals[i], &action, nullptr);
        }
    });
}

// A slot holding Path for the signal handler, or -1 when all are taken (the file is then removed
// only by its owner).
int Track(const std::string& Path) {
    if (Path.size() >= PATH_MAX) return -1;
    for (size_t i = 0; i < nameSlots.size(); ++i) {
        int expected = 0;
        if (nameSlots[i].State.compare_exchange_strong(expected, 1)) {
            std::memcpy(nameSlots[i].Path, Path.c_str(), Path.size() + 1);
            nameSlots[i].State.store(2, std::memory_order_release);
            return int(i);
        }
    }
    return -1;
}

void Untrack(int Slot) {
    if (Slot >= 0) nameSlots[size_t(Slot)].State.store(0, std::memory_order_release);
}

std::string RandomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}() ^ uint64_t(::getpid()) << 32};
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string text(8, 'x');
    for (char& c : text)
        c = digits[generator() % (sizeof digits - 1)];
    return text;
}

[[noreturn]] void Fail(const std::string& What, int Error) {
    throw EInvalidGraphic(What.empty() ? std::strerror(Error) : What + ": " + std::strerror(Error));
}

} // namespace

void SetUnnamedTemporaryFiles(bool Allowed) {
    unnamedAllowed.store(Allowed);
}

TTemporaryFile::TTemporaryFile(const std::string& Folder, const std::string& BaseName, bool ForceNamed)
    : FFolder(Folder.empty() ? "." : Folder), FBaseName(BaseName) {
    InstallHandlers();
    if (!ForceNamed && unnamedAllowed.load()) {
        FFd = ::open(FFolder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (FFd >= 0) return;
        // Kernels and file systems without unnamed files say so in several ways; a named file
        // tells the real reason if there is one.
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        FName = FFolder + "/." + FBaseName + "." + RandomSuffix() + ".tmp";
        FSlot = Track(FName);
        FFd = ::open(FName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (FFd >= 0) return;
        const int error = errno;
        Untrack(FSlot);
        FSlot = -1;
        if (error != EEXIST) {
            FName.clear();
            Fail("cannot create a temporary file in \"" + FFolder + "\"", error);
        }
    }
    FName.clear();
    Fail("cannot create a temporary file in \"" + FFolder + "\"", EEXIST);
}

TTemporaryFile::~TTemporaryFile() {
    Remove();
}

void TTemporaryFile::Remove() {
    if (!FName.empty()) ::unlink(FName.c_str());
    Untrack(FSlot);
    FSlot = -1;
    FName.clear();
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
}

void TTemporaryFile::Write(const void* Data, size_t Size) {
    const char* p = static_cast<const char*>(Data);
    while (Size > 0) {
        const ssize_t n = ::write(FFd, p, Size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail({}, errno);
        if (n == 0) Fail({}, ENOSPC);
        p += n;
        Size -= size_t(n);
    }
}

void TTemporaryFile::Commit(const std::string& Target) {
    // Network file systems report a full disk or a lost server only when the data is flushed.
    if (::fsync(FFd) != 0) Fail({}, errno);
    if (FName.empty()) { // unnamed: give it a name to rename from
        const std::string self = "/proc/self/fd/" + std::to_string(FFd);
        for (int attempt = 0; FName.empty(); ++attempt) {
            std::string name = FFolder + "/." + FBaseName + "." + RandomSuffix() + ".tmp";
            FSlot = Track(name);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                FName = name;
                break;
            }
            const int error = errno;
            Untrack(FSlot);
            FSlot = -1;
            if (error != EEXIST || attempt == 100) Fail({}, error);
        }
    }
    if (::rename(FName.c_str(), Target.c_str()) != 0) Fail({}, errno);
    Untrack(FSlot);
    FSlot = -1;
    FName.clear();
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0 && errno != EINTR) Fail({}, errno);
}
