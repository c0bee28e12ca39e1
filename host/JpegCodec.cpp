#include "JpegCodec.h"

#include "ImageMetadata.h"
#include "PixelConversion.h"
#include <pictura/SysUtils.h>

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstring>
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
    std::string Error() const { return tjGetErrorStr2(FHandle); }

private:
    tjhandle FHandle;
};

int HardwareThreads() {
    return std::max(1, int(std::thread::hardware_concurrency()));
}

// ---- Decoding: libjpeg's own interface, which can start a decoder partway down the picture.

// libjpeg's error manager with the way back to the decoding call and the reason it failed.
struct TDecodeFailure {
    jpeg_error_mgr Manager;
    std::jmp_buf Back;
    char Reason[JMSG_LENGTH_MAX];
};

[[noreturn]] void FailDecoding(j_common_ptr Info) {
    auto* failure = reinterpret_cast<TDecodeFailure*>(Info->err);
    Info->err->format_message(Info, failure->Reason);
    std::longjmp(failure->Back, 1);
}

// A warning is damaged or missing data that libjpeg would fill in with invented pixels: it refuses the
// picture too. Other messages are traces, and nothing is printed.
void DecoderMessage(j_common_ptr Info, int Level) {
    if (Level < 0) FailDecoding(Info);
}

// What one part of a decoding found: whether the picture has more than one scan (the header), and why it
// failed (empty when it did not).
struct TPartResult {
    bool Failed = false;
    bool MultipleScans = false;
    int RowsPerGroup = 8; // the rows libjpeg decodes at once (the MCU's height)
    char Reason[JMSG_LENGTH_MAX] = {};
};

// Decodes the rows First..End-1 of JPEG Data into the rows of Bits (Stride bytes apart) as BGR or grey;
// the rows above First are entropy-decoded only (their data checked, no pixels made). The part that ends
// at the bottom reads the data to its end, so that damage anywhere refuses the picture. Waits for Ready
// (when given) before it writes a row. With Bits null, reads the header into Result only. Nothing with a
// destructor lives here: libjpeg's errors come back by longjmp.
void DecodeRows(const uint8_t* Data, size_t Size, bool Grey, uint8_t* Bits, size_t Stride, int First, int End,
                const std::atomic<bool>* Ready, TPartResult& Result) noexcept {
    jpeg_decompress_struct info;
    TDecodeFailure failure;
    info.err = jpeg_std_error(&failure.Manager);
    failure.Manager.error_exit = FailDecoding;
    failure.Manager.emit_message = DecoderMessage;
    jpeg_create_decompress(&info);
    if (setjmp(failure.Back)) {
        Result.Failed = true;
        std::memcpy(Result.Reason, failure.Reason, sizeof Result.Reason);
        jpeg_destroy_decompress(&info);
        return;
    }
    jpeg_mem_src(&info, Data, static_cast<unsigned long>(Size));
    jpeg_read_header(&info, TRUE);
    Result.MultipleScans = jpeg_has_multiple_scans(&info);
    Result.RowsPerGroup = info.max_v_samp_factor * DCTSIZE;
    if (Bits) {
        info.out_color_space = Grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
        jpeg_start_decompress(&info);
        if (First > 0) jpeg_skip_scanlines(&info, JDIMENSION(First));
        if (Ready) Ready->wait(false);
        while (int(info.output_scanline) < End) {
            JSAMPROW rows[16];
            const int count = std::min(16, End - int(info.output_scanline));
            for (int i = 0; i < count; ++i)
                rows[i] = Bits + (size_t(info.output_scanline) + size_t(i)) * Stride;
            jpeg_read_scanlines(&info, rows, JDIMENSION(count));
        }
        if (info.output_scanline == info.output_height) jpeg_finish_decompress(&info);
    }
    jpeg_destroy_decompress(&info);
}

// Pictures of fewer pixels are decoded on one thread: a second one would not pay for itself.
constexpr int64_t SplitDecodingPixels = int64_t(1) << 20;

