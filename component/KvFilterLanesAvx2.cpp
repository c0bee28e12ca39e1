// The lane kernels on AVX2: the sweep, whose eight lanes are the eight 32-bit elements of one register, and
// the row copies, which move a generation's eight or sixteen pixels of a row as one register or two.
// Everything in the region below is compiled for AVX2 and reached only through the entries at the end, which
// the dispatcher calls only where AVX2 runs; the headers that the region uses are included before it, so none
// of their inline functions is compiled for AVX2 here.
#if defined(__x86_64__) // these kernels exist on x86-64 only
#include "KvFilterLanes.h"

#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "KvFilterLaneSweep.h"

namespace KvKernels::Detail {
namespace {

struct TAvx2Lanes {
    using TI = __m256i;
    using TF = __m256;

    static TI Set(int32_t X) { return _mm256_set1_epi32(X); }
    static TI Load(const int32_t* P) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(P)); }
    static void Store(int32_t* P, TI A) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(P), A); }
    static TI Load(const uint32_t* P) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(P)); }
    static void Store(uint32_t* P, TI A) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(P), A); }
    // The pixels and the edges of eight inputs (InputOf).
    static void LoadInputs(const uint64_t* P, TI& Pixels, TI& Edges) {
        const __m256 a = _mm256_loadu_ps(reinterpret_cast<const float*>(P));     // lanes 0 .. 3
        const __m256 b = _mm256_loadu_ps(reinterpret_cast<const float*>(P + 4)); // lanes 4 .. 7
        // Within each half: a's two then b's two; the 64-bit permute puts the halves' pairs in order.
        Pixels =
            _mm256_castpd_si256(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(a, b, 0x88)), 0xD8));
        Edges =
            _mm256_castpd_si256(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(a, b, 0xDD)), 0xD8));
    }
    // Puts KNeutralInput back into eight inputs.
    static void ClearInputs(uint64_t* P) {
        const __m256i neutral = _mm256_set1_epi64x(int64_t(KNeutralInput));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(P), neutral);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(P + 4), neutral);
    }
    static TI Add(TI A, TI B) { return _mm256_add_epi32(A, B); }
    static TI Sub(TI A, TI B) { return _mm256_sub_epi32(A, B); }
    static TI MulLo(TI A, TI B) { return _mm256_mullo_epi32(A, B); }
    static TI And(TI A, TI B) { return _mm256_and_si256(A, B); }
    static TI AndNot(TI A, TI B) { return _mm256_andnot_si256(A, B); }
    static TI Or(TI A, TI B) { return _mm256_or_si256(A, B); }
    static TI Greater(TI A, TI B) { return _mm256_cmpgt_epi32(A, B); }
    static TI Equal(TI A, TI B) { return _mm256_cmpeq_epi32(A, B); }
    static TI Min(TI A, TI B) { return _mm256_min_epi32(A, B); }
    static TI Max(TI A, TI B) { return _mm256_max_epi32(A, B); }
    static TI ShiftLeft(TI A, int Bits) { return _mm256_slli_epi32(A, Bits); }
    static TI ShiftRight(TI A, int Bits) { return _mm256_srli_epi32(A, Bits); }
    // Lanes one up, lane 0 taking the last lane of Below.
    static TI ShiftIn(TI A, TI Below) {
        const __m256i rotate = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
        const __m256i up = _mm256_permutevar8x32_epi32(A, rotate);
        return _mm256_blend_epi32(up, _mm256_permutevar8x32_epi32(Below, rotate), 1);
    }
    // Eight loads of single bytes: on the processors at hand a gather instruction takes longer, and the
    // lookup lies on the sweep's critical path.
    static TI Lookup(const uint8_t* Table, TI Index) {
        alignas(32) uint32_t index[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(index), Index);
        const uint64_t low = uint64_t(Table[index[0]]) | uint64_t(Table[index[1]]) << 8 |
                             uint64_t(Table[index[2]]) << 16 | uint64_t(Table[index[3]]) << 24 |
                             uint64_t(Table[index[4]]) << 32 | uint64_t(Table[index[5]]) << 40 |
                             uint64_t(Table[index[6]]) << 48 | uint64_t(Table[index[7]]) << 56;
        return _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(int64_t(low)));
    }
    static TF ToFloat(TI A) { return _mm256_cvtepi32_ps(A); }
    static TF DivF(TF A, TF B) { return _mm256_div_ps(A, B); }
    // Sum / Count in double precision, converted to the nearest integer (ties to even, the default mode).
    static TI NearestQuotient(TI Sum, TI Count) {
        const auto quotient = [](__m128i S, __m128i C) {
            return _mm256_cvtpd_epi32(_mm256_div_pd(_mm256_cvtepi32_pd(S), _mm256_cvtepi32_pd(C)));
        };
        const __m128i low = quotient(_mm256_castsi256_si128(Sum), _mm256_castsi256_si128(Count));
        const __m128i high = quotient(_mm256_extracti128_si256(Sum, 1), _mm256_extracti128_si256(Count, 1));
        return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    }
    // Out of range, the conversion gives 0x80000000, which the caller masks like any other value.
    static TI RoundToInt(TF A) { return _mm256_cvtps_epi32(A); }
};

