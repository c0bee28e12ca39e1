// BMP reader and writer. The reader is strict: every header value is checked before it is used,
// nothing is read outside the caller's buffer, and no pixel memory is allocated until the picture
// has passed the framework's size limits and, when uncompressed, its pixel data is known to be in
// the file in full. A file cut short anywhere is an error, never a partly black picture.
#include "BmpCodec.h"
#include "ByteOrder.h"

#include "PixelRows.h"
#include <pictura/ImageLimits.h>
#include <pictura/SysUtils.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// How much of a file is read between calls of DecodeBmp's ReleaseRead.
constexpr size_t ReleaseReadEvery = size_t(16) << 20;

constexpr size_t FileHeaderSize = 14;

enum : uint32_t {
    biRgb = 0,
    biRle8 = 1,
    biRle4 = 2,
    biBitfields = 3,
    biJpeg = 4,
    biPng = 5,
    biAlphaBitfields = 6,
};

// The three families of info header: the 12-byte OS/2 1.x core header (16-bit sizes, 3-byte
// palette entries), the OS/2 2.x header of 16..64 bytes (whose compressions 3 and 4 mean
// Huffman 1D and RLE24), and the Windows headers of 40, 52, 56, 108 and 124 bytes.
enum class THeaderKind { Core, Os2, Windows };

[[noreturn]] void Fail(const std::string& Reason) {
    throw EInvalidGraphic("BMP file: " + Reason);
}

std::string Hex(uint32_t V) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", V);
    return text;
}

std::string CompressionName(uint32_t Compression, THeaderKind Kind) {
    if (Kind == THeaderKind::Os2) {
        switch (Compression) {
        case 3:
            return "Huffman 1D";
        case 4:
            return "RLE24";
        default:
            return "unknown";
        }
    }
    switch (Compression) {
    case biJpeg:
        return "JPEG";
    case biPng:
        return "PNG";
    case 11:
        return "CMYK";
    case 12:
        return "CMYK RLE8";
    case 13:
        return "CMYK RLE4";
    default:
        return "unknown";
    }
}

// Widens (or narrows) an n-bit channel value to 8 bits; short values repeat their bit pattern so
// that the largest value becomes 255.
uint8_t ScaleTo8(uint32_t V, int Bits) {
    if (Bits >= 8) return uint8_t(V >> (Bits - 8));
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << Bits) | V;
        filled += Bits;
    }
    return uint8_t(out >> (filled - 8));
}

// One colour channel of a bit-field pixel.
struct TChannel {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
    uint8_t Get(uint32_t V) const { return Bits == 0 ? 0 : ScaleTo8((V & Mask) >> Shift, Bits); }
};

TChannel MakeChannel(uint32_t Mask, const char* Name, int Bpp) {
    TChannel c;
    if (Mask == 0) return c;
    if (Bpp == 16 && Mask > 0xFFFF)
        Fail(std::string(Name) + " mask " + Hex(Mask) + " lies outside the 16-bit pixel");
    c.Mask = Mask;
    c.Shift = std::countr_zero(Mask);
    const uint32_t m = Mask >> c.Shift;
    if ((m & (m + 1)) != 0)
        Fail(std::string(Name) + " mask " + Hex(Mask) + " is not a contiguous run of bits");
    c.Bits = std::popcount(m);
    return c;
}

struct TBmpHeader {
    THeaderKind Kind = THeaderKind::Windows;
    uint32_t HeaderSize = 0;
    int64_t Width = 0;
    int64_t Height = 0; // absolute value; TopDown tells the row order
    bool TopDown = false;
    int Planes = 1;
    int Bpp = 0;
    uint32_t Compression = biRgb;
    uint32_t ColoursUsed = 0;
    uint32_t OffBits = 0;
    uint32_t Masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha
    size_t PaletteStart = 0;          // first byte after the headers and any separate masks
    size_t PaletteEntrySize = 4;
};

