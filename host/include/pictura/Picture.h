// TPicture: holds a picture's bitmap and reads and writes picture files.
#pragma once

#include <pictura/Bitmap.h>
#include <pictura/PictureMetadata.h>
#include <pictura/Vcl40Export.h>

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class TInputBytes;

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
    // Reads a picture from memory; Name is used in error messages. Data is the caller's memory and does
    // not count in the picture memory (GetMaxBitmapBytes()).
    void LoadFromData(const QByteArray& Data, const QString& Name);
    // Reads a picture from the open descriptor Fd (standard input, say), named Name in messages: a
    // regular file as LoadFromFile reads one, anything else (a pipe) to its end, into at most
    // GetMaxBitmapBytes() + 1 MiB, counted in the picture memory while the picture is made from it.
    void LoadFromDescriptor(int Fd, const QString& Name);
    // Writes the bitmap in the format that FileName's extension names (BMP, PNG, JPEG, TIFF and WebP by
    // the framework's writers, the others through Qt's), with the metadata where the format holds it;
    // the file is replaced atomically, so a failure never leaves a partial file.
    // Quality (0..100) is for the formats that take one (JPEG, WebP: 100 is lossless); Compression (0..9)
    // for PNG (zlib's level), TIFF (0 none, else deflate at that level) and WebP (the encoder's effort);
    // -1 keeps the default. A picture whose pixels are all grey is written with one channel where the
    // format has one (PNG, JPEG, TIFF).
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
    // The refusals of SaveToFile and SaveToData, for a Width x Height picture of Format, before any
    // work is spent on it: an unknown format, a quality outside 0..100 (-1 is the default), a picture
    // the format cannot hold without its writer rescaling it (ICO and CUR over 256 x 256, ICNS other
    // than square 16, 32, ... 1024) or over the format's largest side, and encoding that needs more
    // memory than GetMaxBitmapBytes() (for WebP that depends on Quality and Compression). Throws
    // EInvalidGraphic (EOutOfResources for memory) with the message the save itself would give; Name names
    // the destination in it.
    static void CheckFileWritable(const QString& FileName, int Width, int Height, TPixelFormat Format,
                                  int Quality = -1, int Compression = -1);
    static void CheckDataWritable(const QString& Extension, const QString& Name, int Width, int Height,
                                  TPixelFormat Format, int Quality = -1, int Compression = -1);
    // Replaces the picture with a copy of Source.
    void Assign(const TBitmap& Source);
    void Assign(TDibImage Source);

    // Extensions that LoadFromFile and SaveToFile accept, lower case.
    static QStringList ReadableExtensions();
    static QStringList WritableExtensions();

    // Called after the picture changed as a whole (load, assign, size, format).
    std::function<void()> OnChange;
    // Called when reading or writing a file starts (psStarting, 0 %) and ends (psEnding, 100 %, also when
    // it failed), with a short message; while writing, also at each new whole percent of the rows written
    // where the writer counts them (psRunning: BMP, and PNG and TIFF through the framework's writers; the
    // JPEG and WebP writers and Qt's report none). The calls come on the thread that reads or writes.
    std::function<void(TProgressStage Stage, int PercentDone, const QString& Message)> OnProgress;

signals:
    void Changed();

private:
    void LoadFromInput(const TInputBytes& Input, const QString& Name);
    void LoadBytes(const QByteArray& Data, const QString& Name, const TInputBytes* Input);
    QByteArray EncodeToData(const QString& Extension, const QString& Name, int Quality, int Compression,
                            const std::function<void(int Rows)>& RowsWritten) const;

    std::unique_ptr<TBitmap> FBitmap;
    TPictureMetadata FMetadata;
};
