#include "FiltersModel.h"
#include "KvFilters.h"
#include "KvPointOps.h"
#include <pictura/SysUtils.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif

using KvKernels::FilterArea;
using KvKernels::TFilterKind;

namespace {

// A 24-bit area with rows padded to 4 bytes, addressed through row pointers like a bitmap's scan lines.
struct TArea {
    int Width = 0;
    int Height = 0;
    size_t Stride = 0;
    std::vector<uint8_t> Bits;
    std::vector<uint8_t*> Rows;

    TArea(int W, int H) : Width(W), Height(H), Stride((size_t(W) * 3 + 3) & ~size_t(3)) {
        Bits.assign(Stride * size_t(H), 0);
        for (int y = 0; y < H; ++y)
            Rows.push_back(Bits.data() + size_t(y) * Stride);
    }
    TArea(const TArea& Other) : TArea(Other.Width, Other.Height) { Bits = Other.Bits; }
    TArea& operator=(const TArea&) = delete;

    uint8_t& At(int X, int Y, int Channel) { return Rows[size_t(Y)][3 * size_t(X) + size_t(Channel)]; }
};

// Grey pixels of a single row.
TArea GreyRow(std::initializer_list<int> Values) {
    TArea area(int(Values.size()), 1);
    int x = 0;
    for (int v : Values) {
        for (int k = 0; k < 3; ++k)
            area.At(x, 0, k) = uint8_t(v);
        ++x;
    }
    return area;
}

std::vector<int> Channel(TArea& Area, int K) {
    std::vector<int> out;
    for (int y = 0; y < Area.Height; ++y)
        for (int x = 0; x < Area.Width; ++x)
            out.push_back(Area.At(x, y, K));
    return out;
}

const char* KindName(TFilterKind Kind) {
    return Kind == TFilterKind::Blur ? "Blur" : "Sharpen";
}

// Runs the kernel and the model on copies of Area and reports the first differing byte, if any.
::testing::AssertionResult MatchesModel(const TArea& Area, int8_t Amount, int32_t Radius, TFilterKind Kind) {
    TArea fast(Area), model(Area);
    FilterArea(fast.Rows.data(), fast.Width, fast.Height, Amount, Radius, Kind);
    KvModel::ModelFilterArea(model.Rows.data(), model.Width, model.Height, Amount, Radius, Kind);
    for (int y = 0; y < Area.Height; ++y)
        for (int x = 0; x < Area.Width; ++x)
            for (int k = 0; k < 3; ++k)
                if (fast.At(x, y, k) != model.At(x, y, k))
                    return ::testing::AssertionFailure()
                           << KindName(Kind) << " " << Area.Width << "x" << Area.Height << " amount "
                           << int(Amount) << " radius " << Radius << ": pixel (" << x << "," << y
                           << ") channel " << k << " is " << int(fast.At(x, y, k)) << ", model "
                           << int(model.At(x, y, k));
    return ::testing::AssertionSuccess();
}

// Image contents that stress different parts of the rule: noise, gradients, two-level (many exact ties),
// saturated, and smooth with grain.
enum class TPattern { Noise, Gradient, TwoLevel, Saturated, Grain, Count };

void Fill(TArea& Area, TPattern Pattern, std::mt19937& Random) {
    const int base = int(Random() % 256);
    for (int y = 0; y < Area.Height; ++y)
        for (int x = 0; x < Area.Width; ++x)
            for (int k = 0; k < 3; ++k) {
                int v = 0;
                switch (Pattern) {
                case TPattern::Noise:
                    v = int(Random() % 256);
                    break;
                case TPattern::Gradient:
                    v = (base + 7 * x * (k + 1) + 5 * y) % 256;
                    break;
                case TPattern::TwoLevel:
                    v = std::min(255, base + int(Random() % 2));
                    break;
                case TPattern::Saturated:
                    v = Random() % 2 ? 255 : 0;
                    break;
                default:
                    v = std::clamp(base / 2 + 2 * x - y + int(Random() % 17) - 8, 0, 255);
                    break;
                }
                Area.At(x, y, k) = uint8_t(v);
            }
}

struct TWorkedExample {
    const char* Name;
    TFilterKind Kind;
    int8_t Amount;
    std::vector<int> Expected;
};

} // namespace

