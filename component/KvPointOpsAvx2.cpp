// Row kernels on 32-byte registers (AVX2), chosen at run time.
//
// Exactness: table kernels look up the very tables the scalar kernels use; the grey kernel computes the
// exact integer form of the rule and hands the tie sums to the extended-precision rule, as the scalar
// kernel does.
// Every function here carries its own target attribute, so nothing compiled for these instructions
// can be reached on a processor without them.
#if defined(__x86_64__) // these kernels exist on x86-64 only
#include <immintrin.h>

#define KV_KERNEL_TARGET __attribute__((target("avx2")))
#include "KvPointOpsSimd.h"

namespace KvKernels::Detail {
namespace {

// A 256-entry table as 16 shuffle tables of 16 entries (repeated in both lanes): S[h] holds entries
// 16h .. 16h + 15.
struct TLookup256 {
    __m256i S[16];
};

struct TVec256 {
    using T = __m256i;
    using F = __m256;
    using TLookup = TLookup256;
    using TMask = __m256i;
    static constexpr size_t Size = 32;
    // Four registers a step measured faster for the invert loop here (one at the other levels).
    static constexpr size_t InvertRegisters = 4;
    static constexpr bool MaskedTail = false;

    KV_KERNEL_TARGET static T Load(const uint8_t* At) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(At));
    }
    KV_KERNEL_TARGET static void Store(uint8_t* At, T Value) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(At), Value);
    }
    KV_KERNEL_TARGET static T Set1(uint8_t Byte) { return _mm256_set1_epi8(char(Byte)); }
    KV_KERNEL_TARGET static T Set1Int32(int32_t Value) { return _mm256_set1_epi32(Value); }
    KV_KERNEL_TARGET static F Set1F(float Value) { return _mm256_set1_ps(Value); }
    KV_KERNEL_TARGET static T Lanes(const int8_t (&Lane)[16]) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Lane)));
    }
    KV_KERNEL_TARGET static T Xor(T A, T B) { return _mm256_xor_si256(A, B); }
    KV_KERNEL_TARGET static T Shuffle(T A, T Index) { return _mm256_shuffle_epi8(A, Index); }
    KV_KERNEL_TARGET static T Madd(T A, T B) { return _mm256_madd_epi16(A, B); }
    KV_KERNEL_TARGET static T Add(T A, T B) { return _mm256_add_epi32(A, B); }
    KV_KERNEL_TARGET static T Equal(T A, T B) { return _mm256_cmpeq_epi32(A, B); }
    KV_KERNEL_TARGET static F AddF(F A, F B) { return _mm256_add_ps(A, B); }
    KV_KERNEL_TARGET static F MulF(F A, F B) { return _mm256_mul_ps(A, B); }
    KV_KERNEL_TARGET static F ToFloat(T A) { return _mm256_cvtepi32_ps(A); }
    KV_KERNEL_TARGET static T ToIntTruncated(F A) { return _mm256_cvttps_epi32(A); }
    KV_KERNEL_TARGET static unsigned SignMask(T A) {
        return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(A)));
    }
    // Bytes 0..15 to the low lane and 12..27 to the high one, 4 whole pixels each.
    KV_KERNEL_TARGET static T ToLanes(T A) {
        return _mm256_permutevar8x32_epi32(A, _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6));
    }
    // The 12 leading bytes of each lane together, stored as 16 + 8 bytes.
    KV_KERNEL_TARGET static void StorePacked(uint8_t* At, T Value) {
        const __m256i packed = _mm256_permutevar8x32_epi32(Value, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 6, 7));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(At), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(At + 16), _mm256_extracti128_si256(packed, 1));
    }

    KV_KERNEL_TARGET static void BuildLookup(const TChannelTable& Table, TLookup256& Lookup) {
        for (int h = 0; h < 16; ++h)
            Lookup.S[h] = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(Table.data() + 16 * h)));
    }

    // Without a byte permute, Table[x] takes 16 shuffles, one per slice, by the low nibble; then a tree of
    // blends picks the slice by the high nibble, bit 4 first. A blend follows bit 7 of each byte, so each
    // level shifts its bit there (16-bit shifts: bits crossing into the next byte land below bit 7).
    KV_KERNEL_TARGET static T Lookup(const TLookup256& L, T X) {
        const __m256i low = _mm256_and_si256(X, _mm256_set1_epi8(0x0F)); // bit 7 clear: no zeroing
        const __m256i bit4 = _mm256_slli_epi16(X, 3), bit5 = _mm256_slli_epi16(X, 2);
        const __m256i bit6 = _mm256_slli_epi16(X, 1);
        __m256i pair[8];
#pragma GCC unroll 8
        for (int g = 0; g < 8; ++g)
            pair[g] = _mm256_blendv_epi8(_mm256_shuffle_epi8(L.S[2 * g], low),
                                         _mm256_shuffle_epi8(L.S[2 * g + 1], low), bit4);
        __m256i quad[4];
#pragma GCC unroll 4
        for (int g = 0; g < 4; ++g)
            quad[g] = _mm256_blendv_epi8(pair[2 * g], pair[2 * g + 1], bit5);
        const __m256i half0 = _mm256_blendv_epi8(quad[0], quad[1], bit6);
        const __m256i half1 = _mm256_blendv_epi8(quad[2], quad[3], bit6);
        return _mm256_blendv_epi8(half0, half1, X);
    }

    // Byte positions q (0..31) with q % 3 == K.
    KV_KERNEL_TARGET static TMask PositionMask(int K) {
        alignas(32) uint8_t mask[32];
        for (int q = 0; q < 32; ++q)
            mask[q] = q % 3 == K ? 0xFF : 0;
        return _mm256_load_si256(reinterpret_cast<const __m256i*>(mask));
    }
    // B where Mask is set, A elsewhere.
    KV_KERNEL_TARGET static T Blend(T A, T B, TMask Mask) {
        return _mm256_blendv_epi8(A, B, Mask);
    }
    // Value where Mask is set, Original elsewhere: without byte-masked stores, the whole register.
    KV_KERNEL_TARGET static void StoreWhere(uint8_t* At, T Original, T Value, TMask Mask) {
        Store(At, Blend(Original, Value, Mask));
    }
};

} // namespace

const TKernelSet Avx2Kernels = {VectorInvert<TVec256>, VectorGreyScale<TVec256>, VectorMapBytes<TVec256>,
                                VectorMap<TVec256>, VectorMapChannel<TVec256>};

} // namespace KvKernels::Detail

#endif // defined(__x86_64__)
