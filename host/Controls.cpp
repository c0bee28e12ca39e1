#include <pictura/Controls.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace {

// Drags between controls carry this type and no data: the source is taken from Qt's drag itself.
const char* const controlMimeType = "application/x-pictura-control";

TShiftState ShiftFrom(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons) {
    TShiftState shift = 0;
    if (Modifiers & Qt::ShiftModifier) shift |= ssShift;
    if (Modifiers & Qt::AltModifier) shift |= ssAlt;
    if (Modifiers & Qt::ControlModifier) shift |= ssCtrl;
    if (Buttons & Qt::LeftButton) shift |= ssLeft;
    if (Buttons & Qt::RightButton) shift |= ssRight;
    if (Buttons & Qt::MiddleButton) shift |= ssMiddle;
    return shift;
}

bool ButtonFrom(Qt::MouseButton Qt, TMouseButton& Button) {
    switch (Qt) {
    case Qt::LeftButton:
        Button = mbLeft;
        return true;
    case Qt::RightButton:
        Button = mbRight;
        return true;
    case Qt::MiddleButton:
        Button = mbMiddle;
        return true;
    default:
        return false;
    }
}

// The control being dragged: the object that Qt reports as the drag's source (only drags started in this
// program have one) when it is a control of the framework in BeginDrag. Nothing in the drag's data is
// trusted, so a drop from another program, or data forged to name a control, has no source.
TObject* DragSource(const QDropEvent* Event) {
    const TControl* control = qobject_cast<const TControl*>(Event->source());
    return control && control->Dragging() ? Event->source() : nullptr;
}

} // namespace

TControl::TControl(TComponent* AOwner) : QWidget(qobject_cast<QWidget*>(AOwner)), FOwner(AOwner) {
    // Owners that are not widgets still own: the control goes when they go.
    if (AOwner && !AOwner->isWidgetType())
        connect(AOwner, &QObject::destroyed, this, [this] { delete this; });
    setAcceptDrops(true);
    if (parentWidget()) parentWidget()->installEventFilter(this);
}

TControl::~TControl() = default;

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    setGeometry(ALeft, ATop, qMax(0, AWidth), qMax(0, AHeight));
}

void TControl::SetAlign(TAlign Value) {
    if (FAlign == Value) return;
    FAlign = Value;
    ApplyAlign();
}

// Places an aligned control along its parent's edge, or over the whole client area.
void TControl::ApplyAlign() {
    QWidget* parent = parentWidget();
    if (!parent || FAlign == alNone) return;
    const QRect area = parent->contentsRect();
    switch (FAlign) {
    case alTop:
        SetBounds(area.left(), area.top(), area.width(), Height());
        break;
    case alBottom:
        SetBounds(area.left(), area.bottom() + 1 - Height(), area.width(), Height());
        break;
    case alLeft:
        SetBounds(area.left(), area.top(), Width(), area.height());
        break;
    case alRight:
        SetBounds(area.right() + 1 - Width(), area.top(), Width(), area.height());
        break;
    case alClient:
        SetBounds(area.left(), area.top(), area.width(), area.height());
        break;
    case alNone:
        break;
    }
}

bool TControl::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == parentWidget() && Event->type() == QEvent::Resize) ApplyAlign();
    return QWidget::eventFilter(Watched, Event);
}

void TControl::changeEvent(QEvent* Event) {
    if (Event->type() == QEvent::ParentAboutToChange && parentWidget())
        parentWidget()->removeEventFilter(this);
    if (Event->type() == QEvent::ParentChange) {
        if (parentWidget()) parentWidget()->installEventFilter(this);
        ApplyAlign();
        UpdateToolTip();
    }
    QWidget::changeEvent(Event);
}

void TControl::SetHint(const QString& Value) {
    FHint = Value;
    UpdateToolTip();
}

bool TControl::ShowHint() const {
    if (FParentShowHint)
        if (auto* parent = qobject_cast<TControl*>(parentWidget())) return parent->ShowHint();
    return FShowHint;
}

void TControl::SetShowHint(bool Value) {
    FShowHint = Value;
    FParentShowHint = false;
    UpdateToolTip();
}

void TControl::SetParentShowHint(bool Value) {
    FParentShowHint = Value;
    UpdateToolTip();
}

void TControl::UpdateToolTip() {
    setToolTip(ShowHint() ? FHint : QString());
}

