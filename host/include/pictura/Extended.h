// TExtended: extended-precision reals (sign, exponent, 64-bit significand) in integer arithmetic only.
//
// Every pixel result is defined by arithmetic with a 64-bit significand, rounded to nearest with ties to
// even after each operation, as the x87 computes it. This type computes the same on every machine: each
// operation forms its exact result from 64-bit integer pieces (a 128-bit product or a 65-bit quotient with
// its remainder), keeps every lost bit in a sticky bit, and rounds once to 64 bits. Zero keeps its sign as
// on the x87 (x - x is +0; (-0) + (-0) is -0; a product or quotient of zeros takes the xor of the signs).
//
// Domain: finite values. The exponent is a 32-bit integer, wider than the x87's, so no operation of the
// pixel rules comes near overflow or underflow; where the x87 would neither, the bits are the same.
// Conversion to double rounds once, to nearest even, subnormal results and overflow to infinity included.
#pragma once

#include <cstdint>

// The header compiles as C++17 (as every public header does): bit casts and leading-zero counts by hand.
namespace ExtendedDetail {

template <class To, class From> constexpr To BitCast(const From& Value) {
    return __builtin_bit_cast(To, Value); // GCC, Clang and MSVC; constexpr, unlike memcpy
}

// Leading zero bits of a non-zero Value.
constexpr int LeadingZeros(uint64_t Value) {
#if defined(__GNUC__)
    return __builtin_clzll(Value);
#else
    int zeros = 0;
    for (int width = 32; width > 0; width /= 2)
        if ((Value >> (64 - width)) == 0) zeros += width, Value <<= width;
    return zeros;
#endif
}

} // namespace ExtendedDetail

class TExtended {
public:
    constexpr TExtended() = default;

    // Exact for every 64-bit integer.
    constexpr explicit TExtended(int64_t Value) {
        FNegative = Value < 0;
        const uint64_t magnitude = FNegative ? 0 - uint64_t(Value) : uint64_t(Value);
        if (magnitude != 0) SetNormalised(magnitude, 63);
    }
    constexpr explicit TExtended(int Value) : TExtended(int64_t(Value)) {}

    // Exact for every finite double; infinities and NaN are outside the domain (they read as zero).
    constexpr explicit TExtended(double Value) {
        const uint64_t bits = ExtendedDetail::BitCast<uint64_t>(Value);
        FNegative = (bits >> 63) != 0;
        const int biased = int((bits >> 52) & 0x7FF);
        const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
        if (biased == 0x7FF) return;
        if (biased == 0) {
            if (fraction != 0) SetNormalised(fraction, -1074 + 63); // subnormal: fraction x 2^-1074
        } else {
            SetNormalised(fraction | (uint64_t(1) << 52), biased - 1075 + 63);
        }
    }

    // The value rounded once to the nearest double, ties to even.
    constexpr explicit operator double() const {
        const uint64_t sign = uint64_t(FNegative) << 63;
        if (FSignificand == 0) return ExtendedDetail::BitCast<double>(sign);
        // Significand bits below the double's last place: 11, and more where the result is subnormal.
        const int64_t shift = 11 + (FExponent < -1022 ? int64_t(-1022) - FExponent : 0);
        const uint64_t m = RoundedShift(FSignificand, shift); // at most 2^53
        if (FExponent < -1022)
            return ExtendedDetail::BitCast<double>(sign | m); // 2^52 carries into the least normal
        const int64_t field = int64_t(FExponent) + 1022;      // m holds the leading 1 (2^52 or 2^53)
        if (field + int64_t(m >> 53) >= 2046)
            return ExtendedDetail::BitCast<double>(sign | (uint64_t(0x7FF) << 52));
        return ExtendedDetail::BitCast<double>(sign | ((uint64_t(field) << 52) + m));
    }

    constexpr TExtended operator-() const {
        TExtended negated = *this;
        negated.FNegative = !FNegative;
        return negated;
    }

