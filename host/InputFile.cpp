#include "InputFile.h"

#include <pictura/SysUtils.h>

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
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

// The mappings in use, for the SIGBUS handler: a file cut short by someone else while it is mapped
// raises SIGBUS where its missing pages are read. The handler puts a page of zeros there and marks the
// mapping damaged, so that the load is refused instead of the process killed.
struct TMappingSlot {
    std::atomic<uintptr_t> Begin{0};
    std::atomic<size_t> Size{0};
    std::atomic<bool> Damaged{false};
};
constexpr int MappingSlots = 64;
TMappingSlot mappings[MappingSlots];
struct sigaction previousBusAction {};
size_t pageSize = 4096;

void OnBusError(int Signal, siginfo_t* Info, void* Context) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(Info->si_addr);
    for (TMappingSlot& slot : mappings) {
        const uintptr_t begin = slot.Begin.load();
        if (begin == 0 || address < begin || address - begin >= slot.Size.load()) continue;
        void* page = reinterpret_cast<void*>(address & ~uintptr_t(pageSize - 1));
        if (::mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            slot.Damaged.store(true);
            return;
        }
    }
    if ((previousBusAction.sa_flags & SA_SIGINFO) && previousBusAction.sa_sigaction) {
        previousBusAction.sa_sigaction(Signal, Info, Context);
    } else if (!(previousBusAction.sa_flags & SA_SIGINFO) && previousBusAction.sa_handler != SIG_DFL &&
               previousBusAction.sa_handler != SIG_IGN) {
        previousBusAction.sa_handler(Signal);
    } else {
        std::signal(SIGBUS, SIG_DFL); // the fault comes again, and ends the process as it would have
    }
}

int RegisterMapping(const void* Begin, size_t Size) {
    static std::once_flag once;
    std::call_once(once, [] {
        pageSize = size_t(::sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previousBusAction);
    });
    // The slot is claimed first; nothing reads the mapping before this returns.
    for (int i = 0; i < MappingSlots; ++i) {
        uintptr_t expected = 0;
        if (!mappings[i].Begin.compare_exchange_strong(expected, reinterpret_cast<uintptr_t>(Begin)))
            continue;
        mappings[i].Size.store(Size);
        mappings[i].Damaged.store(false);
        return i;
    }
    return -1; // more mappings at once than slots: a cut file then ends the process, as a read would not
}

std::string OpenWhat(const QString& Name) {
    return "cannot open picture \"" + Name.toStdString() + "\": ";
}

// One message for a file and a pipe; Size is empty for a pipe, which is never read to its end.
[[noreturn]] void TooLarge(const std::string& What, const std::string& Size, size_t MaxBytes) {
    throw EOutOfResources(What + "the file is larger than the limit of " + std::to_string(MaxBytes) +
                          " bytes" + (Size.empty() ? "" : " (" + Size + ")"));
}

} // namespace

TInputBytes MapInput(int Fd, size_t Size, const std::string& What) {
    TInputBytes bytes;
    if (Size == 0) return bytes;
    void* mapped = ::mmap(nullptr, Size, PROT_READ, MAP_PRIVATE, Fd, 0);
    if (mapped == MAP_FAILED) throw EInvalidGraphic(What + std::strerror(errno));
    bytes.FData = static_cast<const uint8_t*>(mapped);
    bytes.FSize = Size;
    bytes.FMapped = true;
    bytes.FSlot = RegisterMapping(mapped, Size);
    return bytes;
}

TInputBytes::TInputBytes(TInputBytes&& Other) noexcept
    : FData(std::exchange(Other.FData, nullptr)), FSize(std::exchange(Other.FSize, 0)),
      FMapped(std::exchange(Other.FMapped, false)), FSlot(std::exchange(Other.FSlot, -1)),
      FRead(std::move(Other.FRead)), FReadMemory(std::move(Other.FReadMemory)) {}

TInputBytes::~TInputBytes() {
    if (!FMapped) return;
    if (FSlot >= 0) mappings[FSlot].Begin.store(0);
    ::munmap(const_cast<uint8_t*>(FData), FSize);
}

QByteArray TInputBytes::View() const {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(FData), qsizetype(FSize));
}

void TInputBytes::ReleaseRead() const {
    if (FMapped) ::madvise(const_cast<uint8_t*>(FData), FSize, MADV_DONTNEED);
}

bool TInputBytes::Damaged() const {
    return FSlot >= 0 && mappings[FSlot].Damaged.load();
}

TInputBytes OpenInputFile(const QString& FileName, size_t MaxBytes) {
    const std::string what = OpenWhat(FileName);
    const TDescriptor file(
        ::open(QFile::encodeName(FileName).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) {
        if (errno == ENOENT) throw EInvalidGraphic(what + "the file does not exist");
        throw EInvalidGraphic(what + std::strerror(errno));
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) throw EInvalidGraphic(what + std::strerror(errno));
    if (S_ISDIR(status.st_mode)) throw EInvalidGraphic(what + "it is a folder");
    // Devices and pipes could block or never end (/dev/zero): only regular files are read by name.
    if (!S_ISREG(status.st_mode)) throw EInvalidGraphic(what + "it is not a regular file");
    if (size_t(status.st_size) > MaxBytes)
        TooLarge(what, std::to_string(status.st_size) + " bytes", MaxBytes);
    return MapInput(file.Get(), size_t(status.st_size), what);
}

TInputBytes ReadInputDescriptor(int Fd, const QString& Name, size_t MaxBytes) {
    const std::string what = OpenWhat(Name);
    struct stat status {};
    if (::fstat(Fd, &status) != 0) throw EInvalidGraphic(what + std::strerror(errno));
    if (S_ISDIR(status.st_mode)) throw EInvalidGraphic(what + "it is a folder");
    if (S_ISREG(status.st_mode)) {
        const off_t at = ::lseek(Fd, 0, SEEK_CUR);
        if (at == 0) {
            if (size_t(status.st_size) > MaxBytes)
                TooLarge(what, std::to_string(status.st_size) + " bytes", MaxBytes);
            return MapInput(Fd, size_t(status.st_size), what);
        }
    }
    // Read to the end, the buffer growing by doubling but never past MaxBytes + 1, so that the bytes
    // held stay within the limit whatever the pipe gives.
    TInputBytes bytes;
    QByteArray& data = bytes.FRead;
    qsizetype used = 0;
    for (;;) {
        if (used == data.size()) {
            if (size_t(used) > MaxBytes) TooLarge(what, "", MaxBytes);
            data.resize(
                qsizetype(std::min<size_t>(std::max<size_t>(size_t(used) * 2, 1 << 16), MaxBytes + 1)));
        }
        const ssize_t n = ::read(Fd, data.data() + used, size_t(data.size() - used));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EInvalidGraphic(what + std::strerror(errno));
        if (n == 0) break;
        used += n;
    }
    data.resize(used); // the pages past it were never touched
    bytes.FData = reinterpret_cast<const uint8_t*>(data.constData());
    bytes.FSize = size_t(used);
    // The bytes are held beside the picture made from them: they count in the picture memory.
    bytes.FReadMemory =
        std::make_unique<TPictureMemory>(uint64_t(used), "cannot read picture \"" + Name.toStdString() +
                                                             "\": its " + std::to_string(used) + " bytes");
    return bytes;
}
