// Clamp of a 32-bit integer to a channel value.
#pragma once

#include <cstdint>

// Values above 255 give 255, negative values give 0, everything else is returned unchanged.
constexpr uint8_t FitinRange(int32_t Value) {
    return Value > 255 ? uint8_t(255) : Value < 0 ? uint8_t(0) : uint8_t(Value);
}
