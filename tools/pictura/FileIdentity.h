// Whether two names reach the same file: by device and inode, whatever links or spellings lead there.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

struct TFileIdentity {
    dev_t Device;
    ino_t Inode;

    friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

// The identity of the file Path names (following links), or nothing when there is none.
std::optional<TFileIdentity> IdentityOf(const std::string& Path);
// The identity of the file open as descriptor Fd (standard input may be a file).
std::optional<TFileIdentity> IdentityOf(int Fd);
// Whether the file system holding the folder Folder treats names that differ only in case as one
// (a case-folding folder, or a FAT, exFAT, NTFS or SMB file system).
bool IgnoresCase(const std::string& Folder);
