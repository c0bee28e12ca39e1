// Reads the first image directory of a TIFF (classic or BigTIFF, either byte order); no byte outside
// Data is read.
#include "TiffLayout.h"

#include "ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace {

enum : uint16_t {
    TagImageWidth = 256,
    TagImageLength = 257,
    TagBitsPerSample = 258,
    TagPhotometric = 262,
    TagStripOffsets = 273,
    TagSamplesPerPixel = 277,
    TagRowsPerStrip = 278,
    TagStripByteCounts = 279,
    TagPlanarConfig = 284,
    TagColorMap = 320,
    TagTileWidth = 322,
    TagTileLength = 323,
    TagTileOffsets = 324,
    TagTileByteCounts = 325,
};
constexpr uint16_t PhotometricPalette = 3;
constexpr uint16_t PlanarSeparate = 2;
constexpr uint64_t MaxPieces = uint64_t(1) << 40;

class TTiffReader {
public:
    TTiffReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size), FLittle(Data[0] == 'I') {}

    bool Has(uint64_t At, uint64_t Bytes) const { return At <= FSize && Bytes <= FSize - At; }
    uint64_t Get(uint64_t At, int Bytes) const { return EndianValue(FData + At, Bytes, FLittle); }

private:
    const uint8_t* FData;
    size_t FSize;
    bool FLittle;
};

struct TEntry {
    bool Present = false;
    uint16_t Type = 0;
    uint64_t Count = 0;
    uint64_t Value = 0; // the first value when it is held in the entry itself
};

int TypeBytes(uint16_t Type) {
    switch (Type) {
    case 1:
    case 2:
    case 6:
    case 7:
        return 1; // clang-format off
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: case 16: case 17: case 18: return 8; // clang-format on
    default:
        return 0;
    }
}

uint64_t Ceil(uint64_t A, uint64_t B) {
    return B == 0 ? 0 : A / B + (A % B != 0);
}

} // namespace

bool IsTiffData(const uint8_t* Data, size_t Size) {
    return Size >= 4 &&
           ((Data[0] == 'I' && Data[1] == 'I' && (Data[2] == 42 || Data[2] == 43) && Data[3] == 0) ||
            (Data[0] == 'M' && Data[1] == 'M' && Data[2] == 0 && (Data[3] == 42 || Data[3] == 43)));
}

TTiffLayout ReadTiffLayout(const uint8_t* Data, size_t Size) {
    TTiffLayout layout;
    if (!IsTiffData(Data, Size) || Size < 8) return layout;
    const TTiffReader r(Data, Size);
    const bool big = r.Get(2, 2) == 43;
    const int offsetBytes = big ? 8 : 4, countBytes = big ? 8 : 2, entryBytes = big ? 20 : 12;
    if (big && (!r.Has(8, 8) || r.Get(4, 2) != 8)) return layout;
    const uint64_t directory = r.Get(big ? 8 : 4, offsetBytes);
    if (!r.Has(directory, uint64_t(countBytes))) return layout;
    const uint64_t entries = r.Get(directory, countBytes);
    if (entries > (Size - directory - uint64_t(countBytes)) / uint64_t(entryBytes)) return layout;

    TEntry tags[TagTileByteCounts - TagImageWidth + 1];
    for (uint64_t e = 0; e < entries; ++e) {
        const uint64_t at = directory + uint64_t(countBytes) + e * uint64_t(entryBytes);
        const uint16_t tag = uint16_t(r.Get(at, 2));
        if (tag < TagImageWidth || tag > TagTileByteCounts) continue;
        TEntry& entry = tags[tag - TagImageWidth];
        entry.Present = true;
        entry.Type = uint16_t(r.Get(at + 2, 2));
        entry.Count = r.Get(at + 4, big ? 8 : 4);
        const int bytes = TypeBytes(entry.Type);
        if (bytes > 0 && bytes <= offsetBytes) entry.Value = r.Get(at + (big ? 12 : 8), bytes);
    }
    const auto tag = [&](uint16_t Tag) -> const TEntry& { return tags[Tag - TagImageWidth]; };
    const auto value = [&](uint16_t Tag, uint64_t Default) {
        return tag(Tag).Present ? tag(Tag).Value : Default;
    };

    const uint64_t width = value(TagImageWidth, 0), height = value(TagImageLength, 0);
    const uint64_t planes = value(TagPlanarConfig, 1) == PlanarSeparate ? value(TagSamplesPerPixel, 1) : 1;
    const bool tiled = tag(TagTileOffsets).Present;
    const uint16_t offsets = tiled ? TagTileOffsets : TagStripOffsets;
    const uint16_t counts = tiled ? TagTileByteCounts : TagStripByteCounts;
    // Counted up to 2^40 pieces, far over any limit: the products never wrap round to a small count.
    const auto product = [](uint64_t A, uint64_t B) {
        return A != 0 && B > MaxPieces / A ? MaxPieces : std::min(A * B, MaxPieces);
    };
    const uint64_t expected =
        tiled ? product(product(Ceil(width, value(TagTileWidth, 0)), Ceil(height, value(TagTileLength, 0))),
                        planes)
              : product(Ceil(height, value(TagRowsPerStrip, UINT32_MAX)), planes);
    layout.Pieces = std::min(std::max({expected, tag(offsets).Count, tag(counts).Count}), MaxPieces);

    const char* what = tiled ? "tile" : "strip";
    // libtiff takes the missing offsets and byte counts as zero, and so the file's first bytes as pixels.
    if (width > 0 && height > 0 && expected > 0) {
        for (const uint16_t t : {offsets, counts})
            if (tag(t).Present && tag(t).Count < expected)
                return {layout.Pieces, "the TIFF directory lists " + std::to_string(tag(t).Count) + " " +
                                           what + (t == offsets ? " offsets" : " byte counts") + " for " +
                                           std::to_string(expected) + " " + what + "s"};
    }
    if (value(TagPhotometric, 0) == PhotometricPalette) {
        const uint64_t bits = value(TagBitsPerSample, 1);
        if (!tag(TagColorMap).Present) return {layout.Pieces, "the TIFF palette picture has no colour map"};
        if (bits < 16 && tag(TagColorMap).Count != 3 * (uint64_t(1) << bits))
            return {layout.Pieces, "the TIFF colour map has " + std::to_string(tag(TagColorMap).Count) +
                                       " entries, not " + std::to_string(3 * (uint64_t(1) << bits))};
    }
    return layout;
}
