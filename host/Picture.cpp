#include "ByteOrder.h"
#include <pictura/Picture.h>

#include "BmpCodec.h"
#include "CodecChoice.h"
#include "DecoderMessages.h"
#include "ImageMetadata.h"
#include "InputFile.h"
#include "JpegCodec.h"
#include "PictureCompleteness.h"
#include "PixelConversion.h"
#include "PngCodec.h"
#include "TiffCodec.h"
#include "TiffLayout.h"
#include "WebpCodec.h"
#include <pictura/FileOutput.h>
#include <pictura/ImageLimits.h>
#include <pictura/SysUtils.h>

#include <QBuffer>
#include <QColorSpace>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
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
            for (; i + 1 < n; ++i) {
                const auto* ff = static_cast<const uint8_t*>(std::memchr(p + i, 0xFF, n - 1 - i));
                if (!ff) {
                    i = n;
                    break;
                }
                i = size_t(ff - p);
                if (p[i + 1] != 0x00 && !(p[i + 1] >= 0xD0 && p[i + 1] <= 0xD7)) break;
            }
    }
    return progressive || scans > 1 ? bytes : 0;
}

// libtiff reads a TIFF's strip or tile tables as soon as a reader looks at the file: their memory is
// reserved for What before any reader is made.
TPictureMemory ReserveTiffTables(const QByteArray& Data, const std::string& What) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(Data.constData());
    const uint64_t pieces =
        IsTiffData(bytes, size_t(Data.size())) ? ReadTiffLayout(bytes, size_t(Data.size())).Pieces : 0;
    return TPictureMemory(TiffTableBytes(pieces),
                          What + "the TIFF's table of " + std::to_string(pieces) + " strips or tiles");
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
        const TPictureMemory tables = ReserveTiffTables(Data, ""); // What comes with the catch below
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
void LoadBmp(TBitmap& Loaded, const QByteArray& Data, const std::string& What, TLoadSize& Size,
             const TInputBytes* Input) {
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
        Loaded.Assign(
            DecodeBmp(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()), [Input] {
                if (Input) Input->ReleaseRead();
            }));
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
    // Qt's WebP reader reads the whole file into memory of its own first.
    if (Reader.format() == "webp") bytes += uint64_t(Data.size());

    // Formats the bitmap does not take as they are pass through one more converted copy.
    const QImage::Format decoded = Reader.imageFormat();
    if (decoded != QImage::Format_Mono && decoded != QImage::Format_Indexed8 &&
        decoded != QImage::Format_Grayscale8 && decoded != QImage::Format_ARGB32 &&
        decoded != QImage::Format_RGB32)
        bytes += bitmapBytes;
    return bytes;
}

// What a picture Qt's reader decoded held besides its pixels.
void ReadQtMetadata(const QByteArray& Data, const QImage& Image, const std::string& Format,
                    TPictureMetadata& Metadata) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(Data.constData());
    if (Format == "png") {
        ReadPngMetadata(bytes, size_t(Data.size()), Metadata);
    } else if (Format == "jpeg" || Format == "jpg") {
        ReadJpegMetadata(bytes, size_t(Data.size()), Metadata);
    } else if (Format == "webp") {
        ReadWebpMetadata(bytes, size_t(Data.size()), Metadata);
    } else {
        Metadata.Icc = Image.colorSpace().iccProfile().toStdString();
        // Only TIFF gives Qt a resolution; for the others it invents one.
        if (Format == "tif" || Format == "tiff") {
            Metadata.DotsPerMeterX = Image.dotsPerMeterX();
            Metadata.DotsPerMeterY = Image.dotsPerMeterY();
            ReadTiffMetadata(bytes, size_t(Data.size()), Metadata);
        }
    }
    const QPixelFormat pixel = Image.pixelFormat();
    if (pixel.channelCount() > 0 && int(pixel.bitsPerPixel()) / int(pixel.channelCount()) > 8)
        Metadata.SourceBitsPerSample = int(pixel.bitsPerPixel()) / int(pixel.channelCount());
}

