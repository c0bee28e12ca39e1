// Reading an input file without trusting its path: the file is opened first (never blocking, never
// becoming the controlling terminal), then the opened descriptor is checked, then read, so that no
// one can swap a pipe or device in between.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>

// Bytes read first, for a header check that may refuse the file before the rest is read.
constexpr size_t InputHeadBytes = 64 * 1024;

// Reads the regular file FileName whole, refusing one larger than MaxBytes. CheckHead sees the first
// InputHeadBytes (or the whole file if shorter) before the rest is read and throws to refuse it.
// Throws EInvalidGraphic "cannot open picture "FileName": reason" (EOutOfResources for the size).
QByteArray ReadInputFile(const QString& FileName, size_t MaxBytes,
                         const std::function<void(const QByteArray& Head)>& CheckHead);
