// The neighbourhood filters' wide sweep, for windows whose sums may pass 32 bits (areas of 2^23 pixels and
// more under one window): 64-bit sums, one strip of columns at a time on the calling thread.
//
// The sums are those of the plain sweep for the reasons given at the head of KvFilterStrips.cpp; this
// sweep differs only in keeping each column's row sums in full-height arrays instead of rings.
#include "KvFilterColumnSweep.h"

#include <algorithm>
#include <array>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace KvKernels::Detail {
namespace {

// Columns per strip, swept together on the wavefront (each with its own window sums and row sums).
constexpr int64_t KLanes = 8;

// How many rows ahead the row-wise passes prefetch.
constexpr int64_t KPrefetchRows = 16;

// Stands in for a band edge that lies outside the area.
constexpr uint8_t KZeroPixel[3] = {0, 0, 0};

// Nearest integer of a non-negative estimate; any nearby integer would do, the caller checks it.
inline int64_t NearestOf(double X) {
#if defined(__SSE2__)
    return _mm_cvtsd_si64(_mm_set_sd(X)); // rounds in the current mode (to nearest), one instruction
#else
    return int64_t(X + 0.5);
#endif
}

// Round(Sum / Count), ties to even, exactly. Inverse is 1.0 / Count. The double estimate rounded by the
// hardware (to nearest, ties to even) is the answer whenever Sum lies strictly within half a Count of
// m * Count, which the integer test proves; only ties and near-ties take the exact division.
inline int64_t RoundedMean(int64_t Sum, int64_t Count, double Inverse) {
    const int64_t m = NearestOf(double(Sum) * Inverse);
    const int64_t d = Sum - m * Count;
    if (uint64_t(2 * d + Count - 1) < uint64_t(2 * Count - 1)) [[likely]] // -Count < 2d < Count
        return m;
    const int64_t q = Sum / Count;
    const int64_t twice = 2 * (Sum - q * Count);
    return q + int64_t(twice > Count || (twice == Count && (q & 1) != 0));
}

// One lane of the wavefront: one column of the current strip, its window sums per channel (byte order
// B, G, R), pixel count and band width, and where its inputs lie.
struct TLane {
    int64_t Sum[3];
    int64_t Count;
    int64_t Band;
    double Inverse;
    int64_t Row;              // row of the next step: from -RowRadius (priming) to Height - 1
    uint8_t* Pixels;          // the column's pixels in the strip, Height x 3
    const int16_t* Edges;     // per row: entering original pixel minus leaving final pixel outside the strip
    const uint8_t* LeavingIn; // the strip column that leaves the band, when it lies in the strip; else null
    int64_t* RowSums;         // row sums of this column's band, Height x 3
    const int64_t* Previous;  // row sums of the column to the left, final where that column is done
};

// The sweep over one area; see the head of the file for why it matches the plain sweep. The area is cut
// into strips of up to KLanes columns. A strip's pixels and its band-edge differences are gathered row by row
// (the memory order of the area), the strip's columns are swept on a wavefront over that compact copy,
// and the pixels are written back: the column-wise walks never touch the area itself.
class TColumnSweep {
public:
    TColumnSweep(uint8_t* const* Rows, const TFilterGeometry& G, const uint8_t* Mix)
        : FRows(Rows), FWidth(G.Width), FHeight(G.Height), FBandRadius(G.BandRadius), FRowRadius(G.RowRadius),
          FLag(G.Lag), FStripWidth(std::min(KLanes, G.Width)), FMix(Mix) {
        const size_t columns = size_t(FStripWidth) * size_t(FHeight) * 3;
        FStrip.assign(columns, 0);
        FEdges.assign(columns, 0);
        FRowSums.assign(columns, 0);
    }

    void Run(TProgressCounter* Progress) {
        StartRowSums();
        for (int64_t first = 0; first < FWidth; first += FStripWidth) {
            const int64_t lanes = std::min(FStripWidth, FWidth - first);
            Gather(first, lanes);
            Sweep(first, lanes);
            Scatter(first, lanes);
            if (Progress) {
                Progress->Add(uint64_t(lanes) * uint64_t(FHeight));
                Progress->Poll();
            }
        }
    }

private:
    uint8_t* StripColumn(int64_t Lane) { return FStrip.data() + Lane * FHeight * 3; }
    int64_t* RowSumsOf(int64_t Lane) { return FRowSums.data() + Lane * FHeight * 3; }