// PNG of the kinds libpng gives as the bitmap lays them out, straight into the bitmap's rows.
void LoadPng(TBitmap& Loaded, const QByteArray& Data, const std::string& What, TLoadSize& Size,
             const TInputBytes* Input, TPictureMetadata& Metadata) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(Data.constData());
    // The image data is inflated once, by the decoder, which refuses what the full check would.
    const std::string problem = PngChunkProblem(bytes, size_t(Data.size()));
    if (Input) Input->ReleaseRead(); // the check walked every chunk
    if (!problem.empty()) throw EInvalidGraphic(What + problem);
    Size.Width = int64_t(BigEndian32(bytes + 16));
    Size.Height = int64_t(BigEndian32(bytes + 20));
    Size.Needed = FastPngBitmapBytes(bytes, size_t(Data.size()));
    const TPictureMemory memory(Size.Needed,
                                What + "the picture of " + SizeText(Size.Width, Size.Height) + " pixels");
    TDibImage dib;
    try {
        DecodePng(bytes, size_t(Data.size()), dib, Metadata, [Input] {
            if (Input) Input->ReleaseRead();
        });
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(What + e.what());
    }
    Loaded.Assign(std::move(dib));
}

// JPEG in grey or colour, straight into the bitmap's rows.
void LoadJpeg(TBitmap& Loaded, const QByteArray& Data, const std::string& What, TLoadSize& Size,
              const TInputBytes* Input, TPictureMetadata& Metadata) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(Data.constData());
    const std::string problem = PictureDataProblem(bytes, size_t(Data.size()));
    if (Input) Input->ReleaseRead(); // the check walked the whole file
    if (!problem.empty()) throw EInvalidGraphic(What + problem);
    int width = 0, height = 0;
    bool grey = false;
    FastJpegHeader(bytes, size_t(Data.size()), width, height, grey);
    Size.Width = width;
    Size.Height = height;
    Size.Needed =
        uint64_t(BytesPerScanline(width, grey ? 8 : 24)) * uint64_t(height) + JpegCoefficientBytes(Data);
    const TPictureMemory memory(Size.Needed,
                                What + "the picture of " + SizeText(Size.Width, Size.Height) + " pixels");
    TDibImage dib;
    try {
        DecodeJpeg(bytes, size_t(Data.size()), dib, Metadata);
        if (Input) Input->ReleaseRead();
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(What + e.what());
    }
    Loaded.Assign(std::move(dib));
}

// Whether Data is a JPEG that the framework's JPEG reader decodes.
bool IsFastJpeg(const QByteArray& Data) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(Data.constData());
    int width = 0, height = 0;
    bool grey = false;
    return Data.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF &&
           FastJpegHeader(bytes, size_t(Data.size()), width, height, grey);
}

// Qt's readers read a mapped file through this buffer, which drops what they have read from memory
// every few MiB (a reader that seeks back gets it again from the system's cache).
class TReleasingBuffer : public QBuffer {
public:
    explicit TReleasingBuffer(const TInputBytes* Input) : FInput(Input) {}

protected:
    qint64 readData(char* Into, qint64 Size) override {
        const qint64 n = QBuffer::readData(Into, Size);
        FSinceRelease += std::max<qint64>(n, 0);
        if (FInput && FSinceRelease >= ReleaseEvery) {
            FInput->ReleaseRead();
            FSinceRelease = 0;
        }
        return n;
    }

private:
    static constexpr qint64 ReleaseEvery = qint64(16) << 20;
    const TInputBytes* FInput;
    qint64 FSinceRelease = 0;
};

