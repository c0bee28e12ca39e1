#include "FileIdentity.h"

#include <sys/stat.h>

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