// Eight packed pixels (PackedPixel) from the 24 bytes at P; reads nothing else.
inline __m256i LoadWindow(const uint8_t* P) {
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, //
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    // Words 0 .. 5 hold the 24 bytes; each half register takes the three words that hold its four pixels,
    // then spreads them.
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));       // bytes 0 .. 15
    const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(P + 16)); // bytes 16 .. 23
    const __m256i words = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    return _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(words, _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5)),
                               spread);
}

// The 24 bytes of eight packed pixels, in the low 24 bytes of the result.
inline __m256i PackPixels(__m256i Pixels) {
    const __m256i squeeze = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, //
                                             0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(Pixels, squeeze),
                                       _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
}

// The three channels of eight packed pixels moved apart to 9-bit fields, as EdgeOf spreads them.
inline __m256i SpreadChannels(__m256i P) {
    const __m256i blue = _mm256_and_si256(P, _mm256_set1_epi32(0xFF));
    const __m256i green = _mm256_slli_epi32(_mm256_and_si256(P, _mm256_set1_epi32(0xFF00)), 1);
    const __m256i red = _mm256_slli_epi32(_mm256_and_si256(P, _mm256_set1_epi32(0xFF0000)), 2);
    return _mm256_or_si256(_mm256_or_si256(blue, green), red);
}

// EdgeOf for eight lanes.
inline __m256i EdgesOf(__m256i Entering, __m256i Leaving) {
    const __m256i bias = _mm256_set1_epi32(int32_t(KNoDifference));
    return _mm256_sub_epi32(_mm256_add_epi32(SpreadChannels(Entering), bias), SpreadChannels(Leaving));
}

