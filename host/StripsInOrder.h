// Pieces of work made on several threads and handed over in order: an encoder's strips, made anywhere,
// written to one stream one after the other.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

// Makes pieces 0..Count-1 with Make on up to Threads threads and hands each to Deliver on the calling
// thread, in order. At most Threads + 2 pieces wait made and undelivered, so the memory held stays a
// few pieces whatever Count is. If the system refuses threads, the ones made do the work, or the
// calling thread alone. The first exception of Make or Deliver stops the work and is rethrown here once
// every thread has ended.
template <class TPiece>
void MakeInOrder(int Count, int Threads, const std::function<TPiece(int Index)>& Make,
                 const std::function<void(int Index, TPiece&)>& Deliver) {
    const auto here = [&] {
        for (int i = 0; i < Count; ++i) {
            TPiece piece = Make(i);
            Deliver(i, piece);
        }
    };
    Threads = std::clamp(Threads, 1, std::max(1, Count));
    if (Threads == 1) return here();
    const int window = Threads + 2;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<TPiece>> done(static_cast<size_t>(Count));
    int next = 0, delivered = 0;
    bool stop = false;
    std::exception_ptr failure;
    const auto work = [&] {
        for (;;) {
            int index;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || next >= Count || next < delivered + window; });
                if (stop || next >= Count) return;
                index = next++;
            }
            try {
                TPiece piece = Make(index);
                const std::lock_guard lock(mutex);
                done[size_t(index)] = std::move(piece);
            } catch (...) {
                const std::lock_guard lock(mutex);
                if (!failure) failure = std::current_exception();
                stop = true;
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    try {
        for (int t = 0; t < Threads; ++t)
            workers.emplace_back(work);
    } catch (const std::system_error&) {
        // fewer threads than asked for: the ones made do the work, or this one alone
    }
    if (workers.empty()) return here();
    try {
        for (int i = 0; i < Count; ++i) {
            TPiece piece;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || done[size_t(i)].has_value(); });
                if (stop) break;
                piece = std::move(*done[size_t(i)]);
                done[size_t(i)].reset();
            }
            Deliver(i, piece);
            {
                const std::lock_guard lock(mutex);
                delivered = i + 1;
            }
            changed.notify_all();
        }
    } catch (...) {
        {
            const std::lock_guard lock(mutex);
            stop = true;
            if (!failure) failure = std::current_exception();
        }
        changed.notify_all();
    }
    for (std::thread& worker : workers)
        worker.join();
    if (failure) std::rethrow_exception(failure);
}
