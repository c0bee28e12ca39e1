// JPEG decoding through libjpeg's own interface, whose decoder can start partway down a picture: a large
// single-scan picture is decoded in two parts on two threads.
#include "ByteOrder.h"
#include "ImageMetadata.h"
#include "JpegCodec.h"
#include <pictura/SysUtils.h>

#include "LibJpegFailure.h"

#include <jerror.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Where a lower part starts when the picture has restart markers: at the one that starts row Row (a
// restart interval's first), with Head (the file's headers, the frame's height counted from Row) before
// the data from that marker on (Tail); the markers in it are renumbered as if the scan started there.
struct TRestartStart {
    std::string Head;
    const uint8_t* Tail = nullptr; // preceded by its marker's bytes
    size_t TailSize = 0;
    int Shift = 0; // marker numbers to take off
    int Row = 0;
};

// libjpeg's source for a lower part that starts at a restart marker: the head, then the tail in pieces,
// each copied with its markers renumbered.
struct TRestartSource {
    jpeg_source_mgr Manager;
    const TRestartStart* Start;
    size_t Served;
    bool HeadServed;
    JOCTET* Buffer;
};

boolean FillRestartSource(j_decompress_ptr Info);

// A lower part that starts at a restart marker sees the markers renumbered: its messages name them as
// they are in the file.
void NameMarkersAsInTheFile(j_common_ptr Info, int Shift) {
    const auto original = [Shift](int Marker) {
        return Marker >= JPEG_RST0 && Marker <= JPEG_RST0 + 7 ? JPEG_RST0 + ((Marker - JPEG_RST0 + Shift) & 7)
                                                              : Marker;
    };
    int* parameters = Info->err->msg_parm.i;
    if (Info->err->msg_code == JWRN_EXTRANEOUS_DATA) parameters[1] = original(parameters[1]);
    if (Info->err->msg_code == JWRN_MUST_RESYNC) {
        parameters[0] = original(parameters[0]);
        parameters[1] = (parameters[1] + Shift) & 7;
    }
}

[[noreturn]] void FailDecoding(j_common_ptr Info) {
    const auto decompress = reinterpret_cast<j_decompress_ptr>(Info);
    if (Info->is_decompressor && decompress->src && decompress->src->fill_input_buffer == FillRestartSource)
        NameMarkersAsInTheFile(Info, reinterpret_cast<TRestartSource*>(decompress->src)->Start->Shift);
    FailLibJpeg(Info);
}

// What the header tells, and why a part failed (Failed, Reason).
struct TPartResult {
    bool Failed = false;
    bool MultipleScans = false;
    int RowsPerGroup = 8;         // the rows libjpeg decodes at once (an MCU's height)
    unsigned RestartInterval = 0; // MCUs
    unsigned McusPerRow = 0;      // MCUs a row group
    size_t ScanDataAt = 0;        // where the first scan's entropy-coded data starts
    char Reason[JMSG_LENGTH_MAX] = {};
};

constexpr size_t RestartSourcePiece = 1 << 16;

void NoSourceAction(j_decompress_ptr) {}

boolean FillRestartSource(j_decompress_ptr Info) {
    auto* source = reinterpret_cast<TRestartSource*>(Info->src);
    const TRestartStart& start = *source->Start;
    if (!source->HeadServed) {
        source->HeadServed = true;
        source->Manager.next_input_byte = reinterpret_cast<const JOCTET*>(start.Head.data());
        source->Manager.bytes_in_buffer = start.Head.size();
        return TRUE;
    }
    if (source->Served >= start.TailSize) {
        // As libjpeg's memory source does: the data ends without its end marker.
        static const JOCTET end[] = {0xFF, JPEG_EOI};
        WARNMS(Info, JWRN_JPEG_EOF);
        source->Manager.next_input_byte = end;
        source->Manager.bytes_in_buffer = 2;
        return TRUE;
    }
    const size_t count = std::min(RestartSourcePiece, start.TailSize - source->Served);
    const uint8_t* from = start.Tail + source->Served;
    std::memcpy(source->Buffer, from, count);
    for (size_t i = 0; i < count; ++i) // from[-1] is at worst the starting marker's own byte
        if (from[ptrdiff_t(i) - 1] == 0xFF && from[i] >= JPEG_RST0 && from[i] <= JPEG_RST0 + 7)
            source->Buffer[i] = JOCTET(JPEG_RST0 + ((from[i] - JPEG_RST0 - start.Shift) & 7));
    source->Served += count;
    source->Manager.next_input_byte = source->Buffer;
    source->Manager.bytes_in_buffer = count;
    return TRUE;
}

