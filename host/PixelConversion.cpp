// Pixel format conversion.
//
// Exactness contract: every pixel goes through a 0xAARRGGBB colour, read exactly (PixelRows.h). Writing:
// pf24bit/pf32bit store the channels exactly (pf24bit drops alpha without blending; pf32bit keeps it and sets
// HasAlpha only when some pixel is not opaque); pf15bit/pf16bit keep the high bits of each channel
// (truncation), so 15/16 -> 24 -> 15/16 is lossless. Indexed targets: widening between indexed formats keeps
// indices and palette; otherwise a picture with at most 2^bpp distinct RGB colours gets exactly those as its
// palette (in order of first appearance, top row first), and any other picture maps each pixel to the nearest
// entry of FixedPalette by squared RGB distance, ties to the lowest index. Output palettes always have 2^bpp
// entries (padded with opaque black).
#include "PixelConversion.h"

#include "PixelRows.h"
#include <pictura/ImageLimits.h>
#include <pictura/SysUtils.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using TPaletteTable = std::array<uint32_t, 256>;

// The palette padded with opaque black, so that any index reads a colour.
TPaletteTable MakePaletteTable(const TDibImage& Image) {
    TPaletteTable table;
    table.fill(OpaqueBlack);
    const size_t n = std::min<size_t>(Image.Palette.size(), table.size());
    std::copy_n(Image.Palette.begin(), n, table.begin());
    return table;
}

// Pixels X0 .. X0 + Count - 1 of row Y of Image as colours 0xAARRGGBB (the whole row by default).
void ReadRow(const TDibImage& Image, int Y, const TPaletteTable& Pal, uint32_t* Out, int X0 = 0,
             int Count = -1) {
    const uint8_t* row = Image.Row(Y);
    const int end = Count < 0 ? Image.Width : X0 + Count;
    const auto palette = [&](uint32_t Index) { return Pal[Index]; };
    WithRowKind(RowKindOf(Image), [&](auto Kind) {
        for (int x = X0; x < end; ++x)
            Out[x - X0] = ArgbAt<decltype(Kind)::value>(row, x, palette);
    });
}

// Writes 5-5-5 (GreenBits 5) or 5-6-5 words, keeping the high bits of each channel.
template <int GreenBits> void WriteWordRow(const uint32_t* In, int Width, uint8_t* Row) {
    for (int x = 0; x < Width; ++x, Row += 2) {
        const uint32_t c = In[x];
        const uint32_t green = (c >> (16 - GreenBits)) & ((1u << GreenBits) - 1);
        const uint32_t v = (((c >> 19) & 31) << (5 + GreenBits)) | (green << 5) | ((c >> 3) & 31);
        Row[0] = uint8_t(v);
        Row[1] = uint8_t(v >> 8);
    }
}

// Writes direct-colour pixels; returns true when some pixel was written with alpha below 255.
bool WriteDirectRow(TPixelFormat Format, const uint32_t* In, int Width, uint8_t* Row) {
    bool translucent = false;
    switch (Format) {
    case pf15bit:
        WriteWordRow<5>(In, Width, Row);
        break;
    case pf16bit:
        WriteWordRow<6>(In, Width, Row);
        break;
    case pf24bit:
        for (int x = 0; x < Width; ++x, Row += 3) {
            const uint32_t c = In[x];
            Row[0] = uint8_t(c);
            Row[1] = uint8_t(c >> 8);
            Row[2] = uint8_t(c >> 16);
        }
        break;
    default: // pf32bit, pfDevice
        for (int x = 0; x < Width; ++x, Row += 4) {
            const uint32_t c = In[x];
            Row[0] = uint8_t(c);
            Row[1] = uint8_t(c >> 8);
            Row[2] = uint8_t(c >> 16);
            Row[3] = uint8_t(c >> 24);
            translucent |= Row[3] != 255;
        }
        break;
    }
    return translucent;
}

// Row Y of an indexed Image as its Width palette indices.
void ReadIndexRow(const TDibImage& Image, int Y, uint32_t* Out) {
    const uint8_t* row = Image.Row(Y);
    WithIndexBits(Image.Format, [&](auto Bpp) {
        for (int x = 0; x < Image.Width; ++x)
            Out[x] = IndexAt<decltype(Bpp)::value>(row, x);
    });
}

