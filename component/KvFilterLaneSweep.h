// The lane kernel of the neighbourhood filters, written once over a vector-operations type V: eight 32-bit
// integer lanes (V::TI), eight single-precision lanes (V::TF) and the operations below. Each instruction
// set instantiates it with its own V in its own translation unit (KvFilterLanes*.cpp); V has internal
// linkage there, so no instantiation is shared between units compiled for different processors.
//
// One step, per lane and channel, is the sweep's step for one pixel of the lane's column (see the head of
// KvFilterStrips.cpp for why the sums are those of the plain sweep):
//   entering row sum = left neighbour's final row sum of that row + entering pixel - leaving pixel
//   window sum      += entering row sum - final row sum of the row that leaves the window
//   mean             = Round(window sum / count), ties to even, exactly (QuotientMean, WideMean)
//   stored           = Mix[value, mean]; the change goes into the window sum and the row's final row sum.
// Priming steps (the lane's row below 0) only add entering rows; draining steps (row past the last) only
// drop leaving ones: there the lane's entering row sums and pixel changes are zero, by construction of
// the inputs (edges of no difference and zero pixels off the lane's rows, zero row sums off the area) and by
// the mask.
#pragma once

#include "KvFilterLanes.h"

#include <algorithm>
#include <cstdint>

