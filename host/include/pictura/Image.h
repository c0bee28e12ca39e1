// TImage: a control that shows a TPicture.
#pragma once

#include <pictura/Controls.h>
#include <pictura/Picture.h>
#include <pictura/Vcl40Export.h>

#include <QPixmap>

using TProgressEvent = std::function<void(TObject* Sender, TProgressStage Stage, int PercentDone,
                                          bool RedrawNow, const QRect& R, const QString& Message)>;

// Shows its picture's bitmap, painted straight from the bitmap's memory: at its natural size in the
// top-left corner, or centred, stretched or scaled proportionally; optionally transparent (the colour
// of the bottom-left pixel shows the parent through); optionally sizing itself to the picture.
class VCL40_EXPORT TImage : public TControl {
    Q_OBJECT
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(bool Center READ Center WRITE SetCenter)
    Q_PROPERTY(bool IncrementalDisplay READ IncrementalDisplay WRITE SetIncrementalDisplay)
    Q_PROPERTY(QPixmap Picture READ PicturePixmap WRITE setPicture)
    Q_PROPERTY(bool Proportional READ Proportional WRITE SetProportional)
    Q_PROPERTY(bool Stretch READ Stretch WRITE SetStretch)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
public:
    explicit TImage(TComponent* AOwner = nullptr);
    ~TImage() override;

    // The picture shown; the control owns it.
    TPicture* Picture() const { return FPicture; }
    // Replaces the picture with a copy of Value's bitmap.
    void SetPicture(const TPicture* Value);

    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    bool Center() const { return FCenter; }
    void SetCenter(bool Value);
    bool IncrementalDisplay() const { return FIncrementalDisplay; }
    void SetIncrementalDisplay(bool Value) { FIncrementalDisplay = Value; }
    bool Proportional() const { return FProportional; }
    void SetProportional(bool Value);
    bool Stretch() const { return FStretch; }
    void SetStretch(bool Value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);

    // The picture as a pixmap, for property editors and forms; setPicture loads one into the bitmap (spelled
    // as the code uic generates for a form calls the Picture property's setter).
    QPixmap PicturePixmap() const;
    void setPicture(const QPixmap& Pixmap);

    // Where the picture lands inside the control with the current Center/Stretch/Proportional.
    QRect DestRect() const;

    // Image with every pixel of its bottom-left pixel's colour (alpha aside) made fully transparent: how
    // a Transparent image, and a palette image on a designer's palette, let the background through.
    static QImage ApplyTransparentColour(const QImage& Image);

    QSize sizeHint() const override;

    TProgressEvent OnProgress;

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    void PictureChanged();

    TPicture* FPicture;
    bool FAutoSize = false;
    bool FCenter = false;
    bool FIncrementalDisplay = false;
    bool FProportional = false;
    bool FStretch = false;
    bool FTransparent = false;
};
