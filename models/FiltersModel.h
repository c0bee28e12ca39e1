// The neighbourhood filters written out step by step, as the oracle for the fast kernel: each column primes
// its running sums, then per row drops the leaving band row, adds the entering one, takes the rounded means
// and mixes the pixel, feeding its change back into the sums. Slow on purpose (a band row per pixel).
#pragma once

#include "ModelReal.h"
#include <pictura/FitinRange.h>
#include <pictura/SysUtils.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace KvModel {

// Which filter: the kernels' kind of the same name or this one, for programs that reach no kernel.
enum class TFilterKind { Blur, Sharpen };

// The mixing rule for one channel: the distance over 100, times Amount, added or subtracted, each step
// in extended precision, rounded to even and clamped (for Blur this only matters outside 0..100 percent,
// where the move overshoots the mean).
template <class TKind> uint8_t ModelMix(TKind Kind, int8_t Amount, int V, int M) {
    const TModelReal a(Amount), v(V), hundred(100);
    int64_t n;
    if (Kind == TKind::Blur) {
        if (V > M)
            n = Round(v - a * (TModelReal(V - M) / hundred));
        else
            n = Round(a * (TModelReal(M - V) / hundred) + v);
    } else {
        if (V > M)
            n = Round(a * (TModelReal(V - M) / hundred) + v);
        else
            n = Round(v - a * (TModelReal(M - V) / hundred));
    }
    return FitinRange(int32_t(n));
}

// The column sweep, literally; same contract as KvKernels::FilterArea.
template <class TKind>
void ModelFilterArea(uint8_t* const* Rows, int Width, int Height, int8_t Amount, int32_t Radius, TKind Kind) {
    if (Radius < 0) throw EArgumentError("Filter radius must be 0 or more, got " + std::to_string(Radius));
    const int64_t w = Width, h = Height, r = Radius;
    for (int64_t c = 0; c < w; ++c) {
        const int64_t left = std::max<int64_t>(0, c - r);
        const int64_t right = std::min<int64_t>(w - 1, c + r);
        int64_t sum[3] = {0, 0, 0}; // by byte offset: blue, green, red
        int64_t count = 0;
        auto addBandRow = [&](int64_t y, int64_t sign) {
            const uint8_t* line = Rows[y];
            for (int64_t x = left; x <= right; ++x) {
                for (int k = 0; k < 3; ++k)
                    sum[k] += sign * line[3 * x + k];
                count += sign;
            }
        };
        for (int64_t y = 0; y < std::min(r, h); ++y)
            addBandRow(y, +1);
        for (int64_t i = 0; i < h; ++i) {
            if (i - r - 1 >= 0) addBandRow(i - r - 1, -1);
            if (i + r <= h - 1) addBandRow(i + r, +1);
            int mean[3];
            for (int k : {2, 1, 0})
                mean[k] = int(Round(TModelReal(int64_t(sum[k])) / TModelReal(int64_t(count))));
            uint8_t* pixel = Rows[i] + 3 * c;
            for (int k : {2, 1, 0}) {
                const int v = pixel[k];
                if (v == mean[k]) continue;
                const uint8_t stored = ModelMix(Kind, Amount, v, mean[k]);
                pixel[k] = stored;
                sum[k] += int(stored) - v;
            }
        }
    }
}

} // namespace KvModel