// Every other format, through Qt's readers, with the framework's completeness checks and limits.
// Name is the picture's quoted name, What the start of its refusals.
void LoadThroughQt(TBitmap& Loaded, const QByteArray& Data, const std::string& Name, const std::string& What,
                   TDecoderMessages& DecoderMessages, TLoadSize& Size, const TInputBytes* Input,
                   TPictureMetadata& Metadata) {
    const std::string problem =
        PictureDataProblem(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()));
    if (Input) Input->ReleaseRead(); // the check may have walked the whole file
    if (!problem.empty()) throw EInvalidGraphic(What + problem);
    const TPictureMemory tables = ReserveTiffTables(Data, What);
    TReleasingBuffer buffer(Input);
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
    // Taken now: once the reader has looked further, a handler that no longer recognises the data
    // from where the device stands names no format.
    std::string format = reader.format().toLower().toStdString();
    if (format.empty()) format = "picture";
    const QSize size = DecodedSize(Data, reader);
    Size.Width = size.width();
    Size.Height = size.height();
    Size.Needed = QtDecodingBytes(Data, reader, size);
    if (Input) Input->ReleaseRead(); // a JPEG's scans were walked to count its coefficients
    const TPictureMemory memory(Size.Needed,
                                What + "the picture of " + SizeText(Size.Width, Size.Height) + " pixels");
    QImage image;
    const bool read = reader.read(&image) && !image.isNull();
    const std::string said = DecoderMessages.Text();
    const bool tiff = format == "tiff" || format == "tif";
    // libtiff's lines name no format (Qt's reader reads every file as "foo"): the refusal does.
    const std::string damaged = tiff ? "damaged TIFF data: " + said : said;
    if (!read) {
        const std::string reason = reader.errorString().toLower().toStdString();
        const std::string named = reason == "unable to read image data" || reason == "unknown error"
                                      ? "the " + format + " data is damaged or cut short"
                                      : reason;
        throw EInvalidGraphic(What + (said.empty() ? named : damaged));
    }
    // libjpeg goes on after damaged or missing data with a warning, inventing the pixels; libtiff does
    // after some warnings (a PackBits run too long, say), and a reader may go on after its errors.
    if ((format == "jpeg" || format == "jpg") && !said.empty()) throw EInvalidGraphic(What + said);
    if (DecoderMessages.Damaged()) throw EInvalidGraphic(What + damaged);
    Size.Width = image.width();
    Size.Height = image.height();
    ReadQtMetadata(Data, image, format, Metadata);
    // Qt narrows 32-bit pixels to the bitmap's 24 bits in place, so that no third copy is made.
    if (image.format() == QImage::Format_RGB32) image.convertTo(QImage::Format_BGR888);
    try {
        Loaded.FromQImage(image);
    } catch (const EOutOfResources& e) {
        throw EOutOfResources(What + e.what());
    }
    // What libtiff says of a picture it read whole (an unknown tag, say) is told once, naming the file.
    if (tiff && !said.empty()) DecoderMessages.PassOn("TIFF picture " + Name + ": " + said);
}

} // namespace

TPicture::TPicture(QObject* Parent) : QObject(Parent), FBitmap(std::make_unique<TBitmap>()) {
    FBitmap->OnChange = [this] {
        if (OnChange) OnChange();
        emit Changed();
    };
}

TPicture::~TPicture() = default;

namespace {

// Reports the start of a load or a save, its percent where the codec counts rows, and whatever its
// outcome, its end. Doing and Done name the work in the messages ("reading", "read").
class TFileProgress {
public:
    TFileProgress(const TPicture& Picture, const QString& Name, const char* Doing, const char* Done)
        : FPicture(Picture), FName(Name), FDoing(QString::fromLatin1(Doing)),
          FDone(QString::fromLatin1(Done)), FExceptions(std::uncaught_exceptions()) {
        if (FPicture.OnProgress) FPicture.OnProgress(psStarting, 0, FDoing + " " + FName);
    }
    // A listener's own error propagates after work that succeeded; after a failure the work's error does.
    ~TFileProgress() noexcept(false) {
        if (!FPicture.OnProgress) return;
        if (std::uncaught_exceptions() == FExceptions) {
            FPicture.OnProgress(psEnding, 100, FDone + " " + FName);
            return;
        }
        try {
            FPicture.OnProgress(psEnding, 100, FDoing + " " + FName + " failed");
        } catch (...) {
        }
    }
    TFileProgress(const TFileProgress&) = delete;
    TFileProgress& operator=(const TFileProgress&) = delete;

    // What a codec calls with the rows done of Total: psRunning at each new whole percent below 100.
    // Empty without a listener, so that the codec counts nothing.
    std::function<void(int Rows)> Rows(int Total) {
        if (!FPicture.OnProgress || Total <= 0) return {};
        return [this, Total](int Rows) {
            const int percent = int(std::min<int64_t>(99, int64_t(Rows) * 100 / Total));
            if (percent <= FPercent) return;
            FPercent = percent;
            FPicture.OnProgress(psRunning, percent, FDoing + " " + FName);
        };
    }

private:
    const TPicture& FPicture;
    QString FName, FDoing, FDone;
    int FExceptions;
    int FPercent = 0;
};

// The bytes a file may have: the largest picture, and room for its file's headers and metadata.
size_t MaxInputBytes() {
    return GetMaxBitmapBytes() + (size_t(1) << 20);
}

} // namespace

