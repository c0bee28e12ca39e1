// The control's operations through its public methods, with and without an OnProgress listener: their
// wall time against the kernels' and memcpy's, and what reporting progress costs.
//
// The same operation runs on the same control in place; the argument says whether a listener is set
// (it only counts the events). The two times should differ by well under 1 %.
#include "BenchImage.h"

#include <pictura/KvPictura.h>

#include <QApplication>

#include <cstring>

#include <benchmark/benchmark.h>

namespace {

// The control is a widget: it needs an application object, offscreen unless told otherwise.
void EnsureApplication() {
    static int argc = 1;
    static char name[] = "pictura-bench";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication application(argc, argv);
}

// Restore starts each iteration from the picture itself (copied outside the timing): repeated envelopes
// darken it towards a few values, which the AVX2 table lookup handles faster than a photograph's.
template <typename TOperation>
void RunOnControl(benchmark::State& State, TOperation Operation, bool Restore = false) {
    EnsureApplication();
    const TBenchImage source = MakeBenchImage();
    TDibImage dib;
    dib.Width = source.Width;
    dib.Height = source.Height;
    dib.Format = pf24bit;
    dib.Bits = source.Bits;
    TKvPictura control;
    control.SetAutoSize(true);
    control.Picture()->GetBitmap()->Assign(std::move(dib));
    int events = 0;
    if (State.range(0))
        control.OnProgress = [&events](TObject*, TProgressStage, int, bool, const QRect&, const QString&) {
            ++events;
        };
    TBitmap* bitmap = control.Picture()->GetBitmap();
    const size_t rowBytes = 3 * size_t(source.Width);
    for (auto _ : State) {
        if (Restore) {
            State.PauseTiming();
            for (int y = 0; y < source.Height; ++y)
                std::memcpy(bitmap->GetScanline(y), source.Rows[size_t(y)], rowBytes);
            State.ResumeTiming();
        }
        Operation(control);
        benchmark::ClobberMemory();
    }
    State.counters["events"] = double(events) / double(State.iterations());
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(source.Bits.size()));
}

void BM_ControlInvert(benchmark::State& State) {
    RunOnControl(State, [](TKvPictura& Control) { Control.Invert(); });
}
void BM_ControlBrightness(benchmark::State& State) {
    RunOnControl(State, [](TKvPictura& Control) { Control.Brightness(20); });
}
void BM_ControlGreyScale(benchmark::State& State) {
    RunOnControl(State, [](TKvPictura& Control) { Control.GreyScale(); });
}
void BM_ControlEnvelopes(benchmark::State& State) {
    RunOnControl(State, [](TKvPictura& Control) { Control.ApplyEnvelops(); });
}
// Three different envelopes (the defaults are three equal ones): the three-table lookup.
void BM_ControlEnvelopesThree(benchmark::State& State) {
    RunOnControl(
        State,
        [](TKvPictura& Control) {
            for (int v = 0; v < 256; ++v) {
                Control.SetBlueEnvelop(uint8_t(v), 75);
                Control.SetGreenEnvelop(uint8_t(v), 100 - v / 8.0);
                Control.SetRedEnvelop(uint8_t(v), 60 + v / 7.0);
            }
            Control.ApplyEnvelops();
        },
        true);
}
void BM_ControlBlur(benchmark::State& State) {
    RunOnControl(State, [](TKvPictura& Control) { Control.Blur(50, 2); });
}

} // namespace

// Wall time: the operations may run on several threads.
BENCHMARK(BM_ControlInvert)
    ->ArgName("listener")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ControlBrightness)->ArgName("listener")->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ControlGreyScale)->ArgName("listener")->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ControlEnvelopes)
    ->ArgName("listener")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ControlEnvelopesThree)
    ->ArgName("listener")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ControlBlur)->ArgName("listener")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