void SkipRestartSource(j_decompress_ptr Info, long Count) {
    jpeg_source_mgr* source = Info->src;
    while (Count > long(source->bytes_in_buffer)) {
        Count -= long(source->bytes_in_buffer);
        source->fill_input_buffer(Info);
    }
    if (Count > 0) {
        source->next_input_byte += Count;
        source->bytes_in_buffer -= size_t(Count);
    }
}

// Decodes the rows First..End-1 of JPEG Data into the rows of Bits (Stride bytes apart) as BGR or grey.
// From the top, or from a restart marker (Restart, whose first row group only gives the context of the
// next and is dropped), or else entropy-decoding the rows above First without making their pixels. The
// part that ends at the bottom reads the data to its end, so that damage anywhere refuses the picture.
// Waits for Ready (when given) before it writes a row. With Bits null, reads the header into Result
// only. Nothing with a destructor lives here: libjpeg's errors come back by longjmp.
void DecodeRows(const uint8_t* Data, size_t Size, bool Grey, uint8_t* Bits, size_t Stride, int First, int End,
                const TRestartStart* Restart, const std::atomic<bool>* Ready, TPartResult& Result) noexcept {
    jpeg_decompress_struct info;
    TLibJpegFailure failure;
    TRestartSource source;
    info.err = LibJpegFailureManager(failure, FailDecoding);
    jpeg_create_decompress(&info);
    if (setjmp(failure.Back)) {
        Result.Failed = true;
        std::memcpy(Result.Reason, failure.Reason, sizeof Result.Reason);
        jpeg_destroy_decompress(&info);
        return;
    }
    if (Restart) {
        source.Manager.init_source = NoSourceAction;
        source.Manager.fill_input_buffer = FillRestartSource;
        source.Manager.skip_input_data = SkipRestartSource;
        source.Manager.resync_to_restart = jpeg_resync_to_restart;
        source.Manager.term_source = NoSourceAction;
        source.Manager.bytes_in_buffer = 0;
        source.Manager.next_input_byte = nullptr;
        source.Start = Restart;
        source.Served = 0;
        source.HeadServed = false;
        source.Buffer = static_cast<JOCTET*>(info.mem->alloc_small(reinterpret_cast<j_common_ptr>(&info),
                                                                   JPOOL_PERMANENT, RestartSourcePiece));
        info.src = &source.Manager;
    } else {
        jpeg_mem_src(&info, Data, static_cast<unsigned long>(Size));
    }
    jpeg_read_header(&info, TRUE);
    Result.MultipleScans = jpeg_has_multiple_scans(&info);
    Result.RowsPerGroup = info.max_v_samp_factor * DCTSIZE;
    Result.RestartInterval = info.restart_interval;
    // A restart interval counts MCUs: in a scan of one component, its blocks, v_samp_factor rows of them
    // to a row group; else one MCU a row group's height.
    if (info.comps_in_scan == 1) {
        const jpeg_component_info* c = info.cur_comp_info[0];
        const unsigned across =
            (info.image_width * unsigned(c->h_samp_factor) + unsigned(info.max_h_samp_factor) - 1) /
            unsigned(info.max_h_samp_factor);
        Result.McusPerRow = (across + DCTSIZE - 1) / DCTSIZE * unsigned(c->v_samp_factor);
    } else {
        Result.McusPerRow = (info.image_width + unsigned(info.max_h_samp_factor) * DCTSIZE - 1) /
                            (unsigned(info.max_h_samp_factor) * DCTSIZE);
    }
    if (!Restart) Result.ScanDataAt = size_t(info.src->next_input_byte - Data);
    if (Bits) {
        const int offset = Restart ? Restart->Row : 0;
        info.out_color_space = Grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
        jpeg_start_decompress(&info);
        if (!Restart && First > 0) jpeg_skip_scanlines(&info, JDIMENSION(First));
        const JSAMPARRAY dropped =
            info.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                   info.output_width * JDIMENSION(info.output_components), 1);
        if (Ready) Ready->wait(false);
        while (offset + int(info.output_scanline) < End) {
            JSAMPROW rows[16];
            const int at = offset + int(info.output_scanline), count = std::min(16, End - at);
            for (int i = 0; i < count; ++i)
                rows[i] = at + i < First ? dropped[0] : Bits + size_t(at + i) * Stride;
            jpeg_read_scanlines(&info, rows, JDIMENSION(count));
        }
        if (info.output_scanline == info.output_height) jpeg_finish_decompress(&info);
    }
    jpeg_destroy_decompress(&info);
}

