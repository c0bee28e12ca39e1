// The framework's real-to-integer rounding: nearest integer, ties to even, in extended precision.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

// Every rounding step of the pixel operations is defined on x86-64 extended precision.
static_assert(LDBL_MANT_DIG == 64, "long double must be the 64-bit-significand extended format");

// Rounds X to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -0.5 -> 0).
// Relies on the default rounding mode (round to nearest), which the framework never changes.
inline int64_t Round(long double X) {
    return std::llrint(X);
}
