// The filters and the point operations with one core kept busy by another process, as on a desktop where
// something else runs, beside the same runs on a quiet machine: at one thread and at every thread. With
// threads that share work, all threads should never take longer than one alone.
//
// BM_Load*/busy:1 start a process that spins on the last core the benchmark may use (pinned there) before
// timing and stop it afterwards; busy:0 is the quiet run. threads:0 is every hardware thread.
#include "BenchImage.h"
#include "KvFilters.h"
#include "KvPointOps.h"
#include "KvRowBands.h"

#include <benchmark/benchmark.h>

#include <csignal>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A child process spinning on the last core of this process's affinity, for as long as this object lives.
class TBusyCore {
public:
    explicit TBusyCore(bool Busy) {
        if (!Busy) return;
        cpu_set_t allowed;
        CPU_ZERO(&allowed);
        if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
        int last = -1;
        for (int c = 0; c < CPU_SETSIZE; ++c)
            if (CPU_ISSET(c, &allowed)) last = c;
        if (last < 0) return;
        FChild = fork();
        if (FChild == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the benchmark
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(last, &one);
            sched_setaffinity(0, sizeof one, &one);
            volatile uint64_t spin = 0;
            for (;;)
                spin = spin + 1;
        }
        usleep(20000); // let it settle on its core
    }
    ~TBusyCore() {
        if (FChild <= 0) return;
        kill(FChild, SIGKILL);
        waitpid(FChild, nullptr, 0);
    }
    TBusyCore(const TBusyCore&) = delete;
    TBusyCore& operator=(const TBusyCore&) = delete;

private:
    pid_t FChild = -1;
};

// The filter setting for one benchmark, put back afterwards.
class TThreadSetting {
public:
    explicit TThreadSetting(int Threads) : FSaved(KvKernels::FilterThreads()) {
        KvKernels::SetFilterThreads(Threads);
    }
    ~TThreadSetting() { KvKernels::SetFilterThreads(FSaved); }

private:
    int FSaved;
};

// Args: radius, threads, busy.
void BM_LoadBlur(benchmark::State& state) {
    const TBenchImage source = MakeBenchImage();
    TBenchImage image = MakeBenchImage();
    const TThreadSetting threads(int(state.range(1)));
    const TBusyCore busy(state.range(2) != 0);
    for (auto _ : state) {
        state.PauseTiming();
        image.Bits = source.Bits;
        state.ResumeTiming();
        KvKernels::FilterArea(image.Rows.data(), image.Width, image.Height, 50, int32_t(state.range(0)),
                              KvKernels::TFilterKind::Blur);
        benchmark::ClobberMemory();
    }
}

// Args: threads, busy. A point operation over bands of rows, as the control runs it (RowWork(row, width)),
// from the picture itself each time when Restore (for the table lookups whose cost depends on the values).
template <class TRowWork>
void RunLoadPointOp(benchmark::State& state, const TRowWork& RowWork, bool Restore = false) {
    const TBenchImage source = MakeBenchImage();
    TBenchImage image = MakeBenchImage();
    const TThreadSetting setting(int(state.range(0)));
    const TBusyCore busy(state.range(1) != 0);
    const int threads = KvKernels::ThreadsForArea(image.Width, image.Height, KvKernels::KThreadedRowPixels);
    for (auto _ : state) {
        if (Restore) {
            state.PauseTiming();
            image.Bits = source.Bits;
            state.ResumeTiming();
        }
        KvKernels::ForRowBands(image.Width, image.Height, threads, nullptr, [&](int First, int End) {
            for (int y = First; y < End; ++y)
                RowWork(image.Row(y), image.Width);
        });
        benchmark::ClobberMemory();
    }
}

void BM_LoadInvert(benchmark::State& state) {
    RunLoadPointOp(state, [](uint8_t* Row, int Width) { KvKernels::InvertRow(Row, Width); });
}
void BM_LoadBrightness(benchmark::State& state) {
    const KvKernels::TByteMap map = KvKernels::BrightnessMap(20);
    RunLoadPointOp(state, [&](uint8_t* Row, int Width) { KvKernels::MapBytesRow(Row, Width, map); });
}
void BM_LoadGreyScale(benchmark::State& state) {
    RunLoadPointOp(state, [](uint8_t* Row, int Width) { KvKernels::GreyScaleRow(Row, Width); });
}
// Three different tables, as the envelopes of a photo would be.
void BM_LoadEnvelopes(benchmark::State& state) {
    KvKernels::TChannelTables tables;
    for (int v = 0; v < 256; ++v) {
        tables.Blue[size_t(v)] = uint8_t(v * 3 / 4);
        tables.Green[size_t(v)] = uint8_t(255 - v);
        tables.Red[size_t(v)] = uint8_t(v * v / 255);
    }
    RunLoadPointOp(
        state, [&](uint8_t* Row, int Width) { KvKernels::MapRow(Row, Width, tables); }, true);
}

} // namespace

BENCHMARK(BM_LoadBlur)
    ->ArgNames({"radius", "threads", "busy"})
    ->ArgsProduct({{1, 8, 32, 128}, {1, 0}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
// Threads 1 and all, quiet and busy, for each point operation.
static void PointOpLoadArgs(benchmark::internal::Benchmark* Benchmark) {
    Benchmark->ArgNames({"threads", "busy"})
        ->ArgsProduct({{1, 0}, {0, 1}})
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_LoadInvert)->Apply(PointOpLoadArgs);
BENCHMARK(BM_LoadBrightness)->Apply(PointOpLoadArgs);
BENCHMARK(BM_LoadGreyScale)->Apply(PointOpLoadArgs);
BENCHMARK(BM_LoadEnvelopes)->Apply(PointOpLoadArgs);
