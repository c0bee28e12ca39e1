// The strips of the fast sweep, shared among threads.
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
// its last lane is done with them. The skewed buffers are rings of 15 Lag + 64 steps (RingStepsFor), so a
// thread holds O(Radius) whatever the height: the gathers of a chunk write at most 15 Lag + 64 steps past
// the chunk's first step, and its write-backs read the results of at most 15 Lag steps before it, so no
// entry is overwritten while it is still to be read. The first strip computes the row sums of the band left
// of the area a chunk at a time; the other strips take the row sums of their left neighbour's last column
// through at most Threads + 1 buffers of Height entries, none for an area of one strip.
//
// Work sharing. A thread that is ready takes the next strip from one counter; strips are taken in order,
// so a strip waits only for rows its left neighbour has published. A thread that must wait spins briefly
// and then sleeps, so that a thread which shares its core with other work gets that core when the others
// wait for it. Strip s writes buffer s mod (Threads + 1): when a thread takes strip s, the strip it finished
// last is s - Threads or later, and a strip finishes only after its left neighbour has published every
// row, so every strip up to s - Threads has read its buffer and written its own.
#include "KvFilterStrips.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
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

// Spins of a waiting thread before it sleeps: about the time of a chunk's sweep.
constexpr int KSpins = 256;

// Rows of a strip done (handled by all its lanes, written back, last column's row sums published).
struct alignas(64) TStripRows {
    std::atomic<int64_t> Done{0};
};

// The sweep of a strip stops when another thread failed; the strip's work is simply abandoned.
struct TAbandoned {};

// One thread's buffers, reused strip after strip. The rings of skewed inputs stay neutral wherever no
// gather wrote (the sweep clears what it reads), and every strip's gathers write only the entries on its
// lanes' rows, so no strip needs them cleared.
struct TWorkspace {
    std::vector<uint64_t> Inputs;
    std::vector<uint32_t> Pixels;
    std::vector<int32_t> Entering, Final;
    std::vector<int32_t> StartSums; // the first strip's row sums from the left, a chunk of rows
    TLaneStrip Strip{};
    TRowCopy Copy{};
};

// Bytes of one thread's buffers and of one row-sum buffer.
uint64_t WorkspaceBytes(const TFilterGeometry& G) {
    const uint64_t ring = uint64_t(RingStepsFor(G.Lag, KChunkRows));
    return ring * KLaneCount * (sizeof(uint64_t) + sizeof(uint32_t)) + KPixelsFront * sizeof(uint32_t) +
           2 * LaneSlot(G.Lag, 0) * sizeof(int32_t) + 3 * KChunkRows * sizeof(int32_t) + sizeof(TWorkspace);
}

class TStripPipeline {
public:
    TStripPipeline(uint8_t* const* Rows, const TFilterGeometry& Geometry, const uint8_t* Mix,
                   const TLaneKernels& Kernels, int Threads)
        : FRows(Rows), G(Geometry), FMix(Mix), FKernels(Kernels), FRing(RingStepsFor(G.Lag, KChunkRows)),
          FStrips(StripCount(G)), FThreads(int(std::min<int64_t>(Threads, FStrips))), FDone(size_t(FStrips)) {
        FWork.resize(size_t(FThreads));
        for (TWorkspace& w : FWork) {
            w.Inputs.assign(PixelSlot(FRing), KNeutralInput);
            w.Pixels.assign(KPixelsFront + PixelSlot(FRing), 0);
            // The kernel's rings hold Lag = RowRadius + 1 steps.
            w.Entering.assign(LaneSlot(G.Lag, 0), 0);
            w.Final.assign(LaneSlot(G.Lag, 0), 0);
            w.StartSums.assign(3 * KChunkRows, 0);
        }
        FRowSums.resize(size_t(RowSumBuffers(FStrips, FThreads)));
        for (auto& sums : FRowSums)
            sums.assign(size_t(G.Height) * 3, 0);
    }

    static int64_t StripCount(const TFilterGeometry& G) { return (G.Width + KLaneCount - 1) / KLaneCount; }
    static int64_t RowSumBuffers(int64_t Strips, int Threads) {
        return std::min<int64_t>(Threads + 1, Strips - 1);
    }

