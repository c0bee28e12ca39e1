// Turning a picture upright from its EXIF orientation.
#include "PixelConversion.h"

#include <cstring>

TDibImage Oriented(const TDibImage& Image, int Orientation) {
    if (Orientation < 2 || Orientation > 8) return Image;
    // Whole bytes per pixel: narrower indices are widened first (the palette stays).
    TDibImage widened;
    if (BitsPerPixel(Image.Format) < 8) widened = ConvertPixelFormat(Image, pf8bit);
    const TDibImage& source = BitsPerPixel(Image.Format) < 8 ? widened : Image;
    const size_t bytes = size_t(BitsPerPixel(source.Format)) / 8;
    const bool swapped = Orientation >= 5;
    TDibImage out;
    out.Width = swapped ? source.Height : source.Width;
    out.Height = swapped ? source.Width : source.Height;
    out.Format = source.Format;
    out.Palette = source.Palette;
    out.HasAlpha = source.HasAlpha;
    out.Bits.assign(out.Stride() * size_t(out.Height), 0);
    const int w = source.Width, h = source.Height;
    for (int y = 0; y < out.Height; ++y) {
        uint8_t* row = out.Row(y);
        for (int x = 0; x < out.Width; ++x) {
            // The stored pixel that shows at (x, y) once upright.
            int sx = x, sy = y;
            switch (Orientation) {
            case 2:
                sx = w - 1 - x;
                break;
            case 3:
                sx = w - 1 - x;
                sy = h - 1 - y;
                break;
            case 4:
                sy = h - 1 - y;
                break;
            case 5:
                sx = y;
                sy = x;
                break;
            case 6:
                sx = y;
                sy = h - 1 - x;
                break;
            case 7:
                sx = w - 1 - y;
                sy = h - 1 - x;
                break;
            case 8:
                sx = w - 1 - y;
                sy = x;
                break;
            }
            std::memcpy(row + size_t(x) * bytes, source.Row(sy) + size_t(sx) * bytes, bytes);
        }
    }
    return out;
}
