// TExtended: its rounding rules on literal cases, and a sample of every domain of the pixel rules against
// the x87 (the whole domains are in ExtendedExhaustiveTest).
#include "ExtendedDomains.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

namespace {

using namespace ExtendedDomains;

// Computed at compile time: the type is constexpr throughout.
static_assert(Round(TExtended(5) / TExtended(2)) == 2 && Round(TExtended(7) / TExtended(2)) == 4);
static_assert(double(TExtended(1) / TExtended(3)) == 1.0 / 3.0);

uint64_t BitsOf(double X) {
    return std::bit_cast<uint64_t>(X);
}

TEST(Extended, SignedZerosFollowTheX87) {
    const TExtended zero, negativeZero = -TExtended(), three(3);
    EXPECT_FALSE((three - three).Negative());
    EXPECT_FALSE((zero + negativeZero).Negative());
    EXPECT_TRUE((negativeZero + negativeZero).Negative());
    EXPECT_TRUE((negativeZero - zero).Negative());
    EXPECT_TRUE((negativeZero * three).Negative());
    EXPECT_TRUE((zero / -three).Negative());
    EXPECT_EQ(BitsOf(double(negativeZero)), BitsOf(-0.0));
    EXPECT_TRUE(TExtended(-0.0).Negative());
}

TEST(Extended, ConversionToDoubleRoundsOnce) {
    const double epsilon = std::ldexp(1.0, -52), tiny = std::numeric_limits<double>::denorm_min();
    const TExtended one(1), halfStep(std::ldexp(1.0, -53)), quarterStep(std::ldexp(1.0, -54));
    EXPECT_EQ(double(one + halfStep), 1.0); // tie: to the even neighbour
    EXPECT_EQ(double(TExtended(1 + epsilon) + halfStep), 1 + 2 * epsilon);
    EXPECT_EQ(double(one + halfStep + quarterStep), 1 + epsilon); // above the tie
    // Subnormal results round once at their own precision, including to the least subnormal and to zero.
    EXPECT_EQ(double(TExtended(tiny) * TExtended(3) / TExtended(2)), 2 * tiny);
    EXPECT_EQ(double(TExtended(tiny) / TExtended(2)), 0.0);
    EXPECT_EQ(double(TExtended(tiny) * TExtended(3) / TExtended(4)), tiny);
    EXPECT_EQ(double(TExtended(std::numeric_limits<double>::min()) / TExtended(3)),
              std::numeric_limits<double>::min() / 3);
    EXPECT_EQ(double(TExtended(std::numeric_limits<double>::max()) * TExtended(2)),
              std::numeric_limits<double>::infinity());
    EXPECT_EQ(double(-TExtended(std::numeric_limits<double>::max()) * TExtended(1.5)),
              -std::numeric_limits<double>::infinity());
}

TEST(Extended, RoundGoesToTheEvenNeighbourOnTies) {
    const struct {
        int Numerator, Denominator;
        int64_t Rounded;
    } cases[] = {{5, 2, 2}, {7, 2, 4}, {-1, 2, 0},   {-3, 2, -2},
                 {1, 2, 0}, {3, 4, 1}, {-13, 5, -3}, {254, 1, 254}};
    for (const auto& c : cases)
        EXPECT_EQ(Round(TExtended(c.Numerator) / TExtended(c.Denominator)), c.Rounded)
            << c.Numerator << " / " << c.Denominator;
    // 5 x 0.1 (the double) is 0.5 + 2^-55 with a 64-bit significand: above the tie.
    EXPECT_EQ(Round(TExtended(5) * TExtended(0.1)), 1);
}

#if PICTURA_TEST_HAS_X87
TEST(Extended, GreyWeightsAreTheLiteralsBits) {
    EXPECT_TRUE(SameBits(KvKernels::GreyRedWeight<TExtended>, 0.2125L));
    EXPECT_TRUE(SameBits(KvKernels::GreyGreenWeight<TExtended>, 0.7154L));
    EXPECT_TRUE(SameBits(KvKernels::GreyBlueWeight<TExtended>, 0.0721L));
    EXPECT_EQ(KvKernels::GreyRedWeight<long double>, 0.2125L);
    EXPECT_EQ(KvKernels::GreyGreenWeight<long double>, 0.7154L);
    EXPECT_EQ(KvKernels::GreyBlueWeight<long double>, 0.0721L);
}

TEST(Extended, OperationsMatchTheX87) {
    const TMismatches m = Operations(200000, 28);
    EXPECT_EQ(m.Count, 0) << m.First;
}
#endif

TEST(Extended, RuleDomainSamplesMatchTheModels) {
    for (const TMismatches& m :
         {GreyColours(997), MixingTables(37), BrightnessTables(), EnvelopeConversions(100, true), Means(60)})
        EXPECT_EQ(m.Count, 0) << m.First;
}

} // namespace
