// The neighbourhood filters' wide sweep: 64-bit window sums for any area, single-threaded.
#pragma once

#include "KvProgress.h"

#include <cstdint>

namespace KvKernels::Detail {

// Filters the area in place like the plain column sweep; Mix is the mixing table (value * 256 + mean).
void SweepColumns(uint8_t* const* Rows, int64_t Width, int64_t Height, int64_t Radius, const uint8_t* Mix,
                  TProgressCounter* Progress);

} // namespace KvKernels::Detail
