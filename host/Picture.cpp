#include <pictura/Picture.h>

#include "BmpCodec.h"
#include "DecoderMessages.h"
#include "InputFile.h"
#include "PictureCompleteness.h"
#include <pictura/FileOutput.h>
#include <pictura/ImageLimits.h>
#include <pictura/SysUtils.h>

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <climits>
#include <limits>
#include <new>

namespace {

std::string Quoted(const QString& Name) {
    return "\"" + Name.toStdString() + "\"";
}

bool LooksLikeBmp(const QByteArray& Data) {
    return Data.size() >= 2 && Data[0] == 'B' && Data[1] == 'M';
}

uint32_t LittleEndian(const QByteArray& Data, int At, int Bytes) {
    uint32_t value = 0;
    for (int i = Bytes - 1; i >= 0; --i)
        value = value << 8 | uint8_t(Data[At + i]);
    return value;
}

// The size of the image Qt's reader will decode: for GIF the logical screen, which Qt allocates whole
// although its reader reports only the first frame's size.
QSize DecodedSize(const QByteArray& Data, QImageReader& Reader) {
    const QSize size = Reader.size();
    if (Data.size() < 10 || !Data.startsWith("GIF")) return size;
    const QSize screen(int(LittleEndian(Data, 6, 2)), int(LittleEndian(Data, 8, 2)));
    return size.isValid() ? size.expandedTo(screen) : screen;
}

// Bits per pixel of the image Qt's reader will allocate: its announced format, else 32 (the widest it
// uses for 8-bit channels).
int DecodedBitsPerPixel(const QImageReader& Reader) {
    const QImage::Format format = Reader.imageFormat();
    if (format == QImage::Format_Invalid) return 32;
    return std::max(1, int(QImage::toPixelFormat(format).bitsPerPixel()));
}

// Bits per pixel of the bitmap a decoded image of Bpp bits becomes (as TBitmap::FromQImage chooses).
int BitmapBitsPerPixel(const QImageReader& Reader, int Bpp) {
    if (Bpp <= 8) return Bpp;
    const QImage::Format format = Reader.imageFormat();
    if (format == QImage::Format_Grayscale16) return 8;
    return format != QImage::Format_Invalid &&
                   QImage::toPixelFormat(format).alphaUsage() == QPixelFormat::IgnoresAlpha
               ? 24
               : 32;
}

// The coefficient buffers libjpeg keeps for a progressive or multi-scan JPEG (2 bytes per coefficient,
// 64 per 8 x 8 block of each component), 0 for a single-scan one, which is decoded row by row.
uint64_t JpegCoefficientBytes(const QByteArray& Data) {
    const auto* p = reinterpret_cast<const uint8_t*>(Data.constData());
    const size_t n = size_t(Data.size());
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8) return 0;
    uint64_t bytes = 0;
    bool progressive = false;
    int scans = 0;
    for (size_t i = 2; i + 4 <= n;) {
        if (p[i] != 0xFF) {
            ++i;
            continue;
        }
        const uint8_t marker = p[i + 1];
        if (marker == 0xFF || marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            ++i;
            continue;
        }
        if (marker == 0xD9) break;
        const size_t length = size_t(p[i + 2]) << 8 | p[i + 3];
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && bytes == 0 && length >= 8 && i + 2 + length <= n) {
            const uint8_t* f = p + i + 4;
            const uint64_t height = uint64_t(f[1]) << 8 | f[2], width = uint64_t(f[3]) << 8 | f[4];
            const int components = f[5];
            int hMax = 1, vMax = 1;
            for (int c = 0; c < components && 8 + 3 * c + 3 <= int(length); ++c) {
                hMax = std::max(hMax, f[7 + 3 * c] >> 4);
                vMax = std::max(vMax, f[7 + 3 * c] & 15);
            }
            for (int c = 0; c < components && 8 + 3 * c + 3 <= int(length); ++c) {
                const int h = std::max(1, f[7 + 3 * c] >> 4), v = std::max(1, f[7 + 3 * c] & 15);
                // Blocks are counted up to whole MCUs, as libjpeg allocates them.
                const uint64_t across = (width * uint64_t(h) + uint64_t(8 * hMax) - 1) / uint64_t(8 * hMax);
                const uint64_t down = (height * uint64_t(v) + uint64_t(8 * vMax) - 1) / uint64_t(8 * vMax);
                bytes += (across + uint64_t(h)) * (down + uint64_t(v)) * 128;
            }
            progressive = (marker & 0x03) == 0x02; // SOF2, SOF6, SOF10, SOF14
        }
        if (marker == 0xDA) ++scans;
        i += 2 + length;
        if (marker == 0xDA) // the scan's entropy-coded data runs to the next marker
            while (i + 1 < n &&
                   !(p[i] == 0xFF && p[i + 1] != 0x00 && !(p[i + 1] >= 0xD0 && p[i + 1] <= 0xD7)))
                ++i;
    }
    return progressive || scans > 1 ? bytes : 0;
}

