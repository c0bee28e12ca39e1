// The framework's limit on picture sizes, checked before any pixel memory is allocated.
#pragma once

#include <pictura/Vcl40Export.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Largest number of pixels a bitmap may hold (2^28).
constexpr uint64_t MaxBitmapPixels = uint64_t(1) << 28;

// Largest pixel allocation in bytes; a setting of the framework, 1 GiB unless changed.
VCL40_EXPORT size_t GetMaxBitmapBytes();
VCL40_EXPORT void SetMaxBitmapBytes(size_t Bytes);

// Throws EOutOfResources (or EInvalidGraphic for non-positive sizes when AllowEmpty is false)
// when a Width x Height picture at Bpp bits per pixel exceeds the limits; What names the picture.
VCL40_EXPORT void CheckBitmapSize(int64_t Width, int64_t Height, int Bpp, const std::string& What);

// Picture memory held for a while (a decoder's buffers, a decoded picture on its way into a bitmap),
// counted for the whole process: all reservations together stay within the byte limit. A thread whose
// reservation does not fit beside other threads' waits for them; reservations are scoped to one thread.
class VCL40_EXPORT TPictureMemory {
public:
    // Reserves Bytes, or throws EOutOfResources naming What, the bytes needed and the limit (at once
    // when Bytes alone is over the limit, or when this thread already holds a reservation).
    TPictureMemory(uint64_t Bytes, const std::string& What);
    ~TPictureMemory();
    TPictureMemory(const TPictureMemory&) = delete;
    TPictureMemory& operator=(const TPictureMemory&) = delete;

private:
    uint64_t FBytes;
};