TBmpHeader ReadHeaders(const uint8_t* Data, size_t Size) {
    if (Size < 2) Fail("file is too short to be a bitmap (" + std::to_string(Size) + " bytes)");
    const char s0 = char(Data[0]), s1 = char(Data[1]);
    if (s0 == 'B' && s1 == 'A') Fail("OS/2 bitmap arrays (signature 'BA') are not supported");
    if ((s0 == 'C' && (s1 == 'I' || s1 == 'P')) || (s0 == 'I' && s1 == 'C') || (s0 == 'P' && s1 == 'T'))
        Fail(std::string("OS/2 icons and pointers (signature '") + s0 + s1 + "') are not supported");
    if (s0 != 'B' || s1 != 'M') Fail("not a bitmap file (the 'BM' signature is missing)");
    if (Size < FileHeaderSize + 4) Fail("truncated file header");

    TBmpHeader h;
    h.OffBits = LittleEndian32(Data + 10);
    h.HeaderSize = LittleEndian32(Data + 14);
    const uint32_t hs = h.HeaderSize;
    if (hs == 12)
        h.Kind = THeaderKind::Core;
    else if (hs == 40 || hs == 52 || hs == 56 || hs == 108 || hs == 124)
        h.Kind = THeaderKind::Windows;
    else if (hs >= 16 && hs <= 64 && hs % 4 == 0)
        h.Kind = THeaderKind::Os2;
    else
        Fail("info header size " + std::to_string(hs) + " is not valid");
    if (Size < FileHeaderSize + hs)
        Fail("truncated info header (" + std::to_string(Size - FileHeaderSize) + " of " + std::to_string(hs) +
             " bytes present)");

    const uint8_t* ih = Data + FileHeaderSize;
    if (h.Kind == THeaderKind::Core) {
        h.Width = LittleEndian16(ih + 4);
        h.Height = LittleEndian16(ih + 6);
        h.Planes = LittleEndian16(ih + 8);
        h.Bpp = LittleEndian16(ih + 10);
        h.PaletteEntrySize = 3;
    } else {
        h.Width = int32_t(LittleEndian32(ih + 4));
        const int32_t height = int32_t(LittleEndian32(ih + 8));
        h.TopDown = height < 0;
        h.Height = height < 0 ? -int64_t(height) : int64_t(height);
        h.Planes = LittleEndian16(ih + 12);
        h.Bpp = LittleEndian16(ih + 14);
        // An OS/2 2.x header may end after any field; the missing ones are zero.
        if (hs >= 20) h.Compression = LittleEndian32(ih + 16);
        if (hs >= 36) h.ColoursUsed = LittleEndian32(ih + 32);
    }
    h.PaletteStart = FileHeaderSize + hs;

    if (h.Kind == THeaderKind::Windows) {
        if (hs >= 52) {
            h.Masks[0] = LittleEndian32(ih + 40);
            h.Masks[1] = LittleEndian32(ih + 44);
            h.Masks[2] = LittleEndian32(ih + 48);
        }
        if (hs >= 56) h.Masks[3] = LittleEndian32(ih + 52);
        if (hs == 40 && (h.Compression == biBitfields || h.Compression == biAlphaBitfields) &&
            (h.Bpp == 16 || h.Bpp == 32)) {
            // The 40-byte header keeps its masks in the dwords that follow it.
            const size_t count = h.Compression == biBitfields ? 3 : 4;
            if (Size < h.PaletteStart + 4 * count) Fail("truncated bit-field masks");
            for (size_t i = 0; i < count; ++i)
                h.Masks[i] = LittleEndian32(Data + h.PaletteStart + 4 * i);
            h.PaletteStart += 4 * count;
        }
    }
    return h;
}