// Refuses a picture whose header alone shows that it is over the limits. Data may be the file's
// first bytes only; a header that cannot be read here is left to the decoder.
void CheckDeclaredSize(const QByteArray& Data, const std::string& What) {
    try {
        if (IsBmpData(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()))) {
            if (!LooksLikeBmp(Data) || Data.size() < 30) return; // other signatures are refused by name
            const uint32_t headerSize = LittleEndian(Data, 14, 4);
            const bool core = headerSize == 12;
            const int64_t width =
                core ? int64_t(LittleEndian(Data, 18, 2)) : int64_t(int32_t(LittleEndian(Data, 18, 4)));
            const int64_t height =
                core ? int64_t(LittleEndian(Data, 20, 2)) : int64_t(int32_t(LittleEndian(Data, 22, 4)));
            const int bpp = int(LittleEndian(Data, core ? 24 : 28, 2));
            if (width <= 0 || bpp == 0) return; // refused, or compressed by another format: the decoder says
            CheckBitmapSize(width, height < 0 ? -height : height, bpp, "the picture");
            return;
        }
        // PNG: from the header chunk, without libpng (which tells its complaints on standard error);
        // a header it would refuse is refused by the full check, with the reason in the message.
        if (Data.startsWith("\x89PNG\r\n\x1a\n")) {
            if (!PngHeaderProblem(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()))
                     .empty())
                return;
            const auto* ihdr = reinterpret_cast<const uint8_t*>(Data.constData()) + 16;
            const int64_t width = int64_t(ihdr[0]) << 24 | ihdr[1] << 16 | ihdr[2] << 8 | ihdr[3];
            const int64_t height = int64_t(ihdr[4]) << 24 | ihdr[5] << 16 | ihdr[6] << 8 | ihdr[7];
            const int depth = ihdr[8], colourType = ihdr[9];
            // Qt decodes 16-bit samples to 16-bit pixels, grey and palette pictures to 8 bits, others to 32.
            const int bpp = depth == 16                          ? (colourType == 0 ? 16 : 64)
                            : colourType == 0 || colourType == 3 ? 8
                                                                 : 32;
            CheckBitmapSize(width, height, bpp, "the picture");
            return;
        }
        QBuffer buffer;
        buffer.setData(Data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        if (Data.startsWith("#define")) reader.setFormat("xbm");
        const QSize size = DecodedSize(Data, reader);
        if (size.isValid())
            CheckBitmapSize(size.width(), size.height(), DecodedBitsPerPixel(reader), "the picture");
    } catch (const EOutOfResources& e) {
        throw EOutOfResources(What + e.what());
    }
}

