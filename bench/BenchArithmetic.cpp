// The control's extended-precision rules in each arithmetic: TExtended (integer) against the x87 (x86-64
// only), for the per-call tables and the grey rule on the tie colours. component/KvReal.h picks the faster
// one for x86-64; the checksums must agree between the two.
#include "KvRules.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cfloat>
#include <vector>

namespace {

using namespace KvKernels;

template <class R> void BM_MixTable(benchmark::State& State) {
    static uint8_t table[65536];
    uint64_t checksum = 0;
    int amount = 0;
    for (auto _ : State) {
        FillMixTable<R>(table, int8_t(amount % 200 - 100),
                        amount % 2 ? TFilterKind::Blur : TFilterKind::Sharpen);
        benchmark::ClobberMemory();
        ++amount;
    }
    for (int a = -100; a < 100; a += 7) {
        FillMixTable<R>(table, int8_t(a), TFilterKind::Blur);
        for (uint8_t v : table)
            checksum = checksum * 31 + v;
    }
    State.counters["checksum"] = double(checksum % 1000000007ull);
}

template <class R> void BM_BrightnessTable(benchmark::State& State) {
    int value = 0;
    for (auto _ : State)
        benchmark::DoNotOptimize(BrightnessRuleTable<R>(value++ % 201 - 100));
}

// The 1,688 colours whose grey sum is a tie, the only ones the kernels evaluate in extended precision.
const std::vector<std::array<uint8_t, 3>>& TieColours() {
    static const std::vector<std::array<uint8_t, 3>> colours = [] {
        std::vector<std::array<uint8_t, 3>> ties;
        for (int r = 0; r < 256; ++r)
            for (int g = 0; g < 256; ++g)
                for (int b = 0; b < 256; ++b)
                    if ((2125 * r + 7154 * g + 721 * b) % 10000 == 5000)
                        ties.push_back({uint8_t(b), uint8_t(g), uint8_t(r)});
        return ties;
    }();
    return colours;
}

template <class R> void BM_GreyTies(benchmark::State& State) {
    uint64_t sum = 0;
    for (auto _ : State)
        for (const auto& c : TieColours())
            sum += GreyRule<R>(c[0], c[1], c[2]);
    benchmark::DoNotOptimize(sum);
    State.SetItemsProcessed(int64_t(State.iterations()) * int64_t(TieColours().size()));
}

BENCHMARK_TEMPLATE(BM_MixTable, TExtended)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_BrightnessTable, TExtended)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_GreyTies, TExtended);
#if defined(__x86_64__) && LDBL_MANT_DIG == 64
BENCHMARK_TEMPLATE(BM_MixTable, long double)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_BrightnessTable, long double)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_GreyTies, long double);
#endif

} // namespace
