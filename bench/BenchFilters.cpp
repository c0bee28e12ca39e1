// The neighbourhood filters on the 3840 x 2160 picture: the fast kernel over a range of radii (its cost
// should not grow with the radius) and the step-by-step sweep for comparison.
#include "BenchImage.h"
#include "FiltersModel.h"
#include "KvFilters.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int8_t BenchAmount = 50;

// Each iteration filters a fresh copy of the picture (the copy is not timed), so every run does the
// same work; the checksum of the last result identifies the output.
template <typename TFilter> void RunFilter(benchmark::State& state, TFilter Filter) {
    const TBenchImage source = MakeBenchImage();
    TBenchImage image = MakeBenchImage();
    for (auto _ : state) {
        state.PauseTiming();
        image.Bits = source.Bits;
        state.ResumeTiming();
        Filter(image.Rows.data(), image.Width, image.Height, int32_t(state.range(0)));
        benchmark::ClobberMemory();
    }
    state.counters["checksum"] = double(PixelChecksum(image) % 1000000007ull);
    state.SetItemsProcessed(int64_t(state.iterations()) * image.Width * image.Height);
}

void BM_Blur(benchmark::State& state) {
    RunFilter(state, [](uint8_t* const* Rows, int W, int H, int32_t R) {
        KvKernels::FilterArea(Rows, W, H, BenchAmount, R, KvKernels::TFilterKind::Blur);
    });
}

void BM_Sharpen(benchmark::State& state) {
    RunFilter(state, [](uint8_t* const* Rows, int W, int H, int32_t R) {
        KvKernels::FilterArea(Rows, W, H, BenchAmount, R, KvKernels::TFilterKind::Sharpen);
    });
}

void BM_Reference_Blur(benchmark::State& state) {
    RunFilter(state, [](uint8_t* const* Rows, int W, int H, int32_t R) {
        KvModel::ModelFilterArea(Rows, W, H, BenchAmount, R, KvKernels::TFilterKind::Blur);
    });
}

} // namespace

BENCHMARK(BM_Blur)->Arg(1)->Arg(2)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sharpen)->Arg(1)->Arg(2)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_Blur)
    ->Arg(1)
    ->Arg(2)
    ->Arg(8)
    ->Arg(32)
    ->Arg(128)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