// The framework's byte limit as Qt's allocation limit: whole MiB rounded up, at least 1 (0 would
// switch Qt's check off).
int QtAllocationLimitMiB() {
    const size_t mib =
        GetMaxBitmapBytes() / (size_t(1) << 20) + (GetMaxBitmapBytes() % (size_t(1) << 20) != 0);
    return int(std::clamp<size_t>(mib, 1, size_t(std::numeric_limits<int>::max())));
}

std::string SizeText(int64_t Width, int64_t Height) {
    return std::to_string(Width) + " x " + std::to_string(Height);
}

// What a load has learnt of the picture so far, for the message when memory runs out anyway.
struct TLoadSize {
    int64_t Width = 0, Height = 0;
    uint64_t Needed = 0; // bytes of picture memory the decoding needs at once
};

// A BMP-family file: the decoder allocates the bitmap at the file's own depth, sized from the header.
void LoadBmp(TBitmap& Loaded, const QByteArray& Data, const std::string& What, TLoadSize& Size) {
    uint64_t bytes = 0;
    if (LooksLikeBmp(Data) && Data.size() >= 30) {
        const bool core = LittleEndian(Data, 14, 4) == 12;
        Size.Width = core ? int64_t(LittleEndian(Data, 18, 2)) : int64_t(int32_t(LittleEndian(Data, 18, 4)));
        Size.Height = core ? int64_t(LittleEndian(Data, 20, 2)) : int64_t(int32_t(LittleEndian(Data, 22, 4)));
        Size.Height = Size.Height < 0 ? -Size.Height : Size.Height;
        const int bpp = int(LittleEndian(Data, core ? 24 : 28, 2));
        const int decodedBpp = bpp <= 1 ? 1 : bpp <= 4 ? 4 : bpp <= 8 ? 8 : bpp <= 24 ? 24 : 32;
        if (Size.Width > 0 && Size.Width <= INT32_MAX)
            bytes = uint64_t(BytesPerScanline(int(Size.Width), decodedBpp)) * uint64_t(Size.Height);
    }
    Size.Needed = bytes;
    const TPictureMemory memory(std::min<uint64_t>(bytes, GetMaxBitmapBytes()), What + "the picture");
    try {
        Loaded.Assign(DecodeBmp(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size())));
    } catch (const EOutOfResources& e) {
        throw EOutOfResources(What + e.what());
    } catch (const Exception& e) {
        throw EInvalidGraphic(What + e.what());
    }
}

// The memory a Qt decoding of a Size picture needs at once: the decoder's buffers, the decoded image
// and the bitmap it becomes.
uint64_t QtDecodingBytes(const QByteArray& Data, QImageReader& Reader, QSize Size) {
    if (!Size.isValid()) return 0;
    const int decodedBpp = DecodedBitsPerPixel(Reader);
    const uint64_t bitmapBytes =
        uint64_t(BytesPerScanline(Size.width(), BitmapBitsPerPixel(Reader, decodedBpp))) *
        uint64_t(Size.height());
    uint64_t bytes =
        uint64_t(BytesPerScanline(Size.width(), decodedBpp)) * uint64_t(Size.height()) + bitmapBytes;
    if (Reader.format() == "jpeg") bytes += JpegCoefficientBytes(Data);
    // Formats the bitmap does not take as they are pass through one more converted copy.
    const QImage::Format decoded = Reader.imageFormat();
    if (decoded != QImage::Format_Mono && decoded != QImage::Format_Indexed8 &&
        decoded != QImage::Format_Grayscale8 && decoded != QImage::Format_ARGB32 &&
        decoded != QImage::Format_RGB32)
        bytes += bitmapBytes;
    return bytes;
}