// Makes the Size bytes at Start present in memory, as writing them would, without changing them (where
// the system can: else nothing happens), so that the thread that writes them first does not stop at each
// new page. From the end, a few MiB at a time: a thread that zeroes the memory from the start meanwhile
// meets this one wherever their speeds make them meet, and each has made its part present.
void Prefault(uint8_t* Start, size_t Size) {
    const auto page = uintptr_t(sysconf(_SC_PAGESIZE));
    constexpr uintptr_t piece = uintptr_t(4) << 20;
    const uintptr_t begin = (uintptr_t(Start) + page - 1) & ~(page - 1);
    for (uintptr_t end = (uintptr_t(Start) + Size) & ~(page - 1); end > begin;) {
        const uintptr_t from = end - std::min(end - begin, piece);
        madvise(reinterpret_cast<void*>(from), end - from, MADV_POPULATE_WRITE);
        end = from;
    }
}

// Pictures of fewer pixels are decoded on one thread: a second one would not pay for itself.
constexpr int64_t SplitDecodingPixels = int64_t(1) << 20;

// The offset of the frame header (SOFn) in the headers of Data, which libjpeg read up to ScanDataAt.
std::optional<size_t> FrameAt(const uint8_t* Data, size_t ScanDataAt) {
    for (size_t i = 2; i + 4 <= ScanDataAt;) {
        if (Data[i] != 0xFF) return std::nullopt;
        const uint8_t marker = Data[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) return i;
        i += 2 + BigEndian16(Data + i + 2);
    }
    return std::nullopt;
}

// The most header bytes a lower part copies to start at a restart marker; after longer headers it starts
// by entropy-decoding the upper part's rows instead.
constexpr size_t MaxRestartHead = size_t(1) << 20;