// Writes Width palette indices as a row of the indexed Format.
void WriteIndexRow(TPixelFormat Format, const uint32_t* Indices, int Width, uint8_t* Row) {
    WithIndexBits(Format, [&](auto Bpp) {
        for (int x = 0; x < Width; ++x)
            SetIndexAt<decltype(Bpp)::value>(Row, x, Indices[x]);
    });
}

// A small open-addressing map from RGB colours to palette indices; holds at most 257 colours.
class TColourMap {
public:
    TColourMap() { FKeys.fill(0); }
    // Index of Rgb, or -1 when absent.
    int Find(uint32_t Rgb) const {
        const uint32_t key = Rgb | OpaqueBlack; // never 0, which marks an empty slot
        for (uint32_t i = Hash(key);; i = (i + 1) & (Slots - 1)) {
            if (FKeys[i] == key) return FValues[i];
            if (FKeys[i] == 0) return -1;
        }
    }
    void Insert(uint32_t Rgb, int Index) {
        const uint32_t key = Rgb | OpaqueBlack;
        uint32_t i = Hash(key);
        while (FKeys[i] != 0)
            i = (i + 1) & (Slots - 1);
        FKeys[i] = key;
        FValues[i] = int16_t(Index);
    }

private:
    static constexpr uint32_t Slots = 1024;
    static uint32_t Hash(uint32_t Key) { return (Key * 2654435761u) >> 22; }
    std::array<uint32_t, Slots> FKeys;
    std::array<int16_t, Slots> FValues{};
};

uint32_t Distance(uint32_t A, uint32_t B) {
    const int dr = int((A >> 16) & 0xFF) - int((B >> 16) & 0xFF);
    const int dg = int((A >> 8) & 0xFF) - int((B >> 8) & 0xFF);
    const int db = int(A & 0xFF) - int(B & 0xFF);
    return uint32_t(dr * dr + dg * dg + db * db);
}

// Levels of the 6x7x6 cube: red and blue 0, 51, ..., 255; green 0, 43, 85, 128, 170, 213, 255.
constexpr std::array<uint8_t, 6> CubeLevels6 = {0, 51, 102, 153, 204, 255};
constexpr std::array<uint8_t, 7> CubeLevels7 = {0, 43, 85, 128, 170, 213, 255};
constexpr std::array<uint8_t, 4> ExtraGreys = {51, 102, 153, 204};

template <size_t N> std::array<uint8_t, 256> NearestLevelTable(const std::array<uint8_t, N>& Levels) {
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        size_t best = 0;
        for (size_t i = 1; i < N; ++i)
            if (std::abs(v - Levels[i]) < std::abs(v - Levels[best])) best = i;
        table[size_t(v)] = uint8_t(best);
    }
    return table;
}

// Nearest entry of the 8-bit fixed palette. The cube is a grid, so its nearest point is the
// nearest level in each channel; the four extra greys are then compared with it.
uint32_t NearestIn8BitPalette(uint32_t C) {
    static const auto near6 = NearestLevelTable(CubeLevels6);
    static const auto near7 = NearestLevelTable(CubeLevels7);
    const uint32_t r = (C >> 16) & 0xFF, g = (C >> 8) & 0xFF, b = C & 0xFF;
    const uint32_t ri = near6[r], gi = near7[g], bi = near6[b];
    const uint32_t cube = Argb(255, CubeLevels6[ri], CubeLevels7[gi], CubeLevels6[bi]);
    uint32_t best = ri * 42 + gi * 6 + bi;
    uint32_t bestDistance = Distance(C, cube);
    for (size_t i = 0; i < ExtraGreys.size(); ++i) {
        const uint32_t v = ExtraGreys[i];
        const uint32_t d = Distance(C, Argb(255, v, v, v));
        if (d < bestDistance) bestDistance = d, best = uint32_t(252 + i);
    }
    return best;
}

uint32_t NearestByScan(const std::vector<uint32_t>& Palette, uint32_t C) {
    uint32_t best = 0, bestDistance = UINT32_MAX;
    for (size_t i = 0; i < Palette.size(); ++i) {
        const uint32_t d = Distance(C, Palette[i]);
        if (d < bestDistance) bestDistance = d, best = uint32_t(i);
    }
    return best;
}

TDibImage NewImage(const TDibImage& Source, TPixelFormat Target) {
    CheckBitmapSize(Source.Width, Source.Height, BitsPerPixel(Target), "pixel format conversion");
    TDibImage out;
    out.Width = Source.Width;
    out.Height = Source.Height;
    out.Format = Target;
    out.Bits.assign(out.Stride() * size_t(out.Height), 0);
    return out;
}

