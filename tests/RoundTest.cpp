#include <pictura/Round.h>

#include <gtest/gtest.h>

TEST(Round, TiesGoToTheEvenNeighbour) {
    EXPECT_EQ(Round(2.5L), 2);
    EXPECT_EQ(Round(3.5L), 4);
    EXPECT_EQ(Round(-0.5L), 0);
    EXPECT_EQ(Round(-1.5L), -2);
    EXPECT_EQ(Round(0.5L), 0);
    EXPECT_EQ(Round(1.5L), 2);
}

TEST(Round, NonTiesGoToTheNearest) {
    EXPECT_EQ(Round(2.4999999999999999L), 2);
    EXPECT_EQ(Round(2.5000000000000001L), 3);
    EXPECT_EQ(Round(-2.6L), -3);
    EXPECT_EQ(Round(127.0L), 127);
}

TEST(Round, SeesExtendedPrecision) {
    // 5 x 0.1 (the double) is 0.5 + 2^-55 in extended precision, above the tie: rounds up.
    EXPECT_EQ(Round(5.0L * static_cast<long double>(0.1)), 1);
    EXPECT_EQ(Round(static_cast<long double>(5.0 * 0.1)), 0);
}