// Every other format, through Qt's readers, with the framework's completeness checks and limits.
void LoadThroughQt(TBitmap& Loaded, const QByteArray& Data, const std::string& What,
                   const TDecoderMessages& DecoderMessages, TLoadSize& Size) {
    const std::string problem =
        PictureDataProblem(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()));
    if (!problem.empty()) throw EInvalidGraphic(What + problem);
    QBuffer buffer;
    buffer.setData(Data);
    buffer.open(QIODevice::ReadOnly);
    // Qt's limit holds from the first byte read: recognising a format may already decode.
    QImageReader::setAllocationLimit(QtAllocationLimitMiB());
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    // Qt recognises XBM only by decoding the whole picture; a file that starts as XBM does is read
    // as XBM straight away, so that its size is checked from the header first.
    if (Data.startsWith("#define"))
        reader.setFormat("xbm");
    else if (!reader.canRead())
        throw EInvalidGraphic(What + "not a picture format that can be read");
    const QSize size = DecodedSize(Data, reader);
    Size.Width = size.width();
    Size.Height = size.height();
    Size.Needed = QtDecodingBytes(Data, reader, size);
    const TPictureMemory memory(Size.Needed,
                                What + "the picture of " + SizeText(Size.Width, Size.Height) + " pixels");
    const std::string format = reader.format().toLower().toStdString(); // unknown once read
    QImage image;
    const bool read = reader.read(&image) && !image.isNull();
    const std::string said = DecoderMessages.Text();
    if (!read) {
        const std::string reason = reader.errorString().toLower().toStdString();
        const std::string named = reason == "unable to read image data" || reason == "unknown error"
                                      ? "the " + format + " data is damaged or cut short"
                                      : reason;
        throw EInvalidGraphic(What + (said.empty() ? named : said));
    }
    // libjpeg goes on after damaged or missing data with a warning, inventing the pixels.
    if ((format == "jpeg" || format == "jpg") && !said.empty()) throw EInvalidGraphic(What + said);
    Size.Width = image.width();
    Size.Height = image.height();
    // Qt narrows 32-bit pixels to the bitmap's 24 bits in place, so that no third copy is made.
    if (image.format() == QImage::Format_RGB32) image.convertTo(QImage::Format_BGR888);
    try {
        Loaded.FromQImage(image);
    } catch (const EOutOfResources& e) {
        throw EOutOfResources(What + e.what());
    }
}

} // namespace

TPicture::TPicture(QObject* Parent) : QObject(Parent), FBitmap(std::make_unique<TBitmap>()) {
    FBitmap->OnChange = [this] {
        if (OnChange) OnChange();
        emit Changed();
    };
}

TPicture::~TPicture() = default;

void TPicture::LoadFromFile(const QString& FileName) {
    const std::string what = "cannot read picture " + Quoted(FileName) + ": ";
    try {
        const QByteArray data =
            ReadInputFile(FileName, GetMaxBitmapBytes() + (size_t(1) << 20), [&](const QByteArray& Head) {
                TDecoderMessages quiet; // a header's complaints come again
                CheckDeclaredSize(Head, what);
            });
        if (OnProgress) OnProgress(psStarting, 0, "reading " + FileName);
        LoadFromData(data, FileName);
    } catch (const std::bad_alloc&) {
        throw EOutOfResources(what + "out of memory");
    }
    if (OnProgress) OnProgress(psEnding, 100, "read " + FileName);
}

void TPicture::LoadFromData(const QByteArray& Data, const QString& Name) {
    const std::string what = "cannot read picture " + Quoted(Name) + ": ";
    if (Data.isEmpty()) throw EInvalidGraphic(what + "the file is empty");
    TDecoderMessages decoderMessages;
    TLoadSize size;
    try {
        TBitmap loaded;
        CheckDeclaredSize(Data, what);
        if (IsBmpData(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size())))
            LoadBmp(loaded, Data, what, size);
        else
            LoadThroughQt(loaded, Data, what, decoderMessages, size);
        Assign(loaded.TakeDib());
    } catch (const std::bad_alloc&) {
        throw EOutOfResources(what + "out of memory: the picture of " + SizeText(size.Width, size.Height) +
                              " pixels needs " + std::to_string(size.Needed) + " bytes");
    }
}

