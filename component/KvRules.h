// The control's extended-precision rules, written once for any extended-precision type R: the grey rule,
// the envelope conversions, and the per-call tables of brightness, envelopes and the filters' mixing.
//
// The control instantiates them with TKvReal (KvReal.h); the tests also instantiate them with TExtended and
// compare with the models, which evaluate the same rules on the x87 where one exists. R(n) is exact for the
// integers used here, each operation rounds to 64 bits (ties to even), and Round rounds to an integer.
#pragma once

#include "KvFilters.h"
#include "KvPointOps.h"
#include <pictura/FitinRange.h>
#include <pictura/Round.h>

#include <array>
#include <cstdint>

namespace KvKernels {

// The grey rule's weights, the nearest extended-precision values to 0.2125, 0.7154 and 0.0721: exact ratios,
// each one correctly rounded quotient.
template <class R> inline constexpr R GreyRedWeight = R(2125) / R(10000);
template <class R> inline constexpr R GreyGreenWeight = R(7154) / R(10000);
template <class R> inline constexpr R GreyBlueWeight = R(721) / R(10000);

// Round(0.2125 red + 0.7154 green + 0.0721 blue), the products added in the order red, green, blue.
template <class R> uint8_t GreyRule(uint8_t Blue, uint8_t Green, uint8_t Red) {
    return uint8_t(
        Round(R(Red) * GreyRedWeight<R> + R(Green) * GreyGreenWeight<R> + R(Blue) * GreyBlueWeight<R>));
}

// Value / 100 rounded once to double (Value already clamped to 0..100).
template <class R> double GainFromPercentRule(double Value) {
    return double(R(Value) / R(100));
}

// Gain x 100 rounded once to double; a gain that is not finite gives what double arithmetic gives.
template <class R> double PercentFromGainRule(double Gain) {
    if (!(Gain - Gain == 0)) return Gain * 100;
    return double(R(Gain) * R(100));
}

// Brightness: Value clamped to -100..100, the factor Value / 100 held as a double; a channel c moves by
// Round((255 - c) x factor) towards white, or by Round(c x factor) towards black.
template <class R> TChannelTable BrightnessRuleTable(int32_t Value) {
    const int32_t percent = Value > 100 ? 100 : Value < -100 ? -100 : Value;
    const double factor = double(R(percent) / R(100)); // held as a double on purpose
    const R wideFactor(factor);
    TChannelTable table;
    for (int c = 0; c < 256; ++c) {
        const int64_t step = factor >= 0 ? Round(R(255 - c) * wideFactor) : Round(R(c) * wideFactor);
        table[size_t(c)] = uint8_t(c + step);
    }
    return table;
}

// Envelope: entry v is the low 8 bits of Round(v x Gains[v]).
template <class R> TChannelTable EnvelopeRuleTable(const double (&Gains)[256]) {
    TChannelTable table;
    for (int v = 0; v < 256; ++v)
        table[size_t(v)] = uint8_t(Round(R(v) * R(Gains[v])));
    return table;
}

// The mixing rule for every (value, mean) pair, stored at Table[value * 256 + mean] (65,536 entries): the
// distance over 100 times Amount, added to or subtracted from the value as the rule says, rounded and
// clamped. A pair with value == mean keeps it.
template <class R> void FillMixTable(uint8_t* Table, int8_t Amount, TFilterKind Kind) {
    const R amount(Amount);
    std::array<R, 256> step; // Amount * (distance / 100), the same bits wherever it is used
    for (int d = 0; d < 256; ++d)
        step[size_t(d)] = amount * (R(d) / R(100));
    const bool towards = Kind == TFilterKind::Blur;
    for (int v = 0; v < 256; ++v) {
        const R value(v);
        for (int m = 0; m < 256; ++m) {
            int64_t n = v;
            if (v > m) {
                const R& s = step[size_t(v - m)];
                n = towards ? Round(value - s) : Round(s + value);
            } else if (v < m) {
                const R& s = step[size_t(m - v)];
                n = towards ? Round(s + value) : Round(value - s);
            }
            Table[size_t(v) * 256 + size_t(m)] = FitinRange(int32_t(n)); // |n| < 600
        }
    }
}

} // namespace KvKernels
