// Walks the block structure of JPEG and GIF streams and finds the closing brace of XBM data; nothing
// is decoded, and no byte outside Data is read.
#include "PictureCompleteness.h"

#include <cstring>

namespace {

// JPEG: segments from the start-of-image marker; after each start-of-scan segment the entropy-coded
// data runs to the next marker (0xFF followed by anything but a stuffed 0x00, a restart marker or fill).
// Complete when the end-of-image marker is reached. Bytes between segments are skipped to the next
// 0xFF, as decoders do.
bool JpegReachesEnd(const uint8_t* P, size_t N) {
    if (N < 4 || P[0] != 0xFF || P[1] != 0xD8) return false;
    size_t i = 2;
    for (;;) {
        while (i < N && P[i] != 0xFF)
            ++i;
        while (i < N && P[i] == 0xFF)
            ++i;
        if (i >= N) return false;
        const uint8_t marker = P[i++];
        if (marker == 0xD9) return true;                                                      // end of image
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue; // no length
        if (N - i < 2) return false;
        const size_t length = size_t(P[i]) << 8 | P[i + 1];
        if (length < 2 || N - i < length) return false;
        i += length;
        if (marker != 0xDA) continue;
        for (;; ++i) { // entropy-coded data of the scan
            if (N - i < 2) return false;
            const uint8_t next = P[i + 1];
            if (P[i] == 0xFF && next != 0x00 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7)) break;
        }
    }
}

// Skips GIF data sub-blocks starting at I; false when the stream ends before their terminator.
bool SkipSubBlocks(const uint8_t* P, size_t N, size_t& I) {
    for (;;) {
        if (I >= N) return false;
        const size_t length = P[I++];
        if (length == 0) return true;
        if (N - I < length) return false;
        I += length;
    }
}

// GIF: header, screen descriptor and global colour table, then extensions up to the first image,
// whose descriptor, colour table and data sub-blocks (Qt shows that image) must all be present.
bool GifFirstImageComplete(const uint8_t* P, size_t N) {
    if (N < 13) return false;
    size_t i = 13;
    if (P[10] & 0x80) i += 3 * (size_t(2) << (P[10] & 7));
    for (;;) {
        if (i >= N) return false;
        const uint8_t block = P[i++];
        if (block == 0x21) { // extension: label, then sub-blocks
            if (i >= N) return false;
            ++i;
            if (!SkipSubBlocks(P, N, i)) return false;
        } else if (block == 0x2C) { // image: descriptor, local colour table, code size, data
            if (N - i < 9) return false;
            const uint8_t flags = P[i + 8];
            i += 9;
            if (flags & 0x80) i += 3 * (size_t(2) << (flags & 7));
            if (i >= N) return false;
            ++i; // minimum code size
            return SkipSubBlocks(P, N, i);
        } else {
            return false; // the trailer or an unknown block before any image
        }
    }
}

// XBM: the bits are a C array; a file that lost its closing brace lost its last values.
bool XbmHasClosingBrace(const uint8_t* P, size_t N) {
    const void* open = std::memchr(P, '{', N);
    if (!open) return false;
    const size_t from = size_t(static_cast<const uint8_t*>(open) - P);
    return std::memchr(P + from, '}', N - from) != nullptr;
}

} // namespace

std::string MissingEnd(const std::string& Format, const uint8_t* Data, size_t Size) {
    if (Format == "jpeg" || Format == "jpg") {
        if (!JpegReachesEnd(Data, Size))
            return "the JPEG data ends before its end-of-image marker (file truncated?)";
    } else if (Format == "gif") {
        if (!GifFirstImageComplete(Data, Size))
            return "the GIF data ends inside its first image (file truncated?)";
    } else if (Format == "xbm") {
        if (!XbmHasClosingBrace(Data, Size))
            return "the XBM data ends before its closing brace (file truncated?)";
    }
    return {};
}
