#include "PictureView.h"

#include "ZoomSteps.h"

#include <pictura/KvPictura.h>

#include <QLabel>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include <cmath>

TPictureView::TPictureView(TKvPictura& Picture, QWidget* Parent) : QStackedWidget(Parent), FPicture(Picture) {
    FPlaceholder = new QLabel(tr("Open a picture with File \u2192 Open (%1), or drop a picture file here.")
                                  .arg(QKeySequence(QKeySequence::Open).toString(QKeySequence::NativeText)),
                              this);
    FPlaceholder->setAlignment(Qt::AlignCenter);
    FPlaceholder->setForegroundRole(QPalette::PlaceholderText);
    FScrollArea = new QScrollArea(this);
    FScrollArea->setObjectName("PictureView");
    FScrollArea->setBackgroundRole(QPalette::Dark);
    FScrollArea->setFrameShape(QFrame::NoFrame);
    FScrollArea->setWidgetResizable(false); // LayOut sizes the control
    FScrollArea->setAlignment(Qt::AlignCenter);
    FScrollArea->setFocusPolicy(Qt::StrongFocus); // the arrow keys scroll without a click first
    FScrollArea->setWidget(&FPicture);
    FScrollArea->viewport()->installEventFilter(this);
    FPicture.installEventFilter(this);
    addWidget(FPlaceholder);
    addWidget(FScrollArea);
}

void TPictureView::LayOut() {
    const TBitmap* bitmap = FPicture.Picture()->GetBitmap();
    setCurrentIndex(bitmap->Empty() ? 0 : 1);
    const QSize viewport = FScrollArea->viewport()->size();
    const QSize picture(bitmap->Width(), bitmap->Height());
    if (FFitToWindow)
        FPicture.resize(viewport);
    else if (FZoom == 1)
        FPicture.resize(picture.expandedTo(viewport));
    else
        FPicture.resize(std::max(1, int(std::lround(picture.width() * FZoom))),
                        std::max(1, int(std::lround(picture.height() * FZoom))));
    const bool pannable = FPicture.width() > viewport.width() || FPicture.height() > viewport.height();
    if (!FDragging) FPicture.setCursor(pannable ? Qt::OpenHandCursor : Qt::ArrowCursor);
    emit LaidOut();
}

void TPictureView::PictureReplaced() {
    LayOut();
    if (currentIndex() == 1 && !FScrollArea->hasFocus()) FScrollArea->setFocus();
    FPicture.update();
}

double TPictureView::ZoomFactor() const {
    const TBitmap* bitmap = FPicture.Picture()->GetBitmap();
    if (bitmap->Empty()) return 1;
    if (!FFitToWindow) return FZoom;
    const QRect dest = FPicture.DestRect();
    return std::min(double(dest.width()) / bitmap->Width(), double(dest.height()) / bitmap->Height());
}

void TPictureView::ZoomTo(double Factor, QPoint Anchor) {
    const TBitmap* bitmap = FPicture.Picture()->GetBitmap();
    if (bitmap->Empty()) return;
    Factor = std::clamp(Factor, MinZoom, MaxZoom);
    // The picture point under the anchor, from the control's point there and where the picture lies.
    const QPointF inControl = FPicture.mapFrom(FScrollArea->viewport(), Anchor);
    const QRect dest = FPicture.DestRect();
    const double oldFactor = ZoomFactor();
    const QPointF inPicture = (inControl - QPointF(dest.topLeft())) / oldFactor;
    FZoomChosen = true;
    FFitToWindow = false;
    FZoom = Factor;
    FPicture.SetStretch(Factor != 1);
    FPicture.SetProportional(false);
    FPicture.SetCenter(true);
    LayOut();
    const QPointF moved = inPicture * Factor + QPointF(FPicture.DestRect().topLeft());
    FScrollArea->horizontalScrollBar()->setValue(int(std::lround(moved.x() - Anchor.x())));
    FScrollArea->verticalScrollBar()->setValue(int(std::lround(moved.y() - Anchor.y())));
    emit ZoomChanged();
}

void TPictureView::ZoomIn() {
    ZoomTo(NextZoomStep(ZoomFactor(), +1), FScrollArea->viewport()->rect().center());
}

void TPictureView::ZoomOut() {
    ZoomTo(NextZoomStep(ZoomFactor(), -1), FScrollArea->viewport()->rect().center());
}

void TPictureView::ZoomForOpening() {
    const TBitmap* bitmap = FPicture.Picture()->GetBitmap();
    const QSize viewport = FScrollArea->viewport()->size();
    if (bitmap->Width() > viewport.width() || bitmap->Height() > viewport.height())
        ZoomToFit();
    else
        ActualSize();
    FZoomChosen = false;
}

void TPictureView::ZoomToFit() {
    ShowWhole(true);
}

void TPictureView::ActualSize() {
    ShowWhole(false);
}

void TPictureView::ShowWhole(bool Fit) {
    FZoomChosen = true;
    FFitToWindow = Fit;
    FZoom = 1;
    FPicture.SetStretch(Fit);
    FPicture.SetProportional(Fit);
    if (Fit) FPicture.SetCenter(true);
    LayOut();
    emit ZoomChanged();
}

bool TPictureView::ViewEvent(QEvent* Event) {
    switch (Event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(Event);
        if (!(wheel->modifiers() & Qt::ControlModifier) || wheel->angleDelta().y() == 0) return false;
        const QPoint at = FScrollArea->viewport()->mapFromGlobal(wheel->globalPosition().toPoint());
        ZoomTo(NextZoomStep(ZoomFactor(), wheel->angleDelta().y() > 0 ? +1 : -1), at);
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(Event);
        if (mouse->button() != Qt::LeftButton) return false;
        FDragging = true;
        FDragFrom = mouse->globalPosition().toPoint();
        FScrollFrom = {FScrollArea->horizontalScrollBar()->value(),
                       FScrollArea->verticalScrollBar()->value()};
        FPicture.setCursor(Qt::ClosedHandCursor);
        return true;
    }
    case QEvent::MouseMove: {
        if (!FDragging) return false;
        const QPoint moved = static_cast<QMouseEvent*>(Event)->globalPosition().toPoint() - FDragFrom;
        FScrollArea->horizontalScrollBar()->setValue(FScrollFrom.x() - moved.x());
        FScrollArea->verticalScrollBar()->setValue(FScrollFrom.y() - moved.y());
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!FDragging || static_cast<QMouseEvent*>(Event)->button() != Qt::LeftButton) return false;
        FDragging = false;
        LayOut(); // the cursor again
        return true;
    default:
        return false;
    }
}

bool TPictureView::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == FScrollArea->viewport() && Event->type() == QEvent::Resize) LayOut();
    if ((Watched == FScrollArea->viewport() || Watched == &FPicture) && ViewEvent(Event)) return true;
    return QStackedWidget::eventFilter(Watched, Event);
}