// The restart marker nearest the middle of a Height-row picture whose restart intervals are whole rows
// of MCUs, for a lower part to start from (its first row group the context of the next), or nothing.
std::optional<TRestartStart> RestartNearTheMiddle(const uint8_t* Data, size_t Size, const TPartResult& Header,
                                                  int Height) {
    if (Header.RestartInterval == 0 || Header.McusPerRow == 0 || Header.ScanDataAt > MaxRestartHead ||
        Header.RestartInterval % Header.McusPerRow != 0)
        return std::nullopt;
    const int rowsPerInterval = int(Header.RestartInterval / Header.McusPerRow) * Header.RowsPerGroup;
    const int wanted = std::max(1, (Height / 2 + rowsPerInterval / 2) / rowsPerInterval);
    if (int64_t(wanted) * rowsPerInterval + Header.RowsPerGroup >= Height) return std::nullopt;
    const std::optional<size_t> frame = FrameAt(Data, Header.ScanDataAt);
    if (!frame || *frame + 9 > Header.ScanDataAt) return std::nullopt;
    int found = 0;
    for (size_t i = Header.ScanDataAt; i + 1 < Size; ++i) {
        const auto* ff = static_cast<const uint8_t*>(std::memchr(Data + i, 0xFF, Size - 1 - i));
        if (!ff) break;
        i = size_t(ff - Data);
        if (Data[i + 1] == 0x00 || Data[i + 1] == 0xFF) continue;
        if (Data[i + 1] < JPEG_RST0 || Data[i + 1] > JPEG_RST0 + 7) return std::nullopt; // the scan ended
        if (++found < wanted) continue;
        TRestartStart start;
        start.Row = wanted * rowsPerInterval;
        start.Head.assign(reinterpret_cast<const char*>(Data), Header.ScanDataAt);
        const int rows = Height - start.Row;
        start.Head[*frame + 5] = char(rows >> 8);
        start.Head[*frame + 6] = char(rows);
        start.Tail = Data + i + 2;
        start.TailSize = Size - i - 2;
        start.Shift = wanted % 8;
        return start;
    }
    return std::nullopt;
}

} // namespace

void DecodeJpeg(const uint8_t* Data, size_t Size, TDibImage& Into, TPictureMetadata& Metadata, int Parts) {
    int width = 0, height = 0;
    bool grey = false;
    if (!FastJpegHeader(Data, Size, width, height, grey))
        throw EInvalidGraphic("the JPEG header cannot be read");
    TPartResult header;
    DecodeRows(Data, Size, grey, nullptr, 0, 0, 0, nullptr, nullptr, header);
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
    if (Parts <= 0)
        Parts =
            int64_t(width) * height >= SplitDecodingPixels && std::thread::hardware_concurrency() > 1 ? 2 : 1;
    // A progressive or multi-scan JPEG is decoded whole before its first row comes out: one part only.
    // The lower part starts at a restart marker near the middle where there is one; else half way, after
    // entropy-decoding the rows above.
    const bool split = Parts > 1 && !header.MultipleScans && height >= 4 * header.RowsPerGroup;
    const std::optional<TRestartStart> restart =
        split ? RestartNearTheMiddle(Data, Size, header, height) : std::nullopt;
    const int lowerFirst = !split    ? height
                           : restart ? restart->Row + header.RowsPerGroup
                                     : height / 2 / header.RowsPerGroup * header.RowsPerGroup;
    // The lower part makes the bitmap's memory present from the bottom while it is zeroed from the top,
    // then waits for it.
    std::atomic<bool> ready{false};
    TPartResult upper, lower;
    std::thread lowerPart;
    if (split) try {
            lowerPart = std::thread([&] {
                Prefault(bits, stride * size_t(height));
                DecodeRows(Data, Size, grey, bits, stride, lowerFirst, height, restart ? &*restart : nullptr,
                           &ready, lower);
            });
        } catch (const std::system_error&) {
        }
    dib.Bits.resize(stride * size_t(height));
    ready = true;
    ready.notify_all();
    DecodeRows(Data, Size, grey, bits, stride, 0, lowerPart.joinable() ? lowerFirst : height, nullptr,
               nullptr, upper);
    if (lowerPart.joinable()) lowerPart.join();
    // Between them the parts read all the data, each what one decoder of the whole would have at that
    // point: either names the damage, the upper one first, as one decoder would.
    const TPartResult& failed = upper.Failed ? upper : lower;
    if (failed.Failed) throw EInvalidGraphic(std::string("the JPEG data is damaged (") + failed.Reason + ")");
    ReadJpegMetadata(Data, Size, Metadata);
    Into = std::move(dib);
}
