#include "PngCodec.h"
#include "ByteOrder.h"

#include "ImageMetadata.h"
#include "PixelConversion.h"
#include "StripsInOrder.h"
#include <pictura/SysUtils.h>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// The header's depth and colour type, and whether a transparent colour (tRNS) comes before the image
// data; false when Data is not a PNG whose chunks can be walked that far.
bool PngKind(const uint8_t* Data, size_t Size, int& Depth, int& ColourType, bool& Transparent,
             uint32_t& Width, uint32_t& Height) {
    if (Size < 33 || std::memcmp(Data, "\x89PNG\r\n\x1a\n", 8) != 0 || std::memcmp(Data + 12, "IHDR", 4) != 0)
        return false;
    Width = BigEndian32(Data + 16);
    Height = BigEndian32(Data + 20);
    Depth = Data[24];
    ColourType = Data[25];
    Transparent = false;
    for (size_t i = 8; Size - i >= 12;) {
        const uint32_t length = BigEndian32(Data + i);
        if (std::memcmp(Data + i + 4, "IDAT", 4) == 0) return true;
        if (std::memcmp(Data + i + 4, "tRNS", 4) == 0) Transparent = true;
        if (length > Size - i - 12) return false;
        i += 12 + size_t(length);
    }
    return false;
}

// What libpng reads from, and the reason it gave up.
struct TPngRead {
    const uint8_t* Data;
    size_t Size;
    size_t At = 8;
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    char Error[256] = "";
    const std::function<void()>* ReleaseRead = nullptr;
    size_t SinceRelease = 0;
};

constexpr size_t ReleaseEvery = size_t(16) << 20;

void ReadData(png_structp Png, png_bytep Out, size_t Bytes) {
    auto* read = static_cast<TPngRead*>(png_get_io_ptr(Png));
    if (read->Size - read->At < Bytes) png_error(Png, "the PNG data ends early (file truncated?)");
    std::memcpy(Out, read->Data + read->At, Bytes);
    read->At += Bytes;
    read->SinceRelease += Bytes;
    if (read->SinceRelease >= ReleaseEvery && read->ReleaseRead && *read->ReleaseRead) {
        (*read->ReleaseRead)();
        read->SinceRelease = 0;
    }
}

void OnError(png_structp Png, png_const_charp Message) {
    auto* read = static_cast<TPngRead*>(png_get_error_ptr(Png));
    std::snprintf(read->Error, sizeof read->Error, "%s", Message);
    png_longjmp(Png, 1);
}

// What libpng warns about is dropped, as Qt's reader drops it, except damage to the image data after
// its last row (a wrong checksum), which libpng only warns about and the framework refuses.
void OnWarning(png_structp Png, png_const_charp Message) {
    auto* read = static_cast<TPngRead*>(png_get_error_ptr(Png));
    const std::string text = Message;
    if (text.rfind("IDAT: ", 0) == 0 && text != "IDAT: Extra compressed data" &&
        text != "IDAT: Too much image data" && !read->Error[0])
        std::snprintf(read->Error, sizeof read->Error, "%s", Message);
}

// The bitmap format a PNG of ColourType becomes, as Qt's reader makes it: grey and palette pictures
// 8-bit indices, colour 24 bits, anything with alpha or a transparent colour 32 bits with alpha.
TPixelFormat FastPngFormat(int ColourType, bool Transparent) {
    if (ColourType == 3 || (ColourType == 0 && !Transparent)) return pf8bit;
    return ColourType == 2 && !Transparent ? pf24bit : pf32bit;
}

