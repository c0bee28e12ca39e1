#include "KvPointOps.h"
#include "KvRowBands.h"
#include "PointOpsModel.h"
#include <pictura/SysUtils.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace KvKernels;

namespace {

// Every channel value at every byte offset: pixel i is (i, i + 85, i + 170) mod 256.
std::vector<uint8_t> AllValuesRow() {
    std::vector<uint8_t> row(3 * 256);
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            row[size_t(3 * i + c)] = uint8_t(i + 85 * c);
    return row;
}

TChannelTable RandomTable(std::mt19937& Random) {
    TChannelTable table;
    for (uint8_t& entry : table)
        entry = uint8_t(Random());
    return table;
}

// Colours whose weighted sum lies exactly on a tie: the only ones the grey kernels evaluate by the rule.
const std::vector<uint32_t>& TieColours() {
    static const std::vector<uint32_t> colours = [] {
        std::vector<uint32_t> found;
        for (uint32_t rgb = 0; rgb < (1u << 24); rgb += 7) {
            const uint32_t r = rgb >> 16, g = (rgb >> 8) & 255, b = rgb & 255;
            if ((2125 * r + 7154 * g + 721 * b) % 10000 == 5000) found.push_back(rgb);
        }
        return found;
    }();
    return colours;
}

// A row of Count pixels at Offset bytes into a buffer of random bytes; the bytes around it are guards.
struct TGuardedRow {
    std::vector<uint8_t> Buffer;
    size_t Offset;
    int Count;

