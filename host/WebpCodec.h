// WebP through libwebp: the framework's writer (lossy or lossless, with the picture's ICC profile, EXIF
// and XMP in the file's chunks), and the metadata of any WebP that Qt's reader decodes.
#pragma once

#include <pictura/PictureMetadata.h>
#include <pictura/PixelFormat.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Reads the EXIF, XMP and ICC chunks of a whole WebP file.
void ReadWebpMetadata(const uint8_t* Data, size_t Size, TPictureMetadata& Metadata);

// Encodes Image as WebP: lossy at Quality (0..99, -1 for 75), lossless at 100, keeping every pixel
// (also the colour under transparent ones). Compression 0..9 is the effort: libwebp's lossless level,
// for lossy pictures its method (0..6, two thirds of the level); -1 is the default. WebP has no grey
// layout: grey pictures are written as colour. Throws EInvalidGraphic with libwebp's reason.
std::string EncodeWebp(const TDibImage& Image, const TPictureMetadata& Metadata, int Quality,
                       int Compression);

// The default lossless level of EncodeWebp.
constexpr int DefaultWebpCompression = 3;
