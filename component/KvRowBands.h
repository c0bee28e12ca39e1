// Rows of an area shared out among threads, for work that changes each row on its own (the point
// operations). Rows never depend on each other there, so any thread count gives the same bytes.
#pragma once

#include "KvProgress.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace KvKernels {

// Point operations on fewer pixels run on the calling thread: starting a thread costs about as much as
// changing a few hundred thousand pixels.
constexpr int64_t KThreadedRowPixels = int64_t(1) << 19;

// Runs Work(First, End) over bands of the rows 0..Height-1 of a Width-pixel area on up to Threads threads,
// the calling thread among them. Bands are handed out in order from one counter, so a thread that is off
// the processor for a while holds nobody up. Progress, when given, counts rows and is polled on the calling
// thread only; when a report throws, the exception ends the work once the threads have stopped. When the
// system refuses a thread, the threads already running do the work.
template <class TWork>
void ForRowBands(int Width, int Height, int Threads, TProgressCounter* Progress, const TWork& Work) {
    // At most about 64 KiB of pixels a band, enough to hide the cost of taking one, and at most 1 % of the
    // rows, so that progress can be heard at every percent.
    const int64_t bandRows = std::max<int64_t>(
        1, std::min<int64_t>((int64_t(1) << 16) / (3 * std::max<int64_t>(1, Width)), Height / 100));
    std::atomic<int64_t> next{0}; // 64 bits: each thread takes at most one band past Height
    // Workers that have run out of bands; the last one wakes the calling thread.
    std::mutex finishedLock;
    std::condition_variable finishedChanged;
    size_t finished = 0;
    // A report that throws ends the operation: from that moment the other threads take no band.
    const auto poll = [&] {
        try {
            Progress->Poll();
        } catch (...) {
            next.store(Height, std::memory_order_relaxed);
            throw;
        }
    };
    const auto run = [&](bool Caller) {
        for (;;) {
            const int64_t first = next.fetch_add(bandRows, std::memory_order_relaxed);
            if (first >= Height) return;
            const int64_t end = std::min<int64_t>(Height, first + bandRows);
            Work(int(first), int(end));
            if (Progress) {
                Progress->Add(uint64_t(end - first));
                if (Caller) poll();
            }
        }
    };
    std::vector<std::thread> workers;
    for (int t = 1; t < Threads; ++t) {
        try {
            workers.emplace_back([&] {
                run(false);
                const std::lock_guard<std::mutex> lock(finishedLock);
                ++finished;
                finishedChanged.notify_one();
            });
        } catch (const std::system_error&) {
            break;
        }
    }
    const auto joinAll = [&] {
        for (std::thread& worker : workers)
            worker.join();
    };
    try {
        run(true);
        // The listener hears about the workers' last bands too, every few milliseconds while they finish.
        if (Progress) {
            std::unique_lock<std::mutex> lock(finishedLock);
            while (!finishedChanged.wait_for(lock, std::chrono::milliseconds(2),
                                             [&] { return finished == workers.size(); })) {
                lock.unlock();
                poll();
                lock.lock();
            }
        }
    } catch (...) { // the workers end the band they hold
        joinAll();
        throw;
    }
    joinAll();
    if (Progress) Progress->Poll();
}

} // namespace KvKernels
