// Neighbourhood filters: the entry, the mixing table, the choice of sweep and the thread setting.
//
// Exactness contract: every pixel gets exactly the value of the plain sweep (columns left to right, rows
// top to bottom, a window sum kept by adding entering and subtracting leaving band rows, the mean
// Round(sum / count) in extended precision, the mixing rule in extended precision). The sweeps obtain the
// same window sums in another order (KvFilterStrips.cpp), compute the same integer mean exactly (the
// strips from a single- or double-precision quotient, each within the bounds that make it exact; the 64-bit
// sweep by integer tests), and look the mixing rule up in a table built by the rule itself (below).
//
// Why an exact nearest-even mean is the extended-precision one. Sum and Count are exact in the 64-bit
// significand, the quotient (below 256) is correctly rounded, so off by at most 2^-57. A tie (2r == Count,
// r the remainder) is q + 0.5, exactly representable, and both round it to even. Otherwise
// |r / Count - 1/2| >= 1 / (2 Count) > 2^-57, so the rounded quotient stays on the same side of q + 0.5.
// This needs Count < 2^56; Count is at most the number of pixels of the area, which lie in memory
// (3 bytes each, below 2^48 bytes), so Count < 2^47 and Sum <= 255 * Count < 2^55 fit in 64 bits.
#include "KvFilters.h"

#include "KvFilterColumnSweep.h"
#include "KvFilterGeometry.h"
#include "KvFilterStrips.h"
#include "KvPointOps.h"
#include "KvReal.h"
#include "KvRules.h"
#include <pictura/FitinRange.h>
#include <pictura/Round.h>
#include <pictura/SysUtils.h>

#include <array>
#include <atomic>
#include <cassert>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace KvKernels {
namespace {

// Areas of fewer pixels run on one thread: starting threads would cost more than they save.
constexpr int64_t KThreadedPixels = int64_t(1) << 16;

// Stored value of a channel for each (value, mean) at value * 256 + mean, and 3 bytes of slack so that a
// 4-byte read at any entry stays inside.
using TMixTable = std::array<uint8_t, 65536 + 3>;

// The mixing rule for every pair, in extended precision (KvRules.h).
void BuildMixTable(TMixTable& Table, int8_t Amount, TFilterKind Kind) {
    FillMixTable<TKvReal>(Table.data(), Amount, Kind);
    Table[65536] = Table[65537] = Table[65538] = 0;
}

// The tables of the last few (amount, kind) pairs: building one takes about a millisecond, a twentieth of
// a filter on a large picture, and programs tend to repeat an operation with the same values.
class TMixTableCache {
public:
    std::shared_ptr<const TMixTable> Get(int8_t Amount, TFilterKind Kind) {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            for (const TEntry& e : FEntries)
                if (e.Table && e.Amount == Amount && e.Kind == Kind) return e.Table;
        }
        auto table = std::make_shared<TMixTable>(); // 64 KiB: kept off the caller's stack
        BuildMixTable(*table, Amount, Kind);
        const std::lock_guard<std::mutex> lock(FLock);
        FEntries[FNext] = {Amount, Kind, table};
        FNext = (FNext + 1) % FEntries.size();
        return table;
    }

    static constexpr uint64_t Bytes = 4 * sizeof(TMixTable);

private:
    struct TEntry {
        int8_t Amount;
        TFilterKind Kind;
        std::shared_ptr<const TMixTable> Table;
    };
    std::mutex FLock;
    std::array<TEntry, 4> FEntries{};
    size_t FNext = 0;
};

TMixTableCache& MixTables() {
    static TMixTableCache cache;
    return cache;
}

// 0: every hardware thread.
std::atomic<int> GFilterThreads{0};

} // namespace

int ThreadsForArea(int64_t Width, int64_t Height, int64_t MinPixels) {
    if (Width * Height < MinPixels) return 1;
    const int setting = GFilterThreads.load(std::memory_order_relaxed);
    if (setting > 0) return setting;
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

void CheckFilterRadius(int32_t Radius) {
    if (Radius < 0)
        throw EArgumentError("filter radius " + std::to_string(Radius) +
                             " is negative; it must be 0 or more");
}

void SetFilterThreads(int Count) {
    if (Count < 0)
        throw EArgumentError("filter thread count " + std::to_string(Count) +
                             " is negative; it must be 0 (every hardware thread) or more");
    GFilterThreads.store(Count, std::memory_order_relaxed);
}

int FilterThreads() {
    return GFilterThreads.load(std::memory_order_relaxed);
}

int FilterAreaThreads(int Width, int Height) {
    return ThreadsForArea(Width, Height, KThreadedPixels);
}

uint64_t FilterWorkingBytes(int Width, int Height, int32_t Radius, int Threads) {
    assert(Radius >= 0);
    if (Width <= 0 || Height <= 0 || Radius == 0) return 0;
    const Detail::TFilterGeometry geometry = Detail::FilterGeometry(Width, Height, Radius);
    const uint64_t sweep = geometry.Strips ? Detail::StripsWorkingBytes(geometry, Threads)
                                           : Detail::ColumnsWorkingBytes(geometry);
    return sweep + TMixTableCache::Bytes;
}

void FilterArea(uint8_t* const* Rows, int Width, int Height, int8_t Amount, int32_t Radius, TFilterKind Kind,
                TProgressCounter* Progress, int Threads) {
    assert(Radius >= 0); // checked by the control
    // Amount 0 adds a zero step to every value; Radius 0 makes every mean the pixel itself: no change.
    if (Width <= 0 || Height <= 0 || Amount == 0 || Radius <= 0) return;
    const std::shared_ptr<const TMixTable> mix = MixTables().Get(Amount, Kind);
    const Detail::TFilterGeometry geometry = Detail::FilterGeometry(Width, Height, Radius);
    if (geometry.Strips) {
#if defined(__x86_64__)
        const Detail::TLaneKernels& kernels =
            SimdLevel() >= TSimdLevel::Avx2 ? Detail::KAvx2LaneKernels : Detail::KPortableLaneKernels;
#else
        const Detail::TLaneKernels& kernels = Detail::KPortableLaneKernels;
#endif
        Detail::SweepStrips(Rows, geometry, mix->data(), kernels,
                            Threads > 0 ? Threads : FilterAreaThreads(Width, Height), Progress);
    } else {
        Detail::SweepColumns(Rows, geometry, mix->data(), Progress);
    }
}

} // namespace KvKernels