QByteArray TPicture::SaveToData(const QString& Extension, const QString& Name, int Quality) const {
    const std::string what = "cannot write picture " + Quoted(Name) + ": ";
    const QString ext = Extension.toLower();
    if (FBitmap->Empty()) throw EInvalidGraphic(what + "the picture is empty");
    // The bitmap and the encoder's copy of it (at most 32 bits per pixel) exist together.
    const uint64_t pictureBytes = FBitmap->Dib().Bits.size();
    const TPictureMemory memory(
        pictureBytes + (ext == "bmp"
                            ? 2 * pictureBytes // the encoded file, then its copy in the result
                            : uint64_t(BytesPerScanline(FBitmap->Width(), 32)) * uint64_t(FBitmap->Height())),
        what + "encoding the picture of " + SizeText(FBitmap->Width(), FBitmap->Height()) + " pixels");
    if (ext == "bmp") {
        const std::vector<uint8_t> bytes = EncodeBmp(FBitmap->Dib());
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    }
    if (!WritableExtensions().contains(ext))
        throw EInvalidGraphic(what + "unknown picture format \"" + ext.toStdString() + "\" (use one of " +
                              WritableExtensions().join(", ").toStdString() + ")");
    // libpng's limit, which it would report on standard error with an "Unknown error" for us.
    constexpr int MaxPngSide = 1000000;
    if (ext == "png" && (FBitmap->Width() > MaxPngSide || FBitmap->Height() > MaxPngSide))
        throw EInvalidGraphic(what + "a PNG picture can be at most " + std::to_string(MaxPngSide) +
                              " pixels wide and high, this one is " +
                              SizeText(FBitmap->Width(), FBitmap->Height()));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, ext.toLatin1());
    if (Quality >= 0) writer.setQuality(Quality);
    QImage image = FBitmap->ToQImage();
    // JPEG has no alpha channel: a picture with one is written opaque.
    if ((ext == "jpg" || ext == "jpeg") && image.hasAlphaChannel())
        image = image.convertToFormat(QImage::Format_RGB888);
    if (!writer.write(image)) {
        const std::string reason = writer.errorString().toStdString();
        throw EInvalidGraphic(what + (reason.empty() || reason == "Unknown error"
                                          ? "the " + ext.toStdString() + " encoder refused the picture"
                                          : reason));
    }
    return data;
}

void TPicture::SaveToFile(const QString& FileName, int Quality) const {
    CheckOutputFile(FileName);
    const QString ext = QFileInfo(FileName).suffix().toLower();
    if (ext == "bmp" && !FBitmap->Empty()) {
        // The framework's own format goes to the file without a second copy in memory.
        const TPictureMemory memory(2 * uint64_t(FBitmap->Dib().Bits.size()),
                                    "cannot write picture " + Quoted(FileName) +
                                        ": encoding the picture of " +
                                        SizeText(FBitmap->Width(), FBitmap->Height()) + " pixels");
        const std::vector<uint8_t> bytes = EncodeBmp(FBitmap->Dib());
        WriteFileAtomically(FileName, QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                              qsizetype(bytes.size())));
        return;
    }
    WriteFileAtomically(FileName, SaveToData(ext, FileName, Quality));
}

void TPicture::Assign(TDibImage Source) {
    FBitmap->Assign(std::move(Source));
}

void TPicture::Assign(const TBitmap& Source) {
    FBitmap->Assign(Source);
}

QStringList TPicture::ReadableExtensions() {
    QStringList list{"bmp"};
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        if (!list.contains(QString::fromLatin1(format).toLower()))
            list << QString::fromLatin1(format).toLower();
    return list;
}

QStringList TPicture::WritableExtensions() {
    QStringList list{"bmp"};
    for (const QByteArray& format : QImageWriter::supportedImageFormats())
        if (!list.contains(QString::fromLatin1(format).toLower()))
            list << QString::fromLatin1(format).toLower();
    return list;
}
