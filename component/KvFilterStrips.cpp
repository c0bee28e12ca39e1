// The strips of the fast sweep and their pipeline over threads.
//
// Why the sums agree with the plain sweep. When the plain sweep reaches pixel (c, i), the area holds final
// values in the columns left of c and in the rows above i of column c, original values everywhere else, and
// the running sum is the sum of the current values over the window: the only pixel that changes while
// inside a window is the window's own centre, and its change is added at once. Here the same sum is built
// from row sums: the row sum of column c at row y is the sum of the current values of c's band in row y.
// Moving the band one column right adds the entering column's original value (it is not processed yet) and
// subtracts the leaving column's final value (processed long ago); processing pixel (c, y) adds its change
// to the row sum of row y. The window sum is the running sum of the row sums over the window's rows, one
// row in and one row out per step. All sums are integers, so any way of forming them gives the same bytes.
//
// Why the lag. Column c needs, for its entering row y, the final row sum of column c - 1 at row y: column
// c - 1 must have handled row y. Handling row y - RowRadius of column c is the step that enters row y, so
// column c may trail column c - 1 by RowRadius + 1 rows and no fewer. Within a strip each lane trails the
// one to its left by exactly that; the first lane of a strip trails the last lane of the previous strip by
// at least that, through the row counts the strips publish. Everything else a strip reads of the area is
// either an original value of a column right of it (written only by strips that wait for this one) or a
// final value of a column left of it in a row that the previous strip has published as done (and a strip
// publishes a row only after every strip before it has done the row, since its first lane needs it).
//
// Memory. A strip gathers its pixels and band-edge differences row by row (the area's memory order) into
// skewed buffers, one chunk of rows ahead of the sweep, and writes its pixels back a chunk at a time, once
// its last lane is done with them. Per thread that is O(Height) plus rings of O(Radius); the strips hand
// the row sums of their last column to the next strip through Threads + 1 buffers of Height entries.
#include "KvFilterStrips.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace KvKernels::Detail {
namespace {

// Rows a strip gathers ahead of its sweep, and writes back, at a time.
constexpr int64_t KChunkRows = 64;

// Offset of an inactive lane: its row stays far below 0 at every step, so it never handles a pixel.
constexpr int32_t KInactiveOffset = int32_t(1) << 30;

// Rows of a strip done (handled by all its lanes, written back, last column's row sums published).
struct alignas(64) TStripRows {
    std::atomic<int64_t> Done{0};
};

// The sweep of a strip stops when another thread failed; the strip's work is simply abandoned.
struct TAbandoned {};

// One thread's buffers, reused strip after strip. Off each lane's rows the inputs stay neutral (zero pixels,
// edges of no difference): every strip's gathers write the same entries, those on the lanes' rows, and a
// last, narrower strip's inactive lanes never reach the active ones. The kernel writes every result entry
// of a step, zero where a lane handles no pixel.
struct TWorkspace {
    std::vector<uint64_t> Inputs;
    std::vector<uint32_t> Pixels;
    std::vector<int32_t> Entering, Final;
    TLaneStrip Strip{};
    TRowCopy Copy{};
};

class TStripPipeline {
public:
    TStripPipeline(uint8_t* const* Rows, int64_t Width, int64_t Height, int64_t Radius, const uint8_t* Mix,
                   const TLaneKernels& Kernels, int Threads)
        : FRows(Rows), FWidth(Width), FHeight(Height), FBandRadius(std::min(Radius, Width)),
          FRowRadius(std::min(Radius, Height)), FLag(FRowRadius + 1), FMix(Mix), FKernels(Kernels),
          FStrips((Width + KLaneCount - 1) / KLaneCount), FThreads(int(std::min<int64_t>(Threads, FStrips))),
          FDone(size_t(FStrips)) {
        // A radius beyond the area reaches no further than the area: clipping makes them equivalent.
        const size_t steps = size_t((KLaneCount - 1) * FLag + FRowRadius + FHeight);
        FWork.resize(size_t(FThreads));
        for (TWorkspace& w : FWork) {
            w.Inputs.assign(PixelSlot(int64_t(steps)), KNeutralInput);
            w.Pixels.assign(KPixelsFront + PixelSlot(int64_t(steps)), 0);
            // The kernel's rings hold Lag = RowRadius + 1 steps.
            w.Entering.assign(LaneSlot(FLag, 0), 0);
            w.Final.assign(LaneSlot(FLag, 0), 0);
        }
        FRowSums.resize(size_t(FThreads) + 1);
        for (auto& sums : FRowSums)
            sums.assign(size_t(FHeight) * 3, 0);
        StartRowSums(FRowSums[size_t(FThreads)]); // the input of strip 0: slot (0 - 1) mod (Threads + 1)
    }