void ValidateHeader(const TBmpHeader& H) {
    if (H.Planes != 1) Fail("planes is " + std::to_string(H.Planes) + ", must be 1");
    if (H.Width <= 0) Fail("width " + std::to_string(H.Width) + " is not valid (must be positive)");
    if (H.Height == 0) Fail("height is 0");

    const uint32_t c = H.Compression;
    const bool windows = H.Kind == THeaderKind::Windows;
    const bool known =
        c == biRgb || c == biRle8 || c == biRle4 || (windows && (c == biBitfields || c == biAlphaBitfields));
    if (!known)
        Fail("unsupported compression " + std::to_string(c) + " (" + CompressionName(c, H.Kind) + ")");

    const int b = H.Bpp;
    if (b == 64) Fail("64 bits per pixel is not supported");
    if (b != 1 && b != 2 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32)
        Fail("bits per pixel " + std::to_string(b) + " is not valid");
    if (c == biRle8 && b != 8) Fail("RLE8 compression needs 8 bits per pixel, not " + std::to_string(b));
    if (c == biRle4 && b != 4) Fail("RLE4 compression needs 4 bits per pixel, not " + std::to_string(b));
    if ((c == biBitfields || c == biAlphaBitfields) && b != 16 && b != 32)
        Fail("bit-field compression needs 16 or 32 bits per pixel, not " + std::to_string(b));
    if ((c == biRle8 || c == biRle4) && H.TopDown) Fail("RLE compressed bitmaps cannot be top-down");
    if (H.OffBits < H.PaletteStart)
        Fail("pixel data offset " + std::to_string(H.OffBits) + " lies inside the headers (which end at " +
             std::to_string(H.PaletteStart) + ")");
}

// Reads the palette of an indexed picture, padded with black to 2^OutBpp entries so that every
// index a pixel can hold is safe.
std::vector<uint32_t> ReadPalette(const TBmpHeader& H, const uint8_t* Data, size_t Size, int OutBpp) {
    const uint64_t maxEntries = uint64_t(1) << H.Bpp;
    const uint64_t entrySize = H.PaletteEntrySize;
    uint64_t count = H.ColoursUsed;
    if (count == 0) {
        // No count given: a full palette, or as much of one as fits before the pixel data.
        count = maxEntries;
        if (H.OffBits < H.PaletteStart + count * entrySize) count = (H.OffBits - H.PaletteStart) / entrySize;
    }
    if (count == 0) Fail(std::to_string(H.Bpp) + "-bit image has no palette");
    if (H.PaletteStart + count * entrySize > Size) {
        if (count > maxEntries)
            Fail("palette of " + std::to_string(count) + " colours is absurdly large (the image has " +
                 std::to_string(H.Bpp) + " bits per pixel)");
        Fail("truncated palette (" + std::to_string(count) + " colours expected)");
    }
    // A palette longer than the depth can address: only its first entries are reachable.
    count = std::min(count, maxEntries);
    std::vector<uint32_t> palette(size_t(1) << OutBpp, 0xFF000000u);
    const uint8_t* p = Data + H.PaletteStart;
    for (size_t i = 0; i < count; ++i, p += entrySize)
        palette[i] = 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    return palette;
}

// Zeroes the bits and bytes after the last pixel of an indexed row so that equal pictures have
// equal memory.
void ClearRowTail(uint8_t* Row, int Width, int Bpp, size_t Stride) {
    size_t used = size_t(Width) * size_t(Bpp);
    size_t full = used / 8;
    if (const int rest = int(used % 8)) Row[full++] &= uint8_t(0xFF << (8 - rest));
    std::memset(Row + full, 0, Stride - full);
}

