#include "JpegCodec.h"
#include "ByteOrder.h"

#include "ImageMetadata.h"
#include "JpegHuffman.h"
#include "LibJpegFailure.h"
#include "PixelConversion.h"
#include "StripsInOrder.h"
#include <pictura/SysUtils.h>

#include <turbojpeg.h>

#include <jerror.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>
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

// Encoding: libjpeg, in horizontal strips joined by restart markers.

// The offset of the first segment with Marker in a JPEG libjpeg made (its headers are whole), up to
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

// How the encoder takes the picture's rows.
struct TEncoding {
    const TDibImage& Image;
    J_COLOR_SPACE InSpace; // grey, BGR or BGRX
    bool Grey;
    int Quality;
};

// libjpeg's destination: a string that grows as the data comes.
struct TStringDestination {
    jpeg_destination_mgr Manager;
    std::string* Out;
};

constexpr size_t DestinationPiece = 1 << 16;

void StartString(j_compress_ptr Info) {
    auto* destination = reinterpret_cast<TStringDestination*>(Info->dest);
    bool grown = true;
    try {
        destination->Out->resize(DestinationPiece);
    } catch (const std::bad_alloc&) {
        grown = false;
    }
    if (!grown) ERREXIT(Info, JERR_OUT_OF_MEMORY);
    destination->Manager.next_output_byte = reinterpret_cast<JOCTET*>(destination->Out->data());
    destination->Manager.free_in_buffer = destination->Out->size();
}

boolean GrowString(j_compress_ptr Info) {
    auto* destination = reinterpret_cast<TStringDestination*>(Info->dest);
    std::string& out = *destination->Out;
    const size_t used = out.size();
    bool grown = true;
    try {
        out.resize(used + std::max(used, DestinationPiece));
    } catch (const std::bad_alloc&) {
        grown = false;
    }
    if (!grown) ERREXIT(Info, JERR_OUT_OF_MEMORY);
    destination->Manager.next_output_byte = reinterpret_cast<JOCTET*>(out.data() + used);
    destination->Manager.free_in_buffer = out.size() - used;
    return TRUE;
}

void EndString(j_compress_ptr Info) {
    auto* destination = reinterpret_cast<TStringDestination*>(Info->dest);
    destination->Out->resize(destination->Out->size() - destination->Manager.free_in_buffer);
}

void UseTable(JHUFF_TBL* Into, const TJpegHuffmanTable& Table) {
    std::memcpy(Into->bits, Table.Bits, sizeof Table.Bits);
    std::memcpy(Into->huffval, Table.Values, sizeof Table.Values);
    Into->sent_table = FALSE;
}

// The rows Rows (of How's picture, wherever they lie) compressed as a JPEG of their own, with Tables, else
// with the Huffman tables best for these rows (Optimal: libjpeg counts their symbols on a second pass over
// their coefficients) or the standard ones. The accurate (integer) DCT: the fast one loses more detail and
// makes larger files.
std::string CompressRows(const TEncoding& How, const std::vector<const uint8_t*>& Rows,
                         const TJpegHuffmanTables* Tables, bool Optimal) {
    std::string out;
    jpeg_compress_struct info;
    TLibJpegFailure failure;
    TStringDestination destination{{}, &out};
    info.err = LibJpegFailureManager(failure);
    jpeg_create_compress(&info);
    const bool done = RunLibJpeg(reinterpret_cast<j_common_ptr>(&info), failure, [&] {
        destination.Manager.init_destination = StartString;
        destination.Manager.empty_output_buffer = GrowString;
        destination.Manager.term_destination = EndString;
        info.dest = &destination.Manager;
        info.image_width = JDIMENSION(How.Image.Width);
        info.image_height = JDIMENSION(Rows.size());
        info.in_color_space = How.InSpace;
        info.input_components = How.InSpace == JCS_GRAYSCALE ? 1 : How.InSpace == JCS_EXT_BGR ? 3 : 4;
        jpeg_set_defaults(&info);
        if (How.Grey) jpeg_set_colorspace(&info, JCS_GRAYSCALE); // else YCbCr, its luminance at 2 x 2: 4:2:0
        jpeg_set_quality(&info, How.Quality, TRUE);
        info.dct_method = JDCT_ISLOW;
        info.optimize_coding = Tables == nullptr && Optimal;
        if (Tables)
            for (int t = 0; t < 2; ++t) {
                UseTable(info.dc_huff_tbl_ptrs[t], Tables->Dc[t]);
                UseTable(info.ac_huff_tbl_ptrs[t], Tables->Ac[t]);
            }
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            const JDIMENSION at = info.next_scanline;
            // libjpeg takes row pointers to samples it may not change, but declares them writable.
            jpeg_write_scanlines(&info, const_cast<JSAMPARRAY>(Rows.data() + at), info.image_height - at);
        }
        jpeg_finish_compress(&info);
    });
    if (!done)
        throw EInvalidGraphic(std::string("the JPEG encoder refused the picture (") + failure.Reason + ")");
    return out;
}

