// Checks of TExtended over the domains where the pixel rules use extended precision, each against the x87
// (the models evaluate the rules on it) or against exact integer arithmetic. ExtendedTest runs a sample of
// each domain; ExtendedExhaustiveTest (label "long") runs them whole. Each returns the number of mismatches
// and describes the first in First.
#pragma once

#include "KvRules.h"
#include "X87Bits.h"
#include <FiltersModel.h>
#include <PointOpsModel.h>

#include <cstdint>
#include <random>
#include <string>

namespace ExtendedDomains {

struct TMismatches {
    int64_t Count = 0;
    std::string First;
    void Add(const std::string& What) {
        if (Count++ == 0) First = What;
    }
};

// Every colour whose index is a multiple of Stride (index = red << 16 | green << 8 | blue): the control's
// grey rule in TExtended against the model.
inline TMismatches GreyColours(uint32_t Stride) {
    TMismatches m;
    for (uint32_t c = 0; c < (1u << 24); c += Stride) {
        const uint8_t red = uint8_t(c >> 16), green = uint8_t(c >> 8), blue = uint8_t(c);
        if (KvKernels::GreyRule<TExtended>(blue, green, red) != KvModel::ModelGrey(blue, green, red))
            m.Add("grey of red " + std::to_string(red) + " green " + std::to_string(green) + " blue " +
                  std::to_string(blue));
    }
    return m;
}

// The mixing table in TExtended against the model's rule, for both filters and every Amount from -128 to
// 127 that is a multiple of AmountStride (from 0).
inline TMismatches MixingTables(int AmountStride) {
    TMismatches m;
    static uint8_t table[65536];
    for (int amount = -128 + (128 % AmountStride); amount <= 127; amount += AmountStride)
        for (const auto kind : {KvKernels::TFilterKind::Blur, KvKernels::TFilterKind::Sharpen}) {
            KvKernels::FillMixTable<TExtended>(table, int8_t(amount), kind);
            for (int v = 0; v < 256; ++v)
                for (int mean = 0; mean < 256; ++mean)
                    if (table[v * 256 + mean] != KvModel::ModelMix(kind, int8_t(amount), v, mean))
                        m.Add("mixing amount " + std::to_string(amount) + " value " + std::to_string(v) +
                              " mean " + std::to_string(mean));
        }
    return m;
}

// The brightness table in TExtended against the model, for every Value from -101 to 101.
inline TMismatches BrightnessTables() {
    TMismatches m;
    uint8_t row[3 * 256];
    uint8_t* rows[] = {row};
    for (int value = -101; value <= 101; ++value) {
        for (int c = 0; c < 3 * 256; ++c)
            row[c] = uint8_t(c / 3);
        KvModel::ModelBrightness(rows, 256, 1, value);
        const KvKernels::TChannelTable table = KvKernels::BrightnessRuleTable<TExtended>(value);
        for (int c = 0; c < 256; ++c)
            if (table[size_t(c)] != row[3 * c])
                m.Add("brightness " + std::to_string(value) + " channel value " + std::to_string(c));
    }
    return m;
}

// Percentages k / Scale for k = 0 .. 100 Scale: the gain and its read-back in TExtended against the x87,
// and, when Entries, the envelope table of each gain against the model.
inline TMismatches EnvelopeConversions(int64_t Scale, bool Entries) {
    TMismatches m;
#if PICTURA_TEST_HAS_X87
    double gains[256];
    for (int64_t k = 0; k <= 100 * Scale; ++k) {
        const double percent = double(k) / double(Scale);
        const double gain = KvKernels::GainFromPercentRule<TExtended>(percent);
        if (gain != KvKernels::GainFromPercentRule<long double>(percent))
            m.Add("gain of percent " + std::to_string(percent));
        if (KvKernels::PercentFromGainRule<TExtended>(gain) !=
            KvKernels::PercentFromGainRule<long double>(gain))
            m.Add("read-back of percent " + std::to_string(percent));
        if (!Entries) continue;
        for (double& g : gains)
            g = gain;
        const KvKernels::TChannelTable table = KvKernels::EnvelopeRuleTable<TExtended>(gains);
        for (int v = 0; v < 256; ++v)
            if (table[size_t(v)] != KvModel::ModelEnvelop(uint8_t(v), gains))
                m.Add("envelope entry " + std::to_string(v) + " at percent " + std::to_string(percent));
    }
#else
    (void)Scale, (void)Entries;
#endif
    return m;
}

// Round(Sum / Count) in TExtended against the exact nearest-even quotient, for every Count up to MaxCount
// and every Sum of Count channel values (0 .. 255 Count): the filters' means in the models.
inline TMismatches Means(int64_t MaxCount) {
    TMismatches m;
    for (int64_t count = 1; count <= MaxCount; ++count) {
        const TExtended divisor(count);
        for (int64_t sum = 0; sum <= 255 * count; ++sum) {
            const int64_t q = sum / count, r = sum % count;
            const int64_t exact = 2 * r > count || (2 * r == count && q % 2 == 1) ? q + 1 : q;
            if (Round(TExtended(sum) / divisor) != exact)
                m.Add("mean of sum " + std::to_string(sum) + " over " + std::to_string(count));
        }
    }
    return m;
}

#if PICTURA_TEST_HAS_X87
// Count operand pairs of kinds chosen to reach the rounding cases (full 64-bit integers whose sums and
// differences need a 65th bit, values with every alignment distance, short fractions, products of small
// integers and percent-like quotients): +, -, x, / and the conversions to double and to an integer, each
// in TExtended against the x87.
inline TMismatches Operations(int64_t Count, uint64_t Seed) {
    TMismatches m;
    std::mt19937_64 random(Seed);
    const auto operand = [&](int kind) -> long double {
        const long double sign = (random() & 1) ? -1.0L : 1.0L;
        switch (kind) {
        case 0:
            return sign * (long double)(random() >> (random() % 64));
        case 1:
            return sign *
                   std::ldexp((long double)(random() | (uint64_t(1) << 63)), int(random() % 150) - 140);
        case 2:
            return sign * (long double)(int64_t(random() % 25600)) / 100.0L;
        default:
            return sign * (long double)(int64_t(random() % 256)) *
                   (long double)(int64_t(random() % 256) - 128);
        }
    };
    for (int64_t i = 0; i < Count; ++i) {
        const long double a = operand(int(i % 4)), b = operand(int((i / 4) % 4));
        const TExtended x = FromX87(a), y = FromX87(b);
        const auto check = [&](const char* what, const TExtended& got, long double want) {
            if (!SameBits(got, want))
                m.Add(std::string(what) + " of operands " + std::to_string(double(a)) + ", " +
                      std::to_string(double(b)));
        };
        check("sum", x + y, a + b);
        check("difference", x - y, a - b);
        check("product", x * y, a * b);
        if (b != 0) check("quotient", x / y, a / b);
        if (double(x * y) != double(a * b)) m.Add("double of a product");
        if (std::fabs(a) < 1e18L && Round(x) != Round(a)) m.Add("integer of " + std::to_string(double(a)));
    }
    return m;
}
#endif

} // namespace ExtendedDomains
