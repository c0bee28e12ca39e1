// TPicture: holds a picture's bitmap and reads and writes picture files.
#pragma once

#include <pictura/Bitmap.h>
#include <pictura/PictureMetadata.h>
#include <pictura/Vcl40Export.h>

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

enum TProgressStage { psStarting, psRunning, psEnding };

class VCL40_EXPORT TPicture : public QObject {
    Q_OBJECT
public:
    explicit TPicture(QObject* Parent = nullptr);
    ~TPicture() override;

    // The picture's bitmap: the same object for the picture's whole life.
    TBitmap* GetBitmap() const { return FBitmap.get(); }
    TBitmap* Bitmap() const { return FBitmap.get(); }
    int Width() const { return FBitmap->Width(); }
    int Height() const { return FBitmap->Height(); }

    // Reads a picture file: BMP by the framework's own reader, PNG and JPEG through libpng and
    // libjpeg-turbo straight into the bitmap, other formats through Qt's readers.
    // On failure raises EInvalidGraphic (or EOutOfResources) naming the file and the reason, and the
    // picture stays as it was.
    void LoadFromFile(const QString& FileName);
    // Reads a picture from memory; Name is used in error messages.
    void LoadFromData(const QByteArray& Data, const QString& Name);
    // Writes the bitmap in the format that FileName's extension names, with the metadata where the
    // format holds it; the file is replaced atomically, so a failure never leaves a partial file.
    // Quality (0..100) is for the formats that take one (JPEG, WebP); Compression (0..9) for PNG (zlib's
    // level) and TIFF (0 none, else LZW); -1 keeps the default. A picture whose pixels are all grey is
    // written with one channel where the format has one (PNG, JPEG, TIFF).
    void SaveToFile(const QString& FileName, int Quality = -1, int Compression = -1) const;
    // Encodes the bitmap in the format named by Extension ("bmp", "png", ...), as above.
    QByteArray SaveToData(const QString& Extension, const QString& Name, int Quality = -1,
                          int Compression = -1) const;
    // One line for each thing a file of Extension would not keep: channels deeper than 8 bits in the
    // file read, metadata the format cannot hold.
    QStringList SaveNotes(const QString& Extension) const;

    // What the file read held besides its pixels (EXIF, XMP, ICC profile, resolution); loading replaces
    // it, the other changes keep it.
    TPictureMetadata& Metadata() { return FMetadata; }
    const TPictureMetadata& Metadata() const { return FMetadata; }
    // Turns the pixels upright as the EXIF orientation says and sets the tag to upright; false when
    // they already were.
    bool AutoOrient();
    // Replaces the picture with a copy of Source.
    void Assign(const TBitmap& Source);
    void Assign(TDibImage Source);

    // Extensions that LoadFromFile and SaveToFile accept, lower case.
    static QStringList ReadableExtensions();
    static QStringList WritableExtensions();

    // Called after the picture changed as a whole (load, assign, size, format).
    std::function<void()> OnChange;
    // Called when reading a file starts (0 %) and ends (100 %), with a short message.
    std::function<void(TProgressStage Stage, int PercentDone, const QString& Message)> OnProgress;

signals:
    void Changed();

private:
    std::unique_ptr<TBitmap> FBitmap;
    TPictureMetadata FMetadata;
};
