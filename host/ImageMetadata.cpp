#include "ImageMetadata.h"
#include "ByteOrder.h"

#include "TiffExif.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

// The largest profile or text inflated from a chunk; a bigger one is skipped.
constexpr size_t MaxInflated = size_t(64) << 20;

// The zlib stream Data inflated, or false when it is damaged or too large.
bool Inflate(const uint8_t* Data, size_t Size, std::string& Out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(Data);
    stream.avail_in = uInt(Size);
    char buffer[1 << 15];
    int status = Z_OK;
    while (status == Z_OK && Out.size() <= MaxInflated) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        Out.append(buffer, sizeof buffer - stream.avail_out);
        if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END && Out.size() <= MaxInflated;
}

std::string Deflated(const std::string& Data) {
    uLongf size = compressBound(uLong(Data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(Data.data()),
              uLong(Data.size()), Z_BEST_COMPRESSION);
    out.resize(size);
    return out;
}

// The EXIF orientation entry of IFD0: the offset of its value in Exif, or 0 when there is none.
size_t OrientationAt(const std::string& Exif, bool& Little) {
    const auto* p = reinterpret_cast<const uint8_t*>(Exif.data());
    const size_t n = Exif.size();
    if (n < 8) return 0;
    Little = p[0] == 'I' && p[1] == 'I';
    if (!Little && !(p[0] == 'M' && p[1] == 'M')) return 0;
    const auto get = [&](size_t At, int Bytes) {
        uint32_t v = 0;
        for (int i = 0; i < Bytes; ++i)
            v |= uint32_t(p[At + size_t(i)]) << (Little ? 8 * i : 8 * (Bytes - 1 - i));
        return v;
    };
    const size_t ifd = get(4, 4);
    if (ifd > n - 2 || n < 2) return 0;
    const size_t entries = get(ifd, 2);
    for (size_t e = 0; e < entries; ++e) {
        const size_t at = ifd + 2 + 12 * e;
        if (at > n - 12) return 0;
        if (get(at, 2) == 0x0112 && get(at + 2, 2) == 3 && get(at + 4, 4) == 1) return at + 8;
    }
    return 0;
}

constexpr const char* XmpKey = "XML:com.adobe.xmp";
const std::string JpegExifTag("Exif\0\0", 6);
const std::string JpegXmpTag("http://ns.adobe.com/xap/1.0/\0", 29);
const std::string JpegIccTag("ICC_PROFILE\0", 12);
// The data a JPEG segment holds at most, after its 2-byte length.
constexpr size_t JpegSegmentData = 65533;
constexpr size_t JpegIccPart = JpegSegmentData - 14; // the tag and the part's number and count

std::string Segment(uint8_t Marker, const std::string& Data) {
    std::string segment{char(0xFF), char(Marker), char((Data.size() + 2) >> 8), char(Data.size() + 2)};
    return segment + Data;
}

} // namespace

int TPictureMetadata::Orientation() const {
    bool little = false;
    const size_t at = OrientationAt(Exif, little);
    if (at == 0) return 1;
    const auto* p = reinterpret_cast<const uint8_t*>(Exif.data()) + at;
    const int value = little ? p[0] | p[1] << 8 : p[0] << 8 | p[1];
    return value >= 1 && value <= 8 ? value : 1;
}

void TPictureMetadata::SetOrientation(int Value) {
    bool little = false;
    const size_t at = OrientationAt(Exif, little);
    if (at == 0) return;
    Exif[at + (little ? 0 : 1)] = char(Value);
    Exif[at + (little ? 1 : 0)] = 0;
}

