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
