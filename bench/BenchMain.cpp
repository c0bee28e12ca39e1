// The benchmarks' entry. Options of its own, taken out of the arguments before Google Benchmark reads them:
//   --simd=scalar|sse41|avx2|avx512   the kernels' instruction-set level (default: the highest supported)
//   --threads=N                       the filters' thread count, and the peer's (default 0: every hardware
//                                     thread)
#include "BenchImage.h"
#if defined(PICTURA_BENCH_PEER)
#include "BenchPeer.h"
#endif
#include "KvFilters.h"
#include "KvPointOps.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

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

namespace {

KvKernels::TSimdLevel SimdLevelNamed(const std::string& Name) {
    const std::pair<const char*, KvKernels::TSimdLevel> levels[] = {
        {"scalar", KvKernels::TSimdLevel::Scalar},
        {"sse41", KvKernels::TSimdLevel::Sse41},
        {"avx2", KvKernels::TSimdLevel::Avx2},
        {"avx512", KvKernels::TSimdLevel::Avx512Vbmi}};
    for (const auto& [name, level] : levels)
        if (Name == name) return level;
    throw std::invalid_argument("unknown --simd level \"" + Name + "\" (scalar, sse41, avx2, avx512)");
}

// Applies and removes the options of our own; leaves the others for Google Benchmark.
void TakeOwnOptions(int& Argc, char** Argv) {
    int kept = 1;
    for (int i = 1; i < Argc; ++i) {
        const std::string arg = Argv[i];
        if (arg.rfind("--simd=", 0) == 0)
            KvKernels::SetSimdLevel(SimdLevelNamed(arg.substr(7)));
        else if (arg.rfind("--threads=", 0) == 0) {
            const int threads = std::stoi(arg.substr(10));
            KvKernels::SetFilterThreads(threads);
#if defined(PICTURA_BENCH_PEER)
            SetPeerThreads(threads);
#endif
        } else
            Argv[kept++] = Argv[i];
    }
    Argc = kept;
    Argv[Argc] = nullptr;
}

} // namespace

int main(int Argc, char** Argv) {
    try {
        TakeOwnOptions(Argc, Argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pictura-bench: %s\n", e.what());
        return 2;
    }
    benchmark::AddCustomContext("simd", std::to_string(int(KvKernels::SimdLevel())));
    benchmark::AddCustomContext("filter_threads", std::to_string(KvKernels::FilterThreads()));
    benchmark::Initialize(&Argc, Argv);
    if (benchmark::ReportUnrecognizedArguments(Argc, Argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
