// The lane wavefront of the neighbourhood filters: the eight lanes of one register or the sixteen of two,
// each sweeping a column top to bottom, so that every step advances each lane by one row. The columns come
// in generations of as many adjacent ones as there are lanes (column Lanes g + k on lane k); lane k trails
// lane k - 1 by Lag = RowRadius + 1 rows, the least that keeps every window's inputs final
// (KvFilterStrips.cpp says why), and takes its column of the next generation as soon as it has finished and
// drained the last one, so a register holds work at every step. With that lag, lane k's pixel of row y is
// handled at step Start[k] + RowRadius + y by all of its running state, so the per-step data of all lanes
// lies side by side in "skewed" buffers indexed by step.
//
// Window sums are 32-bit: the caller uses this path only for windows of fewer than 2^23 pixels, so a sum
// (at most 255 per pixel) stays below 2^31 and a mean times a count below 256 * 2^23 = 2^31.
#pragma once

#include <cstddef>
#include <cstdint>

namespace KvKernels::Detail {

// Lanes of a generation: one or two registers of eight 32-bit lanes (GenerationLanes in KvFilterStrips.cpp
// chooses). A step's time grows with the registers that hold work. Two registers hide part of one step's
// chain of dependent instructions behind the other's; one register kept full beats two that wait, where
// few columns can be in flight (about Height / Lag in the whole area, shared by the threads).
constexpr int KLaneCount = 16; // at most
constexpr int KVectorLanes = 8;
constexpr int KVectors = KLaneCount / KVectorLanes;

// Entries before the skewed pixel buffer proper, so that the kernel's shifted reads stay inside it.
constexpr size_t KPixelsFront = KLaneCount;

// A pixel in one 32-bit entry: blue in bits 0-7, green 8-15, red 16-23, zero above.
inline uint32_t PackedPixel(const uint8_t* Pixel) {
    return uint32_t(Pixel[0]) | uint32_t(Pixel[1]) << 8 | uint32_t(Pixel[2]) << 16;
}

// The edge of no difference: 255 in each channel's 9-bit field (see EdgeOf).
constexpr uint32_t KNoDifference = 255u | 255u << 9 | 255u << 18;

// A band's entering pixel minus its leaving one, in one 32-bit entry: 255 + difference of channel c
// (0..510) in bits 9c .. 9c + 8. Both pixels are packed (PackedPixel) or zero where outside the area.
inline uint32_t EdgeOf(uint32_t Entering, uint32_t Leaving) {
    const auto spread = [](uint32_t P) { return (P & 0xFF) | (P & 0xFF00) << 1 | (P & 0xFF0000) << 2; };
    return spread(Entering) + KNoDifference - spread(Leaving); // no field borrows
}

// Per step, per channel (byte order B, G, R), one value per lane of a generation of Lanes lanes: index
// (Step * 3 + Channel) * Lanes + Lane.
constexpr size_t LaneSlot(int64_t Step, int Channel, int64_t Lanes) {
    return (size_t(Step) * 3 + size_t(Channel)) * size_t(Lanes);
}

// Per step one packed pixel per lane: index Step * Lanes + Lane, Step being the step's place in a ring.
constexpr size_t PixelSlot(int64_t Step, int64_t Lanes) {
    return size_t(Step) * size_t(Lanes);
}

// Steps the skewed buffers hold as rings: a generation's gathers run at most (Lanes - 1) * Lag steps ahead
// of the sweep (the last lane's inputs), and its write-backs read that far behind it (the first lane's
// results), a chunk of Chunk steps at a time.
constexpr int64_t RingStepsFor(int64_t Lag, int64_t Chunk, int64_t Lanes) {
    return (Lanes - 1) * Lag + Chunk;
}

// The place in a ring of Ring steps of the step Base + Ahead, where Base is already a place (below Ring)
// and Ahead is below Ring.
inline int64_t RingPlace(int64_t Base, int64_t Ahead, int64_t Ring) {
    const int64_t p = Base + Ahead;
    return p >= Ring ? p - Ring : p;
}

// A lane's input at one step: the packed pixel it handles in the low half, the edge of the row that enters
// its window in the high half. Each row copy writes both halves with one store.
constexpr uint64_t InputOf(uint32_t Pixel, uint32_t Edge) {
    return uint64_t(Edge) << 32 | Pixel;
}

// The input of a lane off its rows: no pixel, an edge of no difference.
constexpr uint64_t KNeutralInput = InputOf(0, KNoDifference);

// Everything one thread's sweep reads and writes. Filled by the scheduler, consumed by a lane kernel. Steps
// count on the thread's own clock, from 0 at its first generation.
struct TLaneStrip {
    int32_t Lanes;     // lanes of a generation: 8 or 16 (one or two registers)
    int32_t Height;    // rows of the area
    int32_t RowRadius; // min(Radius, Height)
    int32_t Lag;       // RowRadius + 1; also the steps the rings Entering and Final hold
    int32_t
        InShift; // BandRadius + 1 when a band's leaving column lies in the generation for some lane; else 0
    int32_t RingSteps; // steps the skewed buffers hold (RingStepsFor); step t lies at place t mod RingSteps
    bool SmallWindows; // every window of the area holds fewer than 2^16 pixels
    // Each lane's column: the step at which it enters row 0 (and handles row -RowRadius), its band's columns,
    // and whether it has a column (-1) or none (0; it never handles a pixel).
    int64_t Start[KLaneCount];
    int32_t Band[KLaneCount];
    int32_t Active[KLaneCount];
    // The column each lane takes next, at step RotateAt (INT64_MAX: none). By then the lane has drained its
    // column: its window sum and its entries in the rings are zero again.
    int64_t RotateAt[KLaneCount];
    int64_t NextStart[KLaneCount];
    int32_t NextBand[KLaneCount];
    int32_t NextActive[KLaneCount];
    int32_t Sums[3 * KLaneCount]; // window sums, carried from one call to the next
    const uint8_t* Mix;           // stored value of (value, mean) at value * 256 + mean; 3 bytes of slack
    // Final row sums of the band of the column left of lane 0's column, 3 a row, from row SumsFrom on (the
    // rows the steps of the call enter); null where lane 0 has no column. Constant within a call.
    const int32_t* RowSumsIn;
    int64_t SumsFrom;
    // Height x 3: final row sums of the band of the last lane's column, for the next generation; null: not
    // needed. NextRowSumsOut replaces it when the last lane takes its next column.
    int32_t* RowSumsOut;
    int32_t* NextRowSumsOut;
    // Skewed inputs (InputOf), a ring: at PixelSlot(step mod RingSteps) + lane, lane k's pixel of row y and
    // edge (EdgeOf) of row y + RowRadius at step y + Start[k] + RowRadius; KNeutralInput off its rows. The
    // sweep puts KNeutralInput back into every entry it has read, so the ring is neutral wherever no gather
    // wrote.
    uint64_t* Inputs;
    uint32_t* Pixels;  // skewed results, a ring as Inputs; zero off the lanes' rows; KPixelsFront readable
                       // entries before it
    int32_t* Entering; // ring of entering row sums by step
    int32_t* Final;    // ring of final row sums of the handled row by step
};

// How one generation's rows are copied between the area and its thread's skewed buffers.
struct TRowCopy {
    int64_t SlotLanes;            // lanes of a generation, entries of a step in the rings: 8 or 16
    int64_t Width;                // pixels in a row of the area
    int64_t Height;               // rows of the area
    int64_t RowRadius;            // min(Radius, Height)
    int64_t First;                // the generation's first column
    int32_t Lanes;                // its columns, 1..SlotLanes
    int64_t Entering[KLaneCount]; // byte offset in a row of lane k's entering column; -1: outside, reads zero
    int64_t Leaving[KLaneCount];  // byte offset of its leaving column where that lies left of it; else -1
    int64_t RingSteps;            // steps the skewed buffers hold
    // Lane 0's steps, mod RingSteps, of its row 0's result and of the input that enters its row 0; lane k's
    // lie LaneLag k steps later.
    int64_t PixelStep;
    int64_t InputStep;
    int64_t LaneLag;
    // Whether every row is three whole windows of SlotLanes pixels: the generation's own pixels, the entering
    // columns (at Entering[0], all inside the area) and the leaving columns (at Leaving[0], all at column 0
    // or right of it; lanes from LeavingLanes on read zero there, their leaving column being inside the
    // generation).
    bool Windows;
    int32_t LeavingLanes;
};

// Visits lanes 0 .. Copy.Lanes - 1 of one row of a skewed ring in order, with each one's entry, lane 0's at
// step Place0. Lane k's step lies LaneLag k steps after lane 0's, and a generation's lanes span less than the
// ring, so its entry is one stride (a step of LaneLag and one lane) after lane k - 1's, less the ring's size
// once past its end: no lane pays for its own place in the ring. Always inlined, so that a kernel compiled
// for a wider instruction set inlines its visitor too.
template <class T, class TVisit>
[[gnu::always_inline]] inline void ForSkewedLanes(T* Ring, const TRowCopy& Copy, int64_t Place0,
                                                  TVisit&& Visit) {
    const int64_t entries = Copy.RingSteps * Copy.SlotLanes, stride = Copy.LaneLag * Copy.SlotLanes + 1;
    int64_t at = int64_t(PixelSlot(Place0, Copy.SlotLanes)), k = 0;
    for (; k < Copy.Lanes && at < entries; ++k, at += stride)
        Visit(k, Ring[at]);
    for (at -= entries; k < Copy.Lanes; ++k, at += stride)
        Visit(k, Ring[at]);
}

// Rows ahead of the one being copied that the gathers request into the cache (each row is a new page).
constexpr int64_t KPrefetchRows = 64;

// Requests row Y + KPrefetchRows of the generation's three windows into the cache, where the area has that
// row.
void PrefetchStripRow(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y);

// Runs steps First .. End - 1 of a thread's sweep.
using TLaneSweep = void (*)(TLaneStrip& Strip, int64_t First, int64_t End);
// Copies a generation's inputs that enter rows Y0 .. Y1 - 1 (below Height + RowRadius) into the skewed
// inputs: for lane k, at the ring place of step y + InputStep + k LaneLag, its pixel of row y - RowRadius
// (zero outside the area; not written back yet, so original) and the edge of row y, its entering pixel minus
// its leaving one (EdgeOf; the leaving pixel final, its row published by the previous generation; no
// difference below the area).
using TGatherRows = void (*)(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1,
                             uint64_t* Inputs);
// Writes rows Y0 .. Y1 - 1 of the swept generation back into the area, and nothing else of the rows.
using TScatterRows = void (*)(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1,
                              const uint32_t* Pixels);

// The three kernels of one instruction set.
struct TLaneKernels {
    TLaneSweep Sweep;
    TGatherRows Gather;
    TScatterRows Scatter;
};

// Plain C++, any processor.
void PortableLaneSweep(TLaneStrip& Strip, int64_t First, int64_t End);
void PortableGatherRows(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1, uint64_t* Inputs);
void PortableScatterRows(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1,
                         const uint32_t* Pixels);
// AVX2 (eight 32-bit lanes a register); only where AVX2 runs.
void Avx2LaneSweep(TLaneStrip& Strip, int64_t First, int64_t End);
void Avx2GatherRows(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1, uint64_t* Inputs);
void Avx2ScatterRows(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1,
                     const uint32_t* Pixels);

constexpr TLaneKernels KPortableLaneKernels{PortableLaneSweep, PortableGatherRows, PortableScatterRows};
constexpr TLaneKernels KAvx2LaneKernels{Avx2LaneSweep, Avx2GatherRows, Avx2ScatterRows};

} // namespace KvKernels::Detail