// libpng's errors jump back here: these functions hold nothing that needs destroying. Reads the header
// and sets the transformations that give the rows in the bitmap's layout at 8 bits a sample (16-bit
// samples rounded to the nearest, as Qt's conversion rounds them).
bool ReadHeader(TPngRead& Read, TPixelFormat& Format) {
    if (setjmp(png_jmpbuf(Read.Png))) return false;
    png_set_sig_bytes(Read.Png, 8);
    png_set_read_fn(Read.Png, &Read, ReadData);
    png_read_info(Read.Png, Read.Info);
    const int colourType = png_get_color_type(Read.Png, Read.Info);
    const bool transparent = png_get_valid(Read.Png, Read.Info, PNG_INFO_tRNS) != 0 && colourType != 3;
    Format = FastPngFormat(colourType, transparent);
    if (transparent) png_set_tRNS_to_alpha(Read.Png);
    if (Format == pf32bit && (colourType == 0 || colourType == 4)) png_set_gray_to_rgb(Read.Png);
    if (png_get_bit_depth(Read.Png, Read.Info) == 16) png_set_scale_16(Read.Png);
    if (Format != pf8bit) png_set_bgr(Read.Png);
    png_set_interlace_handling(Read.Png);
    png_read_update_info(Read.Png, Read.Info);
    return true;
}

bool ReadRows(TPngRead& Read, png_bytepp Rows, uint32_t Height, int Passes) {
    if (setjmp(png_jmpbuf(Read.Png))) return false;
    for (int pass = 0; pass < Passes; ++pass)
        png_read_rows(Read.Png, Rows, nullptr, Height);
    png_read_end(Read.Png, nullptr);
    return true;
}

// The sum of a filtered row's bytes taken as signed magnitudes, as libpng ranks filters.
uint32_t Magnitudes(const uint8_t* Filtered, size_t Bytes) {
    uint32_t sum = 0;
    for (size_t i = 0; i < Bytes; ++i)
        sum += Filtered[i] < 128 ? Filtered[i] : 256 - Filtered[i];
    return sum;
}

// The four filters of Count bytes at Row, which have a pixel to their left (Left, LeftAbove lag Row,
// Above by the bytes of a pixel).
void FilterTail(const uint8_t* __restrict Row, const uint8_t* __restrict Above,
                const uint8_t* __restrict Left, const uint8_t* __restrict LeftAbove, size_t Count,
                uint8_t* __restrict Sub, uint8_t* __restrict Up, uint8_t* __restrict Avg,
                uint8_t* __restrict Paeth) {
    for (size_t i = 0; i < Count; ++i) {
        const int16_t a = Left[i], b = Above[i], c = LeftAbove[i];
        const int16_t pa = int16_t(std::abs(b - c)), pb = int16_t(std::abs(a - c)),
                      pc = int16_t(std::abs(a + b - 2 * c));
        const int16_t predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        Sub[i] = uint8_t(Row[i] - a);
        Up[i] = uint8_t(Row[i] - b);
        Avg[i] = uint8_t(Row[i] - ((a + b) >> 1));
        Paeth[i] = uint8_t(Row[i] - predicted);
    }
}

// The filter byte and the filtered row chosen for Row (Previous is the row above, or zeros): the filter
// whose output has the smallest sum of magnitudes, as libpng chooses. The loops are plain so that the
// compiler can run them on vector registers.
void FilterRow(const uint8_t* Row, const uint8_t* Previous, size_t Bytes, size_t Bpp, bool Adaptive,
               std::vector<uint8_t>* Candidates, const uint8_t*& Chosen, uint8_t& Filter) {
    Chosen = Row;
    Filter = 0;
    if (!Adaptive) return;
    uint8_t* sub = Candidates[0].data();
    uint8_t* up = Candidates[1].data();
    uint8_t* avg = Candidates[2].data();
    uint8_t* paeth = Candidates[3].data();
    const size_t first = std::min(Bpp, Bytes);
    for (size_t i = 0; i < first; ++i) { // no pixel to the left: a = c = 0
        sub[i] = Row[i];
        up[i] = paeth[i] = uint8_t(Row[i] - Previous[i]);
        avg[i] = uint8_t(Row[i] - (Previous[i] >> 1));
    }
    FilterTail(Row + first, Previous + first, Row, Previous, Bytes - first, sub + first, up + first,
               avg + first, paeth + first);
    uint32_t best = Magnitudes(Row, Bytes);
    for (uint8_t f = 1; f <= 4; ++f)
        if (const uint32_t sum = Magnitudes(Candidates[f - 1].data(), Bytes); sum < best) {
            best = sum;
            Filter = f;
            Chosen = Candidates[f - 1].data();
        }
}