// The first row of the lower part when a picture of Height rows decoded RowsPerGroup rows at a time is
// decoded in two: its upper part decodes the rows above, the lower part's decoder entropy-decodes those
// same rows without making their pixels, then decodes its own. Half way: the upper part first waits for
// the bitmap's memory, while the lower one reads through the upper part's data.
int SplitRow(int Height, int RowsPerGroup) {
    return Height / 2 / RowsPerGroup * RowsPerGroup;
}

// ---- Encoding: TurboJPEG, in horizontal strips joined by restart markers.

// The offset of the first segment with Marker in a JPEG TurboJPEG made (its headers are whole), up to
// its first scan's header.
size_t SegmentAt(const unsigned char* Jpeg, size_t Size, uint8_t Marker) {
    for (size_t i = 2; i + 4 <= Size;) {
        if (Jpeg[i + 1] == Marker) return i;
        if (Jpeg[i + 1] == 0xDA) break;
        i += 2 + (size_t(Jpeg[i + 2]) << 8 | Jpeg[i + 3]);
    }
    throw EInvalidGraphic("the JPEG encoder made no segment " + std::to_string(Marker));
}

// Where the entropy-coded data starts: after the scan's header.
size_t ScanDataAt(const unsigned char* Jpeg, size_t Size) {
    const size_t scan = SegmentAt(Jpeg, Size, 0xDA);
    return scan + 2 + (size_t(Jpeg[scan + 2]) << 8 | Jpeg[scan + 3]);
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

void PutBigEndian16(std::string& Out, size_t Value) {
    Out += char(Value >> 8);
    Out += char(Value);
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
    PutBigEndian16(out, size_t(McusPerStrip));
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

void DecodeJpeg(const uint8_t* Data, size_t Size, TDibImage& Into, TPictureMetadata& Metadata, int Parts) {
    int width = 0, height = 0;
    bool grey = false;
    if (!FastJpegHeader(Data, Size, width, height, grey))
        throw EInvalidGraphic("the JPEG header cannot be read");
    TPartResult header;
    DecodeRows(Data, Size, grey, nullptr, 0, 0, 0, nullptr, header);
    if (header.Failed) throw EInvalidGraphic(std::string("the JPEG data is damaged (") + header.Reason + ")");
    TDibImage dib;
    dib.Width = width;
    dib.Height = height;
    dib.Format = grey ? pf8bit : pf24bit;
    if (grey) {
        dib.Palette.resize(256);
        for (uint32_t i = 0; i < 256; ++i)
            dib.Palette[i] = 0xFF000000u | i * 0x010101u;
    }
    const size_t stride = dib.Stride();
    dib.Bits.reserve(stride * size_t(height)); // resized below: the rows stay where they are
    uint8_t* const bits = dib.Bits.data();
    // A progressive or multi-scan JPEG is decoded whole before its first row comes out: one part only.
    if (Parts <= 0)
        Parts = int64_t(width) * height >= SplitDecodingPixels ? std::min(2, HardwareThreads()) : 1;
    const int split = Parts > 1 && !header.MultipleScans ? SplitRow(height, header.RowsPerGroup) : 0;
    // The lower part reads through the upper part's data while the bitmap's memory is made.
    std::atomic<bool> ready{false};
    TPartResult upper, lower;
    std::thread lowerPart;
    if (split > 0) try {
            lowerPart = std::thread(
                [&] { DecodeRows(Data, Size, grey, bits, stride, split, height, &ready, lower); });
        } catch (const std::system_error&) {
        }
    dib.Bits.resize(stride * size_t(height));
    ready = true;
    ready.notify_all();
    DecodeRows(Data, Size, grey, bits, stride, 0, lowerPart.joinable() ? split : height, nullptr, upper);
    if (lowerPart.joinable()) lowerPart.join();
    // The lower part reads all the data the upper one does: either names the damage.
    const TPartResult& failed = upper.Failed ? upper : lower;
    if (failed.Failed) throw EInvalidGraphic(std::string("the JPEG data is damaged (") + failed.Reason + ")");
    ReadJpegMetadata(Data, Size, Metadata);
    Into = std::move(dib);
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