// Decodes an RLE8 or RLE4 stream into a zeroed bottom-up picture. Runs and absolute blocks that
// would cross the end of a row or the last row, deltas that leave the picture and a stream that
// ends before its end-of-bitmap marker are errors.
void DecodeRle(const uint8_t* P, size_t N, TDibImage& Img, bool Four,
               const std::function<void()>& ReleaseRead) {
    const int w = Img.Width, h = Img.Height;
    size_t i = 0, released = 0;
    int x = 0, fy = 0; // position; fy counts rows from the bottom, as the file stores them
    auto need = [&](size_t K) {
        if (N - i < K) Fail("truncated RLE pixel data (at byte " + std::to_string(i) + " of the stream)");
    };
    auto row = [&](int Count) -> uint8_t* {
        if (fy >= h) Fail("RLE data writes past the last row");
        if (Count > w - x)
            Fail("RLE run of " + std::to_string(Count) + " pixels at column " + std::to_string(x) +
                 " overruns row " + std::to_string(fy) + " (width " + std::to_string(w) + ")");
        return Img.Row(h - 1 - fy);
    };
    for (;;) {
        if (ReleaseRead && i - released >= ReleaseReadEvery) {
            ReleaseRead();
            released = i;
        }
        if (i == N) Fail("RLE pixel data ends without an end-of-bitmap marker (file truncated?)");
        need(2);
        const uint8_t a = P[i], b = P[i + 1];
        i += 2;
        if (a > 0) { // a run of a pixels of one value (RLE4: two alternating values)
            uint8_t* r = row(a);
            if (Four)
                for (int k = 0; k < a; ++k)
                    SetIndexAt<4>(r, x + k, (k & 1) ? (b & 0x0F) : (b >> 4));
            else
                std::memset(r + x, b, a);
            x += a;
        } else if (b == 0) { // end of line
            if (fy >= h) Fail("RLE data runs past the last row");
            x = 0;
            ++fy;
        } else if (b == 1) { // end of bitmap
            return;
        } else if (b == 2) { // delta: move right and up
            need(2);
            x += P[i];
            fy += P[i + 1];
            i += 2;
            if (x > w || fy > h || (fy == h && x > 0)) Fail("RLE delta moves outside the picture");
        } else { // absolute block of b literal pixels, padded to a whole word
            const size_t bytes = Four ? (size_t(b) + 1) / 2 : b;
            const size_t padded = (bytes + 1) & ~size_t(1);
            need(padded);
            uint8_t* r = row(b);
            if (Four)
                for (int k = 0; k < b; ++k)
                    SetIndexAt<4>(r, x + k, IndexAt<4>(P + i, k));
            else
                std::memcpy(r + x, P + i, b);
            x += b;
            i += padded;
        }
    }
}

// The channels of bit-field pixels.
struct TChannels {
    TChannel Red, Green, Blue, Alpha;
};

// Decodes Width bit-field pixels of Bpp bits into blue, green, red (and alpha when DstBytes is 4).
template <int Bpp, int DstBytes>
void DecodeMaskedRow(const uint8_t* Src, int Width, const TChannels& C, uint8_t* Dst) {
    for (int x = 0; x < Width; ++x, Dst += DstBytes) {
        const uint32_t v =
            Bpp == 16 ? LittleEndian16(Src + 2 * size_t(x)) : LittleEndian32(Src + 4 * size_t(x));
        Dst[0] = C.Blue.Get(v);
        Dst[1] = C.Green.Get(v);
        Dst[2] = C.Red.Get(v);
        if constexpr (DstBytes == 4) Dst[3] = C.Alpha.Bits ? C.Alpha.Get(v) : 255;
    }
}

// How the rows of an uncompressed file become the picture's rows; chosen once from the header.
enum class TRowDecoding {
    Indices,      // 1, 4 and 8 bits: copied, the bits after the last pixel cleared
    Indices2To4,  // 2-bit indices widened to 4 bits
    Rgb555,       // copied with the unused top bit cleared
    Bytes,        // copied as they are: 5-6-5, 24 bit, and 32 bit in the standard byte order
    OpaqueBgrx32, // 32 bit in the standard byte order without alpha: the fourth byte set to 255
    Masked16To24, // bit-field pixels widened or narrowed to 8-bit channels
    Masked16To32,
    Masked32To32,
};

// What a BMP file loads as: the pixel format, whether it has alpha, and how its rows decode.
struct TBmpLayout {
    TPixelFormat Format = pf32bit;
    bool HasAlpha = false;
    TChannels Channels;
    TRowDecoding Decoding = TRowDecoding::Bytes;
};