    friend constexpr TExtended operator+(const TExtended& A, const TExtended& B) {
        return Add(A, B, B.FNegative);
    }
    friend constexpr TExtended operator-(const TExtended& A, const TExtended& B) {
        return Add(A, B, !B.FNegative);
    }

    friend constexpr TExtended operator*(const TExtended& A, const TExtended& B) {
        TExtended product;
        product.FNegative = A.FNegative != B.FNegative;
        if (A.FSignificand == 0 || B.FSignificand == 0) return product;
        // The exact product, in [2^126, 2^128), from four 32 x 32-bit pieces.
        const uint64_t aLow = A.FSignificand & 0xFFFFFFFF, aHigh = A.FSignificand >> 32;
        const uint64_t bLow = B.FSignificand & 0xFFFFFFFF, bHigh = B.FSignificand >> 32;
        const uint64_t lowLow = aLow * bLow, lowHigh = aLow * bHigh, highLow = aHigh * bLow;
        const uint64_t middle = (lowLow >> 32) + (lowHigh & 0xFFFFFFFF) + (highLow & 0xFFFFFFFF);
        uint64_t high = aHigh * bHigh + (lowHigh >> 32) + (highLow >> 32) + (middle >> 32);
        uint64_t low = (middle << 32) | (lowLow & 0xFFFFFFFF);
        int64_t exponent = int64_t(A.FExponent) + B.FExponent + 1;
        const uint64_t shift = ~high >> 63; // one place left when bit 127 is clear; no branch to mispredict
        high = (high << shift) | ((low >> 63) & shift);
        low <<= shift;
        product.SetRounded(high, low, exponent - int64_t(shift));
        return product;
    }

    friend constexpr TExtended operator/(const TExtended& A, const TExtended& B) {
        TExtended quotient;
        quotient.FNegative = A.FNegative != B.FNegative;
        if (A.FSignificand == 0 || B.FSignificand == 0) return quotient; // x / 0 is outside the domain
        // Long division of the significands, one quotient bit a step: 64 bits and a rounding bit, the
        // remainder as the sticky bit. The partial remainder needs 65 bits: its top bit is carried apart.
        const uint64_t divisor = B.FSignificand;
        uint64_t remainder = A.FSignificand;
        bool remainderTop = false;
        int64_t exponent = int64_t(A.FExponent) - B.FExponent;
        if (remainder < divisor) { // the quotient of the significands is below 1: start one place on
            remainderTop = (remainder >> 63) != 0;
            remainder <<= 1;
            --exponent;
        }
        uint64_t bits = 0;
        for (int i = 0; i < 64; ++i) {
            const bool one = remainderTop || remainder >= divisor;
            if (one) remainder -= divisor; // below the divisor afterwards, so the wrapped value is exact
            bits = (bits << 1) | uint64_t(one);
            remainderTop = (remainder >> 63) != 0;
            remainder <<= 1;
        }
        const bool half = remainderTop || remainder >= divisor;
        if (half) remainder -= divisor;
        const uint64_t rest = (uint64_t(half) << 63) | uint64_t(remainder != 0);
        quotient.SetRounded(bits, rest, exponent);
        return quotient;
    }

    // Nearest integer, ties to even; |value| must be below 2^63.
    friend constexpr int64_t Round(const TExtended& X) {
        if (X.FSignificand == 0 || X.FExponent < -1) return 0;
        const int64_t magnitude = int64_t(RoundedShift(X.FSignificand, 63 - int64_t(X.FExponent)));
        return X.FNegative ? -magnitude : magnitude;
    }

    // The parts: value = (-1)^Negative x Significand x 2^(Exponent - 63); Significand is 0 or has bit 63 set.
    constexpr bool Negative() const { return FNegative; }
    constexpr int32_t Exponent() const { return FExponent; }
    constexpr uint64_t Significand() const { return FSignificand; }

private:
    bool FNegative = false;
    int32_t FExponent = 0;
    uint64_t FSignificand = 0;

    // Value x 2^(Exponent - 63) for a non-zero Value, shifted until its bit 63 is set.
    constexpr void SetNormalised(uint64_t Value, int Exponent) {
        const int leading = ExtendedDetail::LeadingZeros(Value);
        FSignificand = Value << leading;
        FExponent = int32_t(63 - leading + Exponent - 63);
    }