// The 3 x 1 row 0, 90, 30 with radius 1, on each channel alone and on grey pixels; the model too.
TEST(Filters, WorkedThreeByOneExamples) {
    const TWorkedExample examples[] = {
        {"blur full step: middle window sees the new 45", TFilterKind::Blur, 100, {45, 55, 42}},
        {"blur half step: 22.5, 68.5, 39.5 round to even", TFilterKind::Blur, 50, {22, 68, 40}},
        {"sharpen full step: -45 and -25 clamp to 0", TFilterKind::Sharpen, 100, {0, 140, 0}},
    };
    for (const auto& e : examples) {
        for (int k = 0; k < 3; ++k) {
            TArea area(3, 1);
            area.At(0, 0, k) = 0, area.At(1, 0, k) = 90, area.At(2, 0, k) = 30;
            FilterArea(area.Rows.data(), 3, 1, e.Amount, 1, e.Kind);
            EXPECT_EQ(Channel(area, k), e.Expected) << e.Name << ", channel " << k;
            for (int other = (k + 1) % 3; other != k; other = (other + 1) % 3)
                EXPECT_EQ(Channel(area, other), (std::vector<int>{0, 0, 0})) << e.Name;
        }
        TArea grey = GreyRow({0, 90, 30}), modelGrey = GreyRow({0, 90, 30});
        FilterArea(grey.Rows.data(), 3, 1, e.Amount, 1, e.Kind);
        KvModel::ModelFilterArea(modelGrey.Rows.data(), 3, 1, e.Amount, 1, e.Kind);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(Channel(grey, k), e.Expected) << e.Name << ", grey";
            EXPECT_EQ(Channel(modelGrey, k), e.Expected) << e.Name << ", model";
        }
    }
}

// Blur with an amount outside 0..100 clamps where the value would otherwise wrap (92, 217, 92).
TEST(Filters, BlurOutsidePercentRangeClamps) {
    TArea area = GreyRow({0, 255, 0});
    FilterArea(area.Rows.data(), 3, 1, -128, 1, TFilterKind::Blur);
    EXPECT_EQ(Channel(area, 1), (std::vector<int>{0, 255, 0}));
}

TEST(Filters, NeutralArgumentsAndUniformImagesChangeNothing) {
    std::mt19937 random(7);
    TArea noise(23, 17);
    Fill(noise, TPattern::Noise, random);
    for (TFilterKind kind : {TFilterKind::Blur, TFilterKind::Sharpen}) {
        for (int radius : {0, 1, 5, 40, INT32_MAX}) {
            TArea area(noise);
            FilterArea(area.Rows.data(), area.Width, area.Height, 0, radius, kind);
            EXPECT_EQ(area.Bits, noise.Bits) << KindName(kind) << " amount 0 radius " << radius;
        }
        for (int amount : {-128, -1, 50, 100, 127}) {
            TArea area(noise);
            FilterArea(area.Rows.data(), area.Width, area.Height, int8_t(amount), 0, kind);
            EXPECT_EQ(area.Bits, noise.Bits) << KindName(kind) << " radius 0 amount " << amount;
        }
        for (int level : {0, 1, 128, 254, 255})
            for (int amount : {-128, 100, 127})
                for (int radius : {1, 3, 30}) {
                    TArea area(13, 9);
                    std::fill(area.Bits.begin(), area.Bits.end(), uint8_t(level));
                    const std::vector<uint8_t> before = area.Bits;
                    FilterArea(area.Rows.data(), area.Width, area.Height, int8_t(amount), radius, kind);
                    EXPECT_EQ(area.Bits, before) << KindName(kind) << " level " << level;
                }
    }
}

// The control's one check of the radius (the kernel states the precondition and asserts it), and the
// model's.
TEST(Filters, NegativeRadiusIsRefused) {
    for (int radius : {-1, -2, INT32_MIN})
        EXPECT_THROW(KvKernels::CheckFilterRadius(radius), EArgumentError) << radius;
    EXPECT_NO_THROW(KvKernels::CheckFilterRadius(0));
    TArea area(6, 4);
    EXPECT_THROW(KvModel::ModelFilterArea(area.Rows.data(), 6, 4, 100, -1, TFilterKind::Sharpen),
                 EArgumentError);
}