// The bit-field layout of a 16- or 32-bit file: its masks (the defaults for uncompressed files), checked.
TBmpLayout ChooseMaskedLayout(const TBmpHeader& H) {
    uint32_t m[4] = {H.Masks[0], H.Masks[1], H.Masks[2], H.Masks[3]};
    if (H.Compression == biRgb) {
        m[3] = 0;
        if (H.Bpp == 16) {
            m[0] = 0x7C00, m[1] = 0x03E0, m[2] = 0x001F;
        } else {
            m[0] = 0xFF0000, m[1] = 0xFF00, m[2] = 0xFF;
        }
    }
    TBmpLayout l;
    TChannels& c = l.Channels;
    c.Red = MakeChannel(m[0], "red", H.Bpp);
    c.Green = MakeChannel(m[1], "green", H.Bpp);
    c.Blue = MakeChannel(m[2], "blue", H.Bpp);
    c.Alpha = MakeChannel(m[3], "alpha", H.Bpp);
    if (!c.Red.Bits || !c.Green.Bits || !c.Blue.Bits)
        Fail(std::string(!c.Red.Bits ? "red" : !c.Green.Bits ? "green" : "blue") + " mask is empty");
    if ((m[0] & m[1]) | (m[0] & m[2]) | (m[1] & m[2]) | (m[3] & (m[0] | m[1] | m[2])))
        Fail("bit-field masks overlap");
    l.HasAlpha = c.Alpha.Bits > 0;
    if (H.Bpp == 32) {
        const bool standard =
            m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF && (m[3] == 0 || m[3] == 0xFF000000u);
        l.Decoding = !standard    ? TRowDecoding::Masked32To32
                     : l.HasAlpha ? TRowDecoding::Bytes
                                  : TRowDecoding::OpaqueBgrx32;
    } else if (l.HasAlpha) {
        l.Decoding = TRowDecoding::Masked16To32;
    } else if (m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F) {
        l.Format = pf15bit, l.Decoding = TRowDecoding::Rgb555;
    } else if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F) {
        l.Format = pf16bit, l.Decoding = TRowDecoding::Bytes;
    } else {
        l.Format = pf24bit, l.Decoding = TRowDecoding::Masked16To24;
    }
    return l;
}

// The layout a checked header loads as: indexed depths keep their indices (2 bit widened to 4), 24 bit
// stays, 16 and 32 bit go by their masks.
TBmpLayout ChooseLayout(const TBmpHeader& H) {
    if (H.Bpp == 16 || H.Bpp == 32) return ChooseMaskedLayout(H);
    TBmpLayout l;
    l.Format = H.Bpp == 1 ? pf1bit : H.Bpp == 8 ? pf8bit : H.Bpp == 24 ? pf24bit : pf4bit;
    l.Decoding = H.Bpp == 2    ? TRowDecoding::Indices2To4
                 : H.Bpp == 24 ? TRowDecoding::Bytes
                               : TRowDecoding::Indices;
    return l;
}

// Decodes the uncompressed rows at Pixels (Available bytes, the file's bottom row first unless the
// header says top-down) into Img, whose size and format are set. Every row must be in the file before
// anything is allocated.
void DecodeRows(const uint8_t* Pixels, size_t Available, const TBmpHeader& H, const TBmpLayout& L,
                TDibImage& Img, const std::function<void()>& ReleaseRead) {
    const int width = Img.Width, height = Img.Height;
    const size_t srcStride = BytesPerScanline(width, H.Bpp);
    if (Available / srcStride < size_t(height)) {
        const size_t present = Available / srcStride;
        Fail("truncated pixel data: row " + std::to_string(present + 1) + " of " + std::to_string(height) +
             " missing (" + std::to_string(uint64_t(srcStride) * uint64_t(height) - Available) +
             " bytes short)");
    }
    const size_t stride = Img.Stride();
    Img.Bits.assign(stride * size_t(height), 0);
    // Runs DecodeRow(source row, picture row) over every row; the choice of DecodeRow is made once.
    const int releaseRows = int(std::max<size_t>(1, ReleaseReadEvery / srcStride));
    const auto eachRow = [&](auto&& DecodeRow) {
        for (int fy = 0; fy < height; ++fy) {
            DecodeRow(Pixels + size_t(fy) * srcStride, Img.Row(H.TopDown ? fy : height - 1 - fy));
            if (ReleaseRead && (fy + 1) % releaseRows == 0) ReleaseRead();
        }
    };
    const auto eachMaskedRow = [&](auto DecodeMasked) {
        eachRow([&](const uint8_t* src, uint8_t* dst) { DecodeMasked(src, width, L.Channels, dst); });
    };
    const size_t pixelBytes = size_t(width) * size_t(BitsPerPixel(L.Format) / 8);
    switch (L.Decoding) {
    case TRowDecoding::Indices:
        return eachRow([&](const uint8_t* src, uint8_t* dst) {
            std::memcpy(dst, src, stride);
            ClearRowTail(dst, width, H.Bpp, stride);
        });
    case TRowDecoding::Indices2To4:
        return eachRow([&](const uint8_t* src, uint8_t* dst) {
            for (int x = 0; x < width; ++x)
                SetIndexAt<4>(dst, x, IndexAt<2>(src, x));
        });
    case TRowDecoding::Rgb555:
        return eachRow([&](const uint8_t* src, uint8_t* dst) {
            for (int x = 0; x < width; ++x) {
                dst[2 * x] = src[2 * x];
                dst[2 * x + 1] = src[2 * x + 1] & 0x7F;
            }
        });
    case TRowDecoding::Bytes:
        return eachRow([&](const uint8_t* src, uint8_t* dst) { std::memcpy(dst, src, pixelBytes); });
    case TRowDecoding::OpaqueBgrx32:
        return eachRow([&](const uint8_t* src, uint8_t* dst) {
            std::memcpy(dst, src, pixelBytes);
            for (int x = 0; x < width; ++x)
                dst[4 * x + 3] = 255;
        });
    case TRowDecoding::Masked16To24:
        return eachMaskedRow(DecodeMaskedRow<16, 3>);
    case TRowDecoding::Masked16To32:
        return eachMaskedRow(DecodeMaskedRow<16, 4>);
    case TRowDecoding::Masked32To32:
        return eachMaskedRow(DecodeMaskedRow<32, 4>);
    }
}

