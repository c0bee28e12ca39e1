// A picture's metadata in PNG chunks and JPEG segments, and what each written format cannot hold.
#pragma once

#include <pictura/PictureMetadata.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Reads iCCP, pHYs, eXIf and the XMP iTXt chunk of a PNG whose chunks are whole; chunks that are damaged
// (checksum) or do not decompress are skipped, as libpng skips them.
void ReadPngMetadataChunks(const uint8_t* Data, size_t Size, TPictureMetadata& Metadata);

// The chunks (type, data) that carry Metadata in a PNG, in the order they go before the image data.
std::vector<std::pair<std::string, std::string>> PngMetadataChunks(const TPictureMetadata& Metadata);

// Reads the JFIF resolution, the EXIF, XMP and ICC segments of JPEG data (up to its first scan).
void ReadJpegMetadata(const uint8_t* Data, size_t Size, TPictureMetadata& Metadata);

// Jpeg, as the JPEG encoder wrote it (starting with a JFIF segment or not), with Metadata's segments put
// after the start and its resolution in the JFIF segment.
std::string WithJpegMetadata(const uint8_t* Jpeg, size_t Size, const TPictureMetadata& Metadata);

// One line per part of Metadata that a file of Extension (lower case) cannot hold, for notes.
std::vector<std::string> MetadataLosses(const TPictureMetadata& Metadata, const std::string& Extension);