// How the bitmap's rows become PNG rows.
enum class TPngLayout { Copy, Rgb, Rgba, Grey, GreyAlpha };

struct TPngPlan {
    TPngLayout Layout = TPngLayout::Copy;
    int ColourType = 0, Depth = 8;
    size_t RowBytes = 0, Bpp = 1; // bytes of a PNG row (without its filter byte), bytes per pixel (>= 1)
};

TPngPlan PlanFor(const TDibImage& Image) {
    TPngPlan plan;
    const size_t w = size_t(Image.Width);
    if (Image.Format == pf24bit || Image.Format == pf32bit || Image.Format == pfDevice) {
        const bool alpha = Image.Format != pf24bit && Image.HasAlpha;
        const bool grey = AllGrey(Image);
        plan.Layout = grey ? (alpha ? TPngLayout::GreyAlpha : TPngLayout::Grey)
                           : (alpha ? TPngLayout::Rgba : TPngLayout::Rgb);
        plan.ColourType = grey ? (alpha ? 4 : 0) : (alpha ? 6 : 2);
        plan.Bpp = grey ? (alpha ? 2 : 1) : (alpha ? 4 : 3);
        plan.RowBytes = w * plan.Bpp;
        return plan;
    }
    plan.Depth = BitsPerPixel(Image.Format);
    plan.ColourType = Image.Format == pf8bit && IsGreyRamp(Image.Palette) ? 0 : 3;
    plan.RowBytes = (w * size_t(plan.Depth) + 7) / 8;
    return plan;
}

// Row Y of Image in the plan's PNG layout; Scratch holds a converted row.
const uint8_t* PngRow(const TDibImage& Image, const TPngPlan& Plan, int Y, uint8_t* Scratch) {
    const uint8_t* row = Image.Row(Y);
    const size_t w = size_t(Image.Width), step = Image.Format == pf24bit ? 3 : 4;
    switch (Plan.Layout) {
    case TPngLayout::Copy:
        return row;
    case TPngLayout::Rgb:
        for (size_t x = 0; x < w; ++x) {
            Scratch[3 * x] = row[step * x + 2];
            Scratch[3 * x + 1] = row[step * x + 1];
            Scratch[3 * x + 2] = row[step * x];
        }
        break;
    case TPngLayout::Rgba:
        for (size_t x = 0; x < w; ++x) {
            Scratch[4 * x] = row[4 * x + 2];
            Scratch[4 * x + 1] = row[4 * x + 1];
            Scratch[4 * x + 2] = row[4 * x];
            Scratch[4 * x + 3] = row[4 * x + 3];
        }
        break;
    case TPngLayout::Grey:
        for (size_t x = 0; x < w; ++x)
            Scratch[x] = row[step * x];
        break;
    case TPngLayout::GreyAlpha:
        for (size_t x = 0; x < w; ++x) {
            Scratch[2 * x] = row[4 * x];
            Scratch[2 * x + 1] = row[4 * x + 3];
        }
        break;
    }
    return Scratch;
}

// One strip of rows, deflated on its own: a raw deflate stream ending byte-aligned and not final
// (except the last), so that the strips joined are one zlib stream.
struct TStrip {
    std::string Deflated;
    uLong Adler = 1;
    uLong RawBytes = 0;
};

