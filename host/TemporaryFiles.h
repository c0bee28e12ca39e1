// Temporary files beside the file they will replace, removed when the process is interrupted
// (SIGINT, SIGTERM, SIGHUP) as well as when they are dropped, so that an interrupted write never
// leaves a stray file behind.
#pragma once

#include <string>

class TTemporaryFile {
public:
    // Creates an empty file in Folder, open for writing, with the mode a new file gets (0666 less the
    // umask). Unnamed (O_TMPFILE) where the file system has them, unless ForceNamed; otherwise a hidden
    // name starting with "." + BaseName. Throws EInvalidGraphic with the system's reason.
    TTemporaryFile(const std::string& Folder, const std::string& BaseName, bool ForceNamed = false);
    // Closes the file and removes it unless it was committed.
    ~TTemporaryFile();
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    int Descriptor() const { return FFd; }
    // The file's name while it has one (empty for an unnamed file).
    const std::string& Name() const { return FName; }
    // Writes all of Size bytes; throws EInvalidGraphic with the system's reason.
    void Write(const void* Data, size_t Size);
    // Flushes the data to the disk and renames the file over Target (in the same folder): the
    // target is replaced atomically. Throws EInvalidGraphic with the system's reason.
    void Commit(const std::string& Target);

private:
    void Remove();

    std::string FFolder;
    std::string FBaseName;
    std::string FName;
    int FFd = -1;
    int FSlot = -1;
};

// Whether files of the folder may be made unnamed: false forces named temporary files everywhere
// (for file systems that claim O_TMPFILE and then fail, and for tests of the named path).
void SetUnnamedTemporaryFiles(bool Allowed);