    void Run(TProgressCounter* Progress) {
        FProgress = Progress;
        std::vector<std::thread> workers;
        std::exception_ptr failure;
        try {
            // The calling thread takes the first strip before any worker starts: the others follow it, and
            // it polls the listener at every chunk, so the listener is heard from the start.
            FNext.store(1, std::memory_order_relaxed);
            workers.reserve(size_t(FThreads) - 1);
            for (int i = 1; i < FThreads; ++i) {
                {
                    const std::lock_guard<std::mutex> lock(FWaitLock);
                    ++FRunning;
                }
                try {
                    workers.emplace_back([this, i] { RunThread(i); });
                } catch (const std::system_error&) { // the threads already running take every strip
                    const std::lock_guard<std::mutex> lock(FWaitLock);
                    --FRunning;
                    break;
                }
            }
            RunThread(0);
        } catch (...) {
            failure = std::current_exception();
            Abandon();
        }
        for (std::thread& worker : workers)
            worker.join();
        // A worker's failure is the cause: the calling thread then only saw its strips abandoned.
        if (FWorkerFailed.load(std::memory_order_relaxed)) std::rethrow_exception(FWorkerFailure);
        if (failure) std::rethrow_exception(failure);
    }

private:
    // Each thread takes the next strip until none is left; thread 0 is the calling thread, which alone
    // reports progress and passes its exceptions on.
    void RunThread(int Index) {
        const auto runStrips = [&] {
            for (int64_t s; (s = FNext.fetch_add(1, std::memory_order_relaxed)) < FStrips;)
                RunStrip(s, FWork[size_t(Index)], Index == 0);
        };
        if (Index == 0) {
            RunStrip(0, FWork[0], true);
            runStrips();
            // The listener hears about the other threads' last strips too: as a sleeper this thread wakes
            // whenever a strip publishes rows. (A report that throws leaves it counted: that costs only
            // wake-ups until the workers have stopped.)
            std::unique_lock<std::mutex> lock(FWaitLock);
            FSleepers.fetch_add(1, std::memory_order_seq_cst);
            while (FRunning > 0) {
                FWaitChanged.wait_for(lock, std::chrono::milliseconds(2));
                if (FProgress) {
                    lock.unlock();
                    FProgress->Poll();
                    lock.lock();
                }
            }
            FSleepers.fetch_sub(1, std::memory_order_relaxed);
            return;
        }
        try {
            runStrips();
        } catch (const TAbandoned&) {
        } catch (...) {
            if (!FWorkerFailed.exchange(true)) FWorkerFailure = std::current_exception(); // read after join
            Abandon();
        }
        {
            const std::lock_guard<std::mutex> lock(FWaitLock);
            --FRunning;
        }
        FWaitChanged.notify_all();
    }

    void Abandon() {
        {
            const std::lock_guard<std::mutex> lock(FWaitLock);
            FAbandon.store(true, std::memory_order_relaxed);
        }
        FWaitChanged.notify_all();
    }

    // Row sums of the band ending just left of column BandRadius, as seen by column 0 before its entering
    // column is added, for rows Y0 .. Y1 - 1.
    void StartRowSums(int32_t* Sums, int64_t Y0, int64_t Y1) const {
        const int64_t right = std::min(G.Width, G.BandRadius); // columns 0 .. right - 1
        for (int64_t y = Y0; y < Y1; ++y) {
            const uint8_t* line = FRows[y];
            int32_t s0 = 0, s1 = 0, s2 = 0; // at most 255 * Width < 2^31 on this path
            for (int64_t x = 0; x < right; ++x) {
                s0 += line[3 * x];
                s1 += line[3 * x + 1];
                s2 += line[3 * x + 2];
            }
            int32_t* out = Sums + 3 * (y - Y0);
            out[0] = s0;
            out[1] = s1;
            out[2] = s2;
        }
    }

