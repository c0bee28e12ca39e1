#include <pictura/Picture.h>

#include "BmpCodec.h"
#include "DecoderMessages.h"
#include "InputFile.h"
#include "PictureCompleteness.h"
#include "TiffLayout.h"
#include <pictura/FileOutput.h>
#include <pictura/ImageLimits.h>
#include <pictura/SysUtils.h>

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <climits>
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
            while (i + 1 < n &&
                   !(p[i] == 0xFF && p[i + 1] != 0x00 && !(p[i + 1] >= 0xD0 && p[i + 1] <= 0xD7)))
                ++i;
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
void LoadThroughQt(TBitmap& Loaded, const QByteArray& Data, const std::string& What,
                   const TDecoderMessages& DecoderMessages, TLoadSize& Size, const TInputBytes* Input) {
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

namespace {

// Reports the start of a load and, whatever its outcome, its end.
class TLoadProgress {
public:
    TLoadProgress(const TPicture& Picture, const QString& Name)
        : FPicture(Picture), FName(Name), FExceptions(std::uncaught_exceptions()) {
        if (FPicture.OnProgress) FPicture.OnProgress(psStarting, 0, "reading " + FName);
    }
    // A listener's own error propagates after a load that worked; after a failure the load's error does.
    ~TLoadProgress() noexcept(false) {
        if (!FPicture.OnProgress) return;
        if (std::uncaught_exceptions() == FExceptions) {
            FPicture.OnProgress(psEnding, 100, "read " + FName);
            return;
        }
        try {
            FPicture.OnProgress(psEnding, 100, "reading " + FName + " failed");
        } catch (...) {
        }
    }
    TLoadProgress(const TLoadProgress&) = delete;
    TLoadProgress& operator=(const TLoadProgress&) = delete;

private:
    const TPicture& FPicture;
    QString FName;
    int FExceptions;
};

// The bytes a file may have: the largest picture, and room for its file's headers and metadata.
size_t MaxInputBytes() {
    return GetMaxBitmapBytes() + (size_t(1) << 20);
}

} // namespace

void TPicture::LoadFromFile(const QString& FileName) {
    const TLoadProgress progress(*this, FileName);
    LoadFromInput(OpenInputFile(FileName, MaxInputBytes()), FileName);
}

void TPicture::LoadFromDescriptor(int Fd, const QString& Name) {
    const TLoadProgress progress(*this, Name);
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
        CheckDeclaredSize(Data, what);
        if (IsBmpData(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size())))
            LoadBmp(loaded, Data, what, size, Input);
        else
            LoadThroughQt(loaded, Data, what, decoderMessages, size, Input);
        if (Input && Input->Damaged()) return; // refused by LoadFromInput, the picture untouched
        Assign(loaded.TakeDib());
    } catch (const std::bad_alloc&) {
        throw EOutOfResources(what + "out of memory: the picture of " + SizeText(size.Width, size.Height) +
                              " pixels needs " + std::to_string(size.Needed) + " bytes");
    }
}

namespace {

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
// their copy in the result too.
uint64_t EncodingBytes(const QString& Ext, int Width, int Height, TPixelFormat Format, bool ToFile) {
    const uint64_t pictureBytes = uint64_t(BytesPerScanline(Width, BitsPerPixel(Format))) * uint64_t(Height);
    if (Ext == "bmp") return (ToFile ? 2 : 3) * pictureBytes;
    return pictureBytes + uint64_t(BytesPerScanline(Width, 32)) * uint64_t(Height);
}

std::string EncodingWhat(const std::string& What, int Width, int Height) {
    return What + "encoding the picture of " + SizeText(Width, Height) + " pixels";
}

// Every refusal of a save that needs no encoding; What starts the message ("cannot write picture ...").
void CheckWritable(const QString& Ext, const std::string& What, int Width, int Height, TPixelFormat Format,
                   int Quality, bool ToFile) {
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
    const uint64_t need = EncodingBytes(Ext, Width, Height, Format, ToFile);
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
                                 int Quality) {
    CheckWritable(QFileInfo(FileName).suffix().toLower(), WriteWhat(FileName), Width, Height, Format, Quality,
                  true);
}

void TPicture::CheckDataWritable(const QString& Extension, const QString& Name, int Width, int Height,
                                 TPixelFormat Format, int Quality) {
    CheckWritable(Extension.toLower(), WriteWhat(Name), Width, Height, Format, Quality, false);
}

QByteArray TPicture::SaveToData(const QString& Extension, const QString& Name, int Quality) const {
    const std::string what = WriteWhat(Name);
    const QString ext = Extension.toLower();
    const int width = FBitmap->Width(), height = FBitmap->Height();
    CheckWritable(ext, what, width, height, FBitmap->GetPixelFormat(), Quality, false);
    const TPictureMemory memory(EncodingBytes(ext, width, height, FBitmap->GetPixelFormat(), false),
                                EncodingWhat(what, width, height));
    if (ext == "bmp") {
        const std::vector<uint8_t> bytes = EncodeBmp(FBitmap->Dib());
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    }
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
    const QString ext = QFileInfo(FileName).suffix().toLower();
    const int width = FBitmap->Width(), height = FBitmap->Height();
    CheckWritable(ext, WriteWhat(FileName), width, height, FBitmap->GetPixelFormat(), Quality, true);
    CheckOutputFile(FileName);
    if (ext == "bmp") {
        // The framework's own format goes to the file without a second copy in memory.
        const TPictureMemory memory(EncodingBytes(ext, width, height, FBitmap->GetPixelFormat(), true),
                                    EncodingWhat(WriteWhat(FileName), width, height));
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
