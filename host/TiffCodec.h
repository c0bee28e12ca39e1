// TIFF through libtiff: the framework's writer (grey, palette, RGB and RGBA, uncompressed or deflated,
// with the picture's metadata), and the metadata of any TIFF that Qt's reader decodes.
#pragma once

#include <pictura/PictureMetadata.h>
#include <pictura/PixelFormat.h>

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>

// Reads the EXIF and XMP of a TIFF (the ICC profile and resolution come from Qt's reader).
void ReadTiffMetadata(const uint8_t* Data, size_t Size, TPictureMetadata& Metadata);

// Writes Image as a TIFF with Metadata. Compression 0 writes the samples as they are, 1..9 deflates
// them at zlib's level (with the horizontal predictor for grey and colour), -1 is the default. A
// picture whose pixels are all grey is written with one channel, a black-and-white one bilevel;
// palettes of 1, 4 and 8 bits as they are; 15- and 16-bit pixels as 24-bit colour. Throws EInvalidGraphic
// with libtiff's reason. RowsWritten, when given, hears the rows written so far.
QByteArray EncodeTiff(const TDibImage& Image, const TPictureMetadata& Metadata, int Compression,
                      const std::function<void(int Rows)>& RowsWritten = {});

// The default level of EncodeTiff.
constexpr int DefaultTiffCompression = 2;
