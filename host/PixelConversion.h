// Converting pictures between pixel formats, and reading pixels as 0xAARRGGBB colours.
//
// Exactness: indexed -> direct is an exact palette lookup; 5- and 6-bit channels widen to 8 bits by
// bit replication ((v<<3)|(v>>2), (v<<2)|(v>>4)), so every format converts to pf24bit exactly;
// direct -> pf15bit/pf16bit drops the low bits (truncation, no rounding); to an indexed format a
// picture of at most 2^bpp distinct colours keeps them exactly, others map to a fixed palette by
// nearest colour (no dithering). Converting to pf24bit drops alpha (no blending).
#pragma once

#include <pictura/PixelFormat.h>

#include <cstdint>
#include <vector>

// Source converted to Target, keeping the picture; EArgumentError for pfCustom or a broken source.
TDibImage ConvertPixelFormat(const TDibImage& Source, TPixelFormat Target);

// The colour of pixel (X, Y) as 0xAARRGGBB (alpha 255 unless the picture has alpha); ERangeError
// outside the picture.
uint32_t PixelArgb(const TDibImage& Image, int X, int Y);

// Row Y of Image as Image.Width colours 0xAARRGGBB written to Out; ERangeError for a row outside.
void ReadRowArgb(const TDibImage& Image, int Y, uint32_t* Out);

// The palette used for pictures with more colours than an indexed format holds: pf1bit black and
// white, pf4bit the 16 standard VGA colours, pf8bit a 6x7x6 colour cube followed by 4 greys.
std::vector<uint32_t> FixedPalette(TPixelFormat Format);

// Whether Palette is the 256 opaque greys in order (an 8-bit grey picture's palette).
bool IsGreyRamp(const std::vector<uint32_t>& Palette);

// Whether every pixel of a 24- or 32-bit picture has equal red, green and blue.
bool AllGrey(const TDibImage& Image);

// Image turned upright from EXIF orientation Orientation (1..8): mirrored and/or turned by a quarter,
// half or three quarters. Pictures of fewer than 8 bits per pixel come out as 8-bit indices.
TDibImage Oriented(const TDibImage& Image, int Orientation);