// Byte-for-byte agreement with the step-by-step sweep on several thousand random cases.
TEST(Filters, MatchesModelOnRandomCases) {
    std::mt19937 random(20240601);
    const int8_t extremes[] = {-128, -127, -1, 1, 99, 100, 101, 127};
    int cases = 0;
    for (; cases < 4000; ++cases) {
        const unsigned shape = random() % 100;
        int w, h;
        if (shape < 8)
            w = 1, h = 1 + int(random() % 60); // one column
        else if (shape < 16)
            w = 1 + int(random() % 60), h = 1; // one row
        else if (shape < 92)
            w = 1 + int(random() % 24), h = 1 + int(random() % 24);
        else if (shape < 98)
            w = 1 + int(random() % 80), h = 1 + int(random() % 60);
        else
            w = 120 + int(random() % 81), h = 90 + int(random() % 61); // up to 200 x 150
        const int reach = std::max(w, h);
        const unsigned pick = random() % 10;
        int32_t radius;
        if (pick < 6)
            radius = int32_t(random() % 5);
        else if (pick < 9)
            radius = int32_t(random() % unsigned(reach + 3)); // up to past both sides
        else
            radius = random() % 2 ? INT32_MAX : int32_t(reach + int(random() % 1000));
        if (shape >= 98 && radius > 12 && pick < 9)
            radius = 12 + int32_t(random() % 40); // keep the model quick
        const int8_t amount = random() % 4 == 0 ? extremes[random() % 8] : int8_t(int(random() % 256) - 128);
        const TFilterKind kind = random() % 2 ? TFilterKind::Blur : TFilterKind::Sharpen;
        TArea area(w, h);
        Fill(area, TPattern(random() % unsigned(TPattern::Count)), random);
        ASSERT_TRUE(MatchesModel(area, amount, radius, kind)) << "case " << cases;
    }
    EXPECT_EQ(cases, 4000);
}

// Areas beyond 32767 pixels in one direction, and a window whose sums pass 32 bits.
TEST(Filters, LargeAreasAndWindows) {
    std::mt19937 random(11);
    struct TCase {
        int Width, Height, Radius;
    };
    for (const TCase& c :
         {TCase{40000, 2, 3}, TCase{40000, 2, 300}, TCase{2, 40000, 300}, TCase{3, 33000, 40000}}) {
        TArea area(c.Width, c.Height);
        Fill(area, TPattern::Grain, random);
        EXPECT_TRUE(MatchesModel(area, 50, c.Radius, TFilterKind::Blur));
        EXPECT_TRUE(MatchesModel(area, -77, c.Radius, TFilterKind::Sharpen));
    }
    // 2950 x 2950 at 255 sums to more than 2^31 per channel: a 32-bit sum would wrap and move pixels.
    TArea bright(2950, 2950);
    std::fill(bright.Bits.begin(), bright.Bits.end(), uint8_t(255));
    bright.At(0, 0, 0) = 0; // one dark pixel: the mean is still 255 everywhere except near it
    FilterArea(bright.Rows.data(), bright.Width, bright.Height, 100, 5000, TFilterKind::Blur);
    // Every window is the whole area; pixel (0,0) blue goes to the mean 255 (sum 255*N - 255 over N).
    for (int y = 0; y < bright.Height; y += 97)
        for (int x = 0; x < bright.Width; x += 89)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(bright.At(x, y, k), 255) << x << "," << y << "," << k;
}

// Windows of fewer than 2^16 pixels take their mean from the single-precision quotient, larger ones (below
// 2^23) from the double-precision one, converted to the nearest integer, ties to even. Checked at each
// half-way sum and on both sides of it: for single precision at every count it takes, for double precision
// at the counts just past single precision's and just below its own bound.
TEST(Filters, QuotientsGiveTheExactMeanWithinTheirBounds) {
    const auto exactMean = [](int64_t Sum, int64_t Count) {
        int64_t q = Sum / Count;
        const int64_t twice = 2 * (Sum - q * Count);
        if (twice > Count || (twice == Count && q % 2 == 1)) ++q;
        return q;
    };
    int64_t wrong = 0;
    for (int64_t count = 1; count < 65536; ++count)
        for (int64_t k = 0; k < 255; ++k) {
            const int64_t halfway = (2 * k + 1) * count; // twice the sum whose quotient is k + 1/2
            for (int64_t sum = halfway / 2 - 1; sum <= (halfway + 1) / 2 + 1; ++sum)
                if (int64_t(std::nearbyint(float(sum) / float(count))) != exactMean(sum, count)) ++wrong;
        }
    EXPECT_EQ(wrong, 0);
    for (int64_t first : {int64_t(1) << 16, (int64_t(1) << 23) - 1000})
        for (int64_t count = first; count < first + 1000; ++count)
            for (int64_t k = 0; k < 255; ++k) {
                const int64_t halfway = (2 * k + 1) * count;
                for (int64_t sum = halfway / 2 - 1; sum <= (halfway + 1) / 2 + 1; ++sum)
                    if (int64_t(std::nearbyint(double(sum) / double(count))) != exactMean(sum, count))
                        ++wrong;
            }
    EXPECT_EQ(wrong, 0);
}

