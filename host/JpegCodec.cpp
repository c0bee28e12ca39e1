#include "JpegCodec.h"
#include "ByteOrder.h"

#include "ImageMetadata.h"
#include "PixelConversion.h"
#include <pictura/SysUtils.h>

#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

// A TurboJPEG handle, destroyed on every way out.
class THandle {
public:
    explicit THandle(tjhandle Handle) : FHandle(Handle) {
        if (!FHandle) throw std::bad_alloc();
    }
    ~THandle() { tjDestroy(FHandle); }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    tjhandle Get() const { return FHandle; }

private:
    tjhandle FHandle;
};

int HardwareThreads() {
    return std::max(1, int(std::thread::hardware_concurrency()));
}

// Encoding: TurboJPEG, in horizontal strips joined by restart markers.

// The offset of the first segment with Marker in a JPEG TurboJPEG made (its headers are whole), up to
// its first scan's header.
size_t SegmentAt(const unsigned char* Jpeg, size_t Size, uint8_t Marker) {
    for (size_t i = 2; i + 4 <= Size;) {
        if (Jpeg[i + 1] == Marker) return i;
        if (Jpeg[i + 1] == 0xDA) break;
        i += 2 + BigEndian16(Jpeg + i + 2);
    }
    throw EInvalidGraphic("the JPEG encoder made no segment " + std::to_string(Marker));
}

// Where the entropy-coded data starts: after the scan's header.
size_t ScanDataAt(const unsigned char* Jpeg, size_t Size) {
    const size_t scan = SegmentAt(Jpeg, Size, 0xDA);
    return scan + 2 + BigEndian16(Jpeg + scan + 2);
}

// A JPEG TurboJPEG made, freed on every way out.
struct TCompressed {
    unsigned char* Data = nullptr;
    unsigned long Size = 0;
    TCompressed() = default;
    TCompressed(TCompressed&& Other) noexcept { *this = std::move(Other); }
    TCompressed& operator=(TCompressed&& Other) noexcept {
        std::swap(Data, Other.Data);
        std::swap(Size, Other.Size);
        return *this;
    }
    ~TCompressed() { tjFree(Data); }
};

// How the encoder takes the picture's rows.
struct TEncoding {
    const TDibImage& Image;
    int PixelFormat;
    int Subsampling;
    int Quality;
};

// Rows First..End-1 compressed as a JPEG of their own.
TCompressed CompressRows(tjhandle Handle, const TEncoding& How, int First, int End) {
    TCompressed out;
    // The accurate (integer) DCT: TurboJPEG's default, the fast one, loses more detail and makes larger
    // files.
    if (tjCompress2(Handle, How.Image.Row(First), How.Image.Width, int(How.Image.Stride()), End - First,
                    How.PixelFormat, &out.Data, &out.Size, How.Subsampling, How.Quality,
                    TJFLAG_ACCURATEDCT) != 0)
        throw EInvalidGraphic(std::string("the JPEG encoder refused the picture (") + tjGetErrorStr2(Handle) +
                              ")");
    return out;
}

// Largest restart interval a JPEG can state, in MCUs.
constexpr int MaxRestartInterval = 65535;
// About this many pixels make a strip: a few strips for each of a few threads in a large picture.
constexpr int64_t StripPixels = int64_t(1) << 23;

// MCU rows per strip of a Width-pixel picture: from its size alone (never from the threads), so that the
// file's bytes are the same on every machine, and at most a restart interval's worth.
int McuRowsPerStrip(int Width, int McuWidth, int McuHeight) {
    const int64_t mcusPerRow = (int64_t(Width) + McuWidth - 1) / McuWidth;
    const int64_t bySize = StripPixels / (mcusPerRow * McuWidth * McuHeight);
    return int(std::clamp<int64_t>(bySize, 1, MaxRestartInterval / mcusPerRow));
}

// The strips compressed on up to Threads threads, each with its own handle, in order.
std::vector<TCompressed> CompressStrips(const TEncoding& How, int RowsPerStrip, int Threads) {
    const int strips = (How.Image.Height + RowsPerStrip - 1) / RowsPerStrip;
    std::vector<TCompressed> done(static_cast<size_t>(strips));
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    std::atomic_flag failed = ATOMIC_FLAG_INIT;
    const auto work = [&]() noexcept {
        try {
            const THandle handle(tjInitCompress());
            for (int i = next++; i < strips && !stop; i = next++)
                done[size_t(i)] = CompressRows(handle.Get(), How, i * RowsPerStrip,
                                               std::min(How.Image.Height, (i + 1) * RowsPerStrip));
        } catch (...) {
            stop = true;
            if (!failed.test_and_set()) failure = std::current_exception();
        }
    };
    std::vector<std::thread> workers;
    try {
        for (int t = 1; t < std::min(Threads, strips); ++t)
            workers.emplace_back(work);
    } catch (const std::system_error&) {
        // no more threads: the ones made do the work
    }
    work();
    for (std::thread& worker : workers)
        worker.join();
    if (failure) std::rethrow_exception(failure);
    return done;
}

