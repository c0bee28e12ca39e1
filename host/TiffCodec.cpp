#include "TiffCodec.h"

#include "DecoderMessages.h"
#include "PixelConversion.h"
#include "TiffExif.h"
#include <pictura/SysUtils.h>

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// The file libtiff writes, in memory: libtiff seeks back to finish its header.
struct TMemoryFile {
    QByteArray Bytes;
    qint64 At = 0;
};

TMemoryFile& FileOf(thandle_t Handle) {
    return *static_cast<TMemoryFile*>(Handle);
}

tmsize_t ReadFile(thandle_t Handle, void* Into, tmsize_t Size) {
    TMemoryFile& f = FileOf(Handle);
    const qint64 n = std::clamp<qint64>(f.Bytes.size() - f.At, 0, Size);
    std::memcpy(Into, f.Bytes.constData() + f.At, size_t(n));
    f.At += n;
    return n;
}

tmsize_t WriteFile(thandle_t Handle, void* From, tmsize_t Size) {
    TMemoryFile& f = FileOf(Handle);
    try {
        if (f.At + Size > f.Bytes.size()) f.Bytes.append(f.At + Size - f.Bytes.size(), '\0');
    } catch (const std::bad_alloc&) {
        return -1; // libtiff reports the write as failed
    }
    std::memcpy(f.Bytes.data() + f.At, From, size_t(Size));
    f.At += Size;
    return Size;
}

toff_t SeekFile(thandle_t Handle, toff_t Offset, int Whence) {
    TMemoryFile& f = FileOf(Handle);
    const qint64 from = Whence == SEEK_SET ? 0 : Whence == SEEK_CUR ? f.At : f.Bytes.size();
    f.At = from + qint64(Offset);
    return toff_t(f.At);
}

int CloseFile(thandle_t) {
    return 0;
}

toff_t FileSize(thandle_t Handle) {
    return toff_t(FileOf(Handle).Bytes.size());
}

int MapFile(thandle_t, void**, toff_t*) {
    return 0;
}

void UnmapFile(thandle_t, void*, toff_t) {}

// Black-and-white pictures as bilevel grey (black or white first, as their palette has it), which
// readers keep at one bit a pixel; other palettes as palettes.
enum class TSamples { Grey, BlackFirst, WhiteFirst, Palette, Rgb, Rgba };

bool IsPacked(TSamples Samples) {
    return Samples == TSamples::BlackFirst || Samples == TSamples::WhiteFirst || Samples == TSamples::Palette;
}

bool OpaquePalette(const TDibImage& Image) {
    return std::all_of(Image.Palette.begin(), Image.Palette.end(), [](uint32_t c) { return c >> 24 == 255; });
}

TSamples SamplesFor(const TDibImage& Image) {
    const bool direct = Image.Format == pf24bit || Image.Format == pf32bit || Image.Format == pfDevice;
    if (IsIndexed(Image.Format)) {
        if (!OpaquePalette(Image)) return TSamples::Rgba;
        const std::vector<uint32_t> blackFirst{0xFF000000, 0xFFFFFFFF}, whiteFirst{0xFFFFFFFF, 0xFF000000};
        if (Image.Format == pf1bit && Image.Palette == blackFirst) return TSamples::BlackFirst;
        if (Image.Format == pf1bit && Image.Palette == whiteFirst) return TSamples::WhiteFirst;
        return Image.Format == pf8bit && IsGreyRamp(Image.Palette) ? TSamples::Grey : TSamples::Palette;
    }
    if (direct && Image.Format != pf24bit && Image.HasAlpha) return TSamples::Rgba;
    return direct && AllGrey(Image) ? TSamples::Grey : TSamples::Rgb;
}

// Row Y of Image as Samples lays it out in the file.
void FileRow(const TDibImage& Image, TSamples Samples, int Y, uint8_t* Out, std::vector<uint32_t>& Argb) {
    const uint8_t* row = Image.Row(Y);
    const size_t width = size_t(Image.Width);
    if (IsPacked(Samples)) {
        std::memcpy(Out, row, (width * size_t(BitsPerPixel(Image.Format)) + 7) / 8);
    } else if (Samples == TSamples::Grey && Image.Format == pf8bit) {
        std::memcpy(Out, row, width);
    } else if (Samples == TSamples::Grey) {
        const size_t step = Image.Format == pf24bit ? 3 : 4;
        for (size_t x = 0; x < width; ++x)
            Out[x] = row[x * step];
    } else {
        ReadRowArgb(Image, Y, Argb.data());
        const bool alpha = Samples == TSamples::Rgba;
        for (size_t x = 0; x < width; ++x) {
            const uint32_t c = Argb[x];
            *Out++ = uint8_t(c >> 16);
            *Out++ = uint8_t(c >> 8);
            *Out++ = uint8_t(c);
            if (alpha) *Out++ = uint8_t(c >> 24);
        }
    }
}

// Strips of about this many bytes: large enough for deflate, small enough for readers that read a
// strip at a time.
constexpr tmsize_t StripBytes = 256 << 10;

