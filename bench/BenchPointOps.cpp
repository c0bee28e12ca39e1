// Point operations and envelopes on the benchmark picture, against the straightforward models.
//
// The operations work in place. Where their cost hardly depends on the pixel values, each iteration
// processes the picture as the previous one left it; the envelopes' tables, whose AVX2 lookup skips the
// value ranges a register's bytes do not reach, start each iteration from the picture (copied outside
// the timing), since repeated envelopes darken it towards a few values. The checksum counter is taken
// from one application to a fresh copy, so a kernel and its model report the same checksum.
#include "BenchImage.h"
#include "KvPointOps.h"
#include "PointOpsModel.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

namespace {

using namespace KvKernels;

const TBenchImage& SourceImage() {
    static const TBenchImage image = MakeBenchImage();
    return image;
}

// A copy whose row pointers point into its own pixels.
TBenchImage FreshImage() {
    TBenchImage image = SourceImage();
    for (int y = 0; y < image.Height; ++y)
        image.Rows[size_t(y)] = image.Bits.data() + size_t(y) * image.Stride;
    return image;
}

// Envelope gains in 0..1 that change most values (the same for every run).
struct TBenchGains {
    double Red[256], Green[256], Blue[256];
    TBenchGains() {
        std::mt19937 random(37);
        std::uniform_real_distribution<double> gain(0.3, 1.0);
        for (int v = 0; v < 256; ++v)
            Red[v] = gain(random), Green[v] = gain(random), Blue[v] = gain(random);
    }
};
const TBenchGains Gains;

// Times Operation(image) in place, from the picture itself each time when Restore; reports the checksum
// of one application to a fresh copy.
template <typename TOperation>
void RunInPlace(benchmark::State& State, TOperation Operation, bool Restore = false) {
    TBenchImage image = FreshImage();
    for (auto _ : State) {
        if (Restore) {
            State.PauseTiming();
            std::copy(SourceImage().Bits.begin(), SourceImage().Bits.end(), image.Bits.begin());
            State.ResumeTiming();
        }
        Operation(image);
        benchmark::ClobberMemory();
    }
    TBenchImage checked = FreshImage();
    Operation(checked);
    State.counters["checksum"] = double(PixelChecksum(checked) % 1000000007ull);
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(image.Bits.size()));
}

// Applies a row kernel to every row, as the control does.
template <typename TRowKernel> auto EveryRow(TRowKernel Kernel) {
    return [Kernel](TBenchImage& image) {
        for (int y = 0; y < image.Height; ++y)
            Kernel(image.Row(y), image.Width);
    };
}

auto InvertImage() {
    return EveryRow([](uint8_t* row, int width) { InvertRow(row, width); });
}

// As the control runs it: the byte map, by arithmetic where the level has it.
auto BrightnessImage(int32_t Value) {
    const TByteMap map = BrightnessMap(Value);
    return EveryRow([map](uint8_t* row, int width) { MapBytesRow(row, width, map); });
}

auto GreyScaleImage() {
    return EveryRow([](uint8_t* row, int width) { GreyScaleRow(row, width); });
}

auto ApplyRedEnvelopImage() {
    const TChannelTable table = EnvelopeTable(Gains.Red);
    return EveryRow([table](uint8_t* row, int width) { MapChannelRow(row, width, 2, table); });
}

auto ApplyEnvelopsImage() {
    const TChannelTables tables = {EnvelopeTable(Gains.Blue), EnvelopeTable(Gains.Green),
                                   EnvelopeTable(Gains.Red)};
    return EveryRow([tables](uint8_t* row, int width) { MapRow(row, width, tables); });
}

void BM_Invert(benchmark::State& state) {
    RunInPlace(state, InvertImage());
}
void BM_Brightness(benchmark::State& state) {
    RunInPlace(state, BrightnessImage(37));
}
void BM_GreyScale(benchmark::State& state) {
    RunInPlace(state, GreyScaleImage());
}
void BM_ApplyRedEnvelop(benchmark::State& state) {
    RunInPlace(state, ApplyRedEnvelopImage(), true);
}
void BM_ApplyEnvelops(benchmark::State& state) {
    RunInPlace(state, ApplyEnvelopsImage(), true);
}

void BM_Reference_Brightness(benchmark::State& state) {
    RunInPlace(state, [](TBenchImage& image) {
        KvModel::ModelBrightness(image.Rows.data(), image.Width, image.Height, 37);
    });
}
void BM_Reference_GreyScale(benchmark::State& state) {
    RunInPlace(state, [](TBenchImage& image) {
        KvModel::ModelGreyScale(image.Rows.data(), image.Width, image.Height);
    });
}
void BM_Reference_ApplyEnvelops(benchmark::State& state) {
    RunInPlace(
        state,
        [](TBenchImage& image) {
            KvModel::ModelApplyEnvelops(image.Rows.data(), image.Width, image.Height, Gains.Red, Gains.Green,
                                        Gains.Blue);
        },
        true);
}

// The kernels at each instruction-set level (0 scalar, 1 SSE4.1, 2 AVX2, 3 AVX-512 VBMI).
void BM_PointOpsLevel(benchmark::State& state, int Operation) {
    const auto level = TSimdLevel(state.range(0));
    if (level > SupportedSimdLevel()) {
        state.SkipWithError("level not supported by this processor");
        return;
    }
    const TSimdLevel chosen = SimdLevel(); // --simd's level, for the benchmarks that follow
    SetSimdLevel(level);
    switch (Operation) {
    case 0:
        RunInPlace(state, InvertImage());
        break;
    case 1:
        RunInPlace(state, BrightnessImage(37));
        break;
    case 2:
        RunInPlace(state, GreyScaleImage());
        break;
    case 3:
        RunInPlace(state, ApplyRedEnvelopImage(), true);
        break;
    default:
        RunInPlace(state, ApplyEnvelopsImage(), true);
        break;
    }
    SetSimdLevel(chosen);
}

} // namespace

BENCHMARK(BM_Invert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Brightness)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GreyScale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyRedEnvelop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyEnvelops)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_Brightness)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_GreyScale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_ApplyEnvelops)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PointOpsLevel, Invert, 0)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PointOpsLevel, Brightness, 1)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PointOpsLevel, GreyScale, 2)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PointOpsLevel, ApplyRedEnvelop, 3)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PointOpsLevel, ApplyEnvelops, 4)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
