// Row kernels on 32-byte registers (AVX2), chosen at run time.
//
// Exactness: table kernels look up the very tables the scalar kernels use; the grey kernel computes the
// exact integer form of the rule and hands the tie sums to the extended-precision rule, as the scalar
// kernel does.
// Every function here carries its own target attribute, so nothing compiled for these instructions
// can be reached on a processor without them.
#include "KvPointOpsKernels.h"

#include <immintrin.h>

#define KV_AVX2 __attribute__((target("avx2")))

namespace KvKernels::Detail {
namespace {

// A 256-entry table as 16 shuffle tables of 16 entries (repeated in both lanes). Slice h holds entries
// 16h..16h+15; D[i] is slice i xor slice i - 1 within each half (0..7, 8..15), so that xoring the
// lookups of slices 0..h of the value's half telescopes to slice h.
struct TLookup256 {
    __m256i D[16];
};

KV_AVX2 void BuildLookup(const TChannelTable& Table, TLookup256& Lookup) {
    __m256i previous = _mm256_setzero_si256();
    for (int h = 0; h < 16; ++h) {
        const __m256i slice = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(Table.data() + 16 * h)));
        Lookup.D[h] = h % 8 == 0 ? slice : _mm256_xor_si256(slice, previous);
        previous = slice;
    }
}

// Table[x] for 32 bytes. The index for slice i is x minus 16i in signed saturating steps: for a value
// below 128 it is non-negative (bit 7 clear, low nibble kept) exactly for i <= x / 16, and a shuffle
// index with bit 7 set yields 0; values of 128 and up are negative and stay so, taking nothing from
// the lower half. The upper half does the same with x ^ 0x80.
KV_AVX2 inline __m256i Lookup(const TLookup256& L, __m256i X) {
    const __m256i step = _mm256_set1_epi8(16);
    __m256i low = X, high = _mm256_xor_si256(X, _mm256_set1_epi8(char(0x80)));
    __m256i result = _mm256_xor_si256(_mm256_shuffle_epi8(L.D[0], low), _mm256_shuffle_epi8(L.D[8], high));
#pragma GCC unroll 8
    for (int i = 1; i < 8; ++i) {
        low = _mm256_subs_epi8(low, step);
        high = _mm256_subs_epi8(high, step);
        result = _mm256_xor_si256(result, _mm256_xor_si256(_mm256_shuffle_epi8(L.D[i], low),
                                                           _mm256_shuffle_epi8(L.D[8 + i], high)));
    }
    return result;
}

// Byte positions q (0..31) of a register with q % 3 == K.
KV_AVX2 inline __m256i PositionMask(int K) {
    alignas(32) uint8_t mask[32];
    for (int q = 0; q < 32; ++q)
        mask[q] = q % 3 == K ? 0xFF : 0;
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(mask));
}

// Register J (0..2) of a 96-byte block holds channel C at the positions q == C + J (mod 3).
constexpr int ChannelMask(int C, int J) {
    return (C + J) % 3;
}

KV_AVX2 void Avx2Invert(uint8_t* Bytes, size_t ByteCount) {
    const __m256i ones = _mm256_set1_epi8(char(0xFF));
    size_t i = 0;
    for (; i + 128 <= ByteCount; i += 128) {
        __m256i* at = reinterpret_cast<__m256i*>(Bytes + i);
        const __m256i a = _mm256_loadu_si256(at), b = _mm256_loadu_si256(at + 1);
        const __m256i c = _mm256_loadu_si256(at + 2), d = _mm256_loadu_si256(at + 3);
        _mm256_storeu_si256(at, _mm256_xor_si256(a, ones));
        _mm256_storeu_si256(at + 1, _mm256_xor_si256(b, ones));
        _mm256_storeu_si256(at + 2, _mm256_xor_si256(c, ones));
        _mm256_storeu_si256(at + 3, _mm256_xor_si256(d, ones));
    }
    for (; i + 32 <= ByteCount; i += 32) {
        __m256i* at = reinterpret_cast<__m256i*>(Bytes + i);
        _mm256_storeu_si256(at, _mm256_xor_si256(_mm256_loadu_si256(at), ones));
    }
    ScalarInvert(Bytes + i, ByteCount - i);
}

