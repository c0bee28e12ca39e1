// The generations' row copies in plain C++: one lane at a time, for any processor and for the generations
// whose rows are not whole windows (at the area's edges, and where fewer columns than lanes remain).
#include "KvFilterLanes.h"

#include <bit>
#include <cstring>

namespace KvKernels::Detail {
namespace {

static_assert(std::endian::native == std::endian::little, "PixelAt reads a pixel as a little-endian word");

// The packed pixel at byte offset Offset of a row of Width pixels; one 4-byte read where the row holds
// a fourth byte behind the pixel (any pixel but its last).
inline uint32_t PixelAt(const uint8_t* Line, int64_t Offset, int64_t Width) {
    if (Offset >= 3 * (Width - 1)) return PackedPixel(Line + Offset);
    uint32_t word;
    std::memcpy(&word, Line + Offset, 4);
    return word & 0xFFFFFF; // little-endian: blue in the low byte
}

} // namespace

void PrefetchStripRow(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y) {
    if (Y + KPrefetchRows >= Copy.Height) return;
    const uint8_t* line = Rows[Y + KPrefetchRows];
    const int64_t lanes = Copy.Lanes;
    __builtin_prefetch(line + 3 * Copy.First);
    __builtin_prefetch(line + 3 * (Copy.First + lanes) - 1);
    if (Copy.Entering[0] >= 0) __builtin_prefetch(line + Copy.Entering[0]);
    if (Copy.Entering[lanes - 1] >= 0) __builtin_prefetch(line + Copy.Entering[lanes - 1] + 2);
    if (Copy.Leaving[0] >= 0) __builtin_prefetch(line + Copy.Leaving[0]);
    if (Copy.Leaving[lanes - 1] >= 0) __builtin_prefetch(line + Copy.Leaving[lanes - 1] + 2);
}

void PortableGatherRows(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1,
                        uint64_t* Inputs) {
    const int64_t ring = Copy.RingSteps;
    // Place: lane 0's in the ring.
    for (int64_t y = Y0, place = RingPlace(Y0 % ring, Copy.InputStep, ring); y < Y1;
         ++y, place = RingPlace(place, 1, ring)) {
        PrefetchStripRow(Copy, Rows, y);
        const int64_t handled = y - Copy.RowRadius; // the row whose pixel is handled as row y enters
        const uint8_t* pixelLine = handled >= 0 && handled < Copy.Height ? Rows[handled] : nullptr;
        const uint8_t* line = y < Copy.Height ? Rows[y] : nullptr;
        ForSkewedLanes(Inputs, Copy, place, [&](int64_t k, uint64_t& Input) {
            const uint32_t pixel = pixelLine ? PixelAt(pixelLine, 3 * (Copy.First + k), Copy.Width) : 0;
            const uint32_t entering =
                line && Copy.Entering[k] >= 0 ? PixelAt(line, Copy.Entering[k], Copy.Width) : 0;
            const uint32_t leaving =
                line && Copy.Leaving[k] >= 0 ? PixelAt(line, Copy.Leaving[k], Copy.Width) : 0;
            Input = InputOf(pixel, EdgeOf(entering, leaving));
        });
    }
}

void PortableScatterRows(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1,
                         const uint32_t* Pixels) {
    const int64_t ring = Copy.RingSteps;
    for (int64_t y = Y0, place = RingPlace(Y0 % ring, Copy.PixelStep, ring); y < Y1;
         ++y, place = RingPlace(place, 1, ring)) {
        uint8_t* line = Rows[y] + 3 * Copy.First;
        ForSkewedLanes(Pixels, Copy, place, [&](int64_t k, const uint32_t& Pixel) {
            std::memcpy(line + 3 * k, &Pixel, 2); // little-endian: blue, green
            line[3 * k + 2] = uint8_t(Pixel >> 16);
        });
    }
}

} // namespace KvKernels::Detail