std::vector<const uint8_t*> RowsOf(const TDibImage& Image, int First, int End) {
    std::vector<const uint8_t*> rows;
    rows.reserve(size_t(End - First));
    for (int y = First; y < End; ++y)
        rows.push_back(Image.Row(y));
    return rows;
}

// About this many pixels of a picture's rows make the sample its Huffman tables are counted from.
constexpr int64_t SamplePixels = int64_t(1) << 21;

// Tables for the picture from a sample of whole MCU rows spread evenly down it (every one in a small
// picture): one JPEG of those rows, encoded with the standard tables and counted.
TJpegHuffmanTables TablesForPicture(const TEncoding& How, int McuHeight) {
    const int mcuRows = (How.Image.Height + McuHeight - 1) / McuHeight;
    const int64_t mcuRowPixels = int64_t(How.Image.Width) * McuHeight;
    const int every = int(std::clamp<int64_t>(int64_t(mcuRows) * mcuRowPixels / SamplePixels, 1, mcuRows));
    std::vector<const uint8_t*> rows;
    for (int mcuRow = every / 2; mcuRow < mcuRows; mcuRow += every)
        for (int y = mcuRow * McuHeight; y < std::min(How.Image.Height, (mcuRow + 1) * McuHeight); ++y)
            rows.push_back(How.Image.Row(y));
    TJpegSymbolCounts counts;
    CountJpegSymbols(CompressRows(How, rows, nullptr, false), counts);
    return TablesForCounts(counts);
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

// One JPEG of the whole picture, its strips compressed on up to Threads threads with the same Tables and
// joined as they come: the first strip's headers with the picture's height and a restart interval of one
// strip, then each strip's entropy-coded data, the strips separated by restart markers. A decoder resets
// its DC predictions at each marker, as each strip's encoder started from zero, so the data is that of one
// JPEG of every row.
std::string CompressAndJoinStrips(const TEncoding& How, const TJpegHuffmanTables& Tables, int RowsPerStrip,
                                  int McusPerStrip, int Threads) {
    const auto bytes = [](const std::string& Strip) {
        return reinterpret_cast<const unsigned char*>(Strip.data());
    };
    std::string out;
    MakeInOrder<std::string>(
        (How.Image.Height + RowsPerStrip - 1) / RowsPerStrip, Threads,
        [&](int I) {
            return CompressRows(
                How, RowsOf(How.Image, I * RowsPerStrip, std::min(How.Image.Height, (I + 1) * RowsPerStrip)),
                &Tables, false);
        },
        [&](int I, std::string& Strip) {
            const size_t dataAt = ScanDataAt(bytes(Strip), Strip.size());
            if (I == 0) {
                out = Strip.substr(0, dataAt);
                // The frame header (baseline: marker, length, precision, then the height).
                const size_t frameAt = SegmentAt(bytes(Strip), Strip.size(), 0xC0);
                out[frameAt + 5] = char(How.Image.Height >> 8);
                out[frameAt + 6] = char(How.Image.Height);
                std::string interval = "\xFF\xDD";
                PutBigEndian16(interval, 4);
                PutBigEndian16(interval, uint16_t(McusPerStrip));
                out.insert(SegmentAt(bytes(Strip), Strip.size(), 0xDA), interval);
            } else {
                out += char(0xFF);
                out += char(0xD0 + (I - 1) % 8);
            }
            out.append(Strip, dataAt, Strip.size() - 2 - dataAt);
        });
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
                        indexedGrey               ? JCS_GRAYSCALE
                        : Image.Format == pf24bit ? JCS_EXT_BGR
                                                  : JCS_EXT_BGRX,
                        grey, Quality < 0 ? 75 : Quality};
    // A grey picture's MCU is one 8 x 8 block; a colour one's, 16 x 16 (chrominance at half size).
    const int mcuSize = grey ? 8 : 16;
    const int mcusPerRow = (Image.Width + mcuSize - 1) / mcuSize;
    if (McuRows <= 0) McuRows = McuRowsPerStrip(Image.Width, mcuSize, mcuSize);
    McuRows = std::max(1, std::min(McuRows, MaxRestartInterval / mcusPerRow));
    const int rowsPerStrip = McuRows * mcuSize;
    std::string jpeg;
    if (Image.Height <= rowsPerStrip) {
        jpeg = CompressRows(how, RowsOf(Image, 0, Image.Height), nullptr, true);
    } else {
        const TJpegHuffmanTables tables = TablesForPicture(how, mcuSize);
        jpeg = CompressAndJoinStrips(how, tables, rowsPerStrip, McuRows * mcusPerRow,
                                     Threads > 0 ? Threads : std::min(8, HardwareThreads()));
    }
    return WithJpegMetadata(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size(), Metadata);
}
