// Exchange between TExtended and the x87's long double by their parts, for the tests that compare the two.
// Only where long double is the x87 format (x86-64); elsewhere the tests that need it are skipped.
#pragma once

#include <pictura/Extended.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && LDBL_MANT_DIG == 64
#define PICTURA_TEST_HAS_X87 1

struct TX87Parts {
    bool Negative;
    int32_t Exponent; // unbiased, as TExtended::Exponent
    uint64_t Significand;
};

// The parts of a finite, normal (or zero) x87 value.
inline TX87Parts X87Parts(long double X) {
    unsigned char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &X, sizeof X);
    uint64_t significand;
    uint16_t signAndExponent;
    std::memcpy(&significand, bytes, 8);
    std::memcpy(&signAndExponent, bytes + 8, 2);
    return {(signAndExponent >> 15) != 0, int32_t(signAndExponent & 0x7FFF) - 16383, significand};
}

// True when E holds exactly the value and sign of X.
inline bool SameBits(const TExtended& E, long double X) {
    const TX87Parts x = X87Parts(X);
    if (E.Negative() != x.Negative || E.Significand() != x.Significand) return false;
    return x.Significand == 0 || E.Exponent() == x.Exponent;
}

// The TExtended of an x87 value, built from exact pieces (each a double of at most 53 bits).
inline TExtended FromX87(long double X) {
    const TX87Parts x = X87Parts(X);
    TExtended e =
        TExtended(double(x.Significand >> 11)) * TExtended(2048) + TExtended(int64_t(x.Significand & 2047));
    // Scale by 2^(Exponent - 63) in two steps, each a power of two a double holds.
    const int scale = x.Exponent - 63, half = scale / 2;
    e = e * TExtended(std::ldexp(1.0, half)) * TExtended(std::ldexp(1.0, scale - half));
    return x.Negative ? -e : e;
}

#else
#define PICTURA_TEST_HAS_X87 0
#endif
