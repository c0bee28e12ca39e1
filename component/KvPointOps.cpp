// Point operations and channel envelopes: tables, the scalar kernels and the choice of kernel level.
//
// Exactness: tables are computed by the rules themselves (KvRules.h) in extended precision with Round. The
// grey kernels use an exact integer form of the rule wherever it provably agrees (see GreyOfSum) and the
// extended-precision rule itself everywhere else.
#include "KvPointOps.h"

#include "KvPointOpsKernels.h"
#include "KvReal.h"
#include "KvRules.h"
#include <pictura/SysUtils.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>

namespace KvKernels {
namespace Detail {

uint8_t GreyOfPixel(uint8_t Blue, uint8_t Green, uint8_t Red) {
    return GreyRule<TKvReal>(Blue, Green, Red);
}

namespace {

// Grey level from Sum = 10000 * (exact grey value). The extended-precision evaluation carries four
// relative roundings of at most 2^-64 each (the constants, the products, the two additions), so it is
// off the exact value by less than 4.01 * 2^-64 * 255 < 6e-17. The exact value is Sum / 10000, which is
// either a tie (Sum % 10000 == 5000) or at least 1e-4 away from one; off the ties the extended result
// therefore rounds to the same integer as the exact value, which is (Sum + 5000) / 10000. Only the ties
// depend on the direction of the rounding errors and are evaluated by the rule itself.
inline uint8_t GreyOfSum(int32_t Sum, uint8_t Blue, uint8_t Green, uint8_t Red) {
    return IsGreyTie(Sum) ? GreyOfPixel(Blue, Green, Red) : uint8_t((Sum + 5000) / 10000);
}

} // namespace

void ScalarInvert(uint8_t* Bytes, size_t ByteCount) {
    size_t i = 0;
    for (; i + 8 <= ByteCount; i += 8) {
        uint64_t word;
        std::memcpy(&word, Bytes + i, 8);
        word = ~word;
        std::memcpy(Bytes + i, &word, 8);
    }
    for (; i < ByteCount; ++i)
        Bytes[i] = uint8_t(~Bytes[i]);
}

void ScalarGreyScale(uint8_t* Pixels, size_t Count) {
    for (size_t i = 0; i < Count; ++i, Pixels += 3) {
        if (i % 16 == 0) PrefetchAhead(Pixels);
        const uint8_t blue = Pixels[0], green = Pixels[1], red = Pixels[2];
        const uint8_t grey = GreyOfSum(GreySum(blue, green, red), blue, green, red);
        Pixels[0] = Pixels[1] = Pixels[2] = grey;
    }
}

// The lookups of a step are all read before any is stored: a store to the row could alias the table,
// and would otherwise force the compiler to serialise the loads behind it.
void ScalarMapBytes(uint8_t* Bytes, size_t ByteCount, const TChannelTable& Table) {
    size_t i = 0;
    for (; i + 4 <= ByteCount; i += 4) {
        if (i % 64 == 0) PrefetchAhead(Bytes + i);
        const uint8_t a = Table[Bytes[i]], b = Table[Bytes[i + 1]], c = Table[Bytes[i + 2]],
                      d = Table[Bytes[i + 3]];
        Bytes[i] = a, Bytes[i + 1] = b, Bytes[i + 2] = c, Bytes[i + 3] = d;
    }
    for (; i < ByteCount; ++i)
        Bytes[i] = Table[Bytes[i]];
}

void ScalarMap(uint8_t* Pixels, size_t Count, const TChannelTables& Tables) {
    for (size_t i = 0; i < Count; ++i, Pixels += 3) {
        if (i % 16 == 0) PrefetchAhead(Pixels);
        const uint8_t blue = Tables.Blue[Pixels[0]], green = Tables.Green[Pixels[1]],
                      red = Tables.Red[Pixels[2]];
        Pixels[0] = blue, Pixels[1] = green, Pixels[2] = red;
    }
}

void ScalarMapChannel(uint8_t* Pixels, size_t Count, int Channel, const TChannelTable& Table) {
    uint8_t* channel = Pixels + Channel;
    for (size_t i = 0; i < Count; ++i, channel += 3)
        *channel = Table[*channel];
}

const TKernelSet ScalarKernels = {ScalarInvert, ScalarGreyScale,  ScalarMapBytes,
                                  ScalarMap,    ScalarMapChannel, nullptr};

} // namespace Detail

namespace {

const Detail::TKernelSet& KernelSetOf(TSimdLevel Level) {
#if defined(__x86_64__)
    switch (Level) {
    case TSimdLevel::Avx512Vbmi:
        return Detail::Avx512VbmiKernels;
    case TSimdLevel::Avx2:
        return Detail::Avx2Kernels;
    case TSimdLevel::Sse41:
        return Detail::Sse41Kernels;
    case TSimdLevel::Scalar:
        break;
    }
#else
    (void)Level;
#endif
    return Detail::ScalarKernels;
}

// The vector kernels exist on x86-64 only; elsewhere the scalar kernels run.
TSimdLevel DetectSimdLevel() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    // The compiler's checks include the operating system's support for the wider register state.
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx2"))
        return TSimdLevel::Avx512Vbmi;
    if (__builtin_cpu_supports("avx2")) return TSimdLevel::Avx2;
    if (__builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3")) return TSimdLevel::Sse41;
#endif
    return TSimdLevel::Scalar;
}

// -1 until the first kernel call or SetSimdLevel picks a level.
std::atomic<int> GLevel{-1};

const Detail::TKernelSet& Kernels() {
    int level = GLevel.load(std::memory_order_relaxed);
    if (level < 0) {
        level = int(SupportedSimdLevel());
        GLevel.store(level, std::memory_order_relaxed);
    }
    return KernelSetOf(TSimdLevel(level));
}

size_t PixelCount(int Count) {
    return Count > 0 ? size_t(Count) : 0;
}

} // namespace

TSimdLevel SupportedSimdLevel() {
    static const TSimdLevel supported = DetectSimdLevel();
    return supported;
}

TSimdLevel SimdLevel() {
    Kernels();
    return TSimdLevel(GLevel.load(std::memory_order_relaxed));
}

void SetSimdLevel(TSimdLevel Level) {
    if (int(Level) < 0 || int(Level) > int(SupportedSimdLevel()))
        throw EArgumentError("SetSimdLevel: level " + std::to_string(int(Level)) +
                             " is not supported by this processor (highest is " +
                             std::to_string(int(SupportedSimdLevel())) + ")");
    GLevel.store(int(Level), std::memory_order_relaxed);
}

void InvertRow(uint8_t* Pixels, int Count) {
    Kernels().Invert(Pixels, 3 * PixelCount(Count));
}

TChannelTable BrightnessTable(int32_t Value) {
    return BrightnessRuleTable<TKvReal>(Value);
}

namespace {

// The arithmetic form of Table near the line Slope * v + Intercept, if one of the neighbouring steps
// gives every entry exactly. Lines outside the form's range (or NaN) keep the lookup.
void FitAffine(TByteMap& Map, double Slope, double Intercept) {
    if (!(Slope >= 0 && Slope <= 1 && Intercept >= 0 && Intercept <= 255)) return;
    const long scale = std::lround(Slope * 65536), offset = std::lround((Intercept + 0.5) * 256);
    for (long s = std::max(0L, scale - 1); s <= std::min(65535L, scale + 1); ++s)
        for (long o = std::max(0L, offset - 2); o <= std::min(65535L, offset + 2); ++o) {
            int v = 0;
            while (v < 256 &&
                   Detail::AffineByte(uint32_t(v), uint16_t(s), uint16_t(o)) == Map.Table[size_t(v)])
                ++v;
            if (v == 256) {
                Map.Affine = true, Map.Scale = uint16_t(s), Map.Offset = uint16_t(o);
                return;
            }
        }
}

} // namespace

TByteMap BrightnessMap(int32_t Value) {
    TByteMap map;
    map.Table = BrightnessTable(Value);
    // The rule moves c by Round((255 - c) f) or by Round(c f): c (1 - f) + 255 f or c (1 + f), rounded.
    const double factor = std::clamp(Value, -100, 100) / 100.0;
    if (factor >= 0)
        FitAffine(map, 1 - factor, 255 * factor);
    else
        FitAffine(map, 1 + factor, 0);
    return map;
}

void GreyScaleRow(uint8_t* Pixels, int Count) {
    Kernels().GreyScale(Pixels, PixelCount(Count));
}

TChannelTable EnvelopeTable(const double (&Gains)[256]) {
    return EnvelopeRuleTable<TKvReal>(Gains);
}

TByteMap EnvelopeMap(const double (&Gains)[256]) {
    TByteMap map;
    map.Table = EnvelopeTable(Gains);
    if (std::all_of(std::begin(Gains), std::end(Gains), [&](double Gain) { return Gain == Gains[0]; }))
        FitAffine(map, Gains[0], 0);
    return map;
}

void MapRow(uint8_t* Pixels, int Count, const TChannelTables& Tables) {
    const Detail::TKernelSet& kernels = Kernels();
    // One table for all channels (brightness) needs no separation of the channels: a cheaper kernel.
    if (Tables.Blue == Tables.Green && Tables.Green == Tables.Red)
        kernels.MapBytes(Pixels, 3 * PixelCount(Count), Tables.Blue);
    else
        kernels.Map(Pixels, PixelCount(Count), Tables);
}

void MapBytesRow(uint8_t* Pixels, int Count, const TChannelTable& Table) {
    Kernels().MapBytes(Pixels, 3 * PixelCount(Count), Table);
}

void MapBytesRow(uint8_t* Pixels, int Count, const TByteMap& Map) {
    const Detail::TKernelSet& kernels = Kernels();
    if (Map.Affine && kernels.MapAffine)
        kernels.MapAffine(Pixels, 3 * PixelCount(Count), Map.Scale, Map.Offset);
    else
        kernels.MapBytes(Pixels, 3 * PixelCount(Count), Map.Table);
}

void MapChannelRow(uint8_t* Pixels, int Count, int Channel, const TChannelTable& Table) {
    Kernels().MapChannel(Pixels, PixelCount(Count), Channel, Table);
}

} // namespace KvKernels
