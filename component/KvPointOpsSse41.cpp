// Row kernels on 16-byte registers (SSSE3 shuffles, SSE4.1 inserts), chosen at run time.
//
// Exactness: the grey kernel computes the exact integer form of the rule and hands the tie sums to the
// extended-precision rule, as the scalar kernel does.
// Every function here carries its own target attribute, so nothing compiled for these instructions
// can be reached on a processor without them.
#if defined(__x86_64__) // these kernels exist on x86-64 only
#include <immintrin.h>

#include <cstring>

#define KV_KERNEL_TARGET __attribute__((target("sse4.1,ssse3")))
#include "KvPointOpsSimd.h"

namespace KvKernels::Detail {
namespace {

struct TVec128 {
    using T = __m128i;
    using F = __m128;
    static constexpr size_t Size = 16;
    // One register a step: more measured slower for the invert loop here.
    static constexpr size_t InvertRegisters = 1;
    static constexpr bool MaskedTail = false;

    KV_KERNEL_TARGET static T Load(const uint8_t* At) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(At));
    }
    KV_KERNEL_TARGET static void Store(uint8_t* At, T Value) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(At), Value);
    }
    KV_KERNEL_TARGET static T Set1(uint8_t Byte) { return _mm_set1_epi8(char(Byte)); }
    KV_KERNEL_TARGET static T Set1Int32(int32_t Value) { return _mm_set1_epi32(Value); }
    KV_KERNEL_TARGET static F Set1F(float Value) { return _mm_set1_ps(Value); }
    KV_KERNEL_TARGET static T Lanes(const int8_t (&Lane)[16]) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(Lane));
    }
    KV_KERNEL_TARGET static T Xor(T A, T B) { return _mm_xor_si128(A, B); }
    KV_KERNEL_TARGET static T Set1Int16(uint16_t Value) { return _mm_set1_epi16(short(Value)); }
    // The low (or high) 8 bytes as 16-bit lanes holding byte * 256.
    KV_KERNEL_TARGET static T Spread(T A, bool High) {
        return High ? _mm_unpackhi_epi8(_mm_setzero_si128(), A) : _mm_unpacklo_epi8(_mm_setzero_si128(), A);
    }
    KV_KERNEL_TARGET static T MulHigh16(T A, T B) { return _mm_mulhi_epu16(A, B); }
    KV_KERNEL_TARGET static T Add16(T A, T B) { return _mm_add_epi16(A, B); }
    // The high bytes of the 16-bit lanes of Low, then of High: Spread undone.
    KV_KERNEL_TARGET static T PackHigh(T Low, T High) {
        return _mm_packus_epi16(_mm_srli_epi16(Low, 8), _mm_srli_epi16(High, 8));
    }
    KV_KERNEL_TARGET static T Shuffle(T A, T Index) { return _mm_shuffle_epi8(A, Index); }
    KV_KERNEL_TARGET static T Madd(T A, T B) { return _mm_madd_epi16(A, B); }
    KV_KERNEL_TARGET static T Add(T A, T B) { return _mm_add_epi32(A, B); }
    KV_KERNEL_TARGET static T Equal(T A, T B) { return _mm_cmpeq_epi32(A, B); }
    KV_KERNEL_TARGET static F AddF(F A, F B) { return _mm_add_ps(A, B); }
    KV_KERNEL_TARGET static F MulF(F A, F B) { return _mm_mul_ps(A, B); }
    KV_KERNEL_TARGET static F ToFloat(T A) { return _mm_cvtepi32_ps(A); }
    KV_KERNEL_TARGET static T ToIntTruncated(F A) { return _mm_cvttps_epi32(A); }
    KV_KERNEL_TARGET static unsigned SignMask(T A) { return unsigned(_mm_movemask_ps(_mm_castsi128_ps(A))); }
    // A 16-byte register is one lane already.
    KV_KERNEL_TARGET static T ToLanes(T A) { return A; }
    // The first 12 bytes, in two stores that the next step's load does not overlap.
    KV_KERNEL_TARGET static void StorePacked(uint8_t* At, T Value) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(At), Value);
        const int last = _mm_extract_epi32(Value, 2);
        std::memcpy(At + 8, &last, 4);
    }
};

} // namespace

// A 256-entry lookup costs 46 operations per 16-byte register here, no faster than the scalar table
// walk, which runs on the load and store units instead: the table kernels stay scalar at this level.
const TKernelSet Sse41Kernels = {VectorInvert<TVec128>, VectorGreyScale<TVec128>, ScalarMapBytes, ScalarMap,
                                 ScalarMapChannel,      VectorMapAffine<TVec128>};

} // namespace KvKernels::Detail

#endif // defined(__x86_64__)
