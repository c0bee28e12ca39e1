#include <pictura/ImageLimits.h>

#include <pictura/PixelFormat.h>
#include <pictura/SysUtils.h>

#include <atomic>

namespace {
// The byte limit in force; programs may change it from any thread.
std::atomic<size_t> MaxBitmapBytesSetting{size_t(1) << 30};
} // namespace

size_t GetMaxBitmapBytes() {
    return MaxBitmapBytesSetting.load();
}

void SetMaxBitmapBytes(size_t Bytes) {
    MaxBitmapBytesSetting.store(Bytes);
}

void CheckBitmapSize(int64_t Width, int64_t Height, int Bpp, const std::string& What) {
    if (Width < 0 || Height < 0)
        throw EArgumentError(What + ": negative size " + std::to_string(Width) + " x " +
                             std::to_string(Height));
    if (Width > INT32_MAX || Height > INT32_MAX || uint64_t(Width) * uint64_t(Height) > MaxBitmapPixels)
        throw EOutOfResources(What + ": " + std::to_string(Width) + " x " + std::to_string(Height) +
                              " pixels is more than the limit of 2^28 pixels");
    const uint64_t bytes = uint64_t(BytesPerScanline(int(Width), Bpp)) * uint64_t(Height);
    if (bytes > GetMaxBitmapBytes())
        throw EOutOfResources(What + ": " + std::to_string(Width) + " x " + std::to_string(Height) + " at " +
                              std::to_string(Bpp) + " bits per pixel needs " + std::to_string(bytes) +
                              " bytes, more than the limit of " + std::to_string(GetMaxBitmapBytes()) +
                              " bytes");
}
