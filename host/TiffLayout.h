// The layout a TIFF file's first image declares, read from its directory without decoding, so that a
// file libtiff would fill with invented pixels is refused and its tables are counted before libtiff
// allocates them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct TTiffLayout {
    // Strips or tiles the first image holds, as libtiff keeps an offset and a byte count for each.
    uint64_t Pieces = 0;
    // Why the data cannot be trusted as a picture, or empty.
    std::string Problem;
};

// True when Data starts with a TIFF or BigTIFF signature.
bool IsTiffData(const uint8_t* Data, size_t Size);

// The layout of the TIFF at Data; a directory that cannot be read here is left to the decoder.
TTiffLayout ReadTiffLayout(const uint8_t* Data, size_t Size);

// The memory libtiff needs for the tables of Pieces strips or tiles: two 64-bit entries each, and
// the tag's own data while one of them is converted.
constexpr uint64_t TiffTableBytes(uint64_t Pieces) {
    return 24 * Pieces;
}