TStrip DeflateStrip(const TDibImage& Image, const TPngPlan& Plan, int Level, int First, int Last) {
    TStrip strip;
    const size_t bytes = Plan.RowBytes;
    std::vector<uint8_t> converted(bytes), previousConverted(bytes, 0), filtered(bytes + 1);
    std::vector<uint8_t> candidates[4] = {std::vector<uint8_t>(bytes), std::vector<uint8_t>(bytes),
                                          std::vector<uint8_t>(bytes), std::vector<uint8_t>(bytes)};
    z_stream stream{};
    if (deflateInit2(&stream, Level, Z_DEFLATED, -15, 8, Level > 0 ? Z_FILTERED : Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    const bool last = Last == Image.Height;
    uint8_t out[1 << 16];
    const auto feed = [&](const uint8_t* Data, size_t Size, int Flush) {
        stream.next_in = const_cast<Bytef*>(Data);
        stream.avail_in = uInt(Size);
        do {
            stream.next_out = out;
            stream.avail_out = sizeof out;
            deflate(&stream, Flush);
            strip.Deflated.append(reinterpret_cast<const char*>(out), sizeof out - stream.avail_out);
        } while (stream.avail_out == 0 || stream.avail_in > 0);
    };
    try {
        const uint8_t* previous = previousConverted.data();
        if (First > 0) previous = PngRow(Image, Plan, First - 1, previousConverted.data());
        for (int y = First; y < Last; ++y) {
            const uint8_t* row = PngRow(Image, Plan, y, converted.data());
            const uint8_t* chosen = nullptr;
            FilterRow(row, previous, bytes, Plan.Bpp, Level > 0 && Plan.ColourType != 3 && Plan.Depth == 8,
                      candidates, chosen, filtered[0]);
            std::memcpy(filtered.data() + 1, chosen, bytes);
            strip.Adler = adler32(strip.Adler, filtered.data(), uInt(filtered.size()));
            feed(filtered.data(), filtered.size(), Z_NO_FLUSH);
            // The row just converted is the next one's "above"; a copied row stays in the bitmap.
            if (row == converted.data()) {
                std::swap(converted, previousConverted);
                previous = previousConverted.data();
            } else {
                previous = row;
            }
        }
        strip.RawBytes = uLong((bytes + 1) * size_t(Last - First));
        feed(nullptr, 0, last ? Z_FINISH : Z_SYNC_FLUSH);
    } catch (...) {
        deflateEnd(&stream);
        throw;
    }
    deflateEnd(&stream);
    return strip;
}

// A chunk: length, type, data and checksum.
std::string Chunk(const char* Type, const std::string& Data) {
    std::string chunk;
    PutBigEndian32(chunk, uint32_t(Data.size()));
    chunk.append(Type, 4);
    chunk += Data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(Type), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(Data.data()), uInt(Data.size()));
    PutBigEndian32(chunk, uint32_t(crc));
    return chunk;
}

// The chunks before the image data: header, metadata, palette.
std::string HeadChunks(const TDibImage& Image, const TPngPlan& Plan, const TPictureMetadata& Metadata) {
    std::string head("\x89PNG\r\n\x1a\n", 8), header;
    PutBigEndian32(header, uint32_t(Image.Width));
    PutBigEndian32(header, uint32_t(Image.Height));
    header += char(Plan.Depth);
    header += char(Plan.ColourType);
    header.append(3, '\0');
    head += Chunk("IHDR", header);
    for (const auto& [type, data] : PngMetadataChunks(Metadata))
        head += Chunk(type.c_str(), data);
    if (Plan.ColourType == 3) {
        const size_t entries = size_t(1) << Plan.Depth;
        std::string palette, alpha;
        for (size_t i = 0; i < entries; ++i) {
            const uint32_t c = i < Image.Palette.size() ? Image.Palette[i] : 0xFF000000u;
            palette += char(c >> 16);
            palette += char(c >> 8);
            palette += char(c);
            alpha += char(c >> 24);
        }
        head += Chunk("PLTE", palette);
        while (!alpha.empty() && uint8_t(alpha.back()) == 255)
            alpha.pop_back();
        if (!alpha.empty()) head += Chunk("tRNS", alpha);
    }
    return head;
}

// Deflates the strips on every core (at most 8 threads) and hands each to Deliver in order on the calling
// thread.
void DeflateStrips(const TDibImage& Image, const TPngPlan& Plan, int Level, int RowsPerStrip,
                   const std::function<void(int Index, TStrip&)>& Deliver) {
    const int strips = (Image.Height + RowsPerStrip - 1) / RowsPerStrip;
    MakeInOrder<TStrip>(
        strips, std::min(int(std::thread::hardware_concurrency()), 8),
        [&](int I) {
            return DeflateStrip(Image, Plan, Level, I * RowsPerStrip,
                                std::min(Image.Height, (I + 1) * RowsPerStrip));
        },
        Deliver);
}

} // namespace

