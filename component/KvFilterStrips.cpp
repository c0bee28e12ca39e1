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
// column c may trail column c - 1 by RowRadius + 1 rows and no fewer. Within a generation (eight adjacent
// columns on the eight lanes of one register) each lane trails the one to its left by exactly that; the
// first lane of a generation trails the last lane of the previous one by at least that, through the row
// counts the generations publish. Everything else a generation reads of the area is either an original value
// of a column right of it (written only by generations that wait for this one) or a final value of a column
// left of it in a row that the previous generation has published as done (and a generation publishes a row
// only after every generation before it has done the row, since its first lane needs it).
//
// Lanes that move on. A thread sweeps one register of eight lanes; when lane 0 is free, the thread takes the
// next generation from one counter, and lane k takes its column of it k Lag steps later, once its last column
// has drained (KvFilterLaneSweep.h), so the register holds work at every step however few columns the radius
// lets into flight. A thread therefore has at most two generations in flight, the older one finishing while
// the newer one starts. It starts the newer one only once the generation to its left has published the rows
// the newer one needs until the older one is done (FStartRows): until then a wait could hold up rows the
// other threads wait for; afterwards the thread has nothing any other thread waits for but the generation
// that waits, so a wait cannot close a circle.
//
// Memory. A thread gathers each generation's pixels and band-edge differences row by row (the area's memory
// order) into skewed buffers, one chunk of rows ahead of the sweep, and writes its pixels back a chunk at a
// time, once its last lane is done with them. The skewed buffers are rings of 7 Lag + 64 steps
// (RingStepsFor), so a thread holds O(Radius) whatever the height: the gathers of a chunk write at most
// 7 Lag + 64 steps past the chunk's first step, and its write-backs read the results of at most 7 Lag steps
// before it, so no entry is overwritten while it is still to be read. The first generation computes the row
// sums of the band left of the area a chunk at a time; the others take the row sums of their left
// neighbour's last column through two buffers of Height entries (one for an area of two generations, none
// for one). Generation g writes buffer g mod 2 as its last lane finishes each row, after its first lane has
// entered that row, which it does only after generation g - 1 has published it, that is after generation
// g - 1 has read the row of the same buffer (its first lane enters a row before its last lane finishes it).
//
// Work sharing. A thread whose first lane is free takes the next generation from one counter, so a thread
// that loses its core holds up only the generations to the right of its own. A thread that must wait spins
// briefly and then sleeps, so that a thread which shares its core with other work gets that core when the
// others wait for it. A thread stops taking generations when it gets much less of a core than another, or
// when it runs on the same processor as another (Retire).
#include "KvFilterStrips.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace KvKernels::Detail {
namespace {

// Rows a thread gathers ahead of its sweep, and writes back, at a time.
constexpr int64_t KChunkRows = 64;

// Spins of a waiting thread before it sleeps: about the time of a chunk's sweep.
constexpr int KSpins = 256;

// A thread that gets less than KSharedCore of the time it wants to run shares its core with other work,
// and it is the one the others wait for where it gets less than KSlower of another's share; the share is
// measured over at least KMeasurableNanoseconds.
constexpr double KSharedCore = 0.75;
constexpr double KSlower = 0.6;
constexpr int64_t KMeasurableNanoseconds = 1000000;
// A thread that sweeps three quarters of its chunks since it last measured (KCrowdedChunks at least) on the
// processor that another thread taking generations ran on last, and still does, stops taking them (Retire).
constexpr int KCrowdedChunks = 16;

// Rows of a generation done (handled by all its lanes, written back, last column's row sums published).
struct alignas(64) TGenerationRows {
    std::atomic<int64_t> Done{0};
};

// The sweep of a thread stops when another thread failed; its work is simply abandoned.
struct TAbandoned {};

// A generation in flight on a thread.
struct TGeneration {
    int64_t Index; // columns 8 Index ..
    int64_t Start; // the thread's step at which its lane 0 enters row 0
    int64_t Lanes;
    int64_t Done; // rows written back and published
    TRowCopy Copy;
};

// One thread's buffers. The rings of skewed inputs stay neutral wherever no gather wrote (the sweep clears
// what it reads), and every generation's gathers write only the entries on its lanes' rows.
struct TWorkspace {
    std::vector<uint64_t> Inputs;
    std::vector<uint32_t> Pixels;
    std::vector<int32_t> Entering, Final;
    std::vector<int32_t> StartSums; // the first generation's row sums from the left, a chunk of rows
    TLaneStrip Strip{};
    TGeneration Runs[2]{}; // oldest first
    int RunCount = 0;
    // Since the thread last measured its share of a core (Retire): when that was, its processor time then,
    // and its time asleep.
    std::chrono::steady_clock::time_point TakenAt{};
    int64_t CpuAtTake = 0;
    std::chrono::nanoseconds Asleep{0};
    // Since then: the chunks it swept while taking generations, and those of them on the processor that
    // another such thread ran on last.
    int Chunks = 0;
    int Crowded = 0;
    bool CrowdedNow = false; // the last chunk was
};

// The processor time of the calling thread, in nanoseconds.
int64_t ThreadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The processor the calling thread runs on, or -1 where that is not known.
int CurrentCpu() {
#if defined(__linux__)
    return sched_getcpu();
#else
    return -1;
#endif
}

// Bytes of one thread's buffers for generations of Lanes lanes.
uint64_t WorkspaceBytes(const TFilterGeometry& G, int64_t Lanes) {
    const uint64_t ring = uint64_t(RingStepsFor(G.Lag, KChunkRows, Lanes));
    return ring * uint64_t(Lanes) * (sizeof(uint64_t) + sizeof(uint32_t)) + KPixelsFront * sizeof(uint32_t) +
           2 * LaneSlot(G.Lag, 0, Lanes) * sizeof(int32_t) + 3 * KChunkRows * sizeof(int32_t) +
           sizeof(TWorkspace);
}

// A thread's buffers that stay in a core's cache between their uses (the rings are swept round and round).
constexpr uint64_t KCachedBytes = 192 << 10;

// Lanes of a generation on Threads threads. Two registers hide part of a step's chain of dependent
// instructions behind each other, but a generation may start only Lanes Lag steps after the one to its
// left, and a thread's lanes are free again Height + RowRadius + 1 steps after they started: where the
// threads' generations would wait for their left neighbours, or where the rings of sixteen lanes would
// leave the cache, one register each keeps the lanes full. (Measured on the 3840 x 2160 picture, one thread:
// sixteen lanes 12% faster at radius 1, as fast at 32, 27% slower at 128.)
int64_t GenerationLanes(const TFilterGeometry& G, int64_t Threads) {
    if (G.Width <= KVectorLanes || WorkspaceBytes(G, KLaneCount) > KCachedBytes) return KVectorLanes;
    return KLaneCount * Threads * G.Lag <= G.Height + G.RowRadius + 1 ? KLaneCount : KVectorLanes;
}

int64_t GenerationCount(const TFilterGeometry& G, int64_t Lanes) {
    return (G.Width + Lanes - 1) / Lanes;
}

// The threads that run on an area: no more than its generations, and no more than keep their generations
// a quarter of a period apart. A thread's next generation waits for the chain of the generations that the
// other threads started meanwhile (each needs its left neighbour (Lanes - 1) Lag + RowRadius + a chunk
// rows ahead); where that chain fills the thread's period, every thread waits for the others at every
// chunk, and a thread that loses its core for a moment holds them all up (measured at radius 128 on the
// 3840 x 2160 picture with other work on the machine: two threads took twice as long as one).
int ThreadsFor(const TFilterGeometry& G, int Threads) {
    for (int64_t threads = std::clamp<int64_t>(Threads, 1, GenerationCount(G, KLaneCount));; --threads) {
        const int64_t lanes = GenerationLanes(G, threads);
        threads = std::min(threads, GenerationCount(G, lanes));
        const int64_t chain = (lanes - 1) * G.Lag + G.RowRadius + KChunkRows;
        const int64_t period = std::max(G.Height + G.RowRadius + 1, (lanes - 1) * G.Lag + 1);
        if (threads == 1 || 4 * threads * chain <= 3 * period) return int(threads);
    }
}

class TGenerationPipeline {
public:
    TGenerationPipeline(uint8_t* const* Rows, const TFilterGeometry& Geometry, const uint8_t* Mix,
                        const TLaneKernels& Kernels, int Threads)
        : FRows(Rows), G(Geometry), FMix(Mix), FKernels(Kernels), FThreads(ThreadsFor(G, Threads)),
          FLanes(GenerationLanes(G, FThreads)), FRing(RingStepsFor(G.Lag, KChunkRows, FLanes)),
          FGenerations(GenerationCount(G, FLanes)),
          FPeriod(std::max(G.Height + G.RowRadius + 1, (FLanes - 1) * G.Lag + 1)),
          FStartRows(std::min(G.Height, (FLanes - 1) * G.Lag + 2 * KChunkRows)),
          FChainRows((FLanes - 1) * G.Lag + G.RowRadius + KChunkRows), FDone(size_t(FGenerations)) {
        FWork.resize(size_t(FThreads));
        FShares = std::vector<TShare>(size_t(FThreads));
        for (TWorkspace& w : FWork) {
            w.Inputs.assign(PixelSlot(FRing, FLanes), KNeutralInput);
            w.Pixels.assign(KPixelsFront + PixelSlot(FRing, FLanes), 0);
            // The kernel's rings hold Lag = RowRadius + 1 steps.
            w.Entering.assign(LaneSlot(G.Lag, 0, FLanes), 0);
            w.Final.assign(LaneSlot(G.Lag, 0, FLanes), 0);
            w.StartSums.assign(3 * KChunkRows, 0);
            InitStrip(w);
        }
        FRowSums.resize(size_t(RowSumBuffers(FGenerations)));
        for (auto& sums : FRowSums)
            sums.assign(size_t(G.Height) * 3, 0);
    }

