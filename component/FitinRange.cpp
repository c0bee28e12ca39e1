#include <pictura/FitinRange.h>

uint8_t FitinRange(int32_t Value) {
    return Value > 255 ? uint8_t(255) : Value < 0 ? uint8_t(0) : uint8_t(Value);
}
