// Progress of one operation. Any of the operation's threads counts the work it has finished; only the thread
// that started the operation reports it, so a report never runs on a worker thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>

namespace KvKernels {

class TProgressCounter {
public:
    // Report receives whole percents, each larger than the one before; it is never called with 0 or 100
    // (the caller announces the start and the end itself).
    using TReport = std::function<void(int Percent)>;

    TProgressCounter(uint64_t Total, TReport Report) : FTotal(Total), FReport(std::move(Report)) {}

    // Any thread: Units more of the Total are done.
    void Add(uint64_t Units) noexcept { FDone.fetch_add(Units, std::memory_order_relaxed); }

    // The starting thread only: reports when the work done has reached a new whole percent below 100.
    void Poll() {
        if (!FReport || FTotal == 0) return;
        const uint64_t done = std::min(FDone.load(std::memory_order_relaxed), FTotal);
        const int percent = int(done * 100 / FTotal); // done <= Total < 2^57 in every caller: no overflow
        if (percent > FLastPercent && percent < 100) {
            FLastPercent = percent;
            FReport(percent);
        }
    }

private:
    uint64_t FTotal;
    std::atomic<uint64_t> FDone{0};
    int FLastPercent = 0;
    TReport FReport;
};

} // namespace KvKernels
