#include "OutputFolders.h"

#include "MessageText.h"

#include <pictura/SysUtils.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

bool IsFolder(const fs::path& Path) {
    struct stat status {};
    return ::stat(Path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

void MakeFolders(const std::string& Folder) {
    if (Folder.empty() || IsFolder(Folder)) return;
    // Each missing folder from the top down; one made meanwhile by another worker is as good.
    fs::path made;
    for (const fs::path& part : fs::path(Folder).lexically_normal()) {
        made /= part;
        if (part.empty() || IsFolder(made)) continue;
        if (::mkdir(made.c_str(), 0777) == 0 || (errno == EEXIST && IsFolder(made))) continue;
        const int error = errno;
        if (error == EEXIST || error == ENOTDIR)
            throw Exception("cannot make the folder " + Quoted(Folder, 256) + ": " +
                            Quoted(made.string(), 256) + " is not a folder");
        throw Exception("cannot make the folder " + Quoted(made.string(), 256) + ": " + std::strerror(error));
    }
}

void MakeFolderOf(const std::string& File) {
    MakeFolders(fs::path(File).parent_path().string());
}
