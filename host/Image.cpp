#include <pictura/Image.h>

#include <QPainter>

TImage::TImage(TComponent* AOwner) : TControl(AOwner), FPicture(new TPicture(this)) {
    FPicture->OnChange = [this] { PictureChanged(); };
    FPicture->OnProgress = [this](TProgressStage Stage, int Percent, const QString& Message) {
        const bool redrawNow = FIncrementalDisplay && Stage != psStarting;
        if (OnProgress) OnProgress(this, Stage, Percent, redrawNow, DestRect(), Message);
        if (redrawNow) Refresh();
    };
    resize(105, 105);
}

TImage::~TImage() = default;

void TImage::SetPicture(const TPicture* Value) {
    if (Value && Value != FPicture) FPicture->Assign(*Value->GetBitmap());
}

void TImage::PictureChanged() {
    if (FAutoSize && !FPicture->GetBitmap()->Empty()) resize(FPicture->Width(), FPicture->Height());
    updateGeometry();
    update();
}

void TImage::SetAutoSize(bool Value) {
    if (FAutoSize == Value) return;
    FAutoSize = Value;
    PictureChanged();
}

void TImage::SetCenter(bool Value) {
    if (FCenter == Value) return;
    FCenter = Value;
    update();
}

void TImage::SetProportional(bool Value) {
    if (FProportional == Value) return;
    FProportional = Value;
    update();
}

void TImage::SetStretch(bool Value) {
    if (FStretch == Value) return;
    FStretch = Value;
    update();
}

void TImage::SetTransparent(bool Value) {
    if (FTransparent == Value) return;
    FTransparent = Value;
    update();
}

QPixmap TImage::PicturePixmap() const {
    return QPixmap::fromImage(FPicture->GetBitmap()->ToQImage());
}

void TImage::setPicture(const QPixmap& Pixmap) {
    FPicture->GetBitmap()->FromQImage(Pixmap.toImage());
}

QRect TImage::DestRect() const {
    const TBitmap* bitmap = FPicture->GetBitmap();
    int w = bitmap->Width(), h = bitmap->Height();
    if (w <= 0 || h <= 0) return QRect();
    const int cw = width(), ch = height();
    const bool scale = FStretch || (FProportional && (w > cw || h > ch));
    if (scale) {
        if (FProportional && cw > 0 && ch > 0) {
            // Fit inside the control, keeping the aspect ratio.
            if (qint64(cw) * h <= qint64(ch) * w) {
                h = int(qint64(h) * cw / w);
                w = cw;
            } else {
                w = int(qint64(w) * ch / h);
                h = ch;
            }
        } else {
            w = cw;
            h = ch;
        }
    }
    QRect dest(0, 0, w, h);
    if (FCenter) dest.moveTo((cw - w) / 2, (ch - h) / 2);
    return dest;
}

QImage TImage::ApplyTransparentColour(const QImage& Image) {
    if (Image.isNull()) return Image;
    QImage image = Image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = image.pixel(0, image.height() - 1) | 0xFF000000u;
    for (int y = 0; y < image.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] | 0xFF000000u) == key) line[x] = 0;
    }
    return image;
}

QSize TImage::sizeHint() const {
    const TBitmap* bitmap = FPicture->GetBitmap();
    return bitmap->Empty() ? QSize(105, 105) : QSize(bitmap->Width(), bitmap->Height());
}

void TImage::paintEvent(QPaintEvent*) {
    QImage image = FPicture->GetBitmap()->ToQImage();
    if (image.isNull()) {
        // In a designer an empty image control would be invisible: outline it, dashed.
        if (Designing()) {
            QPainter painter(this);
            painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(rect().adjusted(0, 0, -1, -1));
        }
        return;
    }
    QPainter painter(this);
    if (FTransparent) image = ApplyTransparentColour(image);
    const QRect dest = DestRect();
    if (dest.size() == image.size())
        painter.drawImage(dest.topLeft(), image);
    else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(dest, image);
    }
}