    // Row sums of a band ending just left of column BandRadius, as seen by column 0 before its entering
    // column is added: they go where the strip's first lane finds its left neighbour's row sums.
    void StartRowSums() {
        int64_t* out = RowSumsOf(FStripWidth - 1);
        const int64_t right = std::min(FWidth, FBandRadius); // columns 0 .. right - 1
        for (int64_t y = 0; y < FHeight; ++y) {
            const uint8_t* line = FRows[y];
            int64_t s0 = 0, s1 = 0, s2 = 0;
            for (int64_t x = 0; x < right; ++x) {
                s0 += line[3 * x];
                s1 += line[3 * x + 1];
                s2 += line[3 * x + 2];
            }
            out[3 * y] = s0;
            out[3 * y + 1] = s1;
            out[3 * y + 2] = s2;
        }
    }

    // Copies the strip's pixels and records, per row and column, the entering pixel (original: its column
    // is not processed yet) minus the leaving pixel when that lies left of the strip (final: done).
    // A leaving column inside the strip is read from the strip during the sweep, once it is final there.
    void Gather(int64_t First, int64_t Lanes) {
        int64_t entering[KLanes], leaving[KLanes]; // byte offsets in a row; -1: outside, reads zero
        for (int64_t k = 0; k < Lanes; ++k) {
            const int64_t c = First + k;
            entering[k] = c + FBandRadius <= FWidth - 1 ? 3 * (c + FBandRadius) : -1;
            const int64_t left = c - FBandRadius - 1;
            leaving[k] = left >= 0 && left < First ? 3 * left : -1;
        }
        for (int64_t y = 0; y < FHeight; ++y) {
            const uint8_t* line = FRows[y];
            if (y + KPrefetchRows < FHeight) {
                // Each row is a new page and line: start fetching them well before they are needed.
                const uint8_t* ahead = FRows[y + KPrefetchRows];
                __builtin_prefetch(ahead + 3 * First);
                if (entering[0] >= 0) __builtin_prefetch(ahead + entering[0]);
                if (leaving[0] >= 0) __builtin_prefetch(ahead + leaving[0]);
            }
            for (int64_t k = 0; k < Lanes; ++k) {
                uint8_t* pixel = StripColumn(k) + 3 * y;
                const uint8_t* source = line + 3 * (First + k);
                pixel[0] = source[0];
                pixel[1] = source[1];
                pixel[2] = source[2];
                const uint8_t* in = entering[k] >= 0 ? line + entering[k] : KZeroPixel;
                const uint8_t* out = leaving[k] >= 0 ? line + leaving[k] : KZeroPixel;
                int16_t* edge = FEdges.data() + (k * FHeight + y) * 3;
                edge[0] = int16_t(in[0] - out[0]);
                edge[1] = int16_t(in[1] - out[1]);
                edge[2] = int16_t(in[2] - out[2]);
            }
        }
    }

    // Writes the swept strip back into the area.
    void Scatter(int64_t First, int64_t Lanes) {
        for (int64_t y = 0; y < FHeight; ++y) {
            uint8_t* line = FRows[y] + 3 * First;
            if (y + KPrefetchRows < FHeight) __builtin_prefetch(FRows[y + KPrefetchRows] + 3 * First, 1);
            for (int64_t k = 0; k < Lanes; ++k) {
                const uint8_t* pixel = StripColumn(k) + 3 * y;
                line[3 * k] = pixel[0];
                line[3 * k + 1] = pixel[1];
                line[3 * k + 2] = pixel[2];
            }
        }
    }

    // Lane k sweeps column First + k and trails lane k - 1 by Lag = RowRadius + 1 rows, the least that
    // keeps every window's inputs final; the lanes of one step are then independent of each other.
    void Sweep(int64_t First, int64_t Lanes) {
        for (int64_t k = 0; k < Lanes; ++k) {
            TLane& lane = FLanes[size_t(k)];
            const int64_t c = First + k;
            lane.Sum[0] = lane.Sum[1] = lane.Sum[2] = 0;
            lane.Count = 0;
            lane.Band = std::min(FWidth - 1, c + FBandRadius) - std::max<int64_t>(0, c - FBandRadius) + 1;
            lane.Inverse = 0.0;
            lane.Row = -FRowRadius;
            lane.Pixels = StripColumn(k);
            lane.Edges = FEdges.data() + k * FHeight * 3;
            const int64_t left = c - FBandRadius - 1;
            lane.LeavingIn = left >= First ? StripColumn(left - First) : nullptr;
            lane.RowSums = RowSumsOf(k);
            lane.Previous = RowSumsOf(k == 0 ? FStripWidth - 1 : k - 1); // only the last strip is narrower
        }
        const int64_t steps = (Lanes - 1) * FLag + FRowRadius + FHeight;
        for (int64_t t = 0; t < steps; ++t) {
            const int64_t lo = t < FRowRadius + FHeight ? 0 : (t - FRowRadius - FHeight) / FLag + 1;
            const int64_t hi = std::min(Lanes - 1, t / FLag);
            for (int64_t k = lo; k <= hi; ++k)
                Step(FLanes[size_t(k)]);
        }
    }