    TGuardedRow(int PixelCount, size_t ByteOffset, std::mt19937& Random)
        : Buffer(ByteOffset + 3 * size_t(PixelCount) + 67), Offset(ByteOffset), Count(PixelCount) {
        for (uint8_t& byte : Buffer)
            byte = uint8_t(Random());
    }
    uint8_t* Pixels() { return Buffer.data() + Offset; }
};

// Row lengths around every block size of every level, and a few long rows.
std::vector<int> RowLengths() {
    std::vector<int> lengths;
    for (int n = 0; n <= 100; ++n)
        lengths.push_back(n);
    for (int n : {127, 128, 129, 191, 192, 193, 1000, 3840, 4099})
        lengths.push_back(n);
    return lengths;
}

// Runs Operation on guarded random rows and compares each whole buffer, guards included, with Model
// applied to a copy; then once more on a heap block of exactly the row's size, so that a sanitizer build
// reports any read past the row. Prepare may alter the random row first.
template <typename TOperation, typename TModel>
void ExpectSameAsModel(TOperation Operation, TModel Model, uint32_t Seed,
                       void (*Prepare)(TGuardedRow&, std::mt19937&) = nullptr) {
    std::mt19937 random(Seed);
    for (int length : RowLengths()) {
        TGuardedRow row(length, random() % 64, random);
        if (Prepare) Prepare(row, random);
        std::vector<uint8_t> expected = row.Buffer;
        uint8_t* expectedRow = expected.data() + row.Offset;
        std::vector<uint8_t> exact(row.Pixels(), row.Pixels() + 3 * length);
        Model(&expectedRow, length);
        Operation(row.Pixels(), length);
        ASSERT_EQ(row.Buffer, expected) << "row of " << length << " pixels at offset " << row.Offset;
        Operation(exact.data(), length);
        ASSERT_TRUE(std::equal(exact.begin(), exact.end(), expectedRow))
            << "exact row of " << length << " pixels";
    }
}

void InjectTies(TGuardedRow& Row, std::mt19937& Random) {
    const std::vector<uint32_t>& ties = TieColours();
    for (int x = 0; x < Row.Count; ++x)
        if (Random() % 3 == 0) {
            const uint32_t rgb = ties[Random() % ties.size()];
            Row.Pixels()[3 * x] = uint8_t(rgb);
            Row.Pixels()[3 * x + 1] = uint8_t(rgb >> 8);
            Row.Pixels()[3 * x + 2] = uint8_t(rgb >> 16);
        }
}

// Each test runs at one kernel level; levels the processor lacks are skipped.
class PointOpsLevel : public testing::TestWithParam<TSimdLevel> {
protected:
    void SetUp() override {
        if (GetParam() > SupportedSimdLevel()) GTEST_SKIP() << "level not supported by this processor";
        SetSimdLevel(GetParam());
    }
    void TearDown() override { SetSimdLevel(SupportedSimdLevel()); }
};

TEST_P(PointOpsLevel, InvertMatchesModel) {
    ExpectSameAsModel(
        InvertRow, [](uint8_t** rows, int width) { KvModel::ModelInvert(rows, width, 1); }, 1);
}

TEST_P(PointOpsLevel, GreyScaleMatchesModel) {
    ExpectSameAsModel(
        GreyScaleRow, [](uint8_t** rows, int width) { KvModel::ModelGreyScale(rows, width, 1); }, 2);
}

TEST_P(PointOpsLevel, GreyScaleMatchesModelOnTieColours) {
    ExpectSameAsModel(
        GreyScaleRow, [](uint8_t** rows, int width) { KvModel::ModelGreyScale(rows, width, 1); }, 3,
        InjectTies);
}

// All 2^24 colours, one red level per row of 65536 pixels.
TEST_P(PointOpsLevel, GreyScaleMatchesModelOnEveryColour) {
    std::vector<uint8_t> row(3 * 65536), expected(row.size());
    for (int red = 0; red < 256; ++red) {
        for (int gb = 0; gb < 65536; ++gb) {
            row[size_t(3 * gb)] = uint8_t(gb);
            row[size_t(3 * gb + 1)] = uint8_t(gb >> 8);
            row[size_t(3 * gb + 2)] = uint8_t(red);
            expected[size_t(3 * gb)] = expected[size_t(3 * gb + 1)] = expected[size_t(3 * gb + 2)] =
                KvModel::ModelGrey(uint8_t(gb), uint8_t(gb >> 8), uint8_t(red));
        }
        GreyScaleRow(row.data(), 65536);
        ASSERT_EQ(row, expected) << "red " << red;
    }
}

TEST_P(PointOpsLevel, MapRowMatchesTablesOnRandomRows) {
    std::mt19937 random(4);
    const TChannelTables tables = {RandomTable(random), RandomTable(random), RandomTable(random)};
    ExpectSameAsModel([&](uint8_t* p, int n) { MapRow(p, n, tables); },
                      [&](uint8_t** rows, int width) {
                          for (int x = 0; x < width; ++x) {
                              uint8_t* pixel = rows[0] + 3 * x;
                              pixel[0] = tables.Blue[pixel[0]];
                              pixel[1] = tables.Green[pixel[1]];
                              pixel[2] = tables.Red[pixel[2]];
                          }
                      },
                      5);
}

TEST_P(PointOpsLevel, MapChannelRowChangesOnlyItsChannel) {
    std::mt19937 random(6);
    for (int channel = 0; channel < 3; ++channel) {
        SCOPED_TRACE("channel " + std::to_string(channel));
        const TChannelTable table = RandomTable(random);
        ExpectSameAsModel([&](uint8_t* p, int n) { MapChannelRow(p, n, channel, table); },
                          [&](uint8_t** rows, int width) {
                              for (int x = 0; x < width; ++x)
                                  rows[0][3 * x + channel] = table[rows[0][3 * x + channel]];
                          },
                          7 + uint32_t(channel));
    }
}

// Runs of pixels whose channels each keep to a window of values: within one or two of the value ranges
// 0-63, 64-127, 128-191, 192-255, across three, a single value, or anywhere. A table kernel that skips the
// ranges no byte of a stretch of pixels falls in must still match wherever the runs begin and end.
void KeepToValueWindows(TGuardedRow& Row, std::mt19937& Random) {
    static const int windows[][2] = {{0, 63},   {64, 127}, {128, 191}, {192, 255}, {0, 127},  {128, 255},
                                     {64, 191}, {32, 95},  {96, 159},  {160, 223}, {48, 207}, {0, 255}};
    for (int x = 0; x < Row.Count;) {
        const int end = std::min(Row.Count, x + 1 + int(Random() % (Random() % 2 ? 40 : 700)));
        int low[3], high[3];
        for (int c = 0; c < 3; ++c) {
            const auto& window = windows[Random() % std::size(windows)];
            low[c] = window[0], high[c] = Random() % 8 == 0 ? window[0] : window[1];
        }
        for (; x < end; ++x)
            for (int c = 0; c < 3; ++c)
                Row.Pixels()[3 * x + c] = uint8_t(low[c] + int(Random() % uint32_t(high[c] - low[c] + 1)));
    }
}

TEST_P(PointOpsLevel, TableKernelsMatchOnRowsWithinFewValueRanges) {
    std::mt19937 random(14);
    const TChannelTables tables = {RandomTable(random), RandomTable(random), RandomTable(random)};
    const auto applyTable = [](uint8_t* Pixel, const TChannelTable& Table) { *Pixel = Table[*Pixel]; };
    for (uint32_t seed = 15; seed < 19; ++seed)
        ExpectSameAsModel([&](uint8_t* p, int n) { MapRow(p, n, tables); },
                          [&](uint8_t** rows, int width) {
                              for (int x = 0; x < width; ++x) {
                                  applyTable(rows[0] + 3 * x, tables.Blue);
                                  applyTable(rows[0] + 3 * x + 1, tables.Green);
                                  applyTable(rows[0] + 3 * x + 2, tables.Red);
                              }
                          },
                          seed, KeepToValueWindows);
    ExpectSameAsModel([&](uint8_t* p, int n) { MapBytesRow(p, n, tables.Green); },
                      [&](uint8_t** rows, int width) {
                          for (int i = 0; i < 3 * width; ++i)
                              applyTable(rows[0] + i, tables.Green);
                      },
                      19, KeepToValueWindows);
    ExpectSameAsModel([&](uint8_t* p, int n) { MapChannelRow(p, n, 1, tables.Red); },
                      [&](uint8_t** rows, int width) {
                          for (int x = 0; x < width; ++x)
                              applyTable(rows[0] + 3 * x + 1, tables.Red);
                      },
                      20, KeepToValueWindows);
}

TEST_P(PointOpsLevel, EnvelopesMatchModelOnRandomRows) {
    std::mt19937 random(10);
    std::uniform_real_distribution<double> gain(0.0, 1.0);
    double red[256], green[256], blue[256];
    for (int v = 0; v < 256; ++v)
        red[v] = gain(random), green[v] = gain(random), blue[v] = gain(random);
    const TChannelTables tables = {EnvelopeTable(blue), EnvelopeTable(green), EnvelopeTable(red)};
    ExpectSameAsModel(
        [&](uint8_t* p, int n) { MapRow(p, n, tables); },
        [&](uint8_t** rows, int width) { KvModel::ModelApplyEnvelops(rows, width, 1, red, green, blue); },
        11);
    const TChannelTable redTable = EnvelopeTable(red);
    ExpectSameAsModel([&](uint8_t* p, int n) { MapChannelRow(p, n, 2, redTable); },
                      [&](uint8_t** rows, int width) { KvModel::ModelApplyEnvelop(rows, width, 1, 2, red); },
                      12);
}

// One gain for every value (the default envelope is gain 1), as the control applies three equal envelopes:
// every percentage on every channel value through the byte map, its arithmetic form where it has one.
TEST_P(PointOpsLevel, EnvelopeMapOfOneGainMatchesModel) {
    int affine = 0;
    for (int percent = 0; percent <= 101; ++percent) {
        // 101: a gain of 3 (the kernels' gains are not clamped), outside the arithmetic form's range
        double gains[256];
        std::fill(std::begin(gains), std::end(gains), percent <= 100 ? percent / 100.0 : 3.0);
        const TByteMap map = EnvelopeMap(gains);
        affine += map.Affine;
        if (percent > 100) {
            EXPECT_FALSE(map.Affine);
        }
        std::vector<uint8_t> row = AllValuesRow(), expected = row;
        uint8_t* expectedRow = expected.data();
        KvModel::ModelApplyEnvelops(&expectedRow, 256, 1, gains, gains, gains);
        MapBytesRow(row.data(), 256, map);
        ASSERT_EQ(row, expected) << "gain " << percent << " %";
    }
    EXPECT_GT(affine, 90) << "most gains should have the arithmetic form";
}

// Every percentage from -150 to 150 on every channel value, through the byte map the control uses for
// brightness (its arithmetic form where it has one), the plain byte lookup and the three-table kernel; the
// long random rows check the map's rows and tails.
TEST_P(PointOpsLevel, BrightnessMatchesModelForEveryValue) {
    int affine = 0;
    for (int32_t value = -150; value <= 150; ++value) {
        const TByteMap map = BrightnessMap(value);
        affine += map.Affine;
        const TChannelTables tables = {map.Table, map.Table, map.Table};
        std::vector<uint8_t> row = AllValuesRow(), expected = row, viaTable = row, viaTables = row;
        uint8_t* expectedRow = expected.data();
        KvModel::ModelBrightness(&expectedRow, 256, 1, value);
        MapBytesRow(row.data(), 256, map);
        MapBytesRow(viaTable.data(), 256, map.Table);
        MapRow(viaTables.data(), 256, tables);
        ASSERT_EQ(row, expected) << "Brightness(" << value << ")";
        ASSERT_EQ(viaTable, expected) << "Brightness(" << value << ") through the byte lookup";
        ASSERT_EQ(viaTables, expected) << "Brightness(" << value << ") through three tables";
    }
    EXPECT_GT(affine, 250) << "most values should have the arithmetic form";
    for (int32_t value : {37, -63}) {
        const TByteMap map = BrightnessMap(value);
        ASSERT_TRUE(map.Affine);
        ExpectSameAsModel([&](uint8_t* p, int n) { MapBytesRow(p, n, map); },
                          [&](uint8_t** rows, int width) { KvModel::ModelBrightness(rows, width, 1, value); },
                          13);
    }
}

std::string LevelName(const testing::TestParamInfo<TSimdLevel>& Info) {
    static const char* const names[] = {"Scalar", "Sse41", "Avx2", "Avx512Vbmi"};
    return names[int(Info.param)];
}

INSTANTIATE_TEST_SUITE_P(AllLevels, PointOpsLevel,
                         testing::Values(TSimdLevel::Scalar, TSimdLevel::Sse41, TSimdLevel::Avx2,
                                         TSimdLevel::Avx512Vbmi),
                         LevelName);

struct TBrightnessCase {
    const char* Name;
    int32_t Value;
    uint8_t Before, After;
};

TEST(PointOps, BrightnessExamples) {
    const TBrightnessCase cases[] = {
        {"zero changes nothing", 0, 77, 77},
        {"100 gives white", 100, 0, 255},
        {"-100 gives black", -100, 255, 0},
        {"150 acts as 100", 150, 3, 255},
        {"-150 acts as -100", -150, 200, 0},
        {"50: 127.5 rounds to even 128", 50, 0, 128},
        {"50: 126.5 rounds to even 126", 50, 2, 128},
        {"50: white stays", 50, 255, 255},
        {"-50: -127.5 rounds to -128", -50, 255, 127},
        {"-50: -1.5 rounds to -2", -50, 3, 1},
        {"10: 5 x 0.1 lies above 0.5 in extended precision", 10, 250, 251},
    };
    for (const TBrightnessCase& c : cases)
        EXPECT_EQ(BrightnessTable(c.Value)[c.Before], c.After) << c.Name;
}

TEST(PointOps, InvertExampleAndTwiceRestores) {
    uint8_t pixel[3] = {10, 20, 30};
    InvertRow(pixel, 1);
    EXPECT_EQ(pixel[0], 245);
    EXPECT_EQ(pixel[1], 235);
    EXPECT_EQ(pixel[2], 225);
    InvertRow(pixel, 1);
    EXPECT_EQ(pixel[0], 10);
    EXPECT_EQ(pixel[2], 30);
}

TEST(PointOps, GreyScaleExamples) {
    // Blue, green, red in; grey out.
    const uint8_t cases[][4] = {{255, 255, 255, 255}, {0, 0, 255, 54}, {0, 255, 0, 182},
                                {255, 0, 0, 18},      {0, 0, 0, 0},    {99, 99, 99, 99}};
    for (const auto& c : cases) {
        uint8_t pixel[3] = {c[0], c[1], c[2]};
        GreyScaleRow(pixel, 1);
        EXPECT_EQ(pixel[0], c[3]);
        EXPECT_EQ(pixel[1], c[3]);
        EXPECT_EQ(pixel[2], c[3]);
    }
    for (int grey = 0; grey < 256; ++grey) {
        uint8_t pixel[3] = {uint8_t(grey), uint8_t(grey), uint8_t(grey)};
        GreyScaleRow(pixel, 1);
        EXPECT_EQ(pixel[1], grey);
    }
}

TEST(PointOps, EnvelopeTableMatchesModelForEveryValue) {
    std::mt19937 random(20);
    std::uniform_real_distribution<double> gain(0.0, 1.0);
    double gains[256];
    for (double& g : gains)
        g = gain(random);
    gains[200] = 0.5, gains[201] = 0.0, gains[202] = 1.0;
    const TChannelTable table = EnvelopeTable(gains);
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(table[v], KvModel::ModelEnvelop(uint8_t(v), gains)) << "value " << v;
    EXPECT_EQ(table[200], 100);
    EXPECT_EQ(table[201], 0);
    EXPECT_EQ(table[202], 202);
}

TEST(PointOps, LevelAboveTheProcessorsIsRefused) {
    EXPECT_EQ(SimdLevel(), SupportedSimdLevel());
    EXPECT_THROW(SetSimdLevel(TSimdLevel(int(SupportedSimdLevel()) + 1)), EArgumentError);
    EXPECT_EQ(SimdLevel(), SupportedSimdLevel());
}

} // namespace