    void Run(TProgressCounter* Progress) {
        FProgress = Progress;
        std::vector<std::thread> workers;
        std::exception_ptr failure;
        try {
            workers.reserve(size_t(FThreads) - 1);
            for (int i = 1; i < FThreads; ++i)
                workers.emplace_back([this, i] { RunThread(i); });
            RunThread(0);
        } catch (...) {
            failure = std::current_exception();
            FAbandon.store(true, std::memory_order_relaxed);
        }
        for (std::thread& worker : workers)
            worker.join();
        // A worker's failure is the cause: the calling thread then only saw its strips abandoned.
        if (FWorkerFailed.load(std::memory_order_relaxed)) std::rethrow_exception(FWorkerFailure);
        if (failure) std::rethrow_exception(failure);
    }

private:
    // Thread Index runs strips Index, Index + Threads, ...; thread 0 is the calling thread, which alone
    // reports progress and passes its exceptions on.
    void RunThread(int Index) {
        if (Index == 0) {
            for (int64_t s = 0; s < FStrips; s += FThreads)
                RunStrip(s, FWork[0], true);
            return;
        }
        try {
            for (int64_t s = Index; s < FStrips; s += FThreads)
                RunStrip(s, FWork[size_t(Index)], false);
        } catch (const TAbandoned&) {
        } catch (...) {
            if (!FWorkerFailed.exchange(true)) FWorkerFailure = std::current_exception(); // read after join
            FAbandon.store(true, std::memory_order_relaxed);
        }
    }

    // Row sums of a band ending just left of column BandRadius, as seen by column 0 before its entering
    // column is added.
    void StartRowSums(std::vector<int32_t>& Sums) const {
        const int64_t right = std::min(FWidth, FBandRadius); // columns 0 .. right - 1
        for (int64_t y = 0; y < FHeight; ++y) {
            const uint8_t* line = FRows[y];
            int32_t s0 = 0, s1 = 0, s2 = 0; // at most 255 * Width < 2^31 on this path
            for (int64_t x = 0; x < right; ++x) {
                s0 += line[3 * x];
                s1 += line[3 * x + 1];
                s2 += line[3 * x + 2];
            }
            Sums[size_t(3 * y)] = s0;
            Sums[size_t(3 * y + 1)] = s1;
            Sums[size_t(3 * y + 2)] = s2;
        }
    }

    void Prepare(TLaneStrip& Strip, TWorkspace& Work, int64_t First, int64_t Lanes, int64_t S) {
        Strip.Lanes = int32_t(Lanes);
        Strip.Height = int32_t(FHeight);
        Strip.RowRadius = int32_t(FRowRadius);
        Strip.Lag = int32_t(FLag);
        // Lanes BandRadius + 1 and up find their band's leaving column inside the strip.
        const int64_t shift = FBandRadius + 1 < Lanes ? FBandRadius + 1 : 0;
        Strip.InShift = int32_t(shift);
        const int64_t widest = std::min(FWidth, 2 * FBandRadius + 1),
                      tallest = std::min(FHeight, 2 * FRowRadius + 1);
        Strip.SmallWindows = widest * tallest < (int64_t(1) << 16);
        for (int64_t k = 0; k < KLaneCount; ++k) {
            const bool active = k < Lanes;
            const int64_t c = First + k;
            Strip.Band[k] = active ? int32_t(std::min(FWidth - 1, c + FBandRadius) -
                                             std::max<int64_t>(0, c - FBandRadius) + 1)
                                   : 0;
            Strip.Offset[k] = active ? int32_t(k * FLag + FRowRadius) : KInactiveOffset;
            Strip.Active[k] = active ? -1 : 0;
            Strip.InMask[k] = active && shift > 0 && k >= shift ? -1 : 0;
        }
        std::fill(std::begin(Strip.Sums), std::end(Strip.Sums), 0);
        std::fill(Work.Entering.begin(), Work.Entering.end(), 0);
        std::fill(Work.Final.begin(), Work.Final.end(), 0);
        Strip.Mix = FMix;
        const size_t slots = FRowSums.size();
        Strip.RowSumsIn = FRowSums[size_t((S + int64_t(slots) - 1) % int64_t(slots))].data();
        Strip.RowSumsOut = FRowSums[size_t(S % int64_t(slots))].data();
        Strip.Inputs = Work.Inputs.data();
        Strip.Pixels = Work.Pixels.data() + KPixelsFront;
        Strip.Entering = Work.Entering.data();
        Strip.Final = Work.Final.data();
    }

