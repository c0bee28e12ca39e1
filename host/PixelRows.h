// The pixels of one row in the framework's layouts (PixelFormat.h): the one place that knows how each
// format packs a pixel and what colour it reads as. Conversion, painting and the BMP reader use it.
//
// Reading is exact: indices go through the palette; 5-bit channels widen as (v<<3)|(v>>2) and 6-bit ones
// as (v<<2)|(v>>4), so 0 stays 0 and the largest value becomes 255; 24/32-bit bytes are taken as they
// are; alpha is 255 unless a 32-bit picture has alpha.
#pragma once

#include <pictura/PixelFormat.h>

#include <cstdint>
#include <type_traits>
#include <utility>

constexpr uint32_t OpaqueBlack = 0xFF000000u;

constexpr uint32_t Argb(uint32_t A, uint32_t R, uint32_t G, uint32_t B) {
    return (A << 24) | (R << 16) | (G << 8) | B;
}

// The palette index of pixel X in a row of Bpp-bit indices (1, 2, 4 or 8; the first pixel of a byte in
// its highest bits).
template <int Bpp> inline uint32_t IndexAt(const uint8_t* Row, int X) {
    static_assert(Bpp == 1 || Bpp == 2 || Bpp == 4 || Bpp == 8, "indices have 1, 2, 4 or 8 bits");
    constexpr unsigned perByte = 8 / Bpp;
    const unsigned x = unsigned(X);
    const unsigned shift = 8 - Bpp * (x % perByte + 1);
    return (Row[x / perByte] >> shift) & ((1u << Bpp) - 1);
}

// Sets pixel X of such a row to Index (its low Bpp bits), keeping the row's other pixels.
template <int Bpp> inline void SetIndexAt(uint8_t* Row, int X, uint32_t Index) {
    static_assert(Bpp == 1 || Bpp == 2 || Bpp == 4 || Bpp == 8, "indices have 1, 2, 4 or 8 bits");
    constexpr unsigned perByte = 8 / Bpp;
    constexpr uint32_t mask = (1u << Bpp) - 1;
    const unsigned x = unsigned(X);
    const unsigned shift = 8 - Bpp * (x % perByte + 1);
    uint8_t& byte = Row[x / perByte];
    byte = uint8_t((byte & ~(mask << shift)) | ((Index & mask) << shift));
}

// How the pixels of a row read as colours: one kind for each layout, 32-bit pixels with and without
// alpha apart.
enum class TRowKind { Index1, Index4, Index8, Rgb555, Rgb565, Bgr24, Bgrx32, Bgra32 };

// The kind of Image's rows; Image.Format must have a layout (not pfCustom).
constexpr TRowKind RowKindOf(const TDibImage& Image) {
    using K = TRowKind;
    constexpr TRowKind byFormat[] = {K::Bgrx32, K::Index1, K::Index4, K::Index8,
                                     K::Rgb555, K::Rgb565, K::Bgr24,  K::Bgrx32};
    const TRowKind kind = byFormat[Image.Format];
    return kind == K::Bgrx32 && Image.HasAlpha ? K::Bgra32 : kind;
}

// Calls Work(std::integral_constant<TRowKind, K>{}) for Kind, so that a pixel loop inside Work is
// compiled once for each kind and tests no format per pixel.
template <TRowKind First = TRowKind::Index1, class TWork>
decltype(auto) WithRowKind(TRowKind Kind, TWork&& Work) {
    if constexpr (First == TRowKind::Bgra32) {
        return Work(std::integral_constant<TRowKind, First>{});
    } else {
        if (Kind == First) return Work(std::integral_constant<TRowKind, First>{});
        return WithRowKind<static_cast<TRowKind>(static_cast<int>(First) + 1)>(Kind,
                                                                               std::forward<TWork>(Work));
    }
}

// Calls Work(std::integral_constant<int, Bpp>{}) with the bits per pixel of the indexed Format.
template <class TWork> void WithIndexBits(TPixelFormat Format, TWork&& Work) {
    switch (Format) {
    case pf1bit:
        return Work(std::integral_constant<int, 1>{});
    case pf4bit:
        return Work(std::integral_constant<int, 4>{});
    default:
        return Work(std::integral_constant<int, 8>{});
    }
}

inline uint32_t Widen5(uint32_t V) {
    return (V << 3) | (V >> 2);
}
inline uint32_t Widen6(uint32_t V) {
    return (V << 2) | (V >> 4);
}

// Pixel X of a row of Kind as 0xAARRGGBB; Palette(index) gives the colour of an index.
template <TRowKind Kind, class TPalette>
inline uint32_t ArgbAt(const uint8_t* Row, int X, const TPalette& Palette) {
    const size_t x = size_t(X);
    if constexpr (Kind == TRowKind::Index1) {
        return Palette(IndexAt<1>(Row, X));
    } else if constexpr (Kind == TRowKind::Index4) {
        return Palette(IndexAt<4>(Row, X));
    } else if constexpr (Kind == TRowKind::Index8) {
        return Palette(IndexAt<8>(Row, X));
    } else if constexpr (Kind == TRowKind::Rgb555) {
        const uint32_t v = Row[2 * x] | (uint32_t(Row[2 * x + 1]) << 8);
        return Argb(255, Widen5((v >> 10) & 31), Widen5((v >> 5) & 31), Widen5(v & 31));
    } else if constexpr (Kind == TRowKind::Rgb565) {
        const uint32_t v = Row[2 * x] | (uint32_t(Row[2 * x + 1]) << 8);
        return Argb(255, Widen5(v >> 11), Widen6((v >> 5) & 63), Widen5(v & 31));
    } else if constexpr (Kind == TRowKind::Bgr24) {
        const uint8_t* p = Row + 3 * x;
        return Argb(255, p[2], p[1], p[0]);
    } else if constexpr (Kind == TRowKind::Bgrx32) {
        const uint8_t* p = Row + 4 * x;
        return Argb(255, p[2], p[1], p[0]);
    } else {
        const uint8_t* p = Row + 4 * x;
        return Argb(p[3], p[2], p[1], p[0]);
    }
}
