// Neighbourhood filters (box blur and sharpen) over a 24-bit pixel area, applied in place.
//
// Exactness contract: the result is byte for byte that of the column sweep which visits columns left to
// right and rows top to bottom, changing each pixel in place so that later windows see the values already
// written. Each channel's window mean is the exact quotient rounded to nearest, ties to even; the mixing
// rule is evaluated step by step in extended precision, rounded with Round and clamped with FitinRange.
// Areas and radii have no limit beyond the memory that holds the area and the working memory
// (FilterWorkingBytes).
#pragma once

#include <cstdint>

#include "KvProgress.h"

namespace KvKernels {

// Whether a channel moves towards (Blur) or away from (Sharpen) the mean of its window.
enum class TFilterKind { Blur, Sharpen };

// Throws EArgumentError for a negative filter radius; the control's one check of it.
void CheckFilterRadius(int32_t Radius);

// Threads the filters and the point operations may use, process-wide: 0 (the default) is every hardware
// thread, 1 runs them on the calling thread alone; EArgumentError below 0. Any count gives the same bytes.
// Safe to call between operations, not during one.
void SetFilterThreads(int Count);
int FilterThreads();

// The threads an operation on a Width x Height area uses under that setting: one for areas under
// MinPixels, where starting threads would cost more than they save.
int ThreadsForArea(int64_t Width, int64_t Height, int64_t MinPixels);

// The threads FilterArea uses for a Width x Height area under the setting.
int FilterAreaThreads(int Width, int Height);

// The bytes FilterArea allocates while it runs on Threads threads (a few mixing tables included): rings of
// O(Radius) per thread, and for areas wider than one generation of lanes (8 or 16 columns) one or two
// row-sum buffers of 12 bytes a row; for windows of 2^23 pixels or more, 264 bytes a row.
// Precondition: Radius >= 0.
uint64_t FilterWorkingBytes(int Width, int Height, int32_t Radius, int Threads);

// Filters the Width x Height area whose row y starts at Rows[y] (3 bytes per pixel, B,G,R) in place with a
// (2*Radius+1)-square window clipped at the area's edges, on Threads threads (0: FilterAreaThreads).
// Progress, when given, counts Width x Height units (one a pixel) and is polled on the calling thread.
// Precondition: Radius >= 0 (asserted; the control checks it with CheckFilterRadius).
void FilterArea(uint8_t* const* Rows, int Width, int Height, int8_t Amount, int32_t Radius, TFilterKind Kind,
                TProgressCounter* Progress = nullptr, int Threads = 0);

} // namespace KvKernels
