// TPicture: holds a picture's bitmap and reads and writes picture files.
#pragma once

#include <pictura/Bitmap.h>
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

    // Reads a picture file: BMP by the framework's own reader, other formats through Qt's readers.
    // On failure raises EInvalidGraphic (or EOutOfResources) naming the file and the reason, and the
    // picture stays as it was.
    void LoadFromFile(const QString& FileName);
    // Reads a picture from memory; Name is used in error messages.
    void LoadFromData(const QByteArray& Data, const QString& Name);
    // Writes the bitmap in the format that FileName's extension names; the file is replaced
    // atomically, so a failure never leaves a partial file. Quality (0..100) is for the formats that
    // take one (JPEG, WebP); -1 keeps the writer's default.
    void SaveToFile(const QString& FileName, int Quality = -1) const;
    // Encodes the bitmap in the format named by Extension ("bmp", "png", ...), at Quality as above.
    QByteArray SaveToData(const QString& Extension, const QString& Name, int Quality = -1) const;
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
};