void TPicture::LoadFromFile(const QString& FileName) {
    const TFileProgress progress(*this, FileName, "reading", "read");
    LoadFromInput(OpenInputFile(FileName, MaxInputBytes()), FileName);
}

void TPicture::LoadFromDescriptor(int Fd, const QString& Name) {
    const TFileProgress progress(*this, Name, "reading", "read");
    try {
        LoadFromInput(ReadInputDescriptor(Fd, Name, MaxInputBytes()), Name);
    } catch (const std::bad_alloc&) {
        throw EOutOfResources("cannot read picture " + Quoted(Name) + ": out of memory");
    }
}

void TPicture::LoadFromData(const QByteArray& Data, const QString& Name) {
    LoadBytes(Data, Name, nullptr);
}

void TPicture::LoadFromInput(const TInputBytes& Input, const QString& Name) {
    LoadBytes(Input.View(), Name, &Input);
    // Pages of a file cut short while it was read came as zeros: the picture made from them is dropped.
    if (Input.Damaged())
        throw EInvalidGraphic("cannot read picture " + Quoted(Name) +
                              ": the file was cut short while it was read");
}

void TPicture::LoadBytes(const QByteArray& Data, const QString& Name, const TInputBytes* Input) {
    const std::string what = "cannot read picture " + Quoted(Name) + ": ";
    if (Data.isEmpty()) throw EInvalidGraphic(what + "the file is empty");
    TDecoderMessages decoderMessages;
    TLoadSize size;
    try {
        TBitmap loaded;
        TPictureMetadata metadata;
        CheckDeclaredSize(Data, what);
        const auto* bytes = reinterpret_cast<const uint8_t*>(Data.constData());
        if (IsBmpData(bytes, size_t(Data.size())))
            LoadBmp(loaded, Data, what, size, Input);
        else if (OwnPictureCodecs() && IsFastPng(bytes, size_t(Data.size())))
            LoadPng(loaded, Data, what, size, Input, metadata);
        else if (OwnPictureCodecs() && IsFastJpeg(Data))
            LoadJpeg(loaded, Data, what, size, Input, metadata);
        else
            LoadThroughQt(loaded, Data, Quoted(Name), what, decoderMessages, size, Input, metadata);
        if (Input && Input->Damaged()) return; // refused by LoadFromInput, the picture untouched
        FMetadata = std::move(metadata);
        Assign(loaded.TakeDib());
    } catch (const std::bad_alloc&) {
        throw EOutOfResources(what + "out of memory: the picture of " + SizeText(size.Width, size.Height) +
                              " pixels needs " + std::to_string(size.Needed) + " bytes");
    }
}