void SetFields(TIFF* Tiff, const TDibImage& Image, TSamples Samples, const TPictureMetadata& Metadata,
               int Level, const TTiffExif& Exif) {
    const bool palette = Samples == TSamples::Palette;
    const int samples = Samples == TSamples::Rgba ? 4 : Samples == TSamples::Rgb ? 3 : 1;
    const int bits = IsPacked(Samples) ? BitsPerPixel(Image.Format) : 8;
    TIFFSetField(Tiff, TIFFTAG_IMAGEWIDTH, uint32_t(Image.Width));
    TIFFSetField(Tiff, TIFFTAG_IMAGELENGTH, uint32_t(Image.Height));
    TIFFSetField(Tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(Tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(Tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(Tiff, TIFFTAG_PHOTOMETRIC,
                 palette                           ? PHOTOMETRIC_PALETTE
                 : Samples == TSamples::WhiteFirst ? PHOTOMETRIC_MINISWHITE
                 : samples == 1                    ? PHOTOMETRIC_MINISBLACK
                                                   : PHOTOMETRIC_RGB);
    if (Samples == TSamples::Rgba) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(Tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (palette) {
        std::vector<uint16_t> map[3];
        for (int channel = 0; channel < 3; ++channel) {
            map[channel].assign(size_t(1) << bits, 0);
            for (size_t i = 0; i < std::min(map[channel].size(), Image.Palette.size()); ++i)
                map[channel][i] = uint16_t(((Image.Palette[i] >> (16 - 8 * channel)) & 255) * 257);
        }
        TIFFSetField(Tiff, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    TIFFSetField(Tiff, TIFFTAG_COMPRESSION, Level == 0 ? COMPRESSION_NONE : COMPRESSION_ADOBE_DEFLATE);
    if (Level > 0) {
        TIFFSetField(Tiff, TIFFTAG_ZIPQUALITY, Level);
        // Differences of neighbouring samples deflate better, except for indices and single bits.
        if (!IsPacked(Samples)) TIFFSetField(Tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    }
    const tmsize_t rowBytes = std::max<tmsize_t>(1, TIFFScanlineSize(Tiff));
    TIFFSetField(Tiff, TIFFTAG_ROWSPERSTRIP,
                 uint32_t(std::clamp<tmsize_t>(StripBytes / rowBytes, 1, Image.Height)));
    if (Metadata.DotsPerMeterX > 0 && Metadata.DotsPerMeterY > 0) {
        TIFFSetField(Tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(Tiff, TIFFTAG_XRESOLUTION, Metadata.DotsPerMeterX * 0.0254);
        TIFFSetField(Tiff, TIFFTAG_YRESOLUTION, Metadata.DotsPerMeterY * 0.0254);
    }
    if (!Metadata.Icc.empty())
        TIFFSetField(Tiff, TIFFTAG_ICCPROFILE, uint32_t(Metadata.Icc.size()), Metadata.Icc.data());
    if (!Metadata.Xmp.empty())
        TIFFSetField(Tiff, TIFFTAG_XMLPACKET, uint32_t(Metadata.Xmp.size()), Metadata.Xmp.data());
    if (Metadata.Orientation() != 1) TIFFSetField(Tiff, TIFFTAG_ORIENTATION, Metadata.Orientation());
    for (const auto& [tag, text] : Exif.Texts)
        TIFFSetField(Tiff, tag, text.c_str());
    if (Exif.ExifOffset) TIFFSetField(Tiff, TIFFTAG_EXIFIFD, uint64_t(Exif.ExifOffset));
    if (Exif.GpsOffset) TIFFSetField(Tiff, TIFFTAG_GPSIFD, uint64_t(Exif.GpsOffset));
}

} // namespace

void ReadTiffMetadata(const uint8_t* Data, size_t Size, TPictureMetadata& Metadata) {
    ReadTiffExifXmp(Data, Size, Metadata.Exif, Metadata.Xmp);
}

QByteArray EncodeTiff(const TDibImage& Image, const TPictureMetadata& Metadata, int Compression,
                      const std::function<void(int Rows)>& RowsWritten) {
    const TSamples samples = SamplesFor(Image);
    TDecoderMessages messages; // libtiff's complaints go into the refusal, not onto standard error
    TMemoryFile file;
    TIFF* const opened =
        TIFFClientOpen("picture", ExifBigEndian(Metadata.Exif) ? "wb" : "wl", &file, ReadFile, WriteFile,
                       SeekFile, CloseFile, FileSize, MapFile, UnmapFile);
    if (!opened) throw EInvalidGraphic("the TIFF encoder failed to start: " + messages.Text());
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(opened, TIFFClose);
    // The EXIF and GPS directories go right after the header, before the pixels.
    const uint32_t base = uint32_t(file.Bytes.size() + 1) & ~1u;
    const TTiffExif exif = TiffExifLayout(Metadata.Exif, base);
    if (!exif.Directories.empty()) {
        file.Bytes.append(base - file.Bytes.size(), '\0');
        file.Bytes.append(exif.Directories.data(), qsizetype(exif.Directories.size()));
    }
    SetFields(tiff.get(), Image, samples, Metadata, Compression < 0 ? DefaultTiffCompression : Compression,
              exif);
    std::vector<uint8_t> row(size_t(std::max<tmsize_t>(1, TIFFScanlineSize(tiff.get()))));
    // Room for the samples as they are (deflate seldom adds to them), so that the file is not copied as it
    // grows; what deflate leaves unused is never touched.
    const size_t samplesBytes = row.size() * size_t(Image.Height);
    file.Bytes.reserve(qsizetype(samplesBytes + samplesBytes / 64 + Metadata.Icc.size() +
                                 Metadata.Xmp.size() + exif.Directories.size() + (64 << 10)));
    std::vector<uint32_t> argb(size_t(Image.Width));
    for (int y = 0; y < Image.Height && !messages.Damaged(); ++y) {
        FileRow(Image, samples, y, row.data(), argb);
        if (TIFFWriteScanline(tiff.get(), row.data(), uint32_t(y), 0) < 0) break;
        if (RowsWritten) RowsWritten(y + 1);
    }
    if (!messages.Damaged()) TIFFWriteDirectory(tiff.get());
    tiff.reset(); // whatever libtiff still writes goes into the file before it is handed on
    if (messages.Damaged() || file.Bytes.isEmpty())
        throw EInvalidGraphic("the TIFF encoder refused the picture: " + messages.Text());
    return std::move(file.Bytes);
}