namespace {

// Restores the process-wide kernel settings a test changes.
struct TSettingsGuard {
    ~TSettingsGuard() {
        KvKernels::SetFilterThreads(0);
        KvKernels::SetSimdLevel(KvKernels::SupportedSimdLevel());
    }
};

} // namespace

// Every instruction-set level and thread count gives the model's bytes. The areas are large enough to be
// run on several threads; their shapes give ragged last generations, generations narrower than a register
// and single ones, one register of lanes and two, and the radii reach from 1 past the area, with the
// leaving column inside and outside the generation.
TEST(Filters, EveryLevelAndThreadCountMatchesModel) {
    TSettingsGuard guard;
    std::mt19937 random(5150);
    struct TCase {
        int Width, Height;
        int32_t Radius;
    };
    const TCase cases[] = {{263, 257, 1},  {300, 231, 2},    {17, 4001, 3},         {4099, 17, 5},
                           {290, 240, 14}, {256, 260, 16},   {281, 250, 40},        {7, 9500, 1},
                           {9500, 7, 300}, {270, 260, 1000}, {259, 258, INT32_MAX}, {200, 2300, 60}};
    std::vector<KvKernels::TSimdLevel> levels;
    for (int level = 0; level <= int(KvKernels::SupportedSimdLevel()); ++level)
        levels.push_back(KvKernels::TSimdLevel(level));
    for (const TCase& c : cases) {
        TArea area(c.Width, c.Height);
        Fill(area, TPattern(random() % unsigned(TPattern::Count)), random);
        const int8_t amount = int8_t(int(random() % 256) - 128);
        const TFilterKind kind = random() % 2 ? TFilterKind::Blur : TFilterKind::Sharpen;
        TArea model(area);
        KvModel::ModelFilterArea(model.Rows.data(), model.Width, model.Height, amount, c.Radius, kind);
        for (KvKernels::TSimdLevel level : levels)
            for (int threads : {1, 2, 3, 8}) {
                KvKernels::SetSimdLevel(level);
                KvKernels::SetFilterThreads(threads);
                TArea fast(area);
                FilterArea(fast.Rows.data(), fast.Width, fast.Height, amount, c.Radius, kind);
                ASSERT_TRUE(fast.Bits == model.Bits)
                    << KindName(kind) << " " << c.Width << "x" << c.Height << " radius " << c.Radius
                    << " amount " << int(amount) << " level " << int(level) << " threads " << threads;
            }
    }
}

// Threads that lose their core now and then (here to a spinning thread of the test, on a machine with few
// cores) take other pieces of work or wait for them; the bytes stay the model's.
TEST(Filters, ThreadsMatchModelWhileACoreIsBusy) {
    TSettingsGuard guard;
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop.load(std::memory_order_relaxed)) {
        }
    });
    std::mt19937 random(4242);
    struct TCase {
        int Width, Height;
        int32_t Radius;
    };
    // The last case runs long enough at a radius large enough that threads which lose their core stop
    // taking generations while the others go on.
    for (const TCase& c :
         {TCase{700, 300, 1}, TCase{400, 200, 33}, TCase{40, 3000, 7}, TCase{1500, 500, 60}}) {
        TArea area(c.Width, c.Height);
        Fill(area, TPattern::Noise, random);
        TArea model(area);
        KvModel::ModelFilterArea(model.Rows.data(), c.Width, c.Height, 70, c.Radius, TFilterKind::Sharpen);
        for (int threads : {2, 3, 8}) {
            KvKernels::SetFilterThreads(threads);
            TArea fast(area);
            FilterArea(fast.Rows.data(), c.Width, c.Height, 70, c.Radius, TFilterKind::Sharpen);
            EXPECT_TRUE(fast.Bits == model.Bits) << c.Width << "x" << c.Height << " threads " << threads;
        }
    }
    stop = true;
    busy.join();
}

