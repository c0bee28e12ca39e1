#include "BenchImage.h"

#include <benchmark/benchmark.h>

#include <cstring>

// The bandwidth floor: a plain copy of the benchmark picture.
static void BM_Memcpy(benchmark::State& state) {
    TBenchImage source = MakeBenchImage();
    TBenchImage target = source;
    for (auto _ : state) {
        std::memcpy(target.Bits.data(), source.Bits.data(), source.Bits.size());
        benchmark::ClobberMemory();
    }
    state.counters["checksum"] = double(PixelChecksum(target) % 1000000007ull);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(source.Bits.size()));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