// Rows shared out among threads: each row exactly once, whatever the thread count and height; progress
// reported on the calling thread only, rising; a report that throws ends the work with its exception
// after every thread has stopped.
TEST(PointOps, RowBandsVisitEveryRowOnceAndReportOnTheCallingThread) {
    for (int threads : {1, 2, 3, 8})
        for (int height : {0, 1, 7, 5000}) {
            std::vector<std::atomic<int>> visits(size_t(height) + 1);
            const std::thread::id caller = std::this_thread::get_id();
            std::vector<int> percents;
            bool elsewhere = false;
            KvKernels::TProgressCounter progress(uint64_t(height), [&](int Percent) {
                elsewhere = elsewhere || std::this_thread::get_id() != caller;
                percents.push_back(Percent);
            });
            KvKernels::ForRowBands(100, height, threads, &progress, [&](int First, int End) {
                for (int y = First; y < End; ++y)
                    visits[size_t(y)]++;
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            });
            for (int y = 0; y < height; ++y)
                ASSERT_EQ(visits[size_t(y)], 1)
                    << "row " << y << " of " << height << ", " << threads << " threads";
            EXPECT_EQ(visits[size_t(height)], 0);
            EXPECT_FALSE(elsewhere);
            EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()) &&
                        std::adjacent_find(percents.begin(), percents.end()) == percents.end());
            if (height == 5000 && threads == 1) {
                EXPECT_FALSE(percents.empty()) << threads << " threads";
            }
        }
    // The workers hold their first band until the calling thread has reported, so the report comes
    // while they run; each band then takes a millisecond, far longer than the stop takes.
    for (int threads : {1, 8}) {
        std::atomic<bool> reported{false};
        KvKernels::TProgressCounter progress(5000, [&](int) {
            reported = true;
            throw std::runtime_error("stop");
        });
        const std::thread::id caller = std::this_thread::get_id();
        std::atomic<int> rows{0};
        EXPECT_THROW(KvKernels::ForRowBands(100, 5000, threads, &progress,
                                            [&](int First, int End) {
                                                while (std::this_thread::get_id() != caller && !reported)
                                                    std::this_thread::sleep_for(
                                                        std::chrono::microseconds(100));
                                                rows += End - First;
                                                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                            }),
                     std::runtime_error);
        EXPECT_LT(rows, 5000) << threads << " threads";
    }
}