bool IsFastPng(const uint8_t* Data, size_t Size) {
    int depth = 0, colourType = 0;
    bool transparent = false;
    uint32_t width = 0, height = 0;
    if (!PngKind(Data, Size, depth, colourType, transparent, width, height)) return false;
    return depth == 8 || (depth == 16 && colourType != 3);
}

uint64_t FastPngBitmapBytes(const uint8_t* Data, size_t Size) {
    int depth = 0, colourType = 0;
    bool transparent = false;
    uint32_t width = 0, height = 0;
    if (!PngKind(Data, Size, depth, colourType, transparent, width, height) || width > 0x7FFFFFFFu) return 0;
    // A transparent colour that libpng drops as invalid makes a narrower bitmap: counted at the widest.
    return uint64_t(BytesPerScanline(int(width), BitsPerPixel(FastPngFormat(colourType, transparent)) +
                                                     (transparent && colourType != 3 ? 8 : 0))) *
           height;
}

void DecodePng(const uint8_t* Data, size_t Size, TDibImage& Into, TPictureMetadata& Metadata,
               const std::function<void()>& ReleaseRead) {
    TPngRead read{Data, Size};
    read.ReleaseRead = &ReleaseRead;
    read.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, OnError, OnWarning);
    if (read.Png) read.Info = png_create_info_struct(read.Png);
    struct TCleanup {
        TPngRead& Read;
        ~TCleanup() { png_destroy_read_struct(&Read.Png, Read.Info ? &Read.Info : nullptr, nullptr); }
    } cleanup{read};
    if (!read.Info) throw std::bad_alloc();
    TDibImage dib;
    if (!ReadHeader(read, dib.Format))
        throw EInvalidGraphic(std::string("the PNG data is damaged (") + read.Error + ")");
    const uint32_t width = png_get_image_width(read.Png, read.Info);
    const uint32_t height = png_get_image_height(read.Png, read.Info);
    const int colourType = png_get_color_type(read.Png, read.Info); // after the transformations
    dib.Width = int(width);
    dib.Height = int(height);
    dib.HasAlpha = dib.Format == pf32bit;
    if (png_get_bit_depth(read.Png, read.Info) != 8 ||
        png_get_rowbytes(read.Png, read.Info) != size_t(width) * size_t(BitsPerPixel(dib.Format) / 8))
        throw EInvalidGraphic("the PNG data is damaged (its rows do not have the size its header gives)");
    Metadata.SourceBitsPerSample = Data[24] == 16 ? 16 : 8;
    if (dib.Format == pf8bit) {
        dib.Palette.assign(256, 0xFF000000u);
        if (colourType == 0) {
            for (uint32_t i = 0; i < 256; ++i)
                dib.Palette[i] = 0xFF000000u | i * 0x010101u;
        } else {
            png_colorp palette = nullptr;
            int entries = 0;
            png_get_PLTE(read.Png, read.Info, &palette, &entries);
            png_bytep alpha = nullptr;
            int alphas = 0;
            png_color_16p colour = nullptr;
            png_get_tRNS(read.Png, read.Info, &alpha, &alphas, &colour);
            for (int i = 0; i < entries && i < 256; ++i)
                dib.Palette[size_t(i)] = uint32_t(alpha && i < alphas ? alpha[i] : 255) << 24 |
                                         uint32_t(palette[i].red) << 16 | uint32_t(palette[i].green) << 8 |
                                         palette[i].blue;
        }
    }
    // Every byte set, also the rows' padding: decoding fills each row's pixels.
    dib.Bits.assign(dib.Stride() * size_t(height), 0);
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y)
        rows[y] = dib.Row(int(y));
    const int passes = png_get_interlace_type(read.Png, read.Info) == PNG_INTERLACE_ADAM7 ? 7 : 1;
    if (!ReadRows(read, rows.data(), height, passes) || read.Error[0])
        throw EInvalidGraphic(std::string("the PNG image data is damaged (") + read.Error + ")");
    ReadPngMetadata(Data, Size, Metadata);
    Into = std::move(dib);
}