// Every row of a generation whose rows are whole windows (TRowCopy::Windows), eight lanes to a register.
template <int Vectors>
void Avx2GatherRowsIn(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1, uint64_t* Inputs) {
    constexpr int N = KVectorLanes, lanes = N * Vectors;
    __m256i keep[Vectors]; // lanes whose leaving column lies left of the generation
    for (int j = 0; j < Vectors; ++j)
        keep[j] = _mm256_cmpgt_epi32(_mm256_set1_epi32(Copy.LeavingLanes - N * j),
                                     _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256i noDifference = _mm256_set1_epi32(int32_t(KNoDifference));
    alignas(32) uint64_t inputs[lanes];
    const int64_t ring = Copy.RingSteps;
    // Place: lane 0's in the ring (Copy.Lanes is lanes here).
    for (int64_t y = Y0, place = RingPlace(Y0 % ring, Copy.InputStep, ring); y < Y1;
         ++y, place = RingPlace(place, 1, ring)) {
        PrefetchStripRow(Copy, Rows, y);
        const int64_t handled = y - Copy.RowRadius; // the row whose pixel is handled as row y enters
        const uint8_t* pixelLine =
            handled >= 0 && handled < Copy.Height ? Rows[handled] + 3 * Copy.First : nullptr;
        const uint8_t* line = y < Copy.Height ? Rows[y] : nullptr;
        for (int j = 0; j < Vectors; ++j) {
            const __m256i p = pixelLine ? LoadWindow(pixelLine + 24 * j) : _mm256_setzero_si256();
            const __m256i e =
                line ? EdgesOf(LoadWindow(line + Copy.Entering[0] + 24 * j),
                               _mm256_and_si256(LoadWindow(line + Copy.Leaving[0] + 24 * j), keep[j]))
                     : noDifference;
            const __m256i low = _mm256_unpacklo_epi32(p, e), high = _mm256_unpackhi_epi32(p, e);
            _mm256_store_si256(reinterpret_cast<__m256i*>(inputs + N * j),
                               _mm256_permute2x128_si256(low, high, 0x20));
            _mm256_store_si256(reinterpret_cast<__m256i*>(inputs + N * j + 4),
                               _mm256_permute2x128_si256(low, high, 0x31));
        }
        // The skewed inputs put each lane on a step of its own: one store per lane is the least.
        ForSkewedLanes(Inputs, Copy, place, [&](int64_t k, uint64_t& Input) { Input = inputs[k]; });
    }
}

// Every row of a generation whose lanes all have a column.
template <int Vectors>
void Avx2ScatterRowsIn(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1,
                       const uint32_t* Pixels) {
    constexpr int N = KVectorLanes, lanes = N * Vectors;
    const int64_t ring = Copy.RingSteps;
    // Place: lane 0's in the ring (Copy.Lanes is lanes here).
    for (int64_t y = Y0, place = RingPlace(Y0 % ring, Copy.PixelStep, ring); y < Y1;
         ++y, place = RingPlace(place, 1, ring)) {
        uint8_t* line = Rows[y] + 3 * Copy.First;
        // One load per lane: on the processors at hand a gather instruction takes longer.
        alignas(32) uint32_t pixels[lanes];
        ForSkewedLanes(Pixels, Copy, place, [&](int64_t k, const uint32_t& Pixel) { pixels[k] = Pixel; });
        for (int j = 0; j < Vectors; ++j) {
            const __m256i packed =
                PackPixels(_mm256_load_si256(reinterpret_cast<const __m256i*>(pixels + N * j)));
            // Exactly the generation's bytes: the columns on either side belong to others.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 24 * j), _mm256_castsi256_si128(packed));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(line + 24 * j + 16),
                             _mm256_extracti128_si256(packed, 1));
        }
    }
}

} // namespace
} // namespace KvKernels::Detail

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// Outside the region: the entry itself uses no AVX2 instruction (a declaration and a definition with
// different targets would make two versions of one function).
void KvKernels::Detail::Avx2LaneSweep(TLaneStrip& Strip, int64_t First, int64_t End) {
    SweepLanes<TAvx2Lanes>(Strip, First, End);
}

// Generations whose rows are not whole windows, at the area's edges, copy lane by lane.
void KvKernels::Detail::Avx2GatherRows(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1,
                                       uint64_t* Inputs) {
    if (Copy.Windows && Copy.SlotLanes == KLaneCount)
        Avx2GatherRowsIn<2>(Copy, Rows, Y0, Y1, Inputs);
    else if (Copy.Windows)
        Avx2GatherRowsIn<1>(Copy, Rows, Y0, Y1, Inputs);
    else
        PortableGatherRows(Copy, Rows, Y0, Y1, Inputs);
}

void KvKernels::Detail::Avx2ScatterRows(const TRowCopy& Copy, uint8_t* const* Rows, int64_t Y0, int64_t Y1,
                                        const uint32_t* Pixels) {
    if (Copy.Lanes == KLaneCount && Copy.SlotLanes == KLaneCount)
        Avx2ScatterRowsIn<2>(Copy, Rows, Y0, Y1, Pixels);
    else if (Copy.Lanes == KVectorLanes && Copy.SlotLanes == KVectorLanes)
        Avx2ScatterRowsIn<1>(Copy, Rows, Y0, Y1, Pixels);
    else
        PortableScatterRows(Copy, Rows, Y0, Y1, Pixels);
}

#endif // defined(__x86_64__)
