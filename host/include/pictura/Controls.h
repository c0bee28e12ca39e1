// TComponent, TControl and TWinControl: the framework's object, control and windowed-control bases.
#pragma once

#include <pictura/Vcl40Export.h>

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <functional>

// The framework's object base is Qt's own: owning is Qt's parent ownership.
using TComponent = QObject;
using TObject = QObject;
// A native window handle (0 for none).
using HWND = WId;

enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftStateFlag {
    ssShift = 1,
    ssAlt = 2,
    ssCtrl = 4,
    ssLeft = 8,
    ssRight = 16,
    ssMiddle = 32,
    ssDouble = 64
};
using TShiftState = int; // a set of TShiftStateFlag bits
enum TDragState { dsDragEnter, dsDragLeave, dsDragMove };

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TDragDropEvent = std::function<void(TObject* Sender, TObject* Source, int X, int Y)>;
using TDragOverEvent =
    std::function<void(TObject* Sender, TObject* Source, int X, int Y, TDragState State, bool& Accept)>;
using TEndDragEvent = std::function<void(TObject* Sender, TObject* Target, int X, int Y)>;
using TStartDragEvent = std::function<void(TObject* Sender)>;

// A visual control: a Qt widget with the framework's accessors, alignment, hints, popup menu,
// mouse events and control-to-control dragging.
class VCL40_EXPORT TControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(TAlign Align READ Align WRITE SetAlign)
    Q_PROPERTY(Qt::CursorShape DragCursor READ DragCursor WRITE SetDragCursor)
    Q_PROPERTY(TDragMode DragMode READ DragMode WRITE SetDragMode)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(bool ParentShowHint READ ParentShowHint WRITE SetParentShowHint)
    // Set in code: form designers have no editor for a menu pointer, so they do not offer it.
    Q_PROPERTY(QMenu* PopupMenu READ PopupMenu WRITE SetPopupMenu DESIGNABLE false)
    Q_PROPERTY(bool ShowHint READ ShowHint WRITE SetShowHint)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
public:
    enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
    Q_ENUM(TAlign)
    enum TDragMode { dmManual, dmAutomatic };
    Q_ENUM(TDragMode)

    // Creates the control owned by AOwner: a widget owner also becomes its parent widget; any other
    // object owner deletes the control when it is destroyed.
    explicit TControl(TComponent* AOwner = nullptr);
    ~TControl() override;

    TComponent* Owner() const { return FOwner; }

    int Left() const { return x(); }
    int Top() const { return y(); }
    int Width() const { return width(); }
    int Height() const { return height(); }
    void SetLeft(int Value) { SetBounds(Value, Top(), Width(), Height()); }
    void SetTop(int Value) { SetBounds(Left(), Value, Width(), Height()); }
    void SetWidth(int Value) { SetBounds(Left(), Top(), Value, Height()); }
    void SetHeight(int Value) { SetBounds(Left(), Top(), Width(), Value); }
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

    // Repaints the control at once.
    void Refresh() { repaint(); }
    // Schedules a repaint.
    void Invalidate() { update(); }

    bool Visible() const { return !isHidden(); }
    void SetVisible(bool Value) { QWidget::setVisible(Value); }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool Value) { QWidget::setEnabled(Value); }

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign Value);
    Qt::CursorShape DragCursor() const { return FDragCursor; }
    void SetDragCursor(Qt::CursorShape Value) { FDragCursor = Value; }
    TDragMode DragMode() const { return FDragMode; }
    void SetDragMode(TDragMode Value) { FDragMode = Value; }
    QString Hint() const { return FHint; }
    void SetHint(const QString& Value);
    bool ShowHint() const;
    void SetShowHint(bool Value);
    bool ParentShowHint() const { return FParentShowHint; }
    void SetParentShowHint(bool Value);
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* Value) { FPopupMenu = Value; }

    // Starts dragging this control to another control (what dmAutomatic does on a mouse drag). Targets
    // learn the source from Qt's drag, never from the drag's data: a drop from another program, or
    // drag data naming a control, reaches their OnDragOver and OnDragDrop with no source.
    void BeginDrag();
    // True while BeginDrag runs.
    bool Dragging() const { return FDragging; }

    // True for a control placed on a form in a designer, which sets it; such a control may draw what
    // the designer's user needs to see (an image control outlines itself while it is empty).
    bool Designing() const { return FDesigning; }
    void SetDesigning(bool Value);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TDragDropEvent OnDragDrop;
    TDragOverEvent OnDragOver;
    TEndDragEvent OnEndDrag;
    TStartDragEvent OnStartDrag;

protected:
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dragLeaveEvent(QDragLeaveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:
    void ApplyAlign();
    void UpdateToolTip();
    void AnswerDragOver(QDropEvent* Event, TDragState State);

    TComponent* FOwner = nullptr;
    TAlign FAlign = alNone;
    Qt::CursorShape FDragCursor = Qt::DragMoveCursor;
    TDragMode FDragMode = dmManual;
    QString FHint;
    bool FShowHint = false;
    bool FParentShowHint = true;
    QPointer<QMenu> FPopupMenu;
    QPoint FPressPos;
    bool FPressed = false;
    bool FDragging = false;
    bool FDesigning = false;
};

// A control with a window of its own.
class VCL40_EXPORT TWinControl : public TControl {
    Q_OBJECT
public:
    explicit TWinControl(TComponent* AOwner = nullptr) : TControl(AOwner) {}
    // The control's native window handle, created on first request.
    HWND GetHandle() { return winId(); }
    HWND Handle() { return GetHandle(); }
};

// The window handle that owns dialogs on behalf of Component: its own handle when it is a windowed
// control, the handle of the top-level window of any other widget, 0 when it has none.
VCL40_EXPORT HWND OwnerWindowHandle(TComponent* Component);
