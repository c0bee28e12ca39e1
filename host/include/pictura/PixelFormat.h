// Pixel formats and the device-independent pixel layout shared by bitmaps and file codecs.
#pragma once

#include <pictura/SysUtils.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Layouts: 1/4/8 bit palette indices (most significant bits first); 15 bit X1R5G5B5 and
// 16 bit R5G6B5 as little-endian words; 24 bit Blue, Green, Red; 32 bit Blue, Green, Red, unused
// (or alpha where the picture has one). pfDevice is laid out as 32 bit.
enum TPixelFormat : int {
    pfDevice = 0,
    pf1bit = 1,
    pf4bit = 2,
    pf8bit = 3,
    pf15bit = 4,
    pf16bit = 5,
    pf24bit = 6,
    pf32bit = 7,
    pfCustom = 8
};

// Bits per pixel of a format's layout (pfCustom has none and gives 0).
constexpr int BitsPerPixel(TPixelFormat Format) {
    switch (Format) {
    case pf1bit:
        return 1;
    case pf4bit:
        return 4;
    case pf8bit:
        return 8;
    case pf15bit:
    case pf16bit:
        return 16;
    case pf24bit:
        return 24;
    case pfDevice:
    case pf32bit:
        return 32;
    default:
        return 0;
    }
}

// True for the formats whose pixels are palette indices.
constexpr bool IsIndexed(TPixelFormat Format) {
    return Format == pf1bit || Format == pf4bit || Format == pf8bit;
}

// Bytes of one row: Width pixels at Bpp bits, padded to a multiple of 4 bytes.
constexpr size_t BytesPerScanline(int Width, int Bpp) {
    return ((size_t(Width) * size_t(Bpp) + 31) / 32) * 4;
}

// A picture in the framework's memory layout: Height rows of BytesPerScanline(Width, bpp) bytes,
// the top row first. Palette entries are 0xAARRGGBB (alpha 255 unless the file says otherwise).
struct TDibImage {
    int Width = 0;
    int Height = 0;
    TPixelFormat Format = pfDevice;
    std::vector<uint32_t> Palette;
    std::vector<uint8_t> Bits;
    bool HasAlpha = false; // pf32bit only: the unused byte holds a meaningful alpha

    size_t Stride() const { return BytesPerScanline(Width, BitsPerPixel(Format)); }
    uint8_t* Row(int Y) { return Bits.data() + size_t(Y) * Stride(); }
    const uint8_t* Row(int Y) const { return Bits.data() + size_t(Y) * Stride(); }

    // Checks that the fields describe a picture that Row can reach: a format with a layout, no
    // negative size, and pixel memory for every row. EArgumentError saying what is wrong otherwise.
    void Validate() const {
        if (Format < pfDevice || Format >= pfCustom)
            throw EArgumentError("pixel format " + std::to_string(int(Format)) + " has no defined layout");
        if (Width < 0 || Height < 0)
            throw EArgumentError("negative picture size " + std::to_string(Width) + " x " +
                                 std::to_string(Height));
        if (Height > 0 && Stride() > Bits.size() / size_t(Height))
            throw EArgumentError("pixel memory is smaller than the picture's size and format need");
    }
};