    void Prepare(TLaneStrip& Strip, TWorkspace& Work, int64_t First, int64_t Lanes, int64_t S) {
        Strip.Lanes = int32_t(Lanes);
        Strip.Height = int32_t(G.Height);
        Strip.RowRadius = int32_t(G.RowRadius);
        Strip.Lag = int32_t(G.Lag);
        Strip.RingSteps = int32_t(FRing);
        // Lanes BandRadius + 1 and up find their band's leaving column inside the strip.
        const int64_t shift = G.BandRadius + 1 < Lanes ? G.BandRadius + 1 : 0;
        Strip.InShift = int32_t(shift);
        Strip.SmallWindows = G.SmallWindows;
        for (int64_t k = 0; k < KLaneCount; ++k) {
            const bool active = k < Lanes;
            const int64_t c = First + k;
            Strip.Band[k] = active ? int32_t(std::min(G.Width - 1, c + G.BandRadius) -
                                             std::max<int64_t>(0, c - G.BandRadius) + 1)
                                   : 0;
            Strip.Offset[k] = active ? int32_t(k * G.Lag + G.RowRadius) : KInactiveOffset;
            Strip.Active[k] = active ? -1 : 0;
            Strip.InMask[k] = active && shift > 0 && k >= shift ? -1 : 0;
        }
        std::fill(std::begin(Strip.Sums), std::end(Strip.Sums), 0);
        std::fill(Work.Entering.begin(), Work.Entering.end(), 0);
        std::fill(Work.Final.begin(), Work.Final.end(), 0);
        Strip.Mix = FMix;
        const int64_t buffers = int64_t(FRowSums.size());
        Strip.RowSumsIn = S > 0 ? FRowSums[size_t((S - 1) % buffers)].data() : Work.StartSums.data();
        Strip.SumsFrom = 0;
        Strip.RowSumsOut = S + 1 < FStrips ? FRowSums[size_t(S % buffers)].data() : nullptr;
        Strip.Inputs = Work.Inputs.data();
        Strip.Pixels = Work.Pixels.data() + KPixelsFront;
        Strip.Entering = Work.Entering.data();
        Strip.Final = Work.Final.data();
    }

    void RunStrip(int64_t S, TWorkspace& Work, bool Reports) {
        const int64_t first = S * KLaneCount;
        const int64_t lanes = std::min<int64_t>(KLaneCount, G.Width - first);
        TLaneStrip& strip = Work.Strip;
        Prepare(strip, Work, first, lanes, S);
        PlanCopy(Work.Copy, strip, first, lanes);
        const int64_t steps = (lanes - 1) * G.Lag + G.RowRadius + G.Height;
        const int64_t lastOffset = strip.Offset[lanes - 1];
        int64_t done = 0;
        for (int64_t t0 = 0; t0 < steps;) {
            const int64_t t1 = std::min(steps, t0 + KChunkRows);
            if (t0 < G.Height + G.RowRadius) {
                // Step t enters row t into lane 0 and handles row t - RowRadius there; the other lanes
                // trail it.
                if (S > 0 && t0 < G.Height) WaitForRows(S - 1, std::min(G.Height, t1), Reports);
                if (S == 0 && t0 < G.Height) {
                    StartRowSums(Work.StartSums.data(), t0, std::min(G.Height, t1));
                    strip.SumsFrom = t0;
                }
                FKernels.Gather(Work.Copy, FRows, t0, std::min(G.Height + G.RowRadius, t1),
                                Work.Inputs.data());
            }
            FKernels.Sweep(strip, t0, t1);
            const int64_t complete = std::clamp<int64_t>(t1 - lastOffset, 0, G.Height);
            if (complete > done) {
                FKernels.Scatter(Work.Copy, FRows, done, complete, strip.Pixels);
                Publish(S, complete);
                if (FProgress) FProgress->Add(uint64_t(complete - done) * uint64_t(lanes));
                done = complete;
            }
            if (Reports && FProgress) FProgress->Poll();
            t0 = t1;
        }
    }

    // Rows 0 .. Rows - 1 of strip S are done; wakes the threads that sleep waiting for rows.
    void Publish(int64_t S, int64_t Rows) {
        FDone[size_t(S)].Done.store(Rows, std::memory_order_seq_cst);
        if (FSleepers.load(std::memory_order_seq_cst) > 0) {
            { const std::lock_guard<std::mutex> lock(FWaitLock); }
            FWaitChanged.notify_all();
        }
    }

