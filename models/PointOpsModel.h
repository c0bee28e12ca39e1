// Straightforward per-pixel models of the point operations and the envelopes, for tests and benchmarks
// (namespace KvModel, with the filters' model).
//
// Each model is a literal transcription of its rule: extended-precision arithmetic (TModelReal), Round (ties
// to even), results stored as the low 8 bits; channels in the order red, green, blue. They work on Height
// rows of Width 24-bit pixels, row y starting at Rows[y].
#pragma once

#include "ModelReal.h"

#include <cstdint>
#include <initializer_list>

namespace KvModel {

// Each byte becomes its complement.
inline void ModelInvert(uint8_t* const* Rows, int Width, int Height) {
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            for (int channel : {2, 1, 0})
                Rows[y][3 * x + channel] = uint8_t(255 - Rows[y][3 * x + channel]);
}

// Channels towards white (Value >= 0) or black by Value percent, the factor held as a double.
inline void ModelBrightness(uint8_t* const* Rows, int Width, int Height, int32_t Value) {
    if (Value > 100) Value = 100;
    if (Value < -100) Value = -100;
    const double factor = double(TModelReal(Value) / TModelReal(100));
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            for (int channel : {2, 1, 0}) {
                uint8_t& c = Rows[y][3 * x + channel];
                if (factor >= 0)
                    c = uint8_t(c + Round(TModelReal(255 - c) * TModelReal(factor)));
                else
                    c = uint8_t(c + Round(TModelReal(c) * TModelReal(factor)));
            }
}

// Grey value of a pixel: the three products formed and added in the order red, green, blue.
inline uint8_t ModelGrey(uint8_t Blue, uint8_t Green, uint8_t Red) {
    return uint8_t(Round(TModelReal(Red) * ModelGreyRedWeight + TModelReal(Green) * ModelGreyGreenWeight +
                         TModelReal(Blue) * ModelGreyBlueWeight));
}

// All three channels become the pixel's grey value.
inline void ModelGreyScale(uint8_t* const* Rows, int Width, int Height) {
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            uint8_t* pixel = Rows[y] + 3 * x;
            pixel[0] = pixel[1] = pixel[2] = ModelGrey(pixel[0], pixel[1], pixel[2]);
        }
}

// The gain an envelope entry set to Percent holds: the percent clamped to 0..100, over 100 in extended
// precision, rounded to double once.
inline double ModelGainFromPercent(double Percent) {
    const double clamped = Percent > 100 ? 100 : Percent < 0 ? 0 : Percent;
    return double((long double)clamped / 100);
}

// One channel value through its gains: Round(v * gain[v]).
inline uint8_t ModelEnvelop(uint8_t Value, const double (&Gains)[256]) {
    return uint8_t(Round(TModelReal(Value) * TModelReal(Gains[Value])));
}

// The channel at byte offset Channel (0 blue, 1 green, 2 red) through its gains.
inline void ModelApplyEnvelop(uint8_t* const* Rows, int Width, int Height, int Channel,
                              const double (&Gains)[256]) {
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            uint8_t& c = Rows[y][3 * x + Channel];
            c = ModelEnvelop(c, Gains);
        }
}

// Red, green and blue of every pixel, each through its own gains, in one pass.
inline void ModelApplyEnvelops(uint8_t* const* Rows, int Width, int Height, const double (&RedGains)[256],
                               const double (&GreenGains)[256], const double (&BlueGains)[256]) {
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            uint8_t* pixel = Rows[y] + 3 * x;
            pixel[2] = ModelEnvelop(pixel[2], RedGains);
            pixel[1] = ModelEnvelop(pixel[1], GreenGains);
            pixel[0] = ModelEnvelop(pixel[0], BlueGains);
        }
}

} // namespace KvModel