    static int64_t RowSumBuffers(int64_t Generations) { return std::min<int64_t>(2, Generations - 1); }

    void Run(TProgressCounter* Progress) {
        FProgress = Progress;
        std::vector<std::thread> workers;
        std::exception_ptr failure;
        try {
            // The calling thread takes the first generation before any worker starts: the others follow it,
            // and it polls the listener at every chunk, so the listener is heard from the start.
            FNext.store(1, std::memory_order_relaxed);
            FTakers.store(1, std::memory_order_relaxed);
            workers.reserve(size_t(FThreads) - 1);
            for (int i = 1; i < FThreads; ++i) {
                {
                    const std::lock_guard<std::mutex> lock(FWaitLock);
                    ++FRunning;
                }
                FTakers.fetch_add(1, std::memory_order_relaxed);
                try {
                    workers.emplace_back([this, i] { RunThread(i); });
                } catch (const std::system_error&) { // the threads already running take every generation
                    FTakers.fetch_sub(1, std::memory_order_relaxed);
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
        // A worker's failure is the cause: the calling thread then only saw its work abandoned.
        if (FWorkerFailed.load(std::memory_order_relaxed)) std::rethrow_exception(FWorkerFailure);
        if (failure) std::rethrow_exception(failure);
    }

private:
    // Thread 0 is the calling thread, which alone reports progress and passes its exceptions on.
    void RunThread(int Index) {
        if (Index == 0) {
            Sweep(FWork[0], 0, 0, true);
            // The listener hears about the other threads' generations every few milliseconds. This thread
            // does not count as a sleeper that published rows wake: it may share its core with the thread
            // that works on, which would then hand it the core at every chunk.
            std::unique_lock<std::mutex> lock(FWaitLock);
            while (FRunning > 0) {
                FWaitChanged.wait_for(lock, std::chrono::milliseconds(2));
                if (FProgress) {
                    lock.unlock();
                    FProgress->Poll();
                    lock.lock();
                }
            }
            return;
        }
        try {
            Sweep(FWork[size_t(Index)], Index, FNext.fetch_add(1, std::memory_order_relaxed), false);
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

    void InitStrip(TWorkspace& Work) const {
        TLaneStrip& strip = Work.Strip;
        strip.Lanes = int32_t(FLanes);
        strip.Height = int32_t(G.Height);
        strip.RowRadius = int32_t(G.RowRadius);
        strip.Lag = int32_t(G.Lag);
        strip.RingSteps = int32_t(FRing);
        // Lanes BandRadius + 1 and up find their band's leaving column inside their generation.
        strip.InShift = G.BandRadius + 1 < FLanes ? int32_t(G.BandRadius + 1) : 0;
        strip.SmallWindows = G.SmallWindows;
        for (int k = 0; k < KLaneCount; ++k) {
            strip.Start[k] = strip.NextStart[k] = 0;
            strip.Band[k] = strip.NextBand[k] = 0;
            strip.Active[k] = strip.NextActive[k] = 0;
            strip.RotateAt[k] = INT64_MAX;
        }
        std::fill(std::begin(strip.Sums), std::end(strip.Sums), 0);
        strip.Mix = FMix;
        strip.RowSumsIn = nullptr;
        strip.SumsFrom = 0;
        strip.RowSumsOut = strip.NextRowSumsOut = nullptr;
        strip.Inputs = Work.Inputs.data();
        strip.Pixels = Work.Pixels.data() + KPixelsFront;
        strip.Entering = Work.Entering.data();
        strip.Final = Work.Final.data();
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

    // Lane 0 takes generation Index at step S; lane k follows k Lag steps later.
    void StartGeneration(TWorkspace& Work, int64_t Index, int64_t S) {
        TLaneStrip& strip = Work.Strip;
        const int64_t first = Index * FLanes;
        const int64_t lanes = std::min<int64_t>(FLanes, G.Width - first);
        for (int64_t k = 0; k < FLanes; ++k) {
            const int64_t c = first + k;
            const bool active = k < lanes;
            strip.RotateAt[k] = S + k * G.Lag;
            strip.NextStart[k] = S + k * G.Lag;
            strip.NextActive[k] = active ? -1 : 0;
            strip.NextBand[k] = active ? int32_t(std::min(G.Width - 1, c + G.BandRadius) -
                                                 std::max<int64_t>(0, c - G.BandRadius) + 1)
                                       : 0;
        }
        const int64_t buffers = int64_t(FRowSums.size());
        strip.NextRowSumsOut = Index + 1 < FGenerations ? FRowSums[size_t(Index % buffers)].data() : nullptr;
        strip.RowSumsIn = Index > 0 ? FRowSums[size_t((Index - 1) % buffers)].data() : Work.StartSums.data();
        strip.SumsFrom = 0;
        TGeneration& run = Work.Runs[Work.RunCount++];
        run.Index = Index;
        run.Start = S;
        run.Lanes = lanes;
        run.Done = 0;
        PlanCopy(run.Copy, first, lanes, S);
    }

    // Whether generation Index may start at step T, given the thread's generations in flight: a wait of the
    // new one must never hold up rows that another thread needs to give it what it waits for. Generation g
    // publishes row y only after the generation to its left has published row y + Chain - 1 (its last lane
    // handles row y (Lanes - 1) Lag + RowRadius steps after its first lane enters it, and gathers go a chunk
    // ahead). So the rows the new generation can wait for at step T' need at most (T' - T + Chunk) +
    // (Index - g - 1) Chain rows of an older generation g of this thread, which has published
    // T' - Start(g) - (Lanes - 1) Lag - RowRadius of them: enough when T - Start(g) >= (Index - g) Chain.
    // Otherwise it starts once the left neighbour has published every row the new generation needs until
    // the older ones are done, and until then the thread sweeps on with lane 0 idle.
    bool MayStart(const TWorkspace& Work, int64_t Index, int64_t T) const {
        bool clear = true;
        for (int i = 0; i < Work.RunCount; ++i)
            clear = clear && T - Work.Runs[i].Start >= (Index - Work.Runs[i].Index) * FChainRows;
        return clear || (Index > 0 && Published(Index - 1) >= FStartRows);
    }

    // Whether the thread stops taking generations because it shares its core with other work: since the last
    // measure it ran for less than KSharedCore of the time it did not sleep, and for less than KSlower of the
    // share another thread measured last. Where the threads' generations follow each other closely (large
    // radii), the others would wait for it at every chunk; they take the rest without it. Threads that all
    // get a like share (a machine busy with other work throughout) go on together, but not threads that the
    // system keeps on one processor (as it did with both threads on the free core of two while the other
    // was busy): each sleeps while it waits for the other, so their shares look full, yet they only take
    // turns, and waking each other costs more than one thread alone; the one that finds itself on another's
    // processor stops. The last thread that takes generations never stops.
    bool Retire(TWorkspace& Work, int Index) {
        const auto now = std::chrono::steady_clock::now();
        const int64_t cpu = ThreadCpuNanoseconds();
        const int64_t awake =
            std::chrono::duration_cast<std::chrono::nanoseconds>(now - Work.TakenAt - Work.Asleep).count();
        if (awake < KMeasurableNanoseconds) return false; // measured over several generations then
        const double share = double(cpu - Work.CpuAtTake) / double(awake);
        const bool crowded =
            Work.CrowdedNow && Work.Chunks >= KCrowdedChunks && 4 * Work.Crowded >= 3 * Work.Chunks;
        Work.TakenAt = now;
        Work.CpuAtTake = cpu;
        Work.Asleep = {};
        Work.Chunks = Work.Crowded = 0;
        FShares[size_t(Index)].PerMille.store(int(share * 1000), std::memory_order_relaxed);
        int best = 0;
        for (size_t i = 0; i < FShares.size(); ++i)
            if (i != size_t(Index))
                best = std::max(best, FShares[i].PerMille.load(std::memory_order_relaxed));
        if (!crowded && (share >= KSharedCore || share * 1000 >= KSlower * best)) return false;
        for (int takers = FTakers.load(std::memory_order_relaxed); takers > 1;)
            if (FTakers.compare_exchange_weak(takers, takers - 1, std::memory_order_relaxed)) return true;
        return false;
    }

    // Counts a chunk of a thread that takes generations, and whether another such thread ran on the same
    // processor last (a thread that does not take them has -1 there).
    void NoteCpu(TWorkspace& Work, int Index) {
        const int cpu = CurrentCpu();
        if (cpu < 0) return;
        std::atomic<int>& own = FShares[size_t(Index)].Cpu;
        if (own.load(std::memory_order_relaxed) != cpu) own.store(cpu, std::memory_order_relaxed);
        ++Work.Chunks;
        Work.CrowdedNow = false;
        for (size_t i = 0; i < FShares.size() && !Work.CrowdedNow; ++i)
            Work.CrowdedNow = i != size_t(Index) && FShares[i].Cpu.load(std::memory_order_relaxed) == cpu;
        Work.Crowded += Work.CrowdedNow;
    }

    // Runs generations, Taken first, until none is left.
    void Sweep(TWorkspace& Work, int Index, int64_t Taken, bool Reports) {
        TLaneStrip& strip = Work.Strip;
        Work.TakenAt = std::chrono::steady_clock::now();
        Work.CpuAtTake = ThreadCpuNanoseconds();
        int64_t pending = Taken; // taken and not started yet; -1: none taken; FGenerations or more: none left
        int64_t laneZeroFree = 0;
        for (int64_t t = 0;;) {
            if (t >= laneZeroFree) {
                if (pending < 0) {
                    pending =
                        Retire(Work, Index) ? FGenerations : FNext.fetch_add(1, std::memory_order_relaxed);
                    if (pending >= FGenerations)
                        FShares[size_t(Index)].Cpu.store(-1, std::memory_order_relaxed);
                }
                if (pending < FGenerations && MayStart(Work, pending, t)) {
                    StartGeneration(Work, pending, t);
                    laneZeroFree = t + FPeriod;
                    pending = -1;
                }
            }
            if (Work.RunCount == 0) break;
            if (pending < FGenerations) NoteCpu(Work, Index);
            int64_t t1 = t + KChunkRows;
            if (laneZeroFree > t) t1 = std::min(t1, laneZeroFree);
            for (int i = 0; i < Work.RunCount; ++i) {
                TGeneration& run = Work.Runs[i];
                const int64_t y0 = std::max<int64_t>(0, t - run.Start);
                const int64_t y1 = std::min(G.Height + G.RowRadius, t1 - run.Start);
                if (y0 >= y1) continue;
                if (y0 < G.Height) {
                    if (run.Index > 0) {
                        WaitForRows(Work, run.Index - 1, std::min(G.Height, y1), Reports);
                    } else {
                        StartRowSums(Work.StartSums.data(), y0, std::min(G.Height, y1));
                        strip.SumsFrom = y0;
                    }
                }
                FKernels.Gather(run.Copy, FRows, y0, y1, Work.Inputs.data());
            }
            FKernels.Sweep(strip, t, t1);
            for (int i = 0; i < Work.RunCount; ++i) {
                TGeneration& run = Work.Runs[i];
                const int64_t lastOffset = run.Start + (run.Lanes - 1) * G.Lag + G.RowRadius;
                const int64_t complete = std::clamp<int64_t>(t1 - lastOffset, 0, G.Height);
                if (complete > run.Done) {
                    FKernels.Scatter(run.Copy, FRows, run.Done, complete, strip.Pixels);
                    Publish(run.Index, complete);
                    if (FProgress) FProgress->Add(uint64_t(complete - run.Done) * uint64_t(run.Lanes));
                    run.Done = complete;
                }
            }
            if (Work.RunCount > 0 && Work.Runs[0].Done == G.Height) {
                Work.Runs[0] = Work.Runs[1];
                --Work.RunCount;
            }
            if (Reports && FProgress) FProgress->Poll();
            t = t1;
        }
    }

    int64_t Published(int64_t Index) const {
        return FDone[size_t(Index)].Done.load(std::memory_order_acquire);
    }

    // Rows 0 .. Rows - 1 of generation Index are done; wakes the threads that sleep waiting for rows.
    void Publish(int64_t Index, int64_t Rows) {
        FDone[size_t(Index)].Done.store(Rows, std::memory_order_seq_cst);
        if (FSleepers.load(std::memory_order_seq_cst) > 0) {
            { const std::lock_guard<std::mutex> lock(FWaitLock); }
            FWaitChanged.notify_all();
        }
    }

    void WaitForRows(TWorkspace& Work, int64_t Index, int64_t Rows, bool Reports) {
        const std::atomic<int64_t>& done = FDone[size_t(Index)].Done;
        for (int spins = 0; done.load(std::memory_order_acquire) < Rows; ++spins) {
            if (FAbandon.load(std::memory_order_relaxed)) throw TAbandoned{};
            if (Reports && FProgress) FProgress->Poll();
            if (spins < KSpins) {
#if defined(__SSE2__)
                _mm_pause();
#endif
                continue;
            }
            // Sleep: the thread that holds generation Index may need this core. The calling thread wakes
            // every few milliseconds to hear its listener.
            const auto asleep = std::chrono::steady_clock::now();
            std::unique_lock<std::mutex> lock(FWaitLock);
            FSleepers.fetch_add(1, std::memory_order_seq_cst);
            FWaitChanged.wait_for(lock, std::chrono::milliseconds(2), [&] {
                return done.load(std::memory_order_seq_cst) >= Rows ||
                       FAbandon.load(std::memory_order_relaxed);
            });
            FSleepers.fetch_sub(1, std::memory_order_relaxed);
            lock.unlock();
            Work.Asleep += std::chrono::steady_clock::now() - asleep;
        }
    }

    // Where a generation's rows come from and go to: per lane its own, entering and leaving columns (the
    // entering one original, its column not processed yet; the leaving one, where it lies left of the
    // generation, final, its row published by the previous generation; a leaving column inside the generation
    // is read from the results by the kernel, once it is final there) and its steps in the skewed rings, the
    // generation starting at step S.
    void PlanCopy(TRowCopy& Copy, int64_t First, int64_t Lanes, int64_t S) const {
        Copy.SlotLanes = FLanes;
        Copy.Width = G.Width;
        Copy.Height = G.Height;
        Copy.RowRadius = G.RowRadius;
        Copy.First = First;
        Copy.Lanes = int32_t(Lanes);
        Copy.RingSteps = FRing;
        Copy.PixelStep = (S + G.RowRadius) % FRing;
        Copy.InputStep = S % FRing;
        Copy.LaneLag = G.Lag;
        for (int64_t k = 0; k < Lanes; ++k) {
            const int64_t c = First + k;
            Copy.Entering[k] = c + G.BandRadius <= G.Width - 1 ? 3 * (c + G.BandRadius) : -1;
            const int64_t left = c - G.BandRadius - 1;
            Copy.Leaving[k] = left >= 0 && left < First ? 3 * left : -1;
        }
        Copy.LeavingLanes = int32_t(std::min<int64_t>(Lanes, G.BandRadius + 1));
        Copy.Windows = Lanes == FLanes && First + FLanes - 1 + G.BandRadius <= G.Width - 1 &&
                       First - G.BandRadius - 1 >= 0;
    }

    uint8_t* const* FRows;
    TFilterGeometry G;
    const uint8_t* FMix;
    TLaneKernels FKernels;
    int FThreads;
    int64_t FLanes; // of a generation
    int64_t FRing;  // steps of the skewed rings
    int64_t FGenerations;
    // Steps from a generation's start on a thread to the next one's there at the soonest: its lanes have
    // handled their columns' last rows (Height + RowRadius + 1 steps) and taken their columns of it.
    int64_t FPeriod;
    int64_t FStartRows; // rows of the left neighbour that let a generation start beside older ones
    int64_t FChainRows; // rows of a generation that its right neighbour's next rows need (MayStart)
    std::vector<TGenerationRows> FDone;
    std::vector<TWorkspace> FWork;
    std::vector<std::vector<int32_t>> FRowSums; // generation g writes buffer g mod their count
    alignas(64) std::atomic<int64_t> FNext{0};  // the next generation to take
    std::atomic<bool> FAbandon{false};
    std::atomic<bool> FWorkerFailed{false};
    std::exception_ptr FWorkerFailure;
    TProgressCounter* FProgress = nullptr;
    // Threads asleep waiting for rows, and what wakes them.
    std::mutex FWaitLock;
    std::condition_variable FWaitChanged;
    std::atomic<int> FSleepers{0};
    std::atomic<int> FTakers{0}; // threads that still take generations
    // Each thread's last measured share of a core, per mille (0: not measured yet), and the processor it ran
    // on last while it takes generations (-1: it does not, or that is not known).
    struct alignas(64) TShare {
        std::atomic<int> PerMille{0};
        std::atomic<int> Cpu{-1};
    };
    std::vector<TShare> FShares;
    int FRunning = 0; // workers that have not finished, under FWaitLock
};

} // namespace

uint64_t StripsWorkingBytes(const TFilterGeometry& Geometry, int Threads) {
    const int threads = ThreadsFor(Geometry, Threads);
    const int64_t lanes = GenerationLanes(Geometry, threads);
    const int64_t generations = GenerationCount(Geometry, lanes);
    const int64_t buffers = TGenerationPipeline::RowSumBuffers(generations);
    return uint64_t(threads) * WorkspaceBytes(Geometry, lanes) +
           uint64_t(std::max<int64_t>(0, buffers)) * uint64_t(Geometry.Height) * 3 * sizeof(int32_t) +
           uint64_t(generations) * sizeof(TGenerationRows);
}

void SweepStrips(uint8_t* const* Rows, const TFilterGeometry& Geometry, const uint8_t* Mix,
                 const TLaneKernels& Kernels, int Threads, TProgressCounter* Progress) {
    assert(Geometry.Strips);
    TGenerationPipeline(Rows, Geometry, Mix, Kernels, std::max(1, Threads)).Run(Progress);
}

} // namespace KvKernels::Detail