namespace {

bool IsJpegExtension(const QString& Extension) {
    return Extension == "jpg" || Extension == "jpeg";
}

bool IsTiffExtension(const QString& Extension) {
    return Extension == "tif" || Extension == "tiff";
}

// Bitmap as the QImage Qt's writer for Extension gets: the metadata Qt's writers hold, grey pictures as
// one channel.
QImage ImageForQt(const TBitmap& Bitmap, const TPictureMetadata& Metadata, const QString& Extension) {
    QImage image = Bitmap.ToQImage();
    const TDibImage& dib = Bitmap.Dib();
    const bool opaque =
        dib.Format == pf24bit || ((dib.Format == pf32bit || dib.Format == pfDevice) && !dib.HasAlpha);
    if (IsTiffExtension(Extension) && opaque && AllGrey(dib))
        image = image.convertToFormat(QImage::Format_Grayscale8);
    // JPEG has no alpha channel: a picture with one is written opaque.
    if (IsJpegExtension(Extension) && image.hasAlphaChannel())
        image = image.convertToFormat(QImage::Format_RGB888);
    if (!Metadata.Icc.empty()) {
        const QColorSpace space = QColorSpace::fromIccProfile(QByteArray::fromStdString(Metadata.Icc));
        if (space.isValid()) image.setColorSpace(space);
    }
    if (Metadata.DotsPerMeterX > 0 && Metadata.DotsPerMeterY > 0) {
        image.setDotsPerMeterX(int(std::lround(Metadata.DotsPerMeterX)));
        image.setDotsPerMeterY(int(std::lround(Metadata.DotsPerMeterY)));
    }
    return image;
}

// The EXIF orientation as Qt's writers take it.
QImageIOHandler::Transformations QtTransformation(int Orientation) {
    using T = QImageIOHandler::Transformation;
    static const QImageIOHandler::Transformations byOrientation[] = {
        T::TransformationNone,     T::TransformationNone,
        T::TransformationMirror,   T::TransformationRotate180,
        T::TransformationFlip,     T::TransformationFlipAndRotate90,
        T::TransformationRotate90, T::TransformationMirrorAndRotate90,
        T::TransformationRotate270};
    return byOrientation[std::clamp(Orientation, 0, 8)];
}

// ICO and CUR hold at most 256 x 256 pixels; Qt's writer shrinks a larger picture.
constexpr int MaxIconSide = 256;
// libpng's, libjpeg's and libwebp's largest sides, which they would report as an "Unknown error".
constexpr int MaxPngSide = 1000000;
constexpr int MaxJpegSide = 65500;
constexpr int MaxWebpSide = 16383;

// Whether ICNS holds a Width x Height picture as it is: Qt's writer rescales every other size to a
// square power of two between 16 and 1024.
bool IcnsHolds(int Width, int Height) {
    return Width == Height && Width >= 16 && Width <= 1024 && (Width & (Width - 1)) == 0;
}

// The picture memory encoding a Width x Height picture of Format needs at once: the bitmap and the
// encoder's copy of it (at most 32 bits per pixel); BMP instead makes the file's bytes, and in memory
// their copy in the result too; the framework's PNG writer holds the strips it deflates, its JPEG
// writer the result.
uint64_t EncodingBytes(const QString& Ext, int Width, int Height, TPixelFormat Format, bool ToFile,
                       int Quality, int Compression) {
    const uint64_t pictureBytes = uint64_t(BytesPerScanline(Width, BitsPerPixel(Format))) * uint64_t(Height);
    if (OwnPictureCodecs() && Ext == "webp") {
        // libwebp's own buffers, measured on photos: under 7 bytes a pixel lossy; lossless 18 to 29 up to
        // effort 8, 45 at effort 9.
        const int effort = Compression < 0 ? DefaultWebpCompression : Compression;
        const uint64_t perPixel = Quality < 100 ? 8 : effort >= 9 ? 48 : 32;
        return pictureBytes + perPixel * uint64_t(Width) * uint64_t(Height);
    }
    if (Ext == "bmp") return (ToFile ? 2 : 3) * pictureBytes;
    const bool direct = Format == pf24bit || Format == pf32bit || Format == pfDevice;
    if (OwnPictureCodecs() && Ext == "png" && (direct || IsIndexed(Format)))
        return pictureBytes + std::min(pictureBytes, uint64_t(24) << 20);
    if (OwnPictureCodecs() && IsJpegExtension(Ext) && direct) return 2 * pictureBytes;
    return pictureBytes + uint64_t(BytesPerScanline(Width, 32)) * uint64_t(Height);
}

std::string EncodingWhat(const std::string& What, int Width, int Height) {
    return What + "encoding the picture of " + SizeText(Width, Height) + " pixels";
}

// Every refusal of a save that needs no encoding; What starts the message ("cannot write picture ...").
void CheckWritable(const QString& Ext, const std::string& What, int Width, int Height, TPixelFormat Format,
                   int Quality, int Compression, bool ToFile) {
    if (Width <= 0 || Height <= 0) throw EInvalidGraphic(What + "the picture is empty");
    if (!TPicture::WritableExtensions().contains(Ext))
        throw EInvalidGraphic(What + "unknown picture format \"" + Ext.toStdString() + "\" (use one of " +
                              TPicture::WritableExtensions().join(", ").toStdString() + ")");
    if (Quality < -1 || Quality > 100)
        throw EInvalidGraphic(What + "the quality " + std::to_string(Quality) + " is outside 0..100");
    const std::string format = Ext.toUpper().toStdString();
    const std::string size = ", the picture is " + SizeText(Width, Height);
    if ((Ext == "ico" || Ext == "cur") && (Width > MaxIconSide || Height > MaxIconSide))
        throw EInvalidGraphic(What + format + " holds at most " + SizeText(MaxIconSide, MaxIconSide) +
                              " pixels (its writer would shrink the picture)" + size);
    if (Ext == "icns" && !IcnsHolds(Width, Height))
        throw EInvalidGraphic(What +
                              "ICNS holds square pictures of 16, 32, 64, 128, 256, 512 or 1024 pixels a "
                              "side (its writer would rescale the picture)" +
                              size);
    const int maxSide = Ext == "png"                    ? MaxPngSide
                        : Ext == "jpg" || Ext == "jpeg" ? MaxJpegSide
                        : Ext == "webp"                 ? MaxWebpSide
                                                        : INT_MAX;
    if (Width > maxSide || Height > maxSide)
        throw EInvalidGraphic(What + "a " + format + " picture can be at most " + std::to_string(maxSide) +
                              " pixels wide and high" + size);
    const uint64_t need = EncodingBytes(Ext, Width, Height, Format, ToFile, Quality, Compression);
    if (need > GetMaxBitmapBytes())
        throw EOutOfResources(EncodingWhat(What, Width, Height) + " needs " + std::to_string(need) +
                              " bytes of memory, more than the limit of " +
                              std::to_string(GetMaxBitmapBytes()) + " bytes");
}

std::string WriteWhat(const QString& Name) {
    return "cannot write picture " + Quoted(Name) + ": ";
}

} // namespace