#if defined(__linux__)
// Threads that the system keeps on one processor: all but one stop taking generations, the calling thread
// too where it finds itself beside another, and the others finish its work. The bytes stay the model's, and
// the listener still hears rising percents on the calling thread only.
TEST(Filters, ThreadsOnOneProcessorMatchModel) {
    struct TAffinityGuard {
        cpu_set_t Saved;
        TAffinityGuard() { sched_getaffinity(0, sizeof Saved, &Saved); }
        ~TAffinityGuard() { sched_setaffinity(0, sizeof Saved, &Saved); }
    } affinity;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0); // the workers inherit it
    TSettingsGuard guard;
    std::mt19937 random(31337);
    for (const auto& [width, height, radius] : {std::tuple{1600, 500, 1}, std::tuple{1500, 400, 20}}) {
        TArea area(width, height);
        Fill(area, TPattern::Noise, random);
        TArea model(area);
        KvModel::ModelFilterArea(model.Rows.data(), width, height, -40, radius, TFilterKind::Blur);
        for (int threads : {2, 3, 8}) {
            KvKernels::SetFilterThreads(threads);
            const std::thread::id caller = std::this_thread::get_id();
            std::vector<int> percents;
            bool elsewhere = false;
            KvKernels::TProgressCounter progress(uint64_t(width) * uint64_t(height), [&](int Percent) {
                elsewhere = elsewhere || std::this_thread::get_id() != caller;
                percents.push_back(Percent);
            });
            TArea fast(area);
            FilterArea(fast.Rows.data(), width, height, -40, radius, TFilterKind::Blur, &progress);
            EXPECT_TRUE(fast.Bits == model.Bits) << width << "x" << height << " threads " << threads;
            EXPECT_FALSE(elsewhere);
            EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()) &&
                        std::adjacent_find(percents.begin(), percents.end()) == percents.end());
        }
    }
}
#endif

// The filters' own memory: rings of O(Radius) per thread whatever the height, and row-sum buffers of 12
// bytes a row only for areas of more than one strip. A tall, narrow area runs in a few hundred KiB.
TEST(Filters, WorkingMemoryIsBoundedAndTallAreasMatchModel) {
    using KvKernels::FilterWorkingBytes;
    const uint64_t mebibyte = uint64_t(1) << 20;
    for (int threads : {1, 2, 8}) {
        EXPECT_LT(FilterWorkingBytes(1, 20000000, 50, threads), mebibyte);
        EXPECT_LT(FilterWorkingBytes(16, 20000000, 50, threads), mebibyte);
        EXPECT_LT(FilterWorkingBytes(17, 20000000, 50, threads), 12 * uint64_t(20000000) + mebibyte);
        EXPECT_LT(FilterWorkingBytes(3840, 2160, 128, threads), threads * mebibyte / 2 + 2 * mebibyte);
    }
    // Windows of 2^23 pixels or more take the 64-bit sweep: 264 bytes a row.
    EXPECT_GE(FilterWorkingBytes(3000, 3000, 1500, 2), 264 * uint64_t(3000));
    TSettingsGuard guard;
    std::mt19937 random(99);
    TArea area(2, 120000);
    Fill(area, TPattern::Grain, random);
    for (int threads : {1, 2}) {
        KvKernels::SetFilterThreads(threads);
        EXPECT_TRUE(MatchesModel(area, -90, 60, TFilterKind::Blur)) << threads << " threads";
    }
}

// Progress on several threads: reports come on the calling thread only, in rising whole percents.
TEST(Filters, ProgressIsReportedOnTheCallingThreadOnly) {
    TSettingsGuard guard;
    KvKernels::SetFilterThreads(3);
    std::mt19937 random(77);
    TArea area(600, 400);
    Fill(area, TPattern::Noise, random);
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<int> percents;
    bool elsewhere = false;
    KvKernels::TProgressCounter progress(uint64_t(area.Width) * uint64_t(area.Height), [&](int Percent) {
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        percents.push_back(Percent);
    });
    FilterArea(area.Rows.data(), area.Width, area.Height, 60, 4, TFilterKind::Blur, &progress);
    EXPECT_FALSE(elsewhere);
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()) &&
                std::adjacent_find(percents.begin(), percents.end()) == percents.end());
    EXPECT_GT(percents.front(), 0);
    EXPECT_LT(percents.back(), 100);
}

// A report that throws ends the operation with its exception, on any thread count, and stops the workers.
TEST(Filters, ThrowingProgressReportEndsTheOperation) {
    TSettingsGuard guard;
    std::mt19937 random(78);
    TArea area(500, 300);
    Fill(area, TPattern::Grain, random);
    for (int threads : {1, 2, 8}) {
        KvKernels::SetFilterThreads(threads);
        KvKernels::TProgressCounter progress(uint64_t(area.Width) * uint64_t(area.Height), [](int Percent) {
            if (Percent >= 10) throw std::runtime_error("stop");
        });
        TArea copy(area);
        EXPECT_THROW(
            FilterArea(copy.Rows.data(), copy.Width, copy.Height, 60, 9, TFilterKind::Sharpen, &progress),
            std::runtime_error)
            << threads << " threads";
    }
}

TEST(Filters, ThreadSettingRejectsNegativeCounts) {
    TSettingsGuard guard;
    KvKernels::SetFilterThreads(2);
    EXPECT_THROW(KvKernels::SetFilterThreads(-1), EArgumentError);
    EXPECT_EQ(KvKernels::FilterThreads(), 2);
}
