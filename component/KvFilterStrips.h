// The neighbourhood filters' fast sweep: the area cut into strips of sixteen columns, each swept by the lane
// kernels, the strips run as a pipeline on several threads.
#pragma once

#include "KvFilterLanes.h"
#include "KvProgress.h"

#include <cstdint>

namespace KvKernels::Detail {

// Whether the strips can take this area and radius: the 32-bit window sums need windows of fewer than
// 2^23 pixels, and the steps of a strip (about Height + 17 * Radius) must stay far below 2^31.
bool StripsCanSweep(int64_t Width, int64_t Height, int64_t Radius);

// Filters the area in place like the plain column sweep, with Mix the mixing table (value * 256 + mean,
// three bytes of slack behind it), Kernels the lane kernels and at most Threads threads (1 or more).
// Progress counts finished pixels from any thread and is polled on the calling thread only.
void SweepStrips(uint8_t* const* Rows, int64_t Width, int64_t Height, int64_t Radius, const uint8_t* Mix,
                 const TLaneKernels& Kernels, int Threads, TProgressCounter* Progress);

} // namespace KvKernels::Detail