void ReadPngMetadataChunks(const uint8_t* Data, size_t Size, TPictureMetadata& Metadata) {
    for (size_t i = 8; Size >= 12 && i <= Size - 12;) {
        const uint32_t length = BigEndian32(Data + i);
        if (length > Size - i - 12) return;
        const std::string type(reinterpret_cast<const char*>(Data + i + 4), 4);
        const uint8_t* data = Data + i + 8;
        i += 12 + size_t(length);
        if (type == "IEND") return;
        if (type != "iCCP" && type != "pHYs" && type != "eXIf" && type != "iTXt") continue;
        if (crc32(0, Data + i - 12 - length + 4, uInt(length) + 4) != BigEndian32(data + length)) continue;
        const char* text = reinterpret_cast<const char*>(data);
        const size_t keyword = strnlen(text, length);
        if (type == "pHYs" && length == 9 && data[8] == 1) {
            Metadata.DotsPerMeterX = BigEndian32(data);
            Metadata.DotsPerMeterY = BigEndian32(data + 4);
        } else if (type == "eXIf") {
            Metadata.Exif.assign(text, length);
        } else if (type == "iCCP" && keyword + 2 <= length && data[keyword + 1] == 0) {
            std::string profile;
            if (Inflate(data + keyword + 2, length - keyword - 2, profile)) Metadata.Icc = std::move(profile);
        } else if (type == "iTXt" && keyword < length && std::strcmp(text, XmpKey) == 0 &&
                   keyword + 3 <= length) {
            // keyword, compressed flag, method, language tag, translated keyword, text
            const bool compressed = data[keyword + 1] != 0;
            size_t at = keyword + 3;
            for (int skip = 0; skip < 2 && at < length; ++skip)
                at += strnlen(text + at, length - at) + 1;
            if (at > length) continue;
            std::string xmp;
            if (!compressed)
                xmp.assign(text + at, length - at);
            else if (!Inflate(data + at, length - at, xmp))
                continue;
            Metadata.Xmp = std::move(xmp);
        }
    }
}

std::vector<std::pair<std::string, std::string>> PngMetadataChunks(const TPictureMetadata& Metadata) {
    std::vector<std::pair<std::string, std::string>> chunks;
    if (!Metadata.Icc.empty())
        chunks.emplace_back("iCCP", std::string("ICC profile\0\0", 13) + Deflated(Metadata.Icc));
    if (Metadata.DotsPerMeterX > 0 && Metadata.DotsPerMeterY > 0) {
        std::string physical;
        PutBigEndian32(physical, uint32_t(std::lround(std::min(Metadata.DotsPerMeterX, 4e9))));
        PutBigEndian32(physical, uint32_t(std::lround(std::min(Metadata.DotsPerMeterY, 4e9))));
        physical += char(1);
        chunks.emplace_back("pHYs", physical);
    }
    if (!Metadata.Exif.empty()) chunks.emplace_back("eXIf", Metadata.Exif);
    if (!Metadata.Xmp.empty())
        chunks.emplace_back("iTXt", std::string(XmpKey) + std::string(5, '\0') + Metadata.Xmp);
    return chunks;
}

