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
    // Orientations 5 to 8 swap the axes; then each axis may run backwards.
    const bool mirrorX = Orientation == 2 || Orientation == 3 || Orientation == 7 || Orientation == 8;
    const bool mirrorY = Orientation == 3 || Orientation == 4 || Orientation == 6 || Orientation == 7;
    for (int y = 0; y < out.Height; ++y) {
        uint8_t* row = out.Row(y);
        for (int x = 0; x < out.Width; ++x) {
            // The stored pixel that shows at (x, y) once upright.
            int sx = swapped ? y : x, sy = swapped ? x : y;
            if (mirrorX) sx = w - 1 - sx;
            if (mirrorY) sy = h - 1 - sy;
            std::memcpy(row + size_t(x) * bytes, source.Row(sy) + size_t(sx) * bytes, bytes);
        }
    }
    return out;
}
