// Walks the structure of JPEG, GIF, PNG, PNM, XBM and TIFF data without decoding pixels; no byte outside
// Data is read.
#include "PictureCompleteness.h"
#include "ByteOrder.h"

#include "TiffLayout.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include <zlib.h>

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
        for (;; ++i) { // entropy-coded data of the scan, from one 0xFF to the next
            const auto* ff = static_cast<const uint8_t*>(std::memchr(P + i, 0xFF, N - i));
            if (!ff) return false;
            i = size_t(ff - P);
            if (N - i < 2) return false;
            const uint8_t next = P[i + 1];
            if (next != 0x00 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7)) break;
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

// Counts the pixels that a GIF image's LZW data (sub-blocks from I) decodes to, without decoding
// them: each code adds the length of the string it stands for. Stops at Wanted pixels or the end
// code; an impossible code makes the data corrupt (returns false).
bool CountLzwPixels(const uint8_t* P, size_t N, size_t I, int MinCodeSize, uint64_t Wanted, uint64_t& Count) {
    Count = 0;
    if (MinCodeSize < 1 || MinCodeSize > 11) return false;
    const int clear = 1 << MinCodeSize, end = clear + 1;
    static thread_local uint16_t lengths[4096];
    int next = clear + 2, codeSize = MinCodeSize + 1, previous = -1;
    uint32_t bits = 0;
    int bitCount = 0;
    size_t blockLeft = 0;
    while (Count < Wanted) {
        while (bitCount < codeSize) { // the next byte of the sub-blocks
            if (blockLeft == 0) {
                if (I >= N || P[I] == 0) return true; // data ends: Count tells how far it got
                blockLeft = P[I++];
                if (N - I < blockLeft) blockLeft = N - I;
                if (blockLeft == 0) return true;
            }
            bits |= uint32_t(P[I++]) << bitCount;
            bitCount += 8;
            --blockLeft;
        }
        const int code = int(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        bitCount -= codeSize;
        if (code == clear) {
            next = clear + 2;
            codeSize = MinCodeSize + 1;
            previous = -1;
            continue;
        }
        if (code == end) return true;
        int length;
        if (previous < 0) {
            if (code >= clear) return false;
            length = 1;
        } else if (code < next) {
            length = code < clear ? 1 : lengths[code];
        } else if (code == next) {
            length = (previous < clear ? 1 : lengths[previous]) + 1;
        } else {
            return false;
        }
        if (previous >= 0 && next < 4096) {
            lengths[next] = uint16_t((previous < clear ? 1 : lengths[previous]) + 1);
            if (++next == (1 << codeSize) && codeSize < 12) ++codeSize;
        }
        Count += uint64_t(length);
        previous = code;
    }
    return true;
}

// GIF: header, screen descriptor and global colour table, then extensions up to the first image (the
// one Qt shows), whose data must cover all its pixels, then the blocks that follow up to the trailer.
std::string GifProblem(const uint8_t* P, size_t N) {
    const std::string cut = "the GIF data ends inside its first image (file truncated?)";
    if (N < 13) return cut;
    size_t i = 13;
    if (P[10] & 0x80) i += 3 * (size_t(2) << (P[10] & 7));
    bool seenImage = false;
    for (;;) {
        if (i >= N) return seenImage ? "the GIF data ends without its trailer (file truncated?)" : cut;
        const uint8_t block = P[i++];
        if (block == 0x3B) {
            if (!seenImage) return "the GIF file holds no image";
            return {};
        }
        if (block == 0x21) { // extension: label, then sub-blocks
            if (i >= N) return cut;
            ++i;
            if (!SkipSubBlocks(P, N, i)) return seenImage ? "the GIF data ends inside an extension" : cut;
        } else if (block == 0x2C) { // image: descriptor, local colour table, code size, data
            if (N - i < 9) return cut;
            const uint64_t width = P[i + 4] | P[i + 5] << 8, height = P[i + 6] | P[i + 7] << 8;
            const uint8_t flags = P[i + 8];
            i += 9;
            if (flags & 0x80) i += 3 * (size_t(2) << (flags & 7));
            if (i >= N) return cut;
            const int codeSize = P[i++];
            if (!seenImage) {
                uint64_t count = 0;
                if (!CountLzwPixels(P, N, i, codeSize, width * height, count))
                    return "the GIF image data is corrupt (a code that the data has not defined)";
                if (count < width * height)
                    return "the GIF image data covers " + std::to_string(count) + " of its " +
                           std::to_string(width) + " x " + std::to_string(height) +
                           " pixels (file truncated?)";
            }
            if (!SkipSubBlocks(P, N, i)) return seenImage ? "the GIF data ends inside an image" : cut;
            seenImage = true;
        } else {
            return "the GIF data holds an unknown block (byte " + std::to_string(i - 1) + ")";
        }
    }
}

// XBM: the bits are a C array of hexadecimal bytes; all ((width + 7) / 8) x height must be there.
std::string XbmProblem(const uint8_t* P, size_t N) {
    const std::string text(reinterpret_cast<const char*>(P), N);
    const size_t open = text.find('{');
    if (open == std::string::npos || text.find('}', open) == std::string::npos)
        return "the XBM data ends before its closing brace (file truncated?)";
    auto define = [&](const char* Suffix) -> int64_t {
        const size_t at = text.find(Suffix);
        if (at == std::string::npos || at > open) return -1;
        size_t k = at + std::strlen(Suffix);
        while (k < open && (text[k] == ' ' || text[k] == '\t'))
            ++k;
        int64_t value = 0;
        bool digits = false;
        for (; k < open && text[k] >= '0' && text[k] <= '9' && value < (int64_t(1) << 40); ++k, digits = true)
            value = value * 10 + (text[k] - '0');
        return digits ? value : -1;
    };
    const int64_t width = define("_width"), height = define("_height");
    if (width < 0 || height < 0) return {}; // Qt's reader refuses it with its own reason
    const uint64_t needed = uint64_t((width + 7) / 8) * uint64_t(height);
    uint64_t found = 0;
    const size_t close = text.find('}', open);
    for (size_t k = open; k + 1 < close && found < needed; ++k)
        if (text[k] == '0' && (text[k + 1] == 'x' || text[k + 1] == 'X')) ++found;
    if (found < needed)
        return "the XBM data holds " + std::to_string(found) + " of its " + std::to_string(needed) +
               " bytes (file truncated?)";
    return {};
}

// PNG: chunks from the signature to a whole end chunk; critical chunks must match their checksums
// (libpng would stop on them with a message on standard error instead of in the error).
// zlib's checksum, which runs several bytes a step (image data is most of a PNG file).
uint32_t Crc32(const uint8_t* P, size_t N) {
    return uint32_t(crc32_z(0, P, N));
}

// The rows of a PNG image's filtered data: for each Adam7 pass (or the one pass of a plain image) its
// number of rows and the bytes of each row, filter byte included.
std::vector<std::pair<uint64_t, uint64_t>> PngRows(uint64_t Width, uint64_t Height, int BitsPerPixel,
                                                   bool Interlaced) {
    auto rowBytes = [&](uint64_t Pixels) { return 1 + (Pixels * uint64_t(BitsPerPixel) + 7) / 8; };
    if (!Interlaced) return {{Height, rowBytes(Width)}};
    static const int start[7][2] = {{0, 0}, {4, 0}, {0, 4}, {2, 0}, {0, 2}, {1, 0}, {0, 1}};
    static const int step[7][2] = {{8, 8}, {8, 8}, {4, 8}, {4, 4}, {2, 4}, {2, 2}, {1, 2}};
    std::vector<std::pair<uint64_t, uint64_t>> passes;
    for (int p = 0; p < 7; ++p) {
        const uint64_t across =
            Width > uint64_t(start[p][0]) ? (Width - start[p][0] + step[p][0] - 1) / step[p][0] : 0;
        const uint64_t down =
            Height > uint64_t(start[p][1]) ? (Height - start[p][1] + step[p][1] - 1) / step[p][1] : 0;
        if (across && down) passes.push_back({down, rowBytes(across)});
    }
    return passes;
}

// Inflates the image data (the IDAT chunks in order) without keeping it, and checks that it is a whole
// zlib stream holding every row with a known filter: libpng would stop on anything else with its message
// on standard error instead of in the error.
std::string PngImageDataProblem(const std::vector<std::pair<const uint8_t*, size_t>>& Chunks,
                                const std::vector<std::pair<uint64_t, uint64_t>>& Rows) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return {};
    uint8_t out[65536];
    size_t pass = 0;
    uint64_t rowsLeft = Rows.empty() ? 0 : Rows[0].first, rowOffset = 0;
    std::string problem;
    int status = Z_OK;
    for (size_t c = 0; c < Chunks.size() && status != Z_STREAM_END && problem.empty(); ++c) {
        stream.next_in = const_cast<Bytef*>(Chunks[c].first);
        stream.avail_in = uInt(Chunks[c].second);
        while (stream.avail_in > 0 && status != Z_STREAM_END && problem.empty()) {
            stream.next_out = out;
            stream.avail_out = sizeof out;
            status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                problem = std::string("the PNG image data is damaged (") +
                          (stream.msg ? stream.msg : "zlib error") + ")";
                break;
            }
            // Walk the rows over what came out: each row starts with its filter type, 0 to 4.
            for (size_t k = 0, n = sizeof out - stream.avail_out; k < n && pass < Rows.size();) {
                if (rowOffset == 0 && out[k] > 4) {
                    problem =
                        "the PNG image data is damaged (unknown filter type " + std::to_string(out[k]) + ")";
                    break;
                }
                const uint64_t take = std::min<uint64_t>(Rows[pass].second - rowOffset, n - k);
                k += size_t(take);
                rowOffset += take;
                if (rowOffset == Rows[pass].second) {
                    rowOffset = 0;
                    if (--rowsLeft == 0 && ++pass < Rows.size()) rowsLeft = Rows[pass].first;
                }
            }
            if (status == Z_BUF_ERROR && stream.avail_out == sizeof out) break; // needs the next chunk
        }
    }
    inflateEnd(&stream);
    if (problem.empty() && pass < Rows.size())
        problem = "the PNG image data ends before its last row (file truncated?)";
    return problem;
}