namespace KvKernels::Detail {

// The integer nearest to Sum / Count, ties to even, per lane, for 0 <= Sum <= 255 * Count and
// 1 <= Count < 2^23, from the double-precision quotient. Sum and Count are exact in double, and the quotient
// q is correctly rounded. A tie q = k + 1/2 is exact, and the conversion rounds it to even as the rule does.
// Any other q lies at least 1 / (2 Count) > 2^-24 from the nearest half-integer, far more than half the
// spacing of doubles below 256 (2^-45), so it converts to q's nearest integer. Other lanes give some value
// that the caller masks out.
template <class V> inline typename V::TI WideMean(typename V::TI Sum, typename V::TI Count) {
    return V::And(V::NearestQuotient(Sum, Count), V::Set(255)); // the lookup stays in the table
}

// The same mean where every window holds fewer than 2^16 pixels, from the single-precision quotient alone.
// Sum < 255 * 2^16 < 2^24 and Count convert exactly, and fl(Sum / Count) is the correctly rounded quotient
// q. A tie q = k + 1/2 (k < 256) is a float, so the quotient is exactly it and the conversion, rounding to
// nearest even, decides it as the rule does. Any other q lies at least 1 / (2 Count) > 2^-17 from the nearest
// half-integer, more than half the spacing of floats below 256 (2^-16), so fl(q) stays strictly on q's side
// of it and converts to q's nearest integer. Lanes outside those bounds give some value that the caller
// masks.
template <class V> inline typename V::TI QuotientMean(typename V::TI Sum, typename V::TF Count) {
    return V::And(V::RoundToInt(V::DivF(V::ToFloat(Sum), Count)),
                  V::Set(255)); // the lookup stays in the table
}

// Offset of a lane without a column: its row stays far below 0 at every step, so it never handles a pixel.
constexpr int32_t KInactiveOffset = int32_t(1) << 30;

// Runs steps First .. End - 1 of a thread's sweep (see TLaneStrip for the layout of the buffers), with
// Vectors registers of lanes (Strip.Lanes = 8 Vectors); register j holds lanes 8j .. 8j + 7.
// SmallWindows: every window of the area holds fewer than 2^16 pixels.
//
// Why a lane may take its next column with only its window sum cleared. The scheduler gives lane k its next
// column no sooner than Height + RowRadius + 1 steps after it entered row 0 of the last one, that is after
// it handled the last row. Its entering row sums of the last steps are of rows below the area, which its
// left neighbour passes on as zero (a lane that has already taken its next column primes it, and priming
// finals are the entering sums of RowRadius steps before: of the old column, below the area, zero). So in
// the new column's first RowRadius steps the entered sums read from the ring are zero as for a fresh lane;
// the final row sums read as leaving ones in its first Lag steps are the old column's and are masked (a
// leaving row sum is of a row at least RowRadius + 1 above the handled one: none where that is row 0 or
// above); the window sum is cleared when the lane takes the column. Lane k takes its column exactly Lag
// steps after lane k - 1, so from its first step on the left neighbour passes it the row sums of its new
// left column.
template <class V, bool SmallWindows, int Vectors>
void SweepLanes(TLaneStrip& Strip, int64_t First, int64_t End) {
    using TI = typename V::TI;
    constexpr int N = KVectorLanes, L = N * Vectors;
    const int64_t radius = Strip.RowRadius;
    const int inShift = Strip.InShift;
    TI sum[Vectors][3];
    // The previous step's final row sums, kept in registers: the next step's entering sums depend on them.
    TI finals[Vectors][3];
    // Each lane's row at step t is t - First - offset; offsets count from First, so they fit 32 bits.
    TI offset[Vectors], band[Vectors], active[Vectors], inMask[Vectors];
    int64_t lastOffset = 0, laneZeroStart = 0; // the last lane's step of row 0 (handled), lane 0's (entered)
    int64_t nextRotation = INT64_MAX;
    int32_t* rowSumsOut = Strip.RowSumsOut;
    const auto loadLanes = [&] {
        alignas(32) int32_t offsets[L], masks[L];
        nextRotation = INT64_MAX;
        for (int k = 0; k < L; ++k) {
            offsets[k] = Strip.Active[k] ? int32_t(Strip.Start[k] + radius - First) : KInactiveOffset;
            masks[k] = Strip.Active[k] && inShift > 0 && k >= inShift ? -1 : 0;
            nextRotation = std::min(nextRotation, Strip.RotateAt[k]);
        }
        for (int j = 0; j < Vectors; ++j) {
            offset[j] = V::Load(offsets + N * j);
            inMask[j] = V::Load(masks + N * j);
            band[j] = V::Load(Strip.Band + N * j);
            active[j] = V::Load(Strip.Active + N * j);
        }
        lastOffset = Strip.Active[L - 1] ? Strip.Start[L - 1] + radius : INT64_MAX;
        laneZeroStart = Strip.Active[0] ? Strip.Start[0] : INT64_MAX;
        rowSumsOut = Strip.RowSumsOut;
    };
    // The lanes whose next column starts at step T take it, with an empty window.
    const auto rotate = [&](int64_t T) {
        for (int j = 0; j < Vectors; ++j)
            for (int c = 0; c < 3; ++c)
                V::Store(Strip.Sums + c * KLaneCount + N * j, sum[j][c]);
        for (int k = 0; k < L; ++k)
            if (Strip.RotateAt[k] == T) {
                for (int c = 0; c < 3; ++c)
                    Strip.Sums[c * KLaneCount + k] = 0;
                Strip.Start[k] = Strip.NextStart[k];
                Strip.Band[k] = Strip.NextBand[k];
                Strip.Active[k] = Strip.NextActive[k];
                Strip.RotateAt[k] = INT64_MAX;
                if (k == L - 1) Strip.RowSumsOut = Strip.NextRowSumsOut;
            }
        for (int j = 0; j < Vectors; ++j)
            for (int c = 0; c < 3; ++c)
                sum[j][c] = V::Load(Strip.Sums + c * KLaneCount + N * j);
        loadLanes();
    };
    loadLanes();
    // The rings hold RowRadius + 1 steps: the slot of step t is that of step t - RowRadius - 1, whose final
    // row sums leave the window at step t and are read before they are overwritten, and the next slot is
    // that of step t - RowRadius, whose entering row sums become final at step t. Storing to the slot just
    // read keeps the rings' stores in the cache.
    const int64_t ringSlots = Strip.Lag;
    int64_t slot = First % ringSlots;
    const int64_t previousSlot = (slot == 0 ? ringSlots : slot) - 1;
    for (int j = 0; j < Vectors; ++j)
        for (int c = 0; c < 3; ++c) {
            sum[j][c] = V::Load(Strip.Sums + c * KLaneCount + N * j);
            finals[j][c] = V::Load(Strip.Final + LaneSlot(previousSlot, c, L) + N * j);
        }
    const TI zero = V::Set(0), one = V::Set(1), byte = V::Set(255), nine = V::Set(511), bias = V::Set(255);
    const TI height = V::Set(Strip.Height);
    const TI lastRow = V::Set(Strip.Height - 1), rowRadius = V::Set(Strip.RowRadius);
    // The buffers in locals: stores through them could otherwise alias the strip and force reloads.
    uint32_t* const stripPixels = Strip.Pixels;
    uint64_t* const stripInputs = Strip.Inputs;
    int32_t* const enteringRing = Strip.Entering;
    int32_t* const finalRing = Strip.Final;
    const uint8_t* const mix = Strip.Mix;
    const int32_t* const rowSumsIn = Strip.RowSumsIn;
    const int64_t sumsFrom = Strip.SumsFrom;
    const int64_t rows = Strip.Height;
    // The leaving column of lane k is lane k - InShift: its pixel of lane k's entering row was final
    // InDelay steps ago, InShift lanes lower.
    const int64_t inDelay = inShift > 0 ? int64_t(inShift) * Strip.Lag - radius : 0;
    // The places of step t and of step t - InDelay in the rings of the skewed buffers.
    const int64_t ring = Strip.RingSteps;
    int64_t place = First % ring;
    int64_t delayedPlace = ((First - inDelay) % ring + ring) % ring;
    for (int64_t t = First; t < End; ++t) {
        if (t == nextRotation) rotate(t);
        const int64_t nextSlot = slot + 1 == ringSlots ? 0 : slot + 1;
        // Lane 0's entering row comes from the column left of its generation.
        const int64_t enteringRow = laneZeroStart == INT64_MAX ? -1 : t - laneZeroStart;
        const int32_t* leftSums = rowSumsIn && enteringRow >= 0 && enteringRow < rows
                                      ? rowSumsIn + 3 * (enteringRow - sumsFrom)
                                      : nullptr;
        TI carry[3];
        for (int c = 0; c < 3; ++c)
            carry[c] = V::Set(leftSums ? leftSums[c] : 0);
#pragma GCC unroll 2 // the registers' state stays in registers
        for (int j = 0; j < Vectors; ++j) {
            // Each lane's row, whether it handles a pixel now, and its window's pixel count (1 where none).
            const TI row = V::Sub(V::Set(int32_t(t - First)), offset[j]);
            const TI handles = V::AndNot(V::Greater(zero, row), V::Greater(height, row));
            const TI below = V::Greater(row, zero); // rows whose window may have a row to drop
            const TI top = V::Max(zero, V::Sub(row, rowRadius));
            const TI bottom = V::Min(lastRow, V::Add(row, rowRadius));
            const TI count = V::Max(V::MulLo(V::Add(V::Sub(bottom, top), one), band[j]), one);
            const auto countF = V::ToFloat(count);
            TI pixels, edges;
            V::LoadInputs(stripInputs + PixelSlot(place, L) + N * j, pixels, edges);
            V::ClearInputs(stripInputs + PixelSlot(place, L) + N * j);
            TI gone = zero; // the leaving pixel where it lies in the generation
            // Lanes below InShift read the front or another step's entries here; InMask drops them.
            if (inDelay > 0 && t >= inDelay)
                gone = V::And(V::Load(stripPixels + PixelSlot(delayedPlace, L) + N * j - inShift), inMask[j]);
            TI changes = zero;
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                // Lane k's entering row is the row lane k - 1 finished at the step before; lane 0's comes
                // from the column left of its generation.
                const TI edge = V::Sub(V::Sub(V::And(V::ShiftRight(edges, 9 * c), nine), bias),
                                       V::And(V::ShiftRight(gone, 8 * c), byte));
                const TI entering = V::And(V::Add(V::ShiftIn(finals[j][c], carry[c]), edge), active[j]);
                carry[c] = finals[j][c];
                V::Store(enteringRing + LaneSlot(slot, c, L) + N * j, entering);
                const TI leaving = V::And(V::Load(finalRing + LaneSlot(slot, c, L) + N * j), below);
                const TI windowSum = V::Add(sum[j][c], V::Sub(entering, leaving));
                const TI value = V::And(V::ShiftRight(pixels, 8 * c), byte);
                const TI mean =
                    SmallWindows ? QuotientMean<V>(windowSum, countF) : WideMean<V>(windowSum, count);
                const TI stored = V::Lookup(mix, V::Or(V::ShiftLeft(value, 8), mean));
                const TI change = V::And(V::Sub(stored, value), handles);
                sum[j][c] = V::Add(windowSum, change);
                // The handled row's row sum, final now: it entered RowRadius steps ago.
                const TI entered = V::Load(enteringRing + LaneSlot(nextSlot, c, L) + N * j);
                finals[j][c] = V::Add(entered, change);
                V::Store(finalRing + LaneSlot(slot, c, L) + N * j, finals[j][c]);
                // Every channel stays within 0..255, so the changes add to the packed pixel without carries.
                changes = V::Add(changes, V::ShiftLeft(change, 8 * c));
            }
            V::Store(stripPixels + PixelSlot(place, L) + N * j, V::Add(pixels, changes));
        }
        const int64_t doneRow = t - lastOffset;
        if (rowSumsOut && doneRow >= 0 && doneRow < rows)
            for (int c = 0; c < 3; ++c)
                rowSumsOut[3 * doneRow + c] = finalRing[LaneSlot(slot, c, L) + size_t(L - 1)];
        slot = nextSlot;
        place = RingPlace(place, 1, ring);
        delayedPlace = RingPlace(delayedPlace, 1, ring);
    }
    for (int j = 0; j < Vectors; ++j)
        for (int c = 0; c < 3; ++c)
            V::Store(Strip.Sums + c * KLaneCount + N * j, sum[j][c]);
}

template <class V> void SweepLanes(TLaneStrip& Strip, int64_t First, int64_t End) {
    if (Strip.Lanes == KLaneCount) {
        if (Strip.SmallWindows)
            SweepLanes<V, true, KVectors>(Strip, First, End);
        else
            SweepLanes<V, false, KVectors>(Strip, First, End);
    } else {
        if (Strip.SmallWindows)
            SweepLanes<V, true, 1>(Strip, First, End);
        else
            SweepLanes<V, false, 1>(Strip, First, End);
    }
}

} // namespace KvKernels::Detail
