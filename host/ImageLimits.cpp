#include <pictura/ImageLimits.h>

#include <pictura/PixelFormat.h>
#include <pictura/SysUtils.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {
// The byte limit in force; programs may change it from any thread.
std::atomic<size_t> MaxBitmapBytesSetting{size_t(1) << 30};
// Picture memory reserved by all threads, and whether this thread holds some.
std::mutex reservedMutex;
std::condition_variable reservedReleased;
uint64_t reservedBytes = 0;
thread_local int heldByThisThread = 0;
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

TPictureMemory::TPictureMemory(uint64_t Bytes, const std::string& What) : FBytes(Bytes) {
    const uint64_t limit = GetMaxBitmapBytes();
    if (Bytes > limit)
        throw EOutOfResources(What + " needs " + std::to_string(Bytes) +
                              " bytes of memory, more than the limit of " + std::to_string(limit) + " bytes");
    std::unique_lock lock(reservedMutex);
    // Another thread's picture will be done soon: wait for it rather than fail by timing. A thread that
    // already holds memory does not wait (two such threads would wait for each other).
    if (heldByThisThread == 0)
        reservedReleased.wait(
            lock, [&] { return reservedBytes == 0 || reservedBytes + Bytes <= GetMaxBitmapBytes(); });
    if (reservedBytes + Bytes > limit)
        throw EOutOfResources(What + " needs " + std::to_string(Bytes) +
                              " bytes of memory, more than the limit of " + std::to_string(limit) +
                              " bytes less the " + std::to_string(reservedBytes) +
                              " bytes held already (other pictures, or the bytes of a picture being read)");
    reservedBytes += Bytes;
    ++heldByThisThread;
}

TPictureMemory::~TPictureMemory() {
    {
        const std::lock_guard lock(reservedMutex);
        reservedBytes -= FBytes;
        --heldByThisThread;
    }
    reservedReleased.notify_all();
}