int PngChannels(int ColourType) {
    return ColourType == 2 ? 3 : ColourType == 4 ? 2 : ColourType == 6 ? 4 : 1;
}

std::string PngProblem(const uint8_t* P, size_t N, bool ImageData) {
    size_t i = 8;
    uint64_t width = 0, height = 0;
    int bitsPerPixel = 0, colourType = 0;
    bool interlaced = false, palette = false;
    std::vector<std::pair<const uint8_t*, size_t>> imageData;
    for (;;) {
        if (N - i < 8) return "the PNG data ends before its end chunk (file truncated?)";
        const uint32_t length = BigEndian32(P + i);
        const std::string type(reinterpret_cast<const char*>(P + i + 4), 4);
        const std::string named = "\"" + DecoderQuote(type) + "\"";
        if (length > 0x7FFFFFFFu) return "the PNG chunk " + named + " has an impossible length";
        if (N - i - 8 < uint64_t(length) + 4)
            return "the PNG data ends inside its chunk " + named + " (file truncated?)";
        const uint8_t* data = P + i + 8;
        for (int k = 4; k < 8; ++k)
            if (!std::isalpha(P[i + k])) return "the PNG chunk " + named + " has an invalid type";
        const bool critical = (P[i + 4] & 0x20) == 0;
        if (critical && Crc32(P + i + 4, size_t(length) + 4) != BigEndian32(data + length))
            return "the PNG chunk " + named + " is damaged (its checksum does not match)";
        const std::string misplaced = "the PNG chunk " + named + " is out of place";
        if (i == 8) {
            const std::string problem = PngHeaderProblem(P, N);
            if (!problem.empty()) return problem;
            width = BigEndian32(data);
            height = BigEndian32(data + 4);
            colourType = data[9];
            bitsPerPixel = PngChannels(colourType) * data[8];
            interlaced = data[12] == 1;
        } else if (type == "IHDR") {
            return misplaced;
        } else if (type == "PLTE") {
            if (palette || !imageData.empty()) return misplaced;
            if (length % 3 != 0 || length == 0 || (colourType == 3 && length / 3 > (1u << (bitsPerPixel))))
                return "the PNG palette has an impossible length of " + std::to_string(length) + " bytes";
            palette = true;
        } else if (type == "IDAT") {
            if (colourType == 3 && !palette) return "the PNG image data comes before its palette";
            if (!imageData.empty() && imageData.back().first + imageData.back().second + 4 != P + i)
                return "the PNG image data is split by other chunks";
            imageData.push_back({data, size_t(length)});
        } else if (type == "IEND" && imageData.empty()) {
            return "the PNG file holds no image data";
        }
        i += 12 + size_t(length);
        if (type == "IEND") break;
    }
    if (imageData.empty()) return "the PNG file holds no image data";
    if (!ImageData) return {};
    return PngImageDataProblem(imageData, PngRows(width, height, bitsPerPixel, interlaced));
}