    // Value >> Shift rounded to nearest, ties to even (Shift >= 0; 0 when Shift > 64).
    static constexpr uint64_t RoundedShift(uint64_t Value, int64_t Shift) {
        if (Shift == 0) return Value;
        if (Shift > 64) return 0;
        const uint64_t kept = Shift == 64 ? 0 : Value >> Shift;
        const uint64_t dropped = Shift == 64 ? Value : Value & ((uint64_t(1) << Shift) - 1);
        const uint64_t half = uint64_t(1) << (Shift - 1);
        return kept + uint64_t(dropped > half || (dropped == half && (kept & 1) != 0));
    }

    // Sets the significand from High (bit 63 set), the bits below it in Low, rounded to nearest even.
    constexpr void SetRounded(uint64_t High, uint64_t Low, int64_t Exponent) {
        High += (Low >> 63) & uint64_t(((Low << 1) | (High & 1)) != 0);
        if (High == 0) { // carried out of the top: 2^64
            High = uint64_t(1) << 63;
            ++Exponent;
        }
        FSignificand = High;
        FExponent = int32_t(Exponent);
    }

    // A + B with B's sign replaced by BNegative: the exact sum in 128 bits (bits shifted out of the
    // smaller operand kept as a sticky bit in the lowest place), normalised, then rounded once.
    static constexpr TExtended Add(const TExtended& A, const TExtended& B, bool BNegative) {
        if (B.FSignificand == 0) {
            if (A.FSignificand != 0) return A;
            TExtended zero; // -0 only when both zeros are negative
            zero.FNegative = A.FNegative && BNegative;
            return zero;
        }
        TExtended b = B;
        b.FNegative = BNegative;
        if (A.FSignificand == 0) return b;
        const bool aLarger =
            A.FExponent > b.FExponent || (A.FExponent == b.FExponent && A.FSignificand >= b.FSignificand);
        const TExtended& large = aLarger ? A : b;
        const TExtended& small = aLarger ? b : A;
        const int64_t distance = int64_t(large.FExponent) - small.FExponent;
        // The smaller operand as 128 bits aligned to the larger: smallHigh:smallLow.
        uint64_t smallHigh = small.FSignificand, smallLow = 0;
        if (distance >= 128) {
            smallHigh = 0, smallLow = 1;
        } else if (distance >= 64) {
            const int64_t s = distance - 64;
            smallLow = s == 0 ? smallHigh : (smallHigh >> s) | uint64_t((smallHigh << (64 - s)) != 0);
            smallHigh = 0;
        } else if (distance > 0) {
            smallLow = smallHigh << (64 - distance);
            smallHigh >>= distance;
        }
        uint64_t high = large.FSignificand, low = 0;
        int64_t exponent = large.FExponent;
        TExtended sum;
        sum.FNegative = large.FNegative;
        if (large.FNegative == small.FNegative) {
            low = smallLow;
            high += smallHigh;
            if (high < smallHigh) { // carry out of bit 127: one place right, the lost bit kept sticky
                low = (low >> 1) | (low & 1) | (high << 63);
                high = (high >> 1) | (uint64_t(1) << 63);
                ++exponent;
            }
        } else {
            low = 0 - smallLow;
            high = high - smallHigh - uint64_t(smallLow != 0);
            if (high == 0 && low == 0) return TExtended(); // exact cancellation: +0
            // Cancellation of more than one bit happens only for distance <= 1, where the sticky bit is
            // not set: the shift is then exact.
            const int shift =
                high != 0 ? ExtendedDetail::LeadingZeros(high) : 64 + ExtendedDetail::LeadingZeros(low);
            if (shift >= 64) {
                high = low << (shift - 64);
                low = 0;
            } else if (shift > 0) {
                high = (high << shift) | (low >> (64 - shift));
                low <<= shift;
            }
            exponent -= shift;
        }
        sum.SetRounded(high, low, exponent);
        return sum;
    }
};
