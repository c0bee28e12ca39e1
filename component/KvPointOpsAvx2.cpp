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

    // The four indices of X's bytes.
    __attribute__((always_inline)) KV_KERNEL_TARGET static void Indices(T X, __m256i (&Index)[4]) {
        const __m256i m = _mm256_and_si256(X, _mm256_set1_epi8(0x3F));
        Index[0] = _mm256_add_epi8(m, _mm256_set1_epi8(0x70));
        Index[1] = _mm256_add_epi8(m, _mm256_set1_epi8(0x60));
        Index[2] = _mm256_add_epi8(m, _mm256_set1_epi8(0x50));
        Index[3] = m;
    }

    // Two levels of blends pick the group by bits 6 and 7: 3 blends in place of a tree of 15, since a blend
    // by a byte mask costs two or three micro-operations on some processors. A blend follows bit 7 of each
    // byte; adding a byte to itself moves its bit 6 there.
    __attribute__((always_inline)) KV_KERNEL_TARGET static T Lookup(const TLookup256& L, T X) {
        __m256i index[4];
        Indices(X, index);
        const __m256i bit6 = _mm256_add_epi8(X, X);
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

// Three tables over stretches of blocks. The bytes of a photograph's channel seldom leave one or two
// neighbouring quarters of the values (the groups of the lookup) over a few hundred pixels; a channel that
// keeps to them in a whole stretch is looked up in those quarters' slices alone: 4 or 8 shuffles a
// register in place of 16. The quarters are found once for the stretch, so the choice costs one
// well-predicted branch per channel and stretch, whatever the values do within it.
constexpr size_t StretchBlocks = 8;

// Kind 0: quarter G alone; 1: quarters G and G + 1 (bit 6 tells them apart); 2: quarters 1 and 2 (bit 7);
// 3: all four.
template <int Kind>
KV_KERNEL_TARGET inline void MapPlanes(const TLookup256& L, int G, __m256i (&Planes)[StretchBlocks]) {
    for (__m256i& plane : Planes) {
        __m256i index[4];
        TVec256::Indices(plane, index);
        if constexpr (Kind == 0)
            plane = TVec256::Group(L, G, index);
        else if constexpr (Kind == 1)
            plane = _mm256_blendv_epi8(TVec256::Group(L, G, index), TVec256::Group(L, G + 1, index),
                                       _mm256_add_epi8(plane, plane));
        else if constexpr (Kind == 2)
            plane = _mm256_blendv_epi8(TVec256::Group(L, 1, index), TVec256::Group(L, 2, index), plane);
        else
            plane = TVec256::Lookup(L, plane);
    }
}

KV_KERNEL_TARGET void MapStretches(uint8_t* Pixels, size_t Count, const TChannelTables& Tables) {
    constexpr size_t BlockBytes = 96;
    TLookup256 lookup[3];
    TVec256::BuildLookup(Tables.Blue, lookup[0]);
    TVec256::BuildLookup(Tables.Green, lookup[1]);
    TVec256::BuildLookup(Tables.Red, lookup[2]);
    const __m256i mask[3] = {TVec256::PositionMask(0), TVec256::PositionMask(1), TVec256::PositionMask(2)};
    const size_t byteCount = 3 * Count;
    size_t i = 0;
    for (; i + StretchBlocks * BlockBytes <= byteCount; i += StretchBlocks * BlockBytes) {
        uint8_t* stretch = Pixels + i;
        __m256i planes[3][StretchBlocks];
        // Per channel, the movemasks of bits 7 and 6 or-ed and and-ed over the stretch, and where they
        // differed in every byte (quarters 1 and 2 only).
        uint32_t any7[3] = {0, 0, 0}, all7[3] = {~0u, ~0u, ~0u}, any6[3] = {0, 0, 0},
                 all6[3] = {~0u, ~0u, ~0u}, apart[3] = {~0u, ~0u, ~0u};
        for (size_t n = 0; n < StretchBlocks; ++n) {
            uint8_t* block = stretch + n * BlockBytes;
            PrefetchAhead(block);
            PrefetchAhead(block + 64);
            const __m256i v[3] = {TVec256::Load(block), TVec256::Load(block + 32), TVec256::Load(block + 64)};
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                const __m256i plane =
                    _mm256_blendv_epi8(_mm256_blendv_epi8(v[0], v[1], mask[ChannelPosition<TVec256>(c, 1)]),
                                       v[2], mask[ChannelPosition<TVec256>(c, 2)]);
                planes[c][n] = plane;
                const uint32_t bits7 = uint32_t(_mm256_movemask_epi8(plane)),
                               bits6 = uint32_t(_mm256_movemask_epi8(_mm256_add_epi8(plane, plane)));
                any7[c] |= bits7, all7[c] &= bits7, any6[c] |= bits6, all6[c] &= bits6,
                    apart[c] &= bits7 ^ bits6;
            }
        }
        for (int c = 0; c < 3; ++c) {
            if (any7[c] == 0 || all7[c] == ~0u) { // bit 7 the same throughout: quarters 0 and 1, or 2 and 3
                const int group = all7[c] ? 2 : 0;
                if (any6[c] == 0 || all6[c] == ~0u)
                    MapPlanes<0>(lookup[c], group | (all6[c] ? 1 : 0), planes[c]);
                else
                    MapPlanes<1>(lookup[c], group, planes[c]);
            } else if (apart[c] == ~0u) {
                MapPlanes<2>(lookup[c], 1, planes[c]);
            } else {
                MapPlanes<3>(lookup[c], 0, planes[c]);
            }
        }
        for (size_t n = 0; n < StretchBlocks; ++n)
#pragma GCC unroll 3
            for (int j = 0; j < 3; ++j)
                TVec256::Store(stretch + n * BlockBytes + 32 * size_t(j),
                               _mm256_blendv_epi8(_mm256_blendv_epi8(planes[0][n], planes[1][n],
                                                                     mask[ChannelPosition<TVec256>(1, j)]),
                                                  planes[2][n], mask[ChannelPosition<TVec256>(2, j)]));
    }
    // The rest block by block (its tables built again: a few dozen instructions a row).
    if (i < byteCount) VectorMap<TVec256>(Pixels + i, (byteCount - i) / 3, Tables);
}

} // namespace

const TKernelSet Avx2Kernels = {VectorInvert<TVec256>, VectorGreyScale<TVec256>,  VectorMapBytes<TVec256>,
                                MapStretches,          VectorMapChannel<TVec256>, VectorMapAffine<TVec256>};

} // namespace KvKernels::Detail

#endif // defined(__x86_64__)
