// EXIF and XMP in TIFF files. A TIFF file keeps EXIF as tags of its first directory (make, model,
// orientation, ...) and as EXIF and GPS directories that one points to; elsewhere EXIF is a standalone
// TIFF structure (TPictureMetadata::Exif). These convert between the two by copying the directories'
// entries and values as they are, in the same byte order, so that no value is decoded or rounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The EXIF block (empty when the file has none beyond an upright orientation) and the XMP packet of
// the first directory of the classic TIFF at Data. Entries whose values lie outside Data, or would take
// the block past 16 MiB, are left out.
void ReadTiffExifXmp(const uint8_t* Data, size_t Size, std::string& Exif, std::string& Xmp);

// Whether Exif is a big-endian structure ("MM"): a TIFF file holding it is written in its byte order.
bool ExifBigEndian(const std::string& Exif);

// What a TIFF file written in Exif's byte order holds of Exif besides the orientation.
struct TTiffExif {
    std::vector<std::pair<uint16_t, std::string>> Texts; // text tags of the first directory
    std::string Directories; // the EXIF and GPS directories with their values, laid out to start at Base
    uint32_t ExifOffset = 0, GpsOffset = 0; // where they start in the file, 0 when absent
};
TTiffExif TiffExifLayout(const std::string& Exif, uint32_t Base);

// The tags of Exif's first directory that a TIFF file does not take over: all but the ones above and
// those that describe the block's own layout and resolution, which the picture's replace.
std::vector<uint16_t> TiffExifLeftOut(const std::string& Exif);
