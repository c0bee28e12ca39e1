// The vector row kernels, written once over a vector-operations type V and compiled by each level's
// file for its own instruction set.
//
// Include only from a level's kernel file, after defining KV_KERNEL_TARGET as that level's target
// attribute. Everything here has internal linkage, so each level's copy stays in its own file and
// nothing compiled for one level's instructions is reachable from another's.
//
// V provides: T (the register), Size (its bytes), Load, Store, Set1, Xor, InvertRegisters (per step);
// for the grey kernel F (the single-precision register), Set1Int32, Set1F, Lanes (a 16-byte pattern
// in every lane), Shuffle, Madd, Add, Equal, AddF, MulF, ToFloat, ToIntTruncated, SignMask, ToLanes,
// StorePacked; for the arithmetic byte map Set1Int16, Spread, MulHigh16, Add16, PackHigh; for the table
// kernels TLookup, BuildLookup, Lookup, TMask, PositionMask, Blend, StoreWhere. With MaskedTail, LoadFirst
// and StoreFirst finish a row in place of the scalar kernels.
#pragma once

#include "KvPointOpsKernels.h"

#ifndef KV_KERNEL_TARGET
#error "define KV_KERNEL_TARGET as the including level's target attribute"
#endif

namespace KvKernels::Detail {
namespace {

template <class V> KV_KERNEL_TARGET void VectorInvert(uint8_t* Bytes, size_t ByteCount) {
    using T = typename V::T;
    constexpr size_t W = V::Size, Step = V::InvertRegisters * W;
    const T ones = V::Set1(0xFF);
    size_t i = 0;
    for (; i + Step <= ByteCount; i += Step) {
        T v[V::InvertRegisters];
#pragma GCC unroll 4
        for (size_t r = 0; r < V::InvertRegisters; ++r)
            v[r] = V::Load(Bytes + i + r * W);
#pragma GCC unroll 4
        for (size_t r = 0; r < V::InvertRegisters; ++r)
            V::Store(Bytes + i + r * W, V::Xor(v[r], ones));
    }
    for (; i + W <= ByteCount; i += W)
        V::Store(Bytes + i, V::Xor(V::Load(Bytes + i), ones));
    if constexpr (V::MaskedTail)
        V::StoreFirst(Bytes + i, ByteCount - i, V::Xor(V::LoadFirst(Bytes + i, ByteCount - i), ones));
    else
        ScalarInvert(Bytes + i, ByteCount - i);
}

// Size / 4 pixels per step: the sums 2125 red + 7154 green + 721 blue by word multiply-adds, the
// rounded quotient by single precision ((Sum + 5000.5) / 10000 is at least 5e-5 from an integer and
// single precision errs by less than 3.1e-5 here), the tie sums found exactly as multiples of 10000.
// Shuffles work within 16-byte lanes: ToLanes gives each lane its 4 pixels, StorePacked undoes that.
template <class V> KV_KERNEL_TARGET void VectorGreyScale(uint8_t* Pixels, size_t Count) {
    using T = typename V::T;
    using F = typename V::F;
    constexpr size_t W = V::Size;
    static constexpr int8_t RedGreenBytes[16] = {2, -1, 1, -1, 5, -1, 4, -1, 8, -1, 7, -1, 11, -1, 10, -1};
    static constexpr int8_t BlueBytes[16] = {0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1};
    static constexpr int8_t SpreadBytes[16] = {0, 0, 0, 4, 4, 4, 8, 8, 8, 12, 12, 12, -1, -1, -1, -1};
    const T redGreen = V::Lanes(RedGreenBytes), blue = V::Lanes(BlueBytes), spread = V::Lanes(SpreadBytes);
    const T redGreenWeights = V::Set1Int32(2125 | 7154 << 16);
    const T blueWeight = V::Set1Int32(721);
    const T tenThousand = V::Set1Int32(10000);
    const T half = V::Set1Int32(5000);
    const F halfPlus = V::Set1F(5000.5f);
    const F scale = V::Set1F(1e-4f);
    size_t i = 0;
    // A step loads W bytes (its pixels and W / 4 bytes of the next) but stores only its own: a wider
    // store would overlap the next step's load and stall its forwarding.
    for (; i + (W + 2) / 3 <= Count; i += W / 4) {
        uint8_t* at = Pixels + 3 * i;
        PrefetchAhead(at);
        const T source = V::Load(at);
        const T lanes = V::ToLanes(source);
        const T sum = V::Add(V::Madd(V::Shuffle(lanes, redGreen), redGreenWeights),
                             V::Madd(V::Shuffle(lanes, blue), blueWeight));
        const T grey = V::ToIntTruncated(V::MulF(V::AddF(V::ToFloat(sum), halfPlus), scale));
        const T tie = V::Equal(V::Add(sum, half), V::Madd(grey, tenThousand));
        V::StorePacked(at, V::Shuffle(grey, spread));
        if (const unsigned ties = V::SignMask(tie)) {
            uint8_t original[W];
            V::Store(original, source);
            for (size_t p = 0; p < W / 4; ++p)
                if (ties & (1u << p))
                    at[3 * p] = at[3 * p + 1] = at[3 * p + 2] =
                        GreyOfPixel(original[3 * p], original[3 * p + 1], original[3 * p + 2]);
        }
    }
    ScalarGreyScale(Pixels + 3 * i, Count - i);
}

template <class V>
KV_KERNEL_TARGET void VectorMapBytes(uint8_t* Bytes, size_t ByteCount, const TChannelTable& Table) {
    constexpr size_t W = V::Size;
    typename V::TLookup lookup;
    V::BuildLookup(Table, lookup);
    size_t i = 0;
    for (; i + W <= ByteCount; i += W) {
        PrefetchAhead(Bytes + i);
        V::Store(Bytes + i, V::Lookup(lookup, V::Load(Bytes + i)));
    }
    if constexpr (V::MaskedTail)
        V::StoreFirst(Bytes + i, ByteCount - i, V::Lookup(lookup, V::LoadFirst(Bytes + i, ByteCount - i)));
    else
        ScalarMapBytes(Bytes + i, ByteCount - i, Table);
}

// TByteMap's arithmetic form: the bytes widened to 16-bit lanes as v * 256, so that one high multiply
// gives (v * Scale) >> 8; the sum wraps as uint16_t does, and its high byte is the result.
template <class V>
KV_KERNEL_TARGET inline typename V::T MapAffineRegister(typename V::T X, typename V::T Scale,
                                                        typename V::T Offset) {
    return V::PackHigh(V::Add16(V::MulHigh16(V::Spread(X, false), Scale), Offset),
                       V::Add16(V::MulHigh16(V::Spread(X, true), Scale), Offset));
}

template <class V>
KV_KERNEL_TARGET void VectorMapAffine(uint8_t* Bytes, size_t ByteCount, uint16_t Scale, uint16_t Offset) {
    using T = typename V::T;
    constexpr size_t W = V::Size;
    const T scale = V::Set1Int16(Scale), offset = V::Set1Int16(Offset);
    size_t i = 0;
    for (; i + W <= ByteCount; i += W) {
        PrefetchAhead(Bytes + i); // a fifth faster on a picture outside the core's caches
        V::Store(Bytes + i, MapAffineRegister<V>(V::Load(Bytes + i), scale, offset));
    }
    for (; i < ByteCount; ++i)
        Bytes[i] = AffineByte(Bytes[i], Scale, Offset);
}

// Register J (0..2) of a block of three registers starts at byte J * Size of the block, so channel C
// sits at its positions q == C - J * Size (mod 3).
template <class V> constexpr int ChannelPosition(int C, int J) {
    return (C + 3 - int(size_t(J) * V::Size % 3)) % 3;
}

// Loads and stores of a block's three registers; a partial block (Rest bytes) touches only the row's.
template <class V, bool Partial>
KV_KERNEL_TARGET inline typename V::T LoadOfBlock(const uint8_t* Block, size_t Rest, int J) {
    const size_t start = size_t(J) * V::Size;
    if constexpr (Partial)
        return V::LoadFirst(Block + start, Rest > start ? Rest - start : 0);
    else
        return V::Load(Block + start);
}

template <class V, bool Partial>
KV_KERNEL_TARGET inline void StoreOfBlock(uint8_t* Block, size_t Rest, int J, typename V::T Value) {
    const size_t start = size_t(J) * V::Size;
    if constexpr (Partial)
        V::StoreFirst(Block + start, Rest > start ? Rest - start : 0, Value);
    else
        V::Store(Block + start, Value);
}

// Size pixels (3 registers) per block: each channel's bytes are gathered into one register by blends
// (their order there does not matter), looked up in the channel's table and blended back.
template <class V, bool Partial>
KV_KERNEL_TARGET inline void MapBlock(uint8_t* Block, size_t Rest, const typename V::TLookup (&Lookup)[3],
                                      const typename V::TMask (&Mask)[3]) {
    using T = typename V::T;
    const T v[3] = {LoadOfBlock<V, Partial>(Block, Rest, 0), LoadOfBlock<V, Partial>(Block, Rest, 1),
                    LoadOfBlock<V, Partial>(Block, Rest, 2)};
    T mapped[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        T plane = V::Blend(v[0], v[1], Mask[ChannelPosition<V>(c, 1)]);
        plane = V::Blend(plane, v[2], Mask[ChannelPosition<V>(c, 2)]);
        mapped[c] = V::Lookup(Lookup[c], plane);
    }
#pragma GCC unroll 3
    for (int j = 0; j < 3; ++j) {
        T out = V::Blend(mapped[0], mapped[1], Mask[ChannelPosition<V>(1, j)]);
        out = V::Blend(out, mapped[2], Mask[ChannelPosition<V>(2, j)]);
        StoreOfBlock<V, Partial>(Block, Rest, j, out);
    }
}

template <class V>
KV_KERNEL_TARGET void VectorMap(uint8_t* Pixels, size_t Count, const TChannelTables& Tables) {
    constexpr size_t BlockBytes = 3 * V::Size;
    typename V::TLookup lookup[3];
    V::BuildLookup(Tables.Blue, lookup[0]);
    V::BuildLookup(Tables.Green, lookup[1]);
    V::BuildLookup(Tables.Red, lookup[2]);
    const typename V::TMask mask[3] = {V::PositionMask(0), V::PositionMask(1), V::PositionMask(2)};
    const size_t byteCount = 3 * Count;
    size_t i = 0;
    for (; i + BlockBytes <= byteCount; i += BlockBytes) {
        for (size_t line = 0; line < BlockBytes; line += 64)
            PrefetchAhead(Pixels + i + line);
        MapBlock<V, false>(Pixels + i, BlockBytes, lookup, mask);
    }
    if constexpr (V::MaskedTail) {
        if (i < byteCount) MapBlock<V, true>(Pixels + i, byteCount - i, lookup, mask);
    } else {
        ScalarMap(Pixels + i, (byteCount - i) / 3, Tables);
    }
}

// As MapBlock, for one channel: the other two channels' bytes are stored back as loaded.
template <class V, bool Partial>
KV_KERNEL_TARGET inline void MapChannelBlock(uint8_t* Block, size_t Rest, const typename V::TLookup& Lookup,
                                             const typename V::TMask (&Channel)[3]) {
    using T = typename V::T;
    const T v[3] = {LoadOfBlock<V, Partial>(Block, Rest, 0), LoadOfBlock<V, Partial>(Block, Rest, 1),
                    LoadOfBlock<V, Partial>(Block, Rest, 2)};
    T plane = V::Blend(v[0], v[1], Channel[1]);
    plane = V::Blend(plane, v[2], Channel[2]);
    const T mapped = V::Lookup(Lookup, plane);
#pragma GCC unroll 3
    for (int j = 0; j < 3; ++j) {
        if constexpr (Partial)
            StoreOfBlock<V, Partial>(Block, Rest, j, V::Blend(v[j], mapped, Channel[j]));
        else
            V::StoreWhere(Block + size_t(j) * V::Size, v[j], mapped, Channel[j]);
    }
}

template <class V>
KV_KERNEL_TARGET void VectorMapChannel(uint8_t* Pixels, size_t Count, int Channel,
                                       const TChannelTable& Table) {
    constexpr size_t BlockBytes = 3 * V::Size;
    typename V::TLookup lookup;
    V::BuildLookup(Table, lookup);
    typename V::TMask channel[3];
    for (int j = 0; j < 3; ++j)
        channel[j] = V::PositionMask(ChannelPosition<V>(Channel, j));
    const size_t byteCount = 3 * Count;
    size_t i = 0;
    for (; i + BlockBytes <= byteCount; i += BlockBytes) {
        for (size_t line = 0; line < BlockBytes; line += 64)
            PrefetchAhead(Pixels + i + line);
        MapChannelBlock<V, false>(Pixels + i, BlockBytes, lookup, channel);
    }
    if constexpr (V::MaskedTail) {
        if (i < byteCount) MapChannelBlock<V, true>(Pixels + i, byteCount - i, lookup, channel);
    } else {
        ScalarMapChannel(Pixels + i, (byteCount - i) / 3, Channel, Table);
    }
}

} // namespace
} // namespace KvKernels::Detail