void TPicture::CheckFileWritable(const QString& FileName, int Width, int Height, TPixelFormat Format,
                                 int Quality, int Compression) {
    CheckWritable(QFileInfo(FileName).suffix().toLower(), WriteWhat(FileName), Width, Height, Format, Quality,
                  Compression, true);
}

void TPicture::CheckDataWritable(const QString& Extension, const QString& Name, int Width, int Height,
                                 TPixelFormat Format, int Quality, int Compression) {
    CheckWritable(Extension.toLower(), WriteWhat(Name), Width, Height, Format, Quality, Compression, false);
}

QByteArray TPicture::SaveToData(const QString& Extension, const QString& Name, int Quality,
                                int Compression) const {
    TFileProgress progress(*this, Name, "writing", "wrote");
    return EncodeToData(Extension, Name, Quality, Compression, progress.Rows(FBitmap->Height()));
}

QByteArray TPicture::EncodeToData(const QString& Extension, const QString& Name, int Quality, int Compression,
                                  const std::function<void(int Rows)>& RowsWritten) const {
    const std::string what = WriteWhat(Name);
    const QString ext = Extension.toLower();
    const int width = FBitmap->Width(), height = FBitmap->Height();
    CheckWritable(ext, what, width, height, FBitmap->GetPixelFormat(), Quality, Compression, false);
    const TPictureMemory memory(
        EncodingBytes(ext, width, height, FBitmap->GetPixelFormat(), false, Quality, Compression),
        EncodingWhat(what, width, height));
    const TDibImage& dib = FBitmap->Dib();
    if (ext == "bmp") {
        const std::vector<uint8_t> bytes = EncodeBmp(FBitmap->Dib(), RowsWritten);
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    }
    const bool ownPng = OwnPictureCodecs() && ext == "png" && IsFastPngFormat(dib);
    const bool ownJpeg = OwnPictureCodecs() && IsJpegExtension(ext) && IsFastJpegFormat(dib);
    try {
        if (ownPng) {
            QByteArray data;
            EncodePng(
                dib, FMetadata, Compression,
                [&](const void* Part, size_t Size) {
                    data.append(static_cast<const char*>(Part), qsizetype(Size));
                },
                RowsWritten);
            return data;
        }
        if (ownJpeg) {
            const std::string data = EncodeJpeg(dib, FMetadata, Quality);
            return QByteArray(data.data(), qsizetype(data.size()));
        }
        if (OwnPictureCodecs() && IsTiffExtension(ext))
            return EncodeTiff(dib, FMetadata, std::min(Compression, 9), RowsWritten);
        if (OwnPictureCodecs() && ext == "webp") {
            const std::string data = EncodeWebp(dib, FMetadata, Quality, std::min(Compression, 9));
            return QByteArray(data.data(), qsizetype(data.size()));
        }
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(what + e.what());
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, ext.toLatin1());
    if (Quality >= 0) writer.setQuality(Quality);
    if (Compression >= 0) writer.setCompression(ext == "png" ? Compression : Compression > 0 ? 1 : 0);
    if (writer.supportsOption(QImageIOHandler::ImageTransformation))
        writer.setTransformation(QtTransformation(FMetadata.Orientation()));
    if (!writer.write(ImageForQt(*FBitmap, FMetadata, ext))) {
        const std::string reason = writer.errorString().toStdString();
        throw EInvalidGraphic(what + (reason.empty() || reason == "Unknown error"
                                          ? "the " + ext.toStdString() + " encoder refused the picture"
                                          : reason));
    }
    return data;
}

