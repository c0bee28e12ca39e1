// Writing files safely: an output is replaced atomically and only when it is a regular file, and
// two paths are compared by the file they reach, not by their spelling.
#pragma once

#include <pictura/Vcl40Export.h>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>

// True when A and B both exist and reach the same file (same device and inode): hard links, bind
// mounts, symbolic links and different spellings of one path all count as the same file.
VCL40_EXPORT bool IsSameFile(const QString& A, const QString& B);

// Throws EInvalidGraphic ("cannot write picture "FileName": ...") when FileName exists and is not a
// regular file (a device, pipe, socket or folder), also when it is reached through symbolic links.
VCL40_EXPORT void CheckOutputFile(const QString& FileName);

// Replaces FileName with Data atomically: a temporary file in the folder of the file that FileName
// finally names (a symbolic link is written through, not replaced) is written, flushed and renamed
// over it. An existing file keeps its permission bits. On failure, nothing is left behind and the old
// file stays; EInvalidGraphic names the file and the system's reason.
VCL40_EXPORT void WriteFileAtomically(const QString& FileName, const QByteArray& Data);

// The same for data made a part at a time: Produce hands each part, in order, to the function it is
// given. An exception from Produce leaves nothing behind, as any other failure.
VCL40_EXPORT void WriteFileAtomically(
    const QString& FileName,
    const std::function<void(const std::function<void(const void* Data, size_t Size)>& Write)>& Produce);