// The distinct RGB colours of Source, opaque, in order of first appearance (top row first), each entered
// in Map with its position; the search stops once there are more than Limit.
std::vector<uint32_t> DistinctColours(const TDibImage& Source, size_t Limit, TColourMap& Map) {
    const TPaletteTable pal = MakePaletteTable(Source);
    std::vector<uint32_t> row(static_cast<size_t>(Source.Width)), colours;
    for (int y = 0; y < Source.Height && colours.size() <= Limit; ++y) {
        ReadRow(Source, y, pal, row.data());
        for (int x = 0; x < Source.Width && colours.size() <= Limit; ++x) {
            const uint32_t c = row[size_t(x)] & 0x00FFFFFF;
            if (Map.Find(c) < 0) {
                Map.Insert(c, int(colours.size()));
                colours.push_back(c | OpaqueBlack);
            }
        }
    }
    return colours;
}

// Writes each pixel of Source into the indexed Out as IndexOf(its RGB colour).
template <class TIndexOf>
void WriteIndicesByColour(const TDibImage& Source, TDibImage& Out, TIndexOf&& IndexOf) {
    const TPaletteTable pal = MakePaletteTable(Source);
    std::vector<uint32_t> row(static_cast<size_t>(Source.Width)), indices(row.size());
    for (int y = 0; y < Source.Height; ++y) {
        ReadRow(Source, y, pal, row.data());
        for (size_t x = 0; x < row.size(); ++x)
            indices[x] = IndexOf(row[x] & 0x00FFFFFF);
        WriteIndexRow(Out.Format, indices.data(), Source.Width, Out.Row(y));
    }
}

// Nearest, remembering the last colour's answer: pictures repeat colours along a row, and the search is slow.
template <class TNearest> auto RememberingLast(TNearest Nearest) {
    return [Nearest, known = false, colour = uint32_t(0), index = uint32_t(0)](uint32_t C) mutable {
        if (!known || C != colour) known = true, colour = C, index = Nearest(C);
        return index;
    };
}

TDibImage ToIndexed(const TDibImage& Source, TPixelFormat Target) {
    TDibImage out = NewImage(Source, Target);
    const size_t capacity = size_t(1) << BitsPerPixel(Target);
    if (IsIndexed(Source.Format) && BitsPerPixel(Source.Format) <= BitsPerPixel(Target)) {
        // Widening: every index stays valid, so keep indices and palette.
        const TPaletteTable pal = MakePaletteTable(Source);
        out.Palette.assign(pal.begin(), pal.begin() + ptrdiff_t(size_t(1) << BitsPerPixel(Source.Format)));
        out.Palette.resize(capacity, OpaqueBlack);
        std::vector<uint32_t> indices(static_cast<size_t>(Source.Width));
        for (int y = 0; y < Source.Height; ++y) {
            ReadIndexRow(Source, y, indices.data());
            WriteIndexRow(Target, indices.data(), Source.Width, out.Row(y));
        }
        return out;
    }
    TColourMap map;
    const std::vector<uint32_t> colours = DistinctColours(Source, capacity, map);
    if (colours.size() <= capacity) {
        out.Palette = colours;
        out.Palette.resize(capacity, OpaqueBlack);
        WriteIndicesByColour(Source, out, [&](uint32_t C) { return uint32_t(map.Find(C)); });
    } else {
        out.Palette = FixedPalette(Target);
        if (Target == pf8bit)
            WriteIndicesByColour(Source, out, RememberingLast(NearestIn8BitPalette));
        else
            WriteIndicesByColour(Source, out,
                                 RememberingLast([&](uint32_t C) { return NearestByScan(out.Palette, C); }));
    }
    return out;
}

} // namespace