// One JPEG of the whole picture from its strips' JPEGs (tables and headers alike): the first strip's
// headers with the picture's height and a restart interval of one strip, then each strip's entropy-coded
// data, the strips separated by restart markers. A decoder resets its DC predictions at each marker, as
// each strip's encoder started from zero, so the data is that of one JPEG of every row.
std::string JoinStrips(const std::vector<TCompressed>& Strips, int Height, int McusPerStrip) {
    const TCompressed& first = Strips.front();
    if (Strips.size() == 1) return std::string(reinterpret_cast<const char*>(first.Data), first.Size);
    const size_t scanAt = SegmentAt(first.Data, first.Size, 0xDA);
    std::string out(reinterpret_cast<const char*>(first.Data), scanAt);
    // The frame header (baseline: marker, length, precision, then the height).
    const size_t frameAt = SegmentAt(first.Data, first.Size, 0xC0);
    out[frameAt + 5] = char(Height >> 8);
    out[frameAt + 6] = char(Height);
    out += "\xFF\xDD";
    PutBigEndian16(out, 4);
    PutBigEndian16(out, uint16_t(McusPerStrip));
    for (size_t i = 0; i < Strips.size(); ++i) {
        const TCompressed& strip = Strips[i];
        const size_t dataAt = ScanDataAt(strip.Data, strip.Size);
        if (i == 0)
            out.append(reinterpret_cast<const char*>(strip.Data) + scanAt, dataAt - scanAt);
        else {
            out += char(0xFF);
            out += char(0xD0 + (i - 1) % 8);
        }
        out.append(reinterpret_cast<const char*>(strip.Data) + dataAt, strip.Size - 2 - dataAt);
    }
    out += "\xFF\xD9";
    return out;
}

} // namespace

bool FastJpegHeader(const uint8_t* Data, size_t Size, int& Width, int& Height, bool& Grey) {
    const THandle handle(tjInitDecompress());
    int subsampling = 0, colourSpace = 0;
    if (tjDecompressHeader3(handle.Get(), Data, static_cast<unsigned long>(Size), &Width, &Height,
                            &subsampling, &colourSpace) != 0)
        return false;
    Grey = colourSpace == TJCS_GRAY;
    return colourSpace == TJCS_GRAY || colourSpace == TJCS_YCbCr || colourSpace == TJCS_RGB;
}

bool IsFastJpegFormat(const TDibImage& Image) {
    return Image.Format == pf24bit || Image.Format == pf32bit || Image.Format == pfDevice ||
           (Image.Format == pf8bit && IsGreyRamp(Image.Palette));
}

std::string EncodeJpeg(const TDibImage& Image, const TPictureMetadata& Metadata, int Quality, int Threads,
                       int McuRows) {
    const bool indexedGrey = Image.Format == pf8bit;
    // Red, green and blue equal make a luminance equal to them, exactly, and no colour.
    const bool grey = indexedGrey || AllGrey(Image);
    const TEncoding how{Image,
                        indexedGrey               ? TJPF_GRAY
                        : Image.Format == pf24bit ? TJPF_BGR
                                                  : TJPF_BGRX,
                        grey ? TJSAMP_GRAY : TJSAMP_420, Quality < 0 ? 75 : Quality};
    const int mcuWidth = tjMCUWidth[how.Subsampling], mcuHeight = tjMCUHeight[how.Subsampling];
    if (McuRows <= 0) McuRows = McuRowsPerStrip(Image.Width, mcuWidth, mcuHeight);
    McuRows = std::min(McuRows, MaxRestartInterval / ((Image.Width + mcuWidth - 1) / mcuWidth));
    const int rowsPerStrip = std::max(1, McuRows) * mcuHeight;
    const std::vector<TCompressed> strips =
        CompressStrips(how, rowsPerStrip, Threads > 0 ? Threads : std::min(8, HardwareThreads()));
    const std::string joined =
        JoinStrips(strips, Image.Height, std::max(1, McuRows) * ((Image.Width + mcuWidth - 1) / mcuWidth));
    return WithJpegMetadata(reinterpret_cast<const uint8_t*>(joined.data()), joined.size(), Metadata);
}
