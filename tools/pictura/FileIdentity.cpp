#include "FileIdentity.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

std::optional<TFileIdentity> IdentityOf(const std::string& Path) {
    struct stat info;
    if (::stat(Path.c_str(), &info) != 0) return std::nullopt;
    return TFileIdentity{info.st_dev, info.st_ino};
}

std::optional<TFileIdentity> IdentityOf(int Fd) {
    struct stat info;
    if (::fstat(Fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return TFileIdentity{info.st_dev, info.st_ino};
}

bool IgnoresCase(const std::string& Folder) {
    struct statfs system;
    if (::statfs(Folder.c_str(), &system) == 0) {
        switch (static_cast<unsigned long>(system.f_type)) {
        case 0x4d44UL:     // FAT
        case 0x2011BAB0UL: // exFAT
        case 0x5346544eUL: // NTFS
        case 0x7366746eUL: // NTFS (ntfs3)
        case 0xFF534D42UL: // CIFS
        case 0xFE534D42UL: // SMB2
            return true;
        default:
            break;
        }
    }
#ifdef FS_CASEFOLD_FL
    const int fd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    const bool folded = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
    ::close(fd);
    return folded;
#else
    return false;
#endif
}