    // One row of a lane's column: rows below 0 only prime the window; from row 0 on the pixel is mixed.
    void Step(TLane& Lane) {
        const int64_t row = Lane.Row++;
        int64_t* sums = Lane.RowSums;
        const int64_t leaving = row - FRowRadius - 1;
        const bool leaves = leaving >= 0;
        if (leaves) {
            const int64_t* s = sums + 3 * leaving;
            Lane.Sum[0] -= s[0];
            Lane.Sum[1] -= s[1];
            Lane.Sum[2] -= s[2];
            Lane.Count -= Lane.Band;
        }
        const int64_t entering = row + FRowRadius;
        const bool enters = entering < FHeight;
        if (enters) {
            // The band's row sum moves one column right: previous row sum plus entering minus leaving.
            const int64_t* in = Lane.Previous + 3 * entering;
            const int16_t* edge = Lane.Edges + 3 * entering;
            int64_t s0 = in[0] + edge[0], s1 = in[1] + edge[1], s2 = in[2] + edge[2];
            if (Lane.LeavingIn != nullptr) {
                const uint8_t* gone = Lane.LeavingIn + 3 * entering;
                s0 -= gone[0];
                s1 -= gone[1];
                s2 -= gone[2];
            }
            int64_t* out = sums + 3 * entering;
            out[0] = s0;
            out[1] = s1;
            out[2] = s2;
            Lane.Sum[0] += s0;
            Lane.Sum[1] += s1;
            Lane.Sum[2] += s2;
            Lane.Count += Lane.Band;
        }
        if (row < 0) return;
        if (row == 0 || leaves != enters) Lane.Inverse = 1.0 / double(Lane.Count);
        uint8_t* pixel = Lane.Pixels + 3 * row;
        int64_t* own = sums + 3 * row;
        MixChannel(pixel[0], Lane.Sum[0], own[0], Lane);
        MixChannel(pixel[1], Lane.Sum[1], own[1], Lane);
        MixChannel(pixel[2], Lane.Sum[2], own[2], Lane);
    }

    // Moves one channel of the current pixel and feeds its change into the window and row sums.
    void MixChannel(uint8_t& Channel, int64_t& WindowSum, int64_t& RowSum, const TLane& Lane) {
        const int64_t mean = RoundedMean(WindowSum, Lane.Count, Lane.Inverse);
        const int value = Channel;
        const int stored = FMix[size_t(value) * 256 + size_t(mean)];
        Channel = uint8_t(stored);
        WindowSum += stored - value;
        RowSum += stored - value;
    }

    uint8_t* const* FRows;
    int64_t FWidth;
    int64_t FHeight;
    int64_t FBandRadius; // min(Radius, Width)
    int64_t FRowRadius;  // min(Radius, Height)
    int64_t FLag;        // rows by which each lane trails its left neighbour
    int64_t FStripWidth; // columns per strip
    const uint8_t* FMix;
    std::vector<uint8_t> FStrip;   // the strip's columns, Height pixels each
    std::vector<int16_t> FEdges;   // per strip column, Height x 3 band-edge differences
    std::vector<int64_t> FRowSums; // per strip column, Height x 3 row sums
    std::array<TLane, KLanes> FLanes{};
};

} // namespace

uint64_t ColumnsWorkingBytes(const TFilterGeometry& Geometry) {
    const uint64_t entries = uint64_t(std::min(KLanes, Geometry.Width)) * uint64_t(Geometry.Height) * 3;
    return entries * (sizeof(uint8_t) + sizeof(int16_t) + sizeof(int64_t)) + sizeof(TColumnSweep);
}

void SweepColumns(uint8_t* const* Rows, const TFilterGeometry& Geometry, const uint8_t* Mix,
                  TProgressCounter* Progress) {
    TColumnSweep(Rows, Geometry, Mix).Run(Progress);
}

} // namespace KvKernels::Detail
