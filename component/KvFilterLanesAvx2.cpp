// The lane kernel on AVX2: the eight lanes are the eight 32-bit elements of one register, the mixing table
// is read by gathers. Everything in the region below is compiled for AVX2 and reached only through
// Avx2LaneSweep, which the dispatcher calls only where AVX2 runs; the headers that the region uses are
// included before it, so none of their inline functions is compiled for AVX2 here.
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
    static TF SetF(float X) { return _mm256_set1_ps(X); }
    static TF ToFloat(TI A) { return _mm256_cvtepi32_ps(A); }
    static TF Reciprocal(TI A) { return _mm256_div_ps(_mm256_set1_ps(1.0f), _mm256_cvtepi32_ps(A)); }
    static TF MulF(TF A, TF B) { return _mm256_mul_ps(A, B); }
    static TF MinF(TF A, TF B) { return _mm256_min_ps(A, B); }
    static TF MaxF(TF A, TF B) { return _mm256_max_ps(A, B); }
    static TI RoundToInt(TF A) { return _mm256_cvtps_epi32(A); }
};

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
