// JPEG through libjpeg-turbo: decoded by its libjpeg interface straight into the bitmap's rows
// (JpegDecoding.cpp) and encoded by it straight from them (JpegCodec.cpp, with Huffman tables made for the
// picture in JpegHuffman.cpp), with the picture's metadata in the file's segments.
#pragma once

#include <pictura/PictureMetadata.h>
#include <pictura/PixelFormat.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The size of Data's picture and whether the decoder below takes it (grey or colour, not CMYK: those go
// to Qt's reader); false when the header cannot be read.
bool FastJpegHeader(const uint8_t* Data, size_t Size, int& Width, int& Height, bool& Grey);

// Decodes JPEG Data, whose header FastJpegHeader accepted, into Into (BGR, or grey indices with a grey
// palette, as Qt's reader gives them) and its metadata into Metadata. Any warning of the decoder
// (damaged or missing data, which it would fill in) refuses the picture: EInvalidGraphic with its reason.
// A large single-scan picture is decoded in Parts (0: 2 where there are 2 cores, else 1; at most 2) on as
// many threads, with the same pixels and refusals as in one.
void DecodeJpeg(const uint8_t* Data, size_t Size, TDibImage& Into, TPictureMetadata& Metadata, int Parts = 0);

// Whether the encoder below takes Image as it is (8-bit grey palette, 24 and 32 bits).
bool IsFastJpegFormat(const TDibImage& Image);

// Encodes Image as JPEG at Quality (0..100, -1 for 75), 4:2:0, with the accurate DCT and Huffman tables
// counted from a sample of the picture's rows (the same on every strip), with Metadata; a picture whose
// pixels are all grey is written with one channel. Alpha is dropped. A large picture is encoded in strips of
// McuRows rows of MCUs (0: from the picture's size) on up to Threads threads (0: one a core, at most 8),
// joined by restart markers: the bytes depend on the picture alone, never on the threads.
std::string EncodeJpeg(const TDibImage& Image, const TPictureMetadata& Metadata, int Quality, int Threads = 0,
                       int McuRows = 0);
