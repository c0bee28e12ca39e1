// Rows of an area shared out among threads, for work that changes each row on its own (the point
// operations). Rows never depend on each other there, so any thread count gives the same bytes.
#pragma once

#include "KvProgress.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace KvKernels {

// Point operations on fewer pixels run on the calling thread: starting a thread costs about as much as
// changing a few hundred thousand pixels.
constexpr int64_t KThreadedRowPixels = int64_t(1) << 19;

namespace Detail {

// What the threads of one ForRowBands share. A worker enters the work only while it is open and the
// caller waits only for the workers inside, so a worker that the system starts late, when every band is
// taken, costs the caller nothing: it finds the work closed and ends on its own (it holds this state).
struct TRowBandsState {
    std::atomic<int64_t> Next{0}; // 64 bits: each thread takes at most one band past Height
    std::mutex Lock;
    std::condition_variable Changed;
    size_t Inside = 0;
    bool Closed = false;
};

} // namespace Detail

// Runs Work(First, End) over bands of the rows 0..Height-1 of a Width-pixel area on up to Threads threads,
// the calling thread among them. Bands are handed out in order from one counter, so a thread that is off
// the processor for a while holds nobody up, and the caller does not wait for a thread that never got a
// processor before the bands ran out. Progress, when given, counts rows and is polled on the calling
// thread only; when a report throws, the exception ends the work once the threads inside it have stopped.
// When the system refuses a thread, the threads already running do the work.
template <class TWork>
void ForRowBands(int Width, int Height, int Threads, TProgressCounter* Progress, const TWork& Work) {
    // At most about 64 KiB of pixels a band, enough to hide the cost of taking one, and at most 1 % of the
    // rows, so that progress can be heard at every percent.
    const int64_t bandRows = std::max<int64_t>(
        1, std::min<int64_t>((int64_t(1) << 16) / (3 * std::max<int64_t>(1, Width)), Height / 100));
    const auto state = std::make_shared<Detail::TRowBandsState>();
    // A report that throws ends the operation: from that moment the other threads take no band.
    const auto poll = [&] {
        try {
            Progress->Poll();
        } catch (...) {
            state->Next.store(Height, std::memory_order_relaxed);
            throw;
        }
    };
    const auto run = [&](bool Caller) {
        for (;;) {
            const int64_t first = state->Next.fetch_add(bandRows, std::memory_order_relaxed);
            if (first >= Height) return;
            const int64_t end = std::min<int64_t>(Height, first + bandRows);
            Work(int(first), int(end));
            if (Progress) {
                Progress->Add(uint64_t(end - first));
                if (Caller) poll();
            }
        }
    };
    // Workers use the caller's frame (run, Work) only while inside, which the caller waits out.
    for (int t = 1; t < Threads; ++t) {
        try {
            std::thread([state, &run] {
                {
                    const std::lock_guard<std::mutex> lock(state->Lock);
                    if (state->Closed) return;
                    ++state->Inside;
                }
                run(false);
                const std::lock_guard<std::mutex> lock(state->Lock);
                --state->Inside;
                state->Changed.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            break;
        }
    }
    // Closes the work and waits for the workers inside; the listener hears about their last bands too,
    // every few milliseconds while they finish.
    const auto closeAndWait = [&](bool Polling) {
        std::unique_lock<std::mutex> lock(state->Lock);
        state->Closed = true;
        while (
            !state->Changed.wait_for(lock, std::chrono::milliseconds(2), [&] { return state->Inside == 0; }))
            if (Polling) {
                lock.unlock();
                poll();
                lock.lock();
            }
    };
    try {
        run(true);
        closeAndWait(Progress != nullptr);
    } catch (...) { // the workers inside end the band they hold
        closeAndWait(false);
        throw;
    }
    if (Progress) Progress->Poll();
}

} // namespace KvKernels
