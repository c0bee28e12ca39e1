// Row kernels on 64-byte registers (AVX-512 with byte permutes), chosen at run time.
//
// Exactness: table kernels look up the very tables the scalar kernels use, the grey kernel is the AVX2
// one. Every function here carries its own target attribute, so nothing compiled for these
// instructions can be reached on a processor without them.
#include "KvPointOpsKernels.h"

#include <immintrin.h>

#define KV_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))

namespace KvKernels::Detail {
namespace {

// A 256-entry table in four registers; two two-register permutes cover entries 0..127 and 128..255.
struct TLookup512 {
    __m512i T[4];
};

KV_AVX512 void BuildLookup(const TChannelTable& Table, TLookup512& Lookup) {
    for (int k = 0; k < 4; ++k)
        Lookup.T[k] = _mm512_loadu_si512(Table.data() + 64 * k);
}

// Table[x] for 64 bytes: the permutes use the low 7 bits of x, bit 7 picks the half.
KV_AVX512 inline __m512i Lookup(const TLookup512& L, __m512i X) {
    const __m512i low = _mm512_permutex2var_epi8(L.T[0], X, L.T[1]);
    const __m512i high = _mm512_permutex2var_epi8(L.T[2], X, L.T[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(X), low, high);
}

// Byte positions q (0..63) of a register with q % 3 == K.
constexpr __mmask64 PositionMask(int K) {
    __mmask64 mask = 0;
    for (int q = 0; q < 64; ++q)
        if (q % 3 == K) mask |= __mmask64(1) << q;
    return mask;
}
constexpr __mmask64 PositionMasks[3] = {PositionMask(0), PositionMask(1), PositionMask(2)};

// Register J (0..2) of a 192-byte block holds channel C at the positions q == C - J (mod 3).
constexpr int ChannelMask(int C, int J) {
    return (C - J + 3) % 3;
}

// The first ByteCount bytes of a register (all of them from 64 on).
constexpr __mmask64 LeadingBytes(size_t ByteCount) {
    return ByteCount >= 64 ? ~__mmask64(0) : (__mmask64(1) << ByteCount) - 1;
}

KV_AVX512 void Avx512Invert(uint8_t* Bytes, size_t ByteCount) {
    const __m512i ones = _mm512_set1_epi8(char(0xFF));
    size_t i = 0;
    for (; i + 64 <= ByteCount; i += 64)
        _mm512_storeu_si512(Bytes + i, _mm512_xor_si512(_mm512_loadu_si512(Bytes + i), ones));
    const __mmask64 rest = LeadingBytes(ByteCount - i);
    _mm512_mask_storeu_epi8(Bytes + i, rest,
                            _mm512_xor_si512(_mm512_maskz_loadu_epi8(rest, Bytes + i), ones));
}

void Avx512GreyScale(uint8_t* Pixels, size_t Count) {
    Avx2Kernels.GreyScale(Pixels, Count);
}

KV_AVX512 void Avx512MapBytes(uint8_t* Bytes, size_t ByteCount, const TChannelTable& Table) {
    TLookup512 lookup;
    BuildLookup(Table, lookup);
    size_t i = 0;
    for (; i + 64 <= ByteCount; i += 64) {
        PrefetchAhead(Bytes + i);
        _mm512_storeu_si512(Bytes + i, Lookup(lookup, _mm512_loadu_si512(Bytes + i)));
    }
    const __mmask64 rest = LeadingBytes(ByteCount - i);
    _mm512_mask_storeu_epi8(Bytes + i, rest, Lookup(lookup, _mm512_maskz_loadu_epi8(rest, Bytes + i)));
}

// 64 pixels (192 bytes, 3 registers) per step: each channel's 64 bytes are gathered into one register
// by masked moves (their order there does not matter), looked up in the channel's table and moved
// back. The last, partial block uses masked loads and stores that touch only the row's bytes.
KV_AVX512 inline void MapBlock(uint8_t* At, const TLookup512 (&Lookup3)[3], const __mmask64 (&Valid)[3]) {
    __m512i v[3];
    for (int j = 0; j < 3; ++j)
        v[j] = _mm512_maskz_loadu_epi8(Valid[j], At + 64 * j);
    __m512i mapped[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        __m512i plane = _mm512_mask_mov_epi8(v[0], PositionMasks[ChannelMask(c, 1)], v[1]);
        plane = _mm512_mask_mov_epi8(plane, PositionMasks[ChannelMask(c, 2)], v[2]);
        mapped[c] = Lookup(Lookup3[c], plane);
    }
#pragma GCC unroll 3
    for (int j = 0; j < 3; ++j) {
        __m512i out = _mm512_mask_mov_epi8(mapped[0], PositionMasks[ChannelMask(1, j)], mapped[1]);
        out = _mm512_mask_mov_epi8(out, PositionMasks[ChannelMask(2, j)], mapped[2]);
        _mm512_mask_storeu_epi8(At + 64 * j, Valid[j], out);
    }
}

KV_AVX512 void Avx512Map(uint8_t* Pixels, size_t Count, const TChannelTables& Tables) {
    TLookup512 lookup[3];
    BuildLookup(Tables.Blue, lookup[0]);
    BuildLookup(Tables.Green, lookup[1]);
    BuildLookup(Tables.Red, lookup[2]);
    const size_t byteCount = 3 * Count;
    const __mmask64 all[3] = {~__mmask64(0), ~__mmask64(0), ~__mmask64(0)};
    size_t i = 0;
    for (; i + 192 <= byteCount; i += 192) {
        for (int line = 0; line < 3; ++line)
            PrefetchAhead(Pixels + i + 64 * line);
        MapBlock(Pixels + i, lookup, all);
    }
    if (i < byteCount) {
        const size_t rest = byteCount - i;
        const __mmask64 valid[3] = {LeadingBytes(rest), LeadingBytes(rest > 64 ? rest - 64 : 0),
                                    LeadingBytes(rest > 128 ? rest - 128 : 0)};
        MapBlock(Pixels + i, lookup, valid);
    }
}

// As MapBlock, for one channel: the other two channels' bytes are stored back as loaded.
KV_AVX512 inline void MapChannelBlock(uint8_t* At, const TLookup512& Lookup1, const __mmask64 (&Channel)[3],
                                      const __mmask64 (&Valid)[3]) {
    __m512i v[3];
    for (int j = 0; j < 3; ++j)
        v[j] = _mm512_maskz_loadu_epi8(Valid[j], At + 64 * j);
    __m512i plane = _mm512_mask_mov_epi8(v[0], Channel[1], v[1]);
    plane = _mm512_mask_mov_epi8(plane, Channel[2], v[2]);
    const __m512i mapped = Lookup(Lookup1, plane);
    for (int j = 0; j < 3; ++j)
        _mm512_mask_storeu_epi8(At + 64 * j, Valid[j] & Channel[j], mapped);
}

KV_AVX512 void Avx512MapChannel(uint8_t* Pixels, size_t Count, int Channel, const TChannelTable& Table) {
    TLookup512 lookup;
    BuildLookup(Table, lookup);
    __mmask64 channel[3];
    for (int j = 0; j < 3; ++j)
        channel[j] = PositionMasks[ChannelMask(Channel, j)];
    const size_t byteCount = 3 * Count;
    const __mmask64 all[3] = {~__mmask64(0), ~__mmask64(0), ~__mmask64(0)};
    size_t i = 0;
    for (; i + 192 <= byteCount; i += 192) {
        for (int line = 0; line < 3; ++line)
            PrefetchAhead(Pixels + i + 64 * line);
        MapChannelBlock(Pixels + i, lookup, channel, all);
    }
    if (i < byteCount) {
        const size_t rest = byteCount - i;
        const __mmask64 valid[3] = {LeadingBytes(rest), LeadingBytes(rest > 64 ? rest - 64 : 0),
                                    LeadingBytes(rest > 128 ? rest - 128 : 0)};
        MapChannelBlock(Pixels + i, lookup, channel, valid);
    }
}

} // namespace

const TKernelSet Avx512VbmiKernels = {Avx512Invert, Avx512GreyScale, Avx512MapBytes, Avx512Map,
                                      Avx512MapChannel};

} // namespace KvKernels::Detail
