// The framework's real-to-integer rounding: nearest integer, ties to even.
//
// The pixel rules round extended-precision values (TExtended, <pictura/Extended.h>), whose Round sits beside
// the type. This overload rounds the machine's own long double (the x87 format on x86-64, another format
// elsewhere), with the same rule.
#pragma once

#include <pictura/Extended.h>

#include <cmath>
#include <cstdint>

// Rounds X to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -0.5 -> 0).
// Relies on the default rounding mode (round to nearest), which the framework never changes.
inline int64_t Round(long double X) {
    return std::llrint(X);
}
