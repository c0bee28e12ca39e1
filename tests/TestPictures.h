// Pictures built by hand for the tests, in the framework's layout.
#pragma once

#include <pictura/PixelFormat.h>

#include <cstdint>

// A Width x Height picture of Format with every pixel byte zero; an indexed one has a palette of 2^bpp
// opaque black entries.
inline TDibImage BlankPicture(TPixelFormat Format, int Width, int Height) {
    TDibImage dib;
    dib.Width = Width;
    dib.Height = Height;
    dib.Format = Format;
    dib.Bits.assign(dib.Stride() * size_t(Height), 0);
    if (IsIndexed(Format)) dib.Palette.assign(size_t(1) << BitsPerPixel(Format), 0xFF000000u);
    return dib;
}

// A Width x Height 24-bit picture whose pixel (x, y) gets its blue, green and red bytes from
// Pixel(x, y, bytes).
template <class TPixel> TDibImage Picture24(int Width, int Height, TPixel&& Pixel) {
    TDibImage dib = BlankPicture(pf24bit, Width, Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            Pixel(x, y, dib.Row(y) + 3 * size_t(x));
    return dib;
}