void ReadPngMetadata(const uint8_t* Data, size_t Size, TPictureMetadata& Metadata) {
    ReadPngMetadataChunks(Data, Size, Metadata);
}

bool IsFastPngFormat(const TDibImage& Image) {
    return Image.Format == pf1bit || Image.Format == pf4bit || Image.Format == pf8bit ||
           Image.Format == pf24bit || Image.Format == pf32bit || Image.Format == pfDevice;
}

void EncodePng(const TDibImage& Image, const TPictureMetadata& Metadata, int Compression,
               const std::function<void(const void* Data, size_t Size)>& Write,
               const std::function<void(int Rows)>& RowsWritten) {
    const int level = Compression < 0 ? DefaultPngCompression : std::min(Compression, 9);
    const TPngPlan plan = PlanFor(Image);
    {
        const std::string head = HeadChunks(Image, plan, Metadata);
        Write(head.data(), head.size());
    }
    // Strips of about 1 MiB of rows: the deflate window is 32 KiB, so restarting costs next to nothing.
    const int rowsPerStrip = int(std::max<size_t>(1, (size_t(1) << 20) / (plan.RowBytes + 1)));
    uLong adler = 1;
    const int strips = (Image.Height + rowsPerStrip - 1) / rowsPerStrip;
    DeflateStrips(Image, plan, level, rowsPerStrip, [&](int Index, TStrip& Strip) {
        adler = adler32_combine(adler, Strip.Adler, z_off_t(Strip.RawBytes));
        // One chunk per strip: the first starts with the zlib header, the last ends with the checksum.
        std::string before, after;
        if (Index == 0) {
            // Deflate with a 32 KiB window, the level's class, and the check bits.
            const int levelClass = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
            const unsigned header = 0x7800u | unsigned(levelClass) << 6;
            before += char(0x78);
            before += char((header + (31 - header % 31) % 31) & 0xFF);
        }
        if (Index == strips - 1) PutBigEndian32(after, uint32_t(adler));
        std::string prefix;
        PutBigEndian32(prefix, uint32_t(before.size() + Strip.Deflated.size() + after.size()));
        prefix += "IDAT" + before;
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(prefix.data() + 4), uInt(prefix.size() - 4));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(Strip.Deflated.data()), uInt(Strip.Deflated.size()));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(after.data()), uInt(after.size()));
        PutBigEndian32(after, uint32_t(crc));
        Write(prefix.data(), prefix.size());
        Write(Strip.Deflated.data(), Strip.Deflated.size());
        Write(after.data(), after.size());
        if (RowsWritten) RowsWritten(std::min(Image.Height, (Index + 1) * rowsPerStrip));
    });
    const std::string end = Chunk("IEND", "");
    Write(end.data(), end.size());
}
