// JPEG through libjpeg-turbo's TurboJPEG interface: decoded straight into the bitmap's rows, encoded
// straight from them, with the picture's metadata in the file's segments.
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
void DecodeJpeg(const uint8_t* Data, size_t Size, TDibImage& Into, TPictureMetadata& Metadata);

// Whether the encoder below takes Image as it is (8-bit grey palette, 24 and 32 bits).
bool IsFastJpegFormat(const TDibImage& Image);

// Encodes Image as JPEG at Quality (0..100, -1 for 75) with Metadata; a picture whose pixels are all
// grey is written with one channel. Alpha is dropped.
std::string EncodeJpeg(const TDibImage& Image, const TPictureMetadata& Metadata, int Quality);
