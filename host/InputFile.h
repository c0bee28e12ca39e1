// The bytes of an input picture. A regular file is mapped read-only rather than copied, so that its
// bytes are not held beside the bitmap made from them: decoders read it through the system's cache and
// drop what they have read (ReleaseRead). What a pipe gives is read into memory, counted as picture
// memory for as long as it is held. Files are opened without trusting their path: never blocking,
// never becoming the controlling terminal, and checked on the opened descriptor.
#pragma once

#include <pictura/ImageLimits.h>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

class TInputBytes {
public:
    TInputBytes() = default;
    ~TInputBytes();
    TInputBytes(TInputBytes&& Other) noexcept;
    TInputBytes& operator=(TInputBytes&&) = delete;
    TInputBytes(const TInputBytes&) = delete;

    const uint8_t* Data() const { return FData; }
    size_t Size() const { return FSize; }
    // The bytes as a QByteArray that does not copy them; valid while this object lives.
    QByteArray View() const;
    // Drops the mapped pages read so far from this process's memory (they come back from the system's
    // cache if read again); nothing for bytes read into memory.
    void ReleaseRead() const;
    // Whether the file was cut short while mapped: the missing pages read as zeros, and what was
    // decoded from them must be refused.
    bool Damaged() const;

private:
    friend TInputBytes MapInput(int Fd, size_t Size, const std::string& What);
    friend TInputBytes ReadInputDescriptor(int Fd, const QString& Name, size_t MaxBytes);
    const uint8_t* FData = nullptr;
    size_t FSize = 0;
    bool FMapped = false;
    int FSlot = -1;   // in the table of mappings the SIGBUS handler knows
    QByteArray FRead; // the bytes of a pipe
    std::unique_ptr<TPictureMemory> FReadMemory;
};

// Opens the regular file FileName and maps it, refusing one larger than MaxBytes.
// Throws EInvalidGraphic "cannot open picture "FileName": reason" (EOutOfResources for the size).
TInputBytes OpenInputFile(const QString& FileName, size_t MaxBytes);

// The bytes behind the open descriptor Fd, named Name in messages: a regular file is mapped, anything
// else (a pipe, a terminal) is read to its end, refused as soon as it passes MaxBytes, with the same
// message as a file that is too large.
TInputBytes ReadInputDescriptor(int Fd, const QString& Name, size_t MaxBytes);