void TPicture::SaveToFile(const QString& FileName, int Quality, int Compression) const {
    TFileProgress progress(*this, FileName, "writing", "wrote");
    const auto rowsWritten = progress.Rows(FBitmap->Height());
    const QString ext = QFileInfo(FileName).suffix().toLower();
    const int width = FBitmap->Width(), height = FBitmap->Height();
    CheckWritable(ext, WriteWhat(FileName), width, height, FBitmap->GetPixelFormat(), Quality, Compression,
                  true);
    CheckOutputFile(FileName);
    const TDibImage& dib = FBitmap->Dib();
    const std::string encoding = EncodingWhat(WriteWhat(FileName), width, height);
    if (ext == "bmp") {
        // The framework's own format goes to the file without a second copy in memory.
        const TPictureMemory memory(
            EncodingBytes(ext, width, height, FBitmap->GetPixelFormat(), true, Quality, Compression),
            encoding);
        const std::vector<uint8_t> bytes = EncodeBmp(dib, rowsWritten);
        WriteFileAtomically(FileName, QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                              qsizetype(bytes.size())));
        return;
    }
    if (ext == "png" && OwnPictureCodecs() && IsFastPngFormat(dib)) {
        // Deflated a strip at a time straight into the file.
        const TPictureMemory memory(EncodingBytes(ext, width, height, dib.Format, true, Quality, Compression),
                                    encoding);
        WriteFileAtomically(FileName, [&](const std::function<void(const void*, size_t)>& Write) {
            EncodePng(dib, FMetadata, Compression, Write, rowsWritten);
        });
        return;
    }
    WriteFileAtomically(FileName, EncodeToData(ext, FileName, Quality, Compression, rowsWritten));
}

QStringList TPicture::SaveNotes(const QString& Extension) const {
    QStringList notes;
    if (FMetadata.SourceBitsPerSample > 8)
        notes << QString("the picture's %1 bits per channel were reduced to 8")
                     .arg(FMetadata.SourceBitsPerSample);
    for (const std::string& loss : MetadataLosses(FMetadata, Extension.toLower().toStdString()))
        notes << QString::fromStdString(loss);
    return notes;
}

bool TPicture::AutoOrient() {
    const int orientation = FMetadata.Orientation();
    if (orientation == 1 || FBitmap->Empty()) return false;
    const TDibImage& dib = FBitmap->Dib();
    // The picture and its turned copy exist together.
    const TPictureMemory memory(
        2 * uint64_t(dib.Bits.size()) +
            (BitsPerPixel(dib.Format) < 8 ? uint64_t(dib.Width) * uint64_t(dib.Height) * 2 : 0),
        "turning the picture of " + SizeText(dib.Width, dib.Height) + " pixels upright");
    TDibImage upright = Oriented(dib, orientation);
    FMetadata.SetOrientation(1);
    FBitmap->Assign(std::move(upright));
    return true;
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

namespace {
std::atomic<bool> OwnCodecs{true};
} // namespace

bool OwnPictureCodecs() {
    return OwnCodecs.load(std::memory_order_relaxed);
}

void SetOwnPictureCodecs(bool Enabled) {
    OwnCodecs.store(Enabled, std::memory_order_relaxed);
}
