// TExtended against the x87 over the whole domains of the pixel rules: every colour's grey value, every
// mixing table, every brightness table, ten million envelope conversions and 25.6 million envelope entries,
// the filters' means for windows of up to 580 pixels, and nine million operations aimed at rounding cases.
// Registered with the label "long"; skipped where there is no x87.
#include "ExtendedDomains.h"

#include <gtest/gtest.h>

namespace {

using namespace ExtendedDomains;

class ExtendedExhaustive : public testing::Test {
protected:
    void SetUp() override {
        if (!PICTURA_TEST_HAS_X87) GTEST_SKIP() << "no x87 to compare with";
    }
};

TEST_F(ExtendedExhaustive, GreyOfEveryColour) {
    const TMismatches m = GreyColours(1);
    EXPECT_EQ(m.Count, 0) << m.First;
}

TEST_F(ExtendedExhaustive, EveryMixingTableAndBrightnessTable) {
    for (const TMismatches& m : {MixingTables(1), BrightnessTables()})
        EXPECT_EQ(m.Count, 0) << m.First;
}

TEST_F(ExtendedExhaustive, EnvelopeConversionsAndEntries) {
    for (const TMismatches& m : {EnvelopeConversions(100000, false), EnvelopeConversions(1000, true)})
        EXPECT_EQ(m.Count, 0) << m.First;
}

TEST_F(ExtendedExhaustive, MeansOfWindowsUpTo580Pixels) {
    const TMismatches m = Means(580);
    EXPECT_EQ(m.Count, 0) << m.First;
}

#if PICTURA_TEST_HAS_X87
TEST_F(ExtendedExhaustive, OperationsAimedAtRoundingCases) {
    const TMismatches m = Operations(9000000, 1);
    EXPECT_EQ(m.Count, 0) << m.First;
}
#endif

} // namespace
