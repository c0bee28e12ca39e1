// The neighbourhood filters' wide sweep: 64-bit window sums for any area, single-threaded.
#pragma once

#include "KvFilterGeometry.h"
#include "KvProgress.h"

#include <cstdint>

namespace KvKernels::Detail {

// The bytes SweepColumns allocates for this geometry.
uint64_t ColumnsWorkingBytes(const TFilterGeometry& Geometry);

// Filters the area in place like the plain column sweep; Mix is the mixing table (value * 256 + mean).
void SweepColumns(uint8_t* const* Rows, const TFilterGeometry& Geometry, const uint8_t* Mix,
                  TProgressCounter* Progress);

} // namespace KvKernels::Detail