std::vector<uint32_t> FixedPalette(TPixelFormat Format) {
    switch (Format) {
    case pf1bit:
        return {0xFF000000u, 0xFFFFFFFFu};
    case pf4bit:
        return {0xFF000000u, 0xFF800000u, 0xFF008000u, 0xFF808000u, 0xFF000080u, 0xFF800080u,
                0xFF008080u, 0xFFC0C0C0u, 0xFF808080u, 0xFFFF0000u, 0xFF00FF00u, 0xFFFFFF00u,
                0xFF0000FFu, 0xFFFF00FFu, 0xFF00FFFFu, 0xFFFFFFFFu};
    case pf8bit: {
        std::vector<uint32_t> palette;
        palette.reserve(256);
        for (uint8_t r : CubeLevels6)
            for (uint8_t g : CubeLevels7)
                for (uint8_t b : CubeLevels6)
                    palette.push_back(Argb(255, r, g, b));
        for (uint8_t v : ExtraGreys)
            palette.push_back(Argb(255, v, v, v));
        return palette;
    }
    default:
        throw EArgumentError("FixedPalette: pixel format " + std::to_string(int(Format)) + " is not indexed");
    }
}

void ReadRowArgb(const TDibImage& Image, int Y, uint32_t* Out) {
    Image.Validate();
    if (Y < 0 || Y >= Image.Height)
        throw ERangeError("ReadRowArgb: row " + std::to_string(Y) + " is outside the picture (height " +
                          std::to_string(Image.Height) + ")");
    ReadRow(Image, Y, MakePaletteTable(Image), Out);
}

uint32_t PixelArgb(const TDibImage& Image, int X, int Y) {
    Image.Validate();
    if (X < 0 || X >= Image.Width || Y < 0 || Y >= Image.Height)
        throw ERangeError("PixelArgb: pixel (" + std::to_string(X) + ", " + std::to_string(Y) +
                          ") is outside the " + std::to_string(Image.Width) + " x " +
                          std::to_string(Image.Height) + " picture");
    const auto palette = [&](uint32_t Index) {
        return Index < Image.Palette.size() ? Image.Palette[Index] : OpaqueBlack;
    };
    return WithRowKind(RowKindOf(Image),
                       [&](auto Kind) { return ArgbAt<decltype(Kind)::value>(Image.Row(Y), X, palette); });
}

TDibImage ConvertPixelFormat(const TDibImage& Source, TPixelFormat Target) {
    if (Target < pfDevice || Target >= pfCustom)
        throw EArgumentError("ConvertPixelFormat: cannot convert to pixel format " +
                             std::to_string(int(Target)) +
                             (Target == pfCustom ? " (pfCustom has no defined layout)" : ""));
    Source.Validate();

    // Same layout: a copy (pfDevice and pf32bit share theirs).
    const bool same32 =
        (Source.Format == pf32bit || Source.Format == pfDevice) && (Target == pf32bit || Target == pfDevice);
    if (Source.Format == Target || same32) {
        TDibImage out = Source;
        out.Format = Target;
        out.Bits.resize(out.Stride() * size_t(out.Height));
        return out;
    }
    if (IsIndexed(Target)) return ToIndexed(Source, Target);

    TDibImage out = NewImage(Source, Target);
    const TPaletteTable pal = MakePaletteTable(Source);
    // A row goes through in pieces: a picture one row wide would otherwise need a second picture's
    // worth of colours beside the two bitmaps. Direct-colour pixels are whole bytes.
    constexpr int Piece = 4096;
    const size_t targetBytes = size_t(BitsPerPixel(Target) / 8);
    std::vector<uint32_t> colours(size_t(std::min(Source.Width, Piece)));
    bool translucent = false;
    for (int y = 0; y < Source.Height; ++y)
        for (int x = 0; x < Source.Width; x += Piece) {
            const int count = std::min(Piece, Source.Width - x);
            ReadRow(Source, y, pal, colours.data(), x, count);
            translucent |=
                WriteDirectRow(Target, colours.data(), count, out.Row(y) + size_t(x) * targetBytes);
        }
    out.HasAlpha = translucent && (Target == pf32bit || Target == pfDevice);
    return out;
}

bool IsGreyRamp(const std::vector<uint32_t>& Palette) {
    if (Palette.size() != 256) return false;
    for (uint32_t i = 0; i < 256; ++i)
        if (Palette[i] != (0xFF000000u | i * 0x010101u)) return false;
    return true;
}

bool AllGrey(const TDibImage& Image) {
    const size_t step = Image.Format == pf24bit ? 3 : 4;
    for (int y = 0; y < Image.Height; ++y) {
        const uint8_t* row = Image.Row(y);
        for (size_t x = 0, n = size_t(Image.Width) * step; x < n; x += step)
            if (row[x] != row[x + 1] || row[x] != row[x + 2]) return false;
    }
    return true;
}