// Eight pixels per step: the sums 2125 red + 7154 green + 721 blue by word multiply-adds, the rounded
// quotient by single precision ((Sum + 5000.5) / 10000 is at least 5e-5 from an integer and single
// precision errs by less than 3.1e-5 here), the tie sums found exactly as multiples of 10000.
KV_AVX2 void Avx2GreyScale(uint8_t* Pixels, size_t Count) {
    const __m256i redGreen = _mm256_setr_epi8(2, -1, 1, -1, 5, -1, 4, -1, 8, -1, 7, -1, 11, -1, 10, -1, //
                                              2, -1, 1, -1, 5, -1, 4, -1, 8, -1, 7, -1, 11, -1, 10, -1);
    const __m256i blue = _mm256_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1, //
                                          0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1);
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 4, 4, 4, 8, 8, 8, 12, 12, 12, -1, -1, -1, -1, //
                                            0, 0, 0, 4, 4, 4, 8, 8, 8, 12, 12, 12, -1, -1, -1, -1);
    const __m256i toLanes = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);   // bytes 0..15 | 12..27
    const __m256i fromLanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 6, 7); // 12 + 12 bytes together
    const __m256i redGreenWeights = _mm256_setr_epi16(2125, 7154, 2125, 7154, 2125, 7154, 2125, 7154, //
                                                      2125, 7154, 2125, 7154, 2125, 7154, 2125, 7154);
    const __m256i blueWeight = _mm256_set1_epi32(721);
    const __m256i tenThousand = _mm256_set1_epi32(10000);
    const __m256i half = _mm256_set1_epi32(5000);
    const __m256 halfPlus = _mm256_set1_ps(5000.5f);
    const __m256 scale = _mm256_set1_ps(1e-4f);
    size_t i = 0;
    // A step loads 32 bytes (its 8 pixels and 8 bytes of the next) but stores only its own 24 bytes: a
    // wider store would overlap the next step's load and stall its forwarding.
    for (; i + 11 <= Count; i += 8) {
        uint8_t* at = Pixels + 3 * i;
        PrefetchAhead(at);
        const __m256i source = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i lanes = _mm256_permutevar8x32_epi32(source, toLanes);
        const __m256i sum =
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(lanes, redGreen), redGreenWeights),
                             _mm256_madd_epi16(_mm256_shuffle_epi8(lanes, blue), blueWeight));
        const __m256i grey =
            _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_add_ps(_mm256_cvtepi32_ps(sum), halfPlus), scale));
        const __m256i tie =
            _mm256_cmpeq_epi32(_mm256_add_epi32(sum, half), _mm256_madd_epi16(grey, tenThousand));
        const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(grey, spread), fromLanes);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 16), _mm256_extracti128_si256(packed, 1));
        if (int ties = _mm256_movemask_ps(_mm256_castsi256_ps(tie))) {
            alignas(32) uint8_t original[32];
            _mm256_store_si256(reinterpret_cast<__m256i*>(original), source);
            for (int p = 0; p < 8; ++p)
                if (ties & (1 << p))
                    at[3 * p] = at[3 * p + 1] = at[3 * p + 2] =
                        GreyOfPixel(original[3 * p], original[3 * p + 1], original[3 * p + 2]);
        }
    }
    ScalarGreyScale(Pixels + 3 * i, Count - i);
}

KV_AVX2 void Avx2MapBytes(uint8_t* Bytes, size_t ByteCount, const TChannelTable& Table) {
    TLookup256 lookup;
    BuildLookup(Table, lookup);
    size_t i = 0;
    for (; i + 32 <= ByteCount; i += 32) {
        PrefetchAhead(Bytes + i);
        __m256i* at = reinterpret_cast<__m256i*>(Bytes + i);
        _mm256_storeu_si256(at, Lookup(lookup, _mm256_loadu_si256(at)));
    }
    ScalarMapBytes(Bytes + i, ByteCount - i, Table);
}

// 32 pixels (96 bytes, 3 registers) per step: each channel's 32 bytes are gathered into one register
// by blends (their order there does not matter), looked up in the channel's table and blended back.
KV_AVX2 void Avx2Map(uint8_t* Pixels, size_t Count, const TChannelTables& Tables) {
    TLookup256 lookup[3];
    BuildLookup(Tables.Blue, lookup[0]);
    BuildLookup(Tables.Green, lookup[1]);
    BuildLookup(Tables.Red, lookup[2]);
    const __m256i mask[3] = {PositionMask(0), PositionMask(1), PositionMask(2)};
    size_t i = 0;
    for (; i + 32 <= Count; i += 32) {
        PrefetchAhead(Pixels + 3 * i);
        PrefetchAhead(Pixels + 3 * i + 48);
        __m256i* at = reinterpret_cast<__m256i*>(Pixels + 3 * i);
        const __m256i v[3] = {_mm256_loadu_si256(at), _mm256_loadu_si256(at + 1), _mm256_loadu_si256(at + 2)};
        __m256i mapped[3];
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            __m256i plane = _mm256_blendv_epi8(v[0], v[1], mask[ChannelMask(c, 1)]);
            plane = _mm256_blendv_epi8(plane, v[2], mask[ChannelMask(c, 2)]);
            mapped[c] = Lookup(lookup[c], plane);
        }
#pragma GCC unroll 3
        for (int j = 0; j < 3; ++j) {
            __m256i out = _mm256_blendv_epi8(mapped[0], mapped[1], mask[ChannelMask(1, j)]);
            out = _mm256_blendv_epi8(out, mapped[2], mask[ChannelMask(2, j)]);
            _mm256_storeu_si256(at + j, out);
        }
    }
    ScalarMap(Pixels + 3 * i, Count - i, Tables);
}

KV_AVX2 void Avx2MapChannel(uint8_t* Pixels, size_t Count, int Channel, const TChannelTable& Table) {
    TLookup256 lookup;
    BuildLookup(Table, lookup);
    __m256i mask[3];
    for (int j = 0; j < 3; ++j)
        mask[j] = PositionMask(ChannelMask(Channel, j));
    size_t i = 0;
    for (; i + 32 <= Count; i += 32) {
        PrefetchAhead(Pixels + 3 * i);
        PrefetchAhead(Pixels + 3 * i + 48);
        __m256i* at = reinterpret_cast<__m256i*>(Pixels + 3 * i);
        const __m256i v[3] = {_mm256_loadu_si256(at), _mm256_loadu_si256(at + 1), _mm256_loadu_si256(at + 2)};
        __m256i plane = _mm256_blendv_epi8(v[0], v[1], mask[1]);
        plane = _mm256_blendv_epi8(plane, v[2], mask[2]);
        const __m256i mapped = Lookup(lookup, plane);
#pragma GCC unroll 3
        for (int j = 0; j < 3; ++j)
            _mm256_storeu_si256(at + j, _mm256_blendv_epi8(v[j], mapped, mask[j]));
    }
    ScalarMapChannel(Pixels + 3 * i, Count - i, Channel, Table);
}

} // namespace

const TKernelSet Avx2Kernels = {Avx2Invert, Avx2GreyScale, Avx2MapBytes, Avx2Map, Avx2MapChannel};

} // namespace KvKernels::Detail
