// The row kernels of each instruction-set level, behind one table of function pointers per level.
//
// Exactness: every set computes the same bytes as the scalar set, which evaluates the rules directly.
#pragma once

#include "KvPointOps.h"

#include <cstddef>
#include <cstdint>

namespace KvKernels::Detail {

// One level's implementation of every row kernel; byte counts are 3 * pixel count.
struct TKernelSet {
    void (*Invert)(uint8_t* Bytes, size_t ByteCount);
    void (*GreyScale)(uint8_t* Pixels, size_t Count);
    void (*MapBytes)(uint8_t* Bytes, size_t ByteCount, const TChannelTable& Table);
    void (*Map)(uint8_t* Pixels, size_t Count, const TChannelTables& Tables);
    void (*MapChannel)(uint8_t* Pixels, size_t Count, int Channel, const TChannelTable& Table);
    // TByteMap's arithmetic form; null where the lookup is as fast (MapBytes runs instead).
    void (*MapAffine)(uint8_t* Bytes, size_t ByteCount, uint16_t Scale, uint16_t Offset);
};

// Plain C++; runs everywhere and finishes the row tails of the vector sets.
extern const TKernelSet ScalarKernels;
void ScalarInvert(uint8_t* Bytes, size_t ByteCount);
void ScalarGreyScale(uint8_t* Pixels, size_t Count);
void ScalarMapBytes(uint8_t* Bytes, size_t ByteCount, const TChannelTable& Table);
void ScalarMap(uint8_t* Pixels, size_t Count, const TChannelTables& Tables);
void ScalarMapChannel(uint8_t* Pixels, size_t Count, int Channel, const TChannelTable& Table);
// SSSE3 byte shuffles and SSE4.1 blends on 16-byte registers.
extern const TKernelSet Sse41Kernels;
// AVX2 on 32-byte registers.
extern const TKernelSet Avx2Kernels;
// AVX-512 with byte permutes (VBMI) for the table kernels, AVX2 for the others.
extern const TKernelSet Avx512VbmiKernels;

// How far ahead of the bytes in work the kernels request the row into the cache. Without it, kernels
// that spend many instructions per byte keep too few reads in flight and run up to three times slower
// on a picture that is not in the core's own caches.
constexpr size_t PrefetchDistance = 1024;

// Requests the cache line PrefetchDistance bytes after At; a prefetch never faults, so addresses past
// the end of the row are harmless.
inline void PrefetchAhead(const uint8_t* At) {
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(At) + PrefetchDistance));
}

// One entry of TByteMap's arithmetic form, as the vector kernels compute it in 16-bit lanes.
constexpr uint8_t AffineByte(uint32_t Value, uint16_t Scale, uint16_t Offset) {
    return uint8_t(uint16_t(((Value * Scale) >> 8) + Offset) >> 8);
}

// Grey level of one pixel by the extended-precision rule; the vector paths use it for tie sums.
uint8_t GreyOfPixel(uint8_t Blue, uint8_t Green, uint8_t Red);

// Weighted sum 2125 red + 7154 green + 721 blue: 10000 times the grey value, exactly.
constexpr int32_t GreySum(uint32_t Blue, uint32_t Green, uint32_t Red) {
    return int32_t(2125 * Red + 7154 * Green + 721 * Blue);
}

// Sums whose tenth-thousandth part ends in exactly .5: only there can the extended-precision grey
// value differ from the integer rounding of Sum / 10000 (see GreyOfSum in KvPointOps.cpp).
constexpr bool IsGreyTie(int32_t Sum) {
    return Sum % 10000 == 5000;
}

} // namespace KvKernels::Detail