    void WaitForRows(int64_t S, int64_t Rows, bool Reports) {
        const std::atomic<int64_t>& done = FDone[size_t(S)].Done;
        for (int spins = 0; done.load(std::memory_order_acquire) < Rows; ++spins) {
            if (FAbandon.load(std::memory_order_relaxed)) throw TAbandoned{};
            if (Reports && FProgress) FProgress->Poll();
            if (spins < KSpins) {
#if defined(__SSE2__)
                _mm_pause();
#endif
                continue;
            }
            // Sleep: the thread that holds strip S may need this core. The calling thread wakes every few
            // milliseconds to hear its listener.
            std::unique_lock<std::mutex> lock(FWaitLock);
            FSleepers.fetch_add(1, std::memory_order_seq_cst);
            FWaitChanged.wait_for(lock, std::chrono::milliseconds(2), [&] {
                return done.load(std::memory_order_seq_cst) >= Rows ||
                       FAbandon.load(std::memory_order_relaxed);
            });
            FSleepers.fetch_sub(1, std::memory_order_relaxed);
        }
    }

    // Where the strip's rows come from and go to: per lane its own, entering and leaving columns (the
    // entering one original, its column not processed yet; the leaving one, where it lies left of the strip,
    // final, its row published by the previous strip; a leaving column inside the strip is read from the
    // strip by the kernel, once it is final there) and its steps in the skewed rings.
    void PlanCopy(TRowCopy& Copy, const TLaneStrip& Strip, int64_t First, int64_t Lanes) const {
        Copy.Width = G.Width;
        Copy.Height = G.Height;
        Copy.RowRadius = G.RowRadius;
        Copy.First = First;
        Copy.Lanes = int32_t(Lanes);
        Copy.RingSteps = FRing;
        for (int64_t k = 0; k < Lanes; ++k) {
            const int64_t c = First + k;
            Copy.Entering[k] = c + G.BandRadius <= G.Width - 1 ? 3 * (c + G.BandRadius) : -1;
            const int64_t left = c - G.BandRadius - 1;
            Copy.Leaving[k] = left >= 0 && left < First ? 3 * left : -1;
            Copy.PixelSteps[k] = Strip.Offset[k] % FRing;
            Copy.InputSteps[k] = (k * G.Lag) % FRing;
        }
        Copy.LeavingLanes = int32_t(std::min<int64_t>(Lanes, G.BandRadius + 1));
        Copy.Windows = Lanes == KLaneCount && First + KLaneCount - 1 + G.BandRadius <= G.Width - 1 &&
                       First - G.BandRadius - 1 >= 0;
    }

    uint8_t* const* FRows;
    TFilterGeometry G;
    const uint8_t* FMix;
    TLaneKernels FKernels;
    int64_t FRing; // steps of the skewed rings
    int64_t FStrips;
    int FThreads;
    std::vector<TStripRows> FDone;
    std::vector<TWorkspace> FWork;
    std::vector<std::vector<int32_t>> FRowSums; // strip s writes buffer s mod their count
    alignas(64) std::atomic<int64_t> FNext{0};  // the next strip to take
    std::atomic<bool> FAbandon{false};
    std::atomic<bool> FWorkerFailed{false};
    std::exception_ptr FWorkerFailure;
    TProgressCounter* FProgress = nullptr;
    // Threads asleep waiting for rows, and what wakes them.
    std::mutex FWaitLock;
    std::condition_variable FWaitChanged;
    std::atomic<int> FSleepers{0};
    int FRunning = 0; // workers that have not finished, under FWaitLock
};

} // namespace

uint64_t StripsWorkingBytes(const TFilterGeometry& Geometry, int Threads) {
    const int64_t strips = TStripPipeline::StripCount(Geometry);
    const int threads = int(std::clamp<int64_t>(Threads, 1, strips));
    const int64_t buffers = TStripPipeline::RowSumBuffers(strips, threads);
    return uint64_t(threads) * WorkspaceBytes(Geometry) +
           uint64_t(std::max<int64_t>(0, buffers)) * uint64_t(Geometry.Height) * 3 * sizeof(int32_t) +
           uint64_t(strips) * sizeof(TStripRows);
}

void SweepStrips(uint8_t* const* Rows, const TFilterGeometry& Geometry, const uint8_t* Mix,
                 const TLaneKernels& Kernels, int Threads, TProgressCounter* Progress) {
    assert(Geometry.Strips);
    TStripPipeline(Rows, Geometry, Mix, Kernels, std::max(1, Threads)).Run(Progress);
}

} // namespace KvKernels::Detail
