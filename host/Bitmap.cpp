#include <pictura/Bitmap.h>

#include "PixelConversion.h"
#include "PixelRows.h"
#include <pictura/ImageLimits.h>
#include <pictura/SysUtils.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// Palette entries of a Qt colour table, padded with black to the format's 2^bpp entries.
std::vector<uint32_t> PaletteFromColorTable(const QList<QRgb>& Table, TPixelFormat Format) {
    std::vector<uint32_t> palette(size_t(1) << BitsPerPixel(Format), 0xFF000000u);
    for (size_t i = 0; i < palette.size() && i < size_t(Table.size()); ++i)
        palette[i] = Table[qsizetype(i)];
    return palette;
}

QList<QRgb> ColorTableFromPalette(const std::vector<uint32_t>& Palette) {
    return QList<QRgb>(Palette.begin(), Palette.end());
}

// Copies Image's rows (already in the target layout) into a new picture of Format.
TDibImage DibFromRows(const QImage& Image, TPixelFormat Format) {
    TDibImage dib;
    dib.Width = Image.width();
    dib.Height = Image.height();
    dib.Format = Format;
    dib.Bits.assign(dib.Stride() * size_t(dib.Height), 0);
    // Only the pixels' own bits: Qt leaves its row padding (and the unused bits of a 1-bit row's last
    // byte) uninitialised, and copying them would make equal pictures differ in memory and in files.
    const size_t usedBits = size_t(dib.Width) * size_t(BitsPerPixel(Format));
    const size_t rowBytes = std::min((usedBits + 7) / 8, size_t(Image.bytesPerLine()));
    const uint8_t lastByteMask = usedBits % 8 ? uint8_t(0xFF << (8 - usedBits % 8)) : uint8_t(0xFF);
    for (int y = 0; y < dib.Height; ++y) {
        std::memcpy(dib.Row(y), Image.constScanLine(y), rowBytes);
        if (rowBytes > 0) dib.Row(y)[rowBytes - 1] &= lastByteMask;
    }
    return dib;
}

// The Qt format whose memory layout is Dib's, or Format_Invalid where Qt has none (4 bit).
QImage::Format SameLayoutQtFormat(const TDibImage& Dib) {
    if (Dib.Format < pfDevice || Dib.Format >= pfCustom) return QImage::Format_Invalid;
    if ((Dib.Format == pf32bit || Dib.Format == pfDevice) && Dib.HasAlpha) return QImage::Format_ARGB32;
    constexpr QImage::Format byFormat[] = {
        QImage::Format_RGB32,  QImage::Format_Mono,  QImage::Format_Invalid, QImage::Format_Indexed8,
        QImage::Format_RGB555, QImage::Format_RGB16, QImage::Format_BGR888,  QImage::Format_RGB32};
    return byFormat[Dib.Format];
}

} // namespace

void TBitmap::Changed() {
    if (OnChange) OnChange();
}

void TBitmap::SetSize(int Width, int Height) {
    if (Width == FDib.Width && Height == FDib.Height) return;
    CheckBitmapSize(Width, Height, BitsPerPixel(FDib.Format) ? BitsPerPixel(FDib.Format) : 32, "bitmap");
    TDibImage resized;
    resized.Width = Width;
    resized.Height = Height;
    resized.Format = FDib.Format;
    resized.Palette = FDib.Palette;
    resized.HasAlpha = FDib.HasAlpha;
    if (IsIndexed(resized.Format) && resized.Palette.empty())
        resized.Palette = PaletteFromColorTable({}, resized.Format);
    resized.Bits.assign(resized.Stride() * size_t(Height), 0);
    const size_t keepBytes = std::min(resized.Stride(), FDib.Stride());
    for (int y = 0; y < std::min(Height, FDib.Height); ++y)
        std::memcpy(resized.Row(y), FDib.Row(y), keepBytes);
    FDib = std::move(resized);
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat Format) {
    if (Format == FDib.Format) return;
    // The old and the new pixels exist together while converting, and a conversion to a palette keeps
    // two rows of colours and indices (4 bytes a pixel each) beside them.
    const uint64_t rows = IsIndexed(Format) ? 8 * uint64_t(std::max(FDib.Width, 0)) : 0;
    const TPictureMemory converting(
        uint64_t(FDib.Bits.size()) +
            uint64_t(BytesPerScanline(FDib.Width, std::max(BitsPerPixel(Format), 1))) *
                uint64_t(std::max(FDib.Height, 0)) +
            rows,
        "converting the " + std::to_string(FDib.Width) + " x " + std::to_string(FDib.Height) + " bitmap");
    FDib = ConvertPixelFormat(FDib, Format);
    Changed();
}

