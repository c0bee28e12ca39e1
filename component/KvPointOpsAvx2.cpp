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

// A 256-entry table as 16 shuffle tables of 16 entries (repeated in both lanes), in four groups of four by
// the high nibble's bits 5 and 4: within group G, D[4G + j] is slice 4G + j xor slice 4G + j + 1 (the
// group's last slice as it is), so that xoring the lookups of slices j..3 of a group telescopes to slice j.
struct TLookup256 {
    __m256i D[16];
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
    KV_KERNEL_TARGET static T Set1Int16(uint16_t Value) { return _mm256_set1_epi16(short(Value)); }
    // The low (or high) 8 bytes of each lane as 16-bit lanes holding byte * 256.
    KV_KERNEL_TARGET static T Spread(T A, bool High) {
        return High ? _mm256_unpackhi_epi8(_mm256_setzero_si256(), A)
                    : _mm256_unpacklo_epi8(_mm256_setzero_si256(), A);
    }
    KV_KERNEL_TARGET static T MulHigh16(T A, T B) { return _mm256_mulhi_epu16(A, B); }
    KV_KERNEL_TARGET static T Add16(T A, T B) { return _mm256_add_epi16(A, B); }
    // The high bytes of the 16-bit lanes of Low, then of High, within each lane: Spread undone.
    KV_KERNEL_TARGET static T PackHigh(T Low, T High) {
        return _mm256_packus_epi16(_mm256_srli_epi16(Low, 8), _mm256_srli_epi16(High, 8));
    }
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
        __m256i slice[16];
        for (int h = 0; h < 16; ++h)
            slice[h] = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(Table.data() + 16 * h)));
        for (int h = 0; h < 16; ++h)
            Lookup.D[h] = h % 4 == 3 ? slice[h] : _mm256_xor_si256(slice[h], slice[h + 1]);
    }

    // Without a byte permute, Table[x] takes 16 shuffles by the low nibble. A shuffle yields 0 where its
    // index has bit 7 set, so the indices select the slices: with m = x & 0x3F = 16b + low, the index
    // m + 16 (7 - j) has bit 7 clear exactly for j >= b, and its low nibble is low. Slices j..3 of each
    // group therefore telescope to slice b of that group, the four indices serving all four groups.
    __attribute__((always_inline)) KV_KERNEL_TARGET static T Group(const TLookup256& L, int G,
                                                                   const __m256i (&Index)[4]) {
        const __m256i* slices = L.D + 4 * G;
        __m256i sum = _mm256_shuffle_epi8(slices[0], Index[0]);
        sum = _mm256_xor_si256(sum, _mm256_shuffle_epi8(slices[1], Index[1]));
        sum = _mm256_xor_si256(sum, _mm256_shuffle_epi8(slices[2], Index[2]));
        return _mm256_xor_si256(sum, _mm256_shuffle_epi8(slices[3], Index[3]));
    }

    // Blends pick the group by bits 6 and 7 (3 blends, not a tree of 15: a blend by a byte mask costs two
    // or three micro-operations on some processors). The bytes of a photograph's channel seldom span more
    // than two neighbouring groups within 32 pixels, and the groups no byte falls in are skipped: one group
    // takes 4 shuffles, two 8, where every group takes 16.
    __attribute__((always_inline)) KV_KERNEL_TARGET static T Lookup(const TLookup256& L, T X) {
        const __m256i m = _mm256_and_si256(X, _mm256_set1_epi8(0x3F));
        const __m256i index[4] = {_mm256_add_epi8(m, _mm256_set1_epi8(0x70)),
                                  _mm256_add_epi8(m, _mm256_set1_epi8(0x60)),
                                  _mm256_add_epi8(m, _mm256_set1_epi8(0x50)), m};
        // A blend follows bit 7 of each byte: bit 6 is moved there by adding the byte to itself.
        const __m256i bit6 = _mm256_add_epi8(X, X);
        const uint32_t bits7 = uint32_t(_mm256_movemask_epi8(X)),
                       bits6 = uint32_t(_mm256_movemask_epi8(bit6));
        // A mask of 0 or all ones (mask + 1 <= 1) is a bit that every byte has the same.
        if (bits7 + 1 <= 1) { // groups 0 and 1, or 2 and 3
            const int group = int(bits7 & 2);
            if (bits6 + 1 <= 1) return Group(L, group | int(bits6 & 1), index);
            return _mm256_blendv_epi8(Group(L, group, index), Group(L, group + 1, index), bit6);
        }
        if ((bits7 ^ bits6) == ~0u) // groups 1 (01) and 2 (10) only
            return _mm256_blendv_epi8(Group(L, 1, index), Group(L, 2, index), X);
        return _mm256_blendv_epi8(_mm256_blendv_epi8(Group(L, 0, index), Group(L, 1, index), bit6),
                                  _mm256_blendv_epi8(Group(L, 2, index), Group(L, 3, index), bit6), X);
    }

    // Byte positions q (0..31) with q % 3 == K.
    KV_KERNEL_TARGET static TMask PositionMask(int K) {
        alignas(32) uint8_t mask[32];
        for (int q = 0; q < 32; ++q)
            mask[q] = q % 3 == K ? 0xFF : 0;
        return _mm256_load_si256(reinterpret_cast<const __m256i*>(mask));
    }
    // B where Mask is set, A elsewhere.
    KV_KERNEL_TARGET static T Blend(T A, T B, TMask Mask) { return _mm256_blendv_epi8(A, B, Mask); }
    // Value where Mask is set, Original elsewhere: without byte-masked stores, the whole register.
    KV_KERNEL_TARGET static void StoreWhere(uint8_t* At, T Original, T Value, TMask Mask) {
        Store(At, Blend(Original, Value, Mask));
    }
};

} // namespace

const TKernelSet Avx2Kernels = {VectorInvert<TVec256>, VectorGreyScale<TVec256>,  VectorMapBytes<TVec256>,
                                VectorMap<TVec256>,    VectorMapChannel<TVec256>, VectorMapAffine<TVec256>};

} // namespace KvKernels::Detail

#endif // defined(__x86_64__)
