// Reading and writing the framework's own bitmap file format (BMP) to and from TDibImage.
#pragma once

#include <pictura/PixelFormat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// True when Data starts with a BMP-family signature ("BM", or an OS/2 type such as "BA" that
// DecodeBmp recognises and refuses with a clear reason).
bool IsBmpData(const uint8_t* Data, size_t Size);

// Decodes a whole BMP file held in memory, keeping its depth as the pixel format (1/4/8 bit ->
// pf1bit/pf4bit/pf8bit with a palette of 2^bpp entries, 2 bit -> pf4bit, 16 bit 5-5-5 -> pf15bit,
// 5-6-5 -> pf16bit, other 16-bit masks -> pf24bit, 24 bit -> pf24bit, 32 bit -> pf32bit, and any
// alpha bit field -> pf32bit with HasAlpha). Throws EInvalidGraphic with the reason for anything
// malformed, truncated or unsupported, and EOutOfResources for sizes over the framework's limits.
// ReleaseRead, when given, is called after every few MiB of Data read: what was read before may leave
// memory (a mapped file's pages).
TDibImage DecodeBmp(const uint8_t* Data, size_t Size, const std::function<void()>& ReleaseRead = {});

// Encodes Image as a bottom-up BMP file at its own depth; a pf32bit image with alpha gets a
// 124-byte header with an alpha mask. Throws EInvalidGraphic for an empty, pfCustom or
// inconsistent image. RowsWritten, when given, hears the rows encoded so far, about every hundredth of
// them.
std::vector<uint8_t> EncodeBmp(const TDibImage& Image, const std::function<void(int Rows)>& RowsWritten = {});
