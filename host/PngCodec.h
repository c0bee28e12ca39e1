// PNG through libpng (reading, straight into the bitmap's rows) and the framework's own writer
// (filtered rows deflated in independent strips on every core, one standard zlib stream).
#pragma once

#include <pictura/PictureMetadata.h>
#include <pictura/PixelFormat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Whether the reader below decodes Data's kind of PNG (8 or 16 bits a sample, palettes of 8 bits);
// pictures of fewer bits go to Qt's reader.
bool IsFastPng(const uint8_t* Data, size_t Size);

// The bitmap a PNG that IsFastPng accepts becomes, with its bytes: for the memory check before decoding.
uint64_t FastPngBitmapBytes(const uint8_t* Data, size_t Size);

// Decodes a PNG that IsFastPng accepts, whose chunks PngChunkProblem found whole, into Into (as
// Qt's reader would: BGR, BGRA, grey or palette indices) and its metadata into Metadata. Throws
// EInvalidGraphic with libpng's reason. 16-bit samples are rounded to 8 bits, as Qt rounds them.
// ReleaseRead, when given, is called every few MiB read, to drop the file's pages read so far.
void DecodePng(const uint8_t* Data, size_t Size, TDibImage& Into, TPictureMetadata& Metadata,
               const std::function<void()>& ReleaseRead = {});

// Reads the metadata of any PNG (also those Qt's reader decodes): ICC profile, resolution, EXIF, XMP.
void ReadPngMetadata(const uint8_t* Data, size_t Size, TPictureMetadata& Metadata);

// Whether the writer below takes Image's pixel format (1, 4, 8, 24 and 32 bits).
bool IsFastPngFormat(const TDibImage& Image);

// Writes Image as PNG through Write, in order, a part at a time. Compression 0..9 is zlib's level (-1
// the default); a picture whose pixels are all grey is written with one channel (two with alpha).
// The result does not depend on the number of threads. RowsWritten, when given, hears the rows written so
// far after each strip (about 1 MiB of rows), in order, so the count only grows.
void EncodePng(const TDibImage& Image, const TPictureMetadata& Metadata, int Compression,
               const std::function<void(const void* Data, size_t Size)>& Write,
               const std::function<void(int Rows)>& RowsWritten = {});

// The default zlib level of EncodePng.
constexpr int DefaultPngCompression = 2;
