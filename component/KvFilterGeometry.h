// The shape of one filter run, derived once from the area and the radius and shared by both sweeps and the
// choice between them.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>

namespace KvKernels::Detail {

struct TFilterGeometry {
    int64_t Width;
    int64_t Height;
    int64_t BandRadius; // min(Radius, Width): a radius beyond the area reaches no further than the area
    int64_t RowRadius;  // min(Radius, Height)
    int64_t Lag;        // RowRadius + 1: rows by which a column trails its left neighbour
    // Whether the 32-bit strips can take the area: windows of fewer than 2^23 pixels keep every window sum
    // (at most 255 a pixel) and every mean times its count below 2^31, and the steps of a strip (about
    // Height + 16 * Lag) stay far below 2^31. Otherwise the 64-bit column sweep runs.
    bool Strips;
    // Whether every window holds fewer than 2^16 pixels (the single-precision mean is exact there).
    bool SmallWindows;
};

// Precondition: Width, Height >= 1 and Radius >= 0 (the control checks the radius).
inline TFilterGeometry FilterGeometry(int64_t Width, int64_t Height, int64_t Radius) {
    assert(Width >= 1 && Height >= 1 && Radius >= 0);
    TFilterGeometry g{};
    g.Width = Width;
    g.Height = Height;
    g.BandRadius = std::min(Radius, Width);
    g.RowRadius = std::min(Radius, Height);
    g.Lag = g.RowRadius + 1;
    const int64_t band = std::min(Width, 2 * g.BandRadius + 1);
    const int64_t rows = std::min(Height, 2 * g.RowRadius + 1);
    g.Strips = Height < (int64_t(1) << 25) && band * rows < (int64_t(1) << 23);
    g.SmallWindows = band * rows < (int64_t(1) << 16);
    return g;
}

} // namespace KvKernels::Detail