// PBM/PGM/PPM: the header's numbers, then the samples; no sample may exceed the declared maximum
// (Qt's reader would scale it into a wrong value).
std::string PnmProblem(const uint8_t* P, size_t N) {
    const char kind = char(P[1]);
    size_t i = 2;
    auto skipSpace = [&] {
        while (i < N) {
            if (P[i] == '#')
                while (i < N && P[i] != '\n' && P[i] != '\r')
                    ++i;
            else if (std::isspace(P[i]))
                ++i;
            else
                break;
        }
    };
    auto number = [&](uint64_t& Value) {
        skipSpace();
        if (i >= N || !std::isdigit(P[i])) return false;
        Value = 0;
        for (; i < N && std::isdigit(P[i]); ++i)
            if (Value < (uint64_t(1) << 40)) Value = Value * 10 + (P[i] - '0');
        return true;
    };
    uint64_t width = 0, height = 0, maxval = 1;
    if (!number(width) || !number(height) || width == 0 || height == 0) return {}; // Qt's reader says why
    const std::string name = kind == '1' || kind == '4' ? "PBM" : kind == '2' || kind == '5' ? "PGM" : "PPM";
    auto cutShort = [&](uint64_t Row) {
        return "the " + name + " data ends in row " + std::to_string(Row) + " of " + std::to_string(height) +
               " (file truncated?)";
    };
    if (kind == '4') {
        const uint64_t rowBytes = (width + 7) / 8;
        const uint64_t have = N - std::min(i + 1, N);
        return have / rowBytes < height ? cutShort(have / rowBytes) : std::string();
    }
    if (kind == '1') return {};
    if (!number(maxval) || maxval == 0 || maxval > 65535) return {};
    const uint64_t perRow = width * (kind == '3' || kind == '6' ? 3 : 1);
    const uint64_t samples = perRow * height;
    auto tooLarge = [&](uint64_t Index, uint64_t Value) {
        return "the " + name + " sample " + std::to_string(Value) + " in row " +
               std::to_string(Index / perRow) + " is larger than the maximum " + std::to_string(maxval);
    };
    if (kind == '5' || kind == '6') {
        ++i; // the single whitespace byte after the maximum
        const uint64_t bytes = maxval < 256 ? 1 : 2;
        for (uint64_t s = 0; s < samples; ++s, i += bytes) {
            if (N - std::min(i, N) < bytes) return cutShort(s / perRow);
            const uint64_t value = bytes == 1 ? P[i] : uint64_t(P[i]) << 8 | P[i + 1];
            if (value > maxval) return tooLarge(s, value);
        }
    } else {
        for (uint64_t s = 0; s < samples; ++s) {
            uint64_t value = 0;
            if (!number(value)) {
                if (i >= N) return cutShort(s / perRow);
                return "the " + name + " data holds something other than a number in row " +
                       std::to_string(s / perRow);
            }
            if (value > maxval) return tooLarge(s, value);
        }
    }
    return {};
}

} // namespace

