#include <pictura/Picture.h>

#include "BmpCodec.h"
#include "PictureCompleteness.h"
#include <pictura/ImageLimits.h>
#include <pictura/SysUtils.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <algorithm>
#include <limits>

namespace {

std::string Quoted(const QString& Name) {
    return "\"" + Name.toStdString() + "\"";
}

// Bits per pixel of the image Qt's reader will allocate: its announced format, else 32 (the widest it
// uses for 8-bit channels).
int DecodedBitsPerPixel(const QImageReader& Reader) {
    const QImage::Format format = Reader.imageFormat();
    if (format == QImage::Format_Invalid) return 32;
    return std::max(1, int(QImage::toPixelFormat(format).bitsPerPixel()));
}

// The framework's byte limit as Qt's allocation limit: whole MiB rounded up, at least 1 (0 would
// switch Qt's check off).
int QtAllocationLimitMiB() {
    const size_t mib =
        GetMaxBitmapBytes() / (size_t(1) << 20) + (GetMaxBitmapBytes() % (size_t(1) << 20) != 0);
    return int(std::clamp<size_t>(mib, 1, size_t(std::numeric_limits<int>::max())));
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
    QFileInfo info(FileName);
    if (!info.exists())
        throw EInvalidGraphic("cannot open picture " + Quoted(FileName) + ": the file does not exist");
    if (info.isDir()) throw EInvalidGraphic("cannot open picture " + Quoted(FileName) + ": it is a folder");
    // Devices and pipes could block the open or never end (/dev/zero): only regular files are read.
    if (!info.isFile())
        throw EInvalidGraphic("cannot open picture " + Quoted(FileName) + ": it is not a regular file");
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EInvalidGraphic("cannot open picture " + Quoted(FileName) + ": " +
                              file.errorString().toStdString());
    if (file.size() > qint64(GetMaxBitmapBytes()) + (qint64(1) << 20))
        throw EOutOfResources("cannot open picture " + Quoted(FileName) +
                              ": the file is larger than the limit of " +
                              std::to_string(GetMaxBitmapBytes()) + " bytes");
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EInvalidGraphic("cannot read picture " + Quoted(FileName) + ": " +
                              file.errorString().toStdString());
    if (OnProgress) OnProgress(psStarting, 0, "reading " + FileName);
    LoadFromData(data, FileName);
    if (OnProgress) OnProgress(psEnding, 100, "read " + FileName);
}

void TPicture::LoadFromData(const QByteArray& Data, const QString& Name) {
    const std::string what = "cannot read picture " + Quoted(Name) + ": ";
    if (Data.isEmpty()) throw EInvalidGraphic(what + "the file is empty");
    TBitmap loaded;
    if (IsBmpData(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()))) {
        try {
            loaded.Assign(DecodeBmp(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size())));
        } catch (const EOutOfResources& e) {
            throw EOutOfResources(what + e.what());
        } catch (const Exception& e) {
            throw EInvalidGraphic(what + e.what());
        }
    } else {
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
            throw EInvalidGraphic(what + "not a picture format that can be read");
        // The size from the header is checked before Qt allocates anything; Qt's own limit backs this
        // up for a reader whose header and image disagree.
        const QSize size = reader.size();
        if (size.isValid()) {
            try {
                CheckBitmapSize(size.width(), size.height(), DecodedBitsPerPixel(reader), "the picture");
            } catch (const EOutOfResources& e) {
                throw EOutOfResources(what + e.what());
            }
        }
        const std::string format = reader.format().toLower().toStdString(); // unknown once read
        QImage image;
        if (!reader.read(&image) || image.isNull())
            throw EInvalidGraphic(what + reader.errorString().toLower().toStdString());
        const std::string missing =
            MissingEnd(format, reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()));
        if (!missing.empty()) throw EInvalidGraphic(what + missing);
        try {
            loaded.FromQImage(image);
        } catch (const EOutOfResources& e) {
            throw EOutOfResources(what + e.what());
        }
    }
    Assign(loaded);
}

QByteArray TPicture::SaveToData(const QString& Extension, const QString& Name) const {
    const std::string what = "cannot write picture " + Quoted(Name) + ": ";
    const QString ext = Extension.toLower();
    if (FBitmap->Empty()) throw EInvalidGraphic(what + "the picture is empty");
    if (ext == "bmp") {
        const std::vector<uint8_t> bytes = EncodeBmp(FBitmap->Dib());
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    }
    if (!WritableExtensions().contains(ext))
        throw EInvalidGraphic(what + "unknown picture format \"" + ext.toStdString() + "\" (use one of " +
                              WritableExtensions().join(", ").toStdString() + ")");
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, ext.toLatin1());
    QImage image = FBitmap->ToQImage();
    // JPEG has no alpha channel: a picture with one is written opaque.
    if ((ext == "jpg" || ext == "jpeg") && image.hasAlphaChannel())
        image = image.convertToFormat(QImage::Format_RGB888);
    if (!writer.write(image)) throw EInvalidGraphic(what + writer.errorString().toStdString());
    return data;
}

void TPicture::SaveToFile(const QString& FileName) const {
    const QByteArray data = SaveToData(QFileInfo(FileName).suffix(), FileName);
    QSaveFile file(FileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        throw EInvalidGraphic("cannot write picture " + Quoted(FileName) + ": " +
                              file.errorString().toStdString());
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