    void RunStrip(int64_t S, TWorkspace& Work, bool Reports) {
        const int64_t first = S * KLaneCount;
        const int64_t lanes = std::min<int64_t>(KLaneCount, FWidth - first);
        TLaneStrip& strip = Work.Strip;
        Prepare(strip, Work, first, lanes, S);
        PlanCopy(Work.Copy, strip, first, lanes);
        const int64_t steps = (lanes - 1) * FLag + FRowRadius + FHeight;
        const int64_t lastOffset = strip.Offset[lanes - 1];
        int64_t done = 0;
        for (int64_t t0 = 0; t0 < steps;) {
            const int64_t t1 = std::min(steps, t0 + KChunkRows);
            if (t0 < FHeight + FRowRadius) {
                // Step t enters row t into lane 0 and handles row t - RowRadius there; the other lanes
                // trail it.
                if (S > 0 && t0 < FHeight) WaitForRows(S - 1, std::min(FHeight, t1), Reports);
                FKernels.Gather(Work.Copy, FRows, t0, std::min(FHeight + FRowRadius, t1), Work.Inputs.data());
            }
            FKernels.Sweep(strip, t0, t1);
            const int64_t complete = std::clamp<int64_t>(t1 - lastOffset, 0, FHeight);
            if (complete > done) {
                FKernels.Scatter(Work.Copy, FRows, done, complete, strip.Pixels);
                FDone[size_t(S)].Done.store(complete, std::memory_order_release);
                if (FProgress) FProgress->Add(uint64_t(complete - done) * uint64_t(lanes));
                done = complete;
            }
            if (Reports && FProgress) FProgress->Poll();
            t0 = t1;
        }
    }

    void WaitForRows(int64_t S, int64_t Rows, bool Reports) {
        for (int spins = 0; FDone[size_t(S)].Done.load(std::memory_order_acquire) < Rows; ++spins) {
            if (FAbandon.load(std::memory_order_relaxed)) throw TAbandoned{};
            if (Reports && FProgress) FProgress->Poll();
            if (spins < 64) {
#if defined(__SSE2__)
                _mm_pause();
#endif
            } else {
                std::this_thread::yield(); // the other thread may share this core
            }
        }
    }

    // Where the strip's rows come from and go to: per lane its own, entering and leaving columns (the
    // entering one original, its column not processed yet; the leaving one, where it lies left of the strip,
    // final, its row published by the previous strip; a leaving column inside the strip is read from the
    // strip by the kernel, once it is final there) and its slots in the skewed buffers.
    void PlanCopy(TRowCopy& Copy, const TLaneStrip& Strip, int64_t First, int64_t Lanes) const {
        Copy.Width = FWidth;
        Copy.Height = FHeight;
        Copy.RowRadius = FRowRadius;
        Copy.First = First;
        Copy.Lanes = int32_t(Lanes);
        for (int64_t k = 0; k < Lanes; ++k) {
            const int64_t c = First + k;
            Copy.Entering[k] = c + FBandRadius <= FWidth - 1 ? 3 * (c + FBandRadius) : -1;
            const int64_t left = c - FBandRadius - 1;
            Copy.Leaving[k] = left >= 0 && left < First ? 3 * left : -1;
            Copy.PixelSlots[k] = PixelSlot(Strip.Offset[k]) + size_t(k);
            Copy.InputSlots[k] = PixelSlot(k * FLag) + size_t(k);
        }
        Copy.LeavingLanes = int32_t(std::min<int64_t>(Lanes, FBandRadius + 1));
        Copy.Windows = Lanes == KLaneCount && First + KLaneCount - 1 + FBandRadius <= FWidth - 1 &&
                       First - FBandRadius - 1 >= 0;
    }

    uint8_t* const* FRows;
    int64_t FWidth;
    int64_t FHeight;
    int64_t FBandRadius; // min(Radius, Width)
    int64_t FRowRadius;  // min(Radius, Height)
    int64_t FLag;        // rows by which each lane trails its left neighbour
    const uint8_t* FMix;
    TLaneKernels FKernels;
    int64_t FStrips;
    int FThreads;
    std::vector<TStripRows> FDone;
    std::vector<TWorkspace> FWork;
    std::vector<std::vector<int32_t>> FRowSums; // Threads + 1 slots; strip s writes slot s mod (Threads + 1)
    std::atomic<bool> FAbandon{false};
    std::atomic<bool> FWorkerFailed{false};
    std::exception_ptr FWorkerFailure;
    TProgressCounter* FProgress = nullptr;
};

} // namespace

bool StripsCanSweep(int64_t Width, int64_t Height, int64_t Radius) {
    const int64_t band = std::min(Width, 2 * std::min(Radius, Width) + 1);
    const int64_t rows = std::min(Height, 2 * std::min(Radius, Height) + 1);
    return Height < (int64_t(1) << 25) && band < (int64_t(1) << 23) && band * rows < (int64_t(1) << 23);
}

void SweepStrips(uint8_t* const* Rows, int64_t Width, int64_t Height, int64_t Radius, const uint8_t* Mix,
                 const TLaneKernels& Kernels, int Threads, TProgressCounter* Progress) {
    TStripPipeline(Rows, Width, Height, Radius, Mix, Kernels, std::max(1, Threads)).Run(Progress);
}

} // namespace KvKernels::Detail