// An alpha channel that is zero everywhere was never filled in by the writer: showing the picture fully
// transparent would lose it, so it loads as opaque.
void OpaqueIfAlphaUnused(TDibImage& Img) {
    if (!Img.HasAlpha) return;
    for (int y = 0; y < Img.Height; ++y)
        for (int x = 0; x < Img.Width; ++x)
            if (Img.Row(y)[4 * x + 3] != 0) return;
    Img.HasAlpha = false;
    for (int y = 0; y < Img.Height; ++y)
        for (int x = 0; x < Img.Width; ++x)
            Img.Row(y)[4 * x + 3] = 255;
}

void PutLe16(std::vector<uint8_t>& Out, uint32_t V) {
    Out.push_back(uint8_t(V));
    Out.push_back(uint8_t(V >> 8));
}

void PutLe32(std::vector<uint8_t>& Out, uint32_t V) {
    PutLe16(Out, V & 0xFFFF);
    PutLe16(Out, V >> 16);
}

// The info header of a picture written at its own depth: 40 bytes, or 124 with red, green, blue and alpha
// masks and the sRGB colour space when it has alpha.
void PutInfoHeader(std::vector<uint8_t>& Out, const TDibImage& Image, bool Alpha, bool Masks16,
                   uint32_t ImageBytes, uint32_t PaletteEntries) {
    PutLe32(Out, Alpha ? 124 : 40);
    PutLe32(Out, uint32_t(Image.Width));
    PutLe32(Out, uint32_t(Image.Height)); // positive: bottom-up
    PutLe16(Out, 1);
    PutLe16(Out, uint32_t(BitsPerPixel(Image.Format)));
    PutLe32(Out, (Alpha || Masks16) ? biBitfields : biRgb);
    PutLe32(Out, ImageBytes);
    PutLe32(Out, 0); // resolution unspecified
    PutLe32(Out, 0);
    PutLe32(Out, PaletteEntries);
    PutLe32(Out, 0);
    if (!Alpha) return;
    PutLe32(Out, 0x00FF0000); // red, green, blue and alpha masks
    PutLe32(Out, 0x0000FF00);
    PutLe32(Out, 0x000000FF);
    PutLe32(Out, 0xFF000000);
    PutLe32(Out, 0x73524742);          // colour space 'sRGB'
    Out.insert(Out.end(), 36 + 12, 0); // end points and gamma, unused with sRGB
    PutLe32(Out, 4);                   // rendering intent: pictures
    PutLe32(Out, 0);                   // no profile
    PutLe32(Out, 0);
    PutLe32(Out, 0);
}

} // namespace

bool IsBmpData(const uint8_t* Data, size_t Size) {
    if (Size < 2) return false;
    const char s0 = char(Data[0]), s1 = char(Data[1]);
    return (s0 == 'B' && (s1 == 'M' || s1 == 'A')) || (s0 == 'C' && (s1 == 'I' || s1 == 'P')) ||
           (s0 == 'I' && s1 == 'C') || (s0 == 'P' && s1 == 'T');
}

