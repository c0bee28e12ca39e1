// TBitmap: pixel memory in the device-independent layout, reached row by row through GetScanline.
#pragma once

#include <pictura/PixelFormat.h>
#include <pictura/Vcl40Export.h>

#include <QImage>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class VCL40_EXPORT TBitmap {
public:
    TBitmap() = default;

    int Width() const { return FDib.Width; }
    int Height() const { return FDib.Height; }
    bool Empty() const { return FDib.Width == 0 || FDib.Height == 0; }

    // Resizes to Width x Height, keeping the top-left pixels that fit; new pixels are zero.
    void SetSize(int Width, int Height);
    void SetWidth(int Width) { SetSize(Width, FDib.Height); }
    void SetHeight(int Height) { SetSize(FDib.Width, Height); }

    TPixelFormat GetPixelFormat() const { return FDib.Format; }
    // Converts the pixels to Format, keeping the picture (palette lookup, 5/6-bit widening, ...).
    void SetPixelFormat(TPixelFormat Format);

    // Address of row Row's first pixel byte (rows top to bottom); ERangeError outside 0..Height-1.
    uint8_t* GetScanline(int Row);
    const uint8_t* GetScanline(int Row) const;
    size_t BytesPerLine() const { return FDib.Stride(); }

    // Palette of the indexed formats, 0xAARRGGBB; always 2^bpp entries for them.
    const std::vector<uint32_t>& Palette() const { return FDib.Palette; }
    void SetPalette(const std::vector<uint32_t>& Palette);
    bool HasAlpha() const { return FDib.HasAlpha; }

    // The whole picture in the framework's layout; Assign replaces it (size, format, pixels).
    const TDibImage& Dib() const { return FDib; }
    void Assign(TDibImage Dib);
    void Assign(const TBitmap& Source) { Assign(Source.FDib); }
    // Moves the picture out, leaving the bitmap empty (without calling OnChange).
    TDibImage TakeDib() { return std::exchange(FDib, TDibImage{}); }

    // A QImage over the bitmap's own memory where Qt has the layout (no copy), else a converted copy.
    // The result is valid until the bitmap's size or format changes.
    QImage ToQImage() const;
    // Replaces the picture with Image, choosing the pixel format from Image's format and depth.
    void FromQImage(const QImage& Image);

    // Called after the size, format or whole picture changed (not after writes through scan lines).
    std::function<void()> OnChange;

private:
    void Changed();

    TDibImage FDib;
};