void TControl::SetDesigning(bool Value) {
    if (FDesigning == Value) return;
    FDesigning = Value;
    update();
}

void TControl::BeginDrag() {
    if (FDragging) return;
    FDragging = true;
    if (OnStartDrag) OnStartDrag(this);
    auto* data = new QMimeData;
    data->setData(controlMimeType, QByteArray());
    QDrag drag(this);
    drag.setMimeData(data);
    drag.setDragCursor(QCursor(FDragCursor).pixmap(), Qt::MoveAction);
    const Qt::DropAction action = drag.exec(Qt::MoveAction);
    const QPoint at = mapFromGlobal(QCursor::pos());
    FDragging = false;
    FPressed = false;
    if (OnEndDrag) OnEndDrag(this, action == Qt::IgnoreAction ? nullptr : drag.target(), at.x(), at.y());
}

void TControl::mousePressEvent(QMouseEvent* Event) {
    FPressed = Event->button() == Qt::LeftButton;
    FPressPos = Event->position().toPoint();
    TMouseButton button;
    if (OnMouseDown && ButtonFrom(Event->button(), button))
        OnMouseDown(this, button, ShiftFrom(Event->modifiers(), Event->buttons()), FPressPos.x(),
                    FPressPos.y());
    QWidget::mousePressEvent(Event);
}

void TControl::mouseMoveEvent(QMouseEvent* Event) {
    const QPoint at = Event->position().toPoint();
    if (OnMouseMove) OnMouseMove(this, ShiftFrom(Event->modifiers(), Event->buttons()), at.x(), at.y());
    if (FPressed && FDragMode == dmAutomatic &&
        (at - FPressPos).manhattanLength() >= QApplication::startDragDistance())
        BeginDrag();
    QWidget::mouseMoveEvent(Event);
}

void TControl::mouseReleaseEvent(QMouseEvent* Event) {
    const QPoint at = Event->position().toPoint();
    TMouseButton button;
    const bool wasPressed = FPressed;
    FPressed = false;
    if (OnMouseUp && ButtonFrom(Event->button(), button))
        OnMouseUp(this, button, ShiftFrom(Event->modifiers(), Event->buttons()), at.x(), at.y());
    if (wasPressed && Event->button() == Qt::LeftButton && rect().contains(at) && OnClick) OnClick(this);
    QWidget::mouseReleaseEvent(Event);
}

void TControl::mouseDoubleClickEvent(QMouseEvent* Event) {
    if (OnDblClick) OnDblClick(this);
    QWidget::mouseDoubleClickEvent(Event);
}

void TControl::contextMenuEvent(QContextMenuEvent* Event) {
    if (FPopupMenu) {
        FPopupMenu->popup(Event->globalPos());
        Event->accept();
        return;
    }
    QWidget::contextMenuEvent(Event);
}

// Asks OnDragOver whether what is dragged may be dropped here: a control of this program (Source), or
// anything else, from this or another program (no Source; the handler may look at the drag's data).
void TControl::AnswerDragOver(QDropEvent* Event, TDragState State) {
    bool accept = false;
    const QPoint at = Event->position().toPoint();
    if (OnDragOver) OnDragOver(this, DragSource(Event), at.x(), at.y(), State, accept);
    if (accept)
        Event->acceptProposedAction();
    else
        Event->ignore();
}

void TControl::dragEnterEvent(QDragEnterEvent* Event) {
    AnswerDragOver(Event, dsDragEnter);
}

void TControl::dragMoveEvent(QDragMoveEvent* Event) {
    AnswerDragOver(Event, dsDragMove);
}

void TControl::dragLeaveEvent(QDragLeaveEvent* Event) {
    QWidget::dragLeaveEvent(Event);
}

// Qt delivers a drop only where OnDragOver accepted the drag.
void TControl::dropEvent(QDropEvent* Event) {
    const QPoint at = Event->position().toPoint();
    if (OnDragDrop) OnDragDrop(this, DragSource(Event), at.x(), at.y());
    Event->acceptProposedAction();
}

HWND OwnerWindowHandle(TComponent* Component) {
    if (auto* windowed = qobject_cast<TWinControl*>(Component)) return windowed->GetHandle();
    if (auto* widget = qobject_cast<QWidget*>(Component)) return widget->window()->winId();
    return 0;
}