void ReadJpegMetadata(const uint8_t* Data, size_t Size, TPictureMetadata& Metadata) {
    std::map<int, std::string> iccParts;
    int iccCount = 0;
    for (size_t i = 2; Size >= 4 && i <= Size - 4;) {
        if (Data[i] != 0xFF) return;
        const uint8_t marker = Data[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;
        const size_t length = BigEndian16(Data + i + 2);
        if (length < 2 || length > Size - i - 2) return;
        const std::string data(reinterpret_cast<const char*>(Data + i + 4), length - 2);
        i += 2 + length;
        if (marker == 0xE0 && data.size() >= 12 && data.compare(0, 5, std::string("JFIF\0", 5)) == 0) {
            const int units = uint8_t(data[7]);
            const double x = uint8_t(data[8]) << 8 | uint8_t(data[9]),
                         y = uint8_t(data[10]) << 8 | uint8_t(data[11]);
            const double perMeter = units == 1 ? 1 / 0.0254 : units == 2 ? 100 : 0;
            Metadata.DotsPerMeterX = x * perMeter;
            Metadata.DotsPerMeterY = y * perMeter;
        } else if (marker == 0xE1 && data.compare(0, JpegExifTag.size(), JpegExifTag) == 0 &&
                   Metadata.Exif.empty()) {
            Metadata.Exif = data.substr(JpegExifTag.size());
        } else if (marker == 0xE1 && data.compare(0, JpegXmpTag.size(), JpegXmpTag) == 0 &&
                   Metadata.Xmp.empty()) {
            Metadata.Xmp = data.substr(JpegXmpTag.size());
        } else if (marker == 0xE2 && data.size() > 14 &&
                   data.compare(0, JpegIccTag.size(), JpegIccTag) == 0) {
            iccParts[uint8_t(data[12])] = data.substr(14);
            iccCount = uint8_t(data[13]);
        }
    }
    // A profile counts only with all its parts, numbered 1..count.
    if (iccCount == 0 || int(iccParts.size()) != iccCount || iccParts.begin()->first != 1 ||
        iccParts.rbegin()->first != iccCount)
        return;
    for (const auto& [number, part] : iccParts)
        Metadata.Icc += part;
}

std::string WithJpegMetadata(const uint8_t* Jpeg, size_t Size, const TPictureMetadata& Metadata) {
    std::string out(reinterpret_cast<const char*>(Jpeg), Size);
    size_t at = 2;
    const bool jfif =
        Size >= 20 && Jpeg[2] == 0xFF && Jpeg[3] == 0xE0 && std::memcmp(Jpeg + 6, "JFIF", 5) == 0;
    if (jfif) {
        at = 4 + BigEndian16(Jpeg + 4);
        if (Metadata.DotsPerMeterX > 0 && Metadata.DotsPerMeterY > 0) {
            const auto dpi = [](double PerMeter) {
                return uint16_t(std::clamp<long>(std::lround(PerMeter * 0.0254), 1, 65535));
            };
            const uint16_t x = dpi(Metadata.DotsPerMeterX), y = dpi(Metadata.DotsPerMeterY);
            out[13] = 1;
            out[14] = char(x >> 8);
            out[15] = char(x);
            out[16] = char(y >> 8);
            out[17] = char(y);
        }
    }
    std::string segments;
    if (!Metadata.Exif.empty() && Metadata.Exif.size() + JpegExifTag.size() <= JpegSegmentData)
        segments += Segment(0xE1, JpegExifTag + Metadata.Exif);
    if (!Metadata.Xmp.empty() && Metadata.Xmp.size() + JpegXmpTag.size() <= JpegSegmentData)
        segments += Segment(0xE1, JpegXmpTag + Metadata.Xmp);
    const size_t iccParts = (Metadata.Icc.size() + JpegIccPart - 1) / JpegIccPart;
    if (iccParts <= 255)
        for (size_t part = 0; part < iccParts; ++part)
            segments += Segment(0xE2, JpegIccTag + char(part + 1) + char(iccParts) +
                                          Metadata.Icc.substr(part * JpegIccPart, JpegIccPart));
    out.insert(at, segments);
    return out;
}

std::vector<std::string> MetadataLosses(const TPictureMetadata& Metadata, const std::string& Extension) {
    std::vector<std::string> losses;
    const bool png = Extension == "png", jpeg = Extension == "jpg" || Extension == "jpeg";
    const bool tiff = Extension == "tif" || Extension == "tiff", webp = Extension == "webp";
    const std::string format = jpeg ? "JPEG" : tiff ? "TIFF" : webp ? "WebP" : png ? "PNG" : Extension;
    const bool exifFits =
        png || tiff || webp || (jpeg && Metadata.Exif.size() + JpegExifTag.size() <= JpegSegmentData);
    if (!Metadata.Exif.empty() && !exifFits) {
        const bool turned = Metadata.Orientation() != 1;
        losses.push_back("the EXIF data was dropped (the " + format + " writer holds none" +
                         (jpeg ? " this large" : "") + ")" +
                         (turned ? "; its orientation too, so the picture shows turned" : ""));
    }
    if (!Metadata.Exif.empty() && tiff) {
        const std::vector<uint16_t> left = TiffExifLeftOut(Metadata.Exif);
        std::string tags;
        for (const uint16_t tag : left) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%04X", tag);
            tags += (tags.empty() ? "" : ", ") + std::string(hex);
        }
        if (!left.empty())
            losses.push_back("the EXIF tags " + tags +
                             " of its first directory were dropped (the TIFF writer holds its text tags, "
                             "orientation, EXIF and GPS directories)");
    }
    const bool xmpFits =
        png || tiff || webp || (jpeg && Metadata.Xmp.size() + JpegXmpTag.size() <= JpegSegmentData);
    if (!Metadata.Xmp.empty() && !xmpFits)
        losses.push_back("the XMP data was dropped (the " + format + " writer holds none" +
                         (jpeg ? " this large" : "") + ")");
    const bool iccFits = png || tiff || webp || (jpeg && Metadata.Icc.size() <= 255 * JpegIccPart);
    if (!Metadata.Icc.empty() && !iccFits)
        losses.push_back("the ICC colour profile was dropped (the " + format + " writer holds none)");
    if (Metadata.DotsPerMeterX > 0 && !png && !jpeg && !tiff)
        losses.push_back("the resolution was dropped (the " + format + " writer holds none)");
    return losses;
}