std::string DecoderQuote(const std::string& Text) {
    std::string quoted;
    for (const char c : Text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted;
}

std::string PngHeaderProblem(const uint8_t* P, size_t N) {
    if (N < 33 || std::memcmp(P + 12, "IHDR", 4) != 0 || BigEndian32(P + 8) != 13)
        return "the PNG data does not start with its header chunk";
    const uint8_t* data = P + 16;
    const uint64_t width = BigEndian32(data), height = BigEndian32(data + 4);
    const int depth = data[8], colourType = data[9];
    static const std::map<int, std::set<int>> depths = {
        {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    const auto allowed = depths.find(colourType);
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu)
        return "the PNG header gives an impossible size " + std::to_string(width) + " x " +
               std::to_string(height);
    if (allowed == depths.end() || !allowed->second.count(depth))
        return "the PNG header gives an impossible colour type " + std::to_string(colourType) + " at " +
               std::to_string(depth) + " bits";
    if (data[10] != 0 || data[11] != 0 || data[12] > 1)
        return "the PNG header names an unknown compression, filter or interlace method";
    return {};
}

std::string PictureDataProblem(const uint8_t* Data, size_t Size) {
    if (Size >= 2 && Data[0] == 0xFF && Data[1] == 0xD8) {
        if (!JpegReachesEnd(Data, Size))
            return "the JPEG data ends before its end-of-image marker (file truncated?)";
    } else if (Size >= 6 && (std::memcmp(Data, "GIF87a", 6) == 0 || std::memcmp(Data, "GIF89a", 6) == 0)) {
        return GifProblem(Data, Size);
    } else if (Size >= 8 && std::memcmp(Data, "\x89PNG\r\n\x1a\n", 8) == 0) {
        return PngProblem(Data, Size, true);
    } else if (Size >= 3 && Data[0] == 'P' && Data[1] >= '1' && Data[1] <= '6' && std::isspace(Data[2])) {
        return PnmProblem(Data, Size);
    } else if (Size >= 7 && std::memcmp(Data, "#define", 7) == 0) {
        return XbmProblem(Data, Size);
    } else if (IsTiffData(Data, Size)) {
        return ReadTiffLayout(Data, Size).Problem;
    }
    return {};
}

std::string PngChunkProblem(const uint8_t* Data, size_t Size) {
    return PngProblem(Data, Size, false);
}
