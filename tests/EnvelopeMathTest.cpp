#include "KvEnvelopeMath.h"
#include "KvPointOps.h"
#include <pictura/SysUtils.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

using namespace KvKernels;

namespace {

double ReadBack(double Percent) {
    return EnvelopePercentFromGain(EnvelopeGainFromPercent(Percent));
}

TEST(EnvelopeMath, WholePercentsReadBack) {
    // The percentages that come back off by one double step, and the two named ones exactly.
    const std::map<int, double> offByOneStep = {
        {7, 7.000000000000001},           {14, std::nextafter(14.0, 15.0)}, {28, std::nextafter(28.0, 29.0)},
        {29, 28.999999999999996},         {55, std::nextafter(55.0, 56.0)}, {56, std::nextafter(56.0, 57.0)},
        {57, std::nextafter(57.0, 56.0)}, {58, std::nextafter(58.0, 57.0)}};
    for (int percent = 0; percent <= 100; ++percent) {
        const auto odd = offByOneStep.find(percent);
        const double expected = odd == offByOneStep.end() ? double(percent) : odd->second;
        EXPECT_EQ(ReadBack(percent), expected) << "percent " << percent;
    }
}

TEST(EnvelopeMath, PercentagesAreClampedToTheGainRange) {
    const double infinity = std::numeric_limits<double>::infinity();
    const struct {
        double Percent, Gain;
    } cases[] = {{150, 1.0}, {-5, 0.0}, {100, 1.0}, {0, 0.0}, {infinity, 1.0}, {-infinity, 0.0}, {50, 0.5}};
    for (const auto& c : cases)
        EXPECT_EQ(EnvelopeGainFromPercent(c.Percent), c.Gain) << "percent " << c.Percent;
    EXPECT_EQ(ReadBack(150), 100.0);
}

TEST(EnvelopeMath, NotANumberIsRefused) {
    EXPECT_THROW(EnvelopeGainFromPercent(std::numeric_limits<double>::quiet_NaN()), EInvalidOperation);
    EXPECT_THROW(EnvelopeGainFromPercent(-std::numeric_limits<double>::quiet_NaN()), EInvalidOperation);
}

TEST(EnvelopeMath, HalfGainExamples) {
    double gains[256];
    for (double& gain : gains)
        gain = 1.0;
    for (int v : {200, 255, 3, 1})
        gains[v] = EnvelopeGainFromPercent(50);
    const TChannelTable table = EnvelopeTable(gains);
    EXPECT_EQ(table[200], 100);
    EXPECT_EQ(table[255], 128); // 127.5 rounds to even
    EXPECT_EQ(table[3], 2);     // 1.5 rounds to even
    EXPECT_EQ(table[1], 0);     // 0.5 rounds to even
    EXPECT_EQ(table[199], 199);
}

} // namespace