TDibImage DecodeBmp(const uint8_t* Data, size_t Size, const std::function<void()>& ReleaseRead) {
    if (Data == nullptr) Size = 0;
    const TBmpHeader h = ReadHeaders(Data, Size);
    ValidateHeader(h);
    const TBmpLayout layout = ChooseLayout(h);
    CheckBitmapSize(h.Width, h.Height, BitsPerPixel(layout.Format), "BMP image");

    TDibImage img;
    img.Width = int(std::min<int64_t>(h.Width, INT32_MAX));
    img.Height = int(std::min<int64_t>(h.Height, INT32_MAX));
    img.Format = layout.Format;
    img.HasAlpha = layout.HasAlpha;
    if (IsIndexed(img.Format)) img.Palette = ReadPalette(h, Data, Size, BitsPerPixel(img.Format));

    if (h.OffBits > Size)
        Fail("pixel data offset " + std::to_string(h.OffBits) + " is beyond the end of the file (" +
             std::to_string(Size) + " bytes)");
    const uint8_t* pixels = Data + h.OffBits;
    const size_t available = Size - h.OffBits;
    if (h.Compression == biRle8 || h.Compression == biRle4) {
        img.Bits.assign(img.Stride() * size_t(img.Height), 0);
        DecodeRle(pixels, available, img, h.Compression == biRle4, ReleaseRead);
    } else {
        DecodeRows(pixels, available, h, layout, img, ReleaseRead);
        OpaqueIfAlphaUnused(img);
    }
    return img;
}

std::vector<uint8_t> EncodeBmp(const TDibImage& Image, const std::function<void(int Rows)>& RowsWritten) {
    if (Image.Format == pfCustom) throw EInvalidGraphic("BMP: cannot write a bitmap of custom pixel format");
    if (Image.Format < pfDevice || Image.Format > pfCustom)
        throw EInvalidGraphic("BMP: unknown pixel format " + std::to_string(int(Image.Format)));
    if (Image.Width <= 0 || Image.Height <= 0)
        throw EInvalidGraphic("BMP: cannot write an empty bitmap (" + std::to_string(Image.Width) + " x " +
                              std::to_string(Image.Height) + ")");
    Image.Validate();
    const size_t stride = Image.Stride();

    const int bpp = BitsPerPixel(Image.Format);
    const bool alpha = (Image.Format == pf32bit || Image.Format == pfDevice) && Image.HasAlpha;
    const bool masks16 = Image.Format == pf16bit;
    const uint32_t headerSize = alpha ? 124 : 40;
    const uint32_t paletteEntries = IsIndexed(Image.Format) ? (1u << bpp) : 0;
    const uint64_t offBits = FileHeaderSize + headerSize + (masks16 ? 12 : 0) + 4 * paletteEntries;
    const uint64_t imageBytes = uint64_t(stride) * uint64_t(Image.Height);
    const uint64_t fileSize = offBits + imageBytes;
    if (fileSize > UINT32_MAX)
        throw EOutOfResources("BMP: the bitmap is too large for a BMP file (over 4 GiB)");

    std::vector<uint8_t> out;
    out.reserve(size_t(fileSize));
    out.push_back('B');
    out.push_back('M');
    PutLe32(out, uint32_t(fileSize));
    PutLe32(out, 0);
    PutLe32(out, uint32_t(offBits));

    PutInfoHeader(out, Image, alpha, masks16, uint32_t(imageBytes), paletteEntries);
    if (masks16) {
        PutLe32(out, 0xF800);
        PutLe32(out, 0x07E0);
        PutLe32(out, 0x001F);
    }
    for (uint32_t i = 0; i < paletteEntries; ++i) {
        const uint32_t c = i < Image.Palette.size() ? Image.Palette[i] : 0;
        PutLe32(out, c & 0x00FFFFFF);
    }
    const int reportEvery = std::max(1, Image.Height / 100);
    for (int y = Image.Height - 1; y >= 0; --y) {
        const uint8_t* row = Image.Row(y);
        out.insert(out.end(), row, row + stride);
        const int rows = Image.Height - y;
        if (RowsWritten && rows % reportEvery == 0) RowsWritten(rows);
    }
    return out;
}