uint8_t* TBitmap::GetScanline(int Row) {
    return const_cast<uint8_t*>(static_cast<const TBitmap*>(this)->GetScanline(Row));
}

const uint8_t* TBitmap::GetScanline(int Row) const {
    if (FDib.Height <= 0)
        throw ERangeError("scan line " + std::to_string(Row) + " is outside the bitmap: the bitmap is empty");
    if (Row < 0 || Row >= FDib.Height)
        throw ERangeError("scan line " + std::to_string(Row) + " is outside the bitmap's rows 0.." +
                          std::to_string(FDib.Height - 1));
    return FDib.Row(Row);
}

void TBitmap::SetPalette(const std::vector<uint32_t>& Palette) {
    if (!IsIndexed(FDib.Format)) throw EInvalidOperation("only a palette-indexed bitmap has a palette");
    FDib.Palette = PaletteFromColorTable(ColorTableFromPalette(Palette), FDib.Format);
    Changed();
}

void TBitmap::Assign(TDibImage Dib) {
    Dib.Validate();
    if (IsIndexed(Dib.Format))
        Dib.Palette = PaletteFromColorTable(ColorTableFromPalette(Dib.Palette), Dib.Format);
    FDib = std::move(Dib);
    Changed();
}

QImage TBitmap::ToQImage() const {
    const TDibImage& d = FDib;
    if (Empty()) return QImage();
    QImage image;
    if (const QImage::Format format = SameLayoutQtFormat(d); format != QImage::Format_Invalid) {
        image = QImage(d.Bits.data(), d.Width, d.Height, qsizetype(d.Stride()), format);
    } else if (d.Format == pf4bit) {
        // Qt has no 4-bit layout: unpack the indices into an 8-bit copy.
        image = QImage(d.Width, d.Height, QImage::Format_Indexed8);
        for (int y = 0; y < d.Height; ++y) {
            const uint8_t* src = d.Row(y);
            uchar* dst = image.scanLine(y);
            for (int x = 0; x < d.Width; ++x)
                dst[x] = uchar(IndexAt<4>(src, x));
        }
    } else {
        return QImage();
    }
    if (IsIndexed(d.Format)) image.setColorTable(ColorTableFromPalette(d.Palette));
    return image;
}

void TBitmap::FromQImage(const QImage& Image) {
    if (Image.isNull()) {
        Assign(TDibImage{});
        return;
    }
    // Checked at the depth the picture will have, before any conversion allocates.
    const QImage::Format format = Image.format();
    const bool mono = format == QImage::Format_Mono || format == QImage::Format_MonoLSB;
    const bool eightBit = format == QImage::Format_Indexed8 || format == QImage::Format_Grayscale8 ||
                          format == QImage::Format_Grayscale16;
    CheckBitmapSize(Image.width(), Image.height(),
                    mono                      ? 1
                    : eightBit                ? 8
                    : Image.hasAlphaChannel() ? 32
                                              : 24,
                    "picture");
    TDibImage dib;
    switch (format) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: {
        const QImage mono = Image.convertToFormat(QImage::Format_Mono);
        dib = DibFromRows(mono, pf1bit);
        dib.Palette = PaletteFromColorTable(mono.colorTable(), pf1bit);
        break;
    }
    case QImage::Format_Indexed8:
        dib = DibFromRows(Image, pf8bit);
        dib.Palette = PaletteFromColorTable(Image.colorTable(), pf8bit);
        break;
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16: {
        const QImage grey = Image.convertToFormat(QImage::Format_Grayscale8);
        dib = DibFromRows(grey, pf8bit);
        dib.Palette.resize(256);
        for (uint32_t i = 0; i < 256; ++i)
            dib.Palette[i] = 0xFF000000u | (i << 16) | (i << 8) | i;
        break;
    }
    default:
        if (Image.hasAlphaChannel()) {
            dib = DibFromRows(Image.convertToFormat(QImage::Format_ARGB32), pf32bit);
            dib.HasAlpha = true;
        } else {
            dib = DibFromRows(Image.convertToFormat(QImage::Format_BGR888), pf24bit);
        }
        break;
    }
    Assign(std::move(dib));
}
