// The benchmarks' test picture: a 3840 x 2160 24-bit photo-like image, and a checksum of pixels.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

struct TBenchImage {
    int Width = 0;
    int Height = 0;
    size_t Stride = 0; // bytes per row, padded to a multiple of 4 as in a bitmap
    std::vector<uint8_t> Bits;
    std::vector<uint8_t*> Rows; // Rows[y] = first byte of row y

    uint8_t* Row(int Y) { return Rows[size_t(Y)]; }
};

// Smooth gradients, soft blobs and fine grain: the value mix of a photograph, not a flat test card.
inline TBenchImage MakeBenchImage(int Width = 3840, int Height = 2160) {
    TBenchImage image;
    image.Width = Width;
    image.Height = Height;
    image.Stride = (size_t(Width) * 3 + 3) & ~size_t(3);
    image.Bits.assign(image.Stride * size_t(Height), 0);
    uint32_t noise = 0x12345678u;
    for (int y = 0; y < Height; ++y) {
        uint8_t* row = image.Bits.data() + size_t(y) * image.Stride;
        image.Rows.push_back(row);
        for (int x = 0; x < Width; ++x) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const double u = double(x) / Width, v = double(y) / Height;
            const double blob = std::exp(-((u - 0.6) * (u - 0.6) + (v - 0.4) * (v - 0.4)) * 12.0);
            const double grain = double(int(noise & 15) - 8);
            const double r = 40 + 150 * v + 60 * blob + grain;
            const double g = 70 + 90 * u * (1 - v) + 80 * blob + grain;
            const double b = 160 - 110 * v + 30 * std::sin(u * 9.0) + grain;
            row[3 * x + 0] = uint8_t(std::fmin(255.0, std::fmax(0.0, b)));
            row[3 * x + 1] = uint8_t(std::fmin(255.0, std::fmax(0.0, g)));
            row[3 * x + 2] = uint8_t(std::fmin(255.0, std::fmax(0.0, r)));
        }
    }
    return image;
}

// FNV-1a over the pixel bytes of every row (padding excluded).
inline uint64_t PixelChecksum(const TBenchImage& Image) {
    uint64_t hash = 1469598103934665603ull;
    for (int y = 0; y < Image.Height; ++y) {
        const uint8_t* row = Image.Bits.data() + size_t(y) * Image.Stride;
        for (size_t i = 0; i < size_t(Image.Width) * 3; ++i)
            hash = (hash ^ row[i]) * 1099511628211ull;
    }
    return hash;
}
