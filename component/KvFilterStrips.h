// The neighbourhood filters' fast sweep: the area cut into strips of sixteen columns, each swept by the lane
// kernels, the strips run as a pipeline on several threads.
#pragma once

#include "KvFilterGeometry.h"
#include "KvFilterLanes.h"
#include "KvProgress.h"

#include <cstdint>

namespace KvKernels::Detail {

// The bytes SweepStrips allocates for this geometry on Threads threads.
uint64_t StripsWorkingBytes(const TFilterGeometry& Geometry, int Threads);

// Filters the area in place like the plain column sweep, with Mix the mixing table (value * 256 + mean,
// three bytes of slack behind it), Kernels the lane kernels and at most Threads threads (1 or more).
// Progress counts finished pixels from any thread and is polled on the calling thread only.
// Precondition: Geometry.Strips.
void SweepStrips(uint8_t* const* Rows, const TFilterGeometry& Geometry, const uint8_t* Mix,
                 const TLaneKernels& Kernels, int Threads, TProgressCounter* Progress);

} // namespace KvKernels::Detail
