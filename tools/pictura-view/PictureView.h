// TPictureView: the viewer window's picture: the control in a scroll area (a hint in its place while
// there is no picture), its size at the zoom chosen, and the view's own events: drags pan, Ctrl and the
// wheel zoom toward the pointer.
#pragma once

#include <QPoint>
#include <QStackedWidget>

class QLabel;
class QScrollArea;
class TKvPictura;

class TPictureView : public QStackedWidget {
    Q_OBJECT
public:
    // Shows Picture, a control the caller owns (its form, for the control's "Convert" box).
    explicit TPictureView(TKvPictura& Picture, QWidget* Parent = nullptr);

    QScrollArea* ScrollArea() const { return FScrollArea; }
    // The scale the picture is shown at (1 is actual size), also when fitted to the window.
    double ZoomFactor() const;
    // Zooms to Factor (clamped to the zoom steps' limits) keeping the picture point under Anchor (in
    // the view's viewport) where it is.
    void ZoomTo(double Factor, QPoint Anchor);
    // One zoom step larger or smaller, keeping the middle of the view in place.
    void ZoomIn();
    void ZoomOut();
    // Scales the picture to the view, keeping its proportions (Stretch, Proportional and Center on).
    void ZoomToFit();
    // Shows the picture pixel for pixel, scrolling where it is larger than the view.
    void ActualSize();
    // A newly opened picture: fitted to the view when larger than it, else at its actual size.
    void ZoomForOpening();
    // Whether the zoom is the user's, not the one a picture opened with.
    bool ZoomChosen() const { return FZoomChosen; }
    // Sizes the control: the viewport in fit mode, else the picture at the zoom factor; shows the hint
    // while there is no picture.
    void LayOut();
    // Lays out a new or changed picture and gives the view the focus (the arrow keys scroll at once).
    void PictureReplaced();

signals:
    // The view was laid out again: the shown scale may have changed.
    void LaidOut();
    // The zoom was chosen anew: the view's settings (stretch, proportional, center) may have changed.
    void ZoomChanged();

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    // Fitted to the view (Fit) or pixel for pixel: the scales that are no zoom step.
    void ShowWhole(bool Fit);
    bool ViewEvent(QEvent* Event);

    TKvPictura& FPicture;
    QLabel* FPlaceholder;
    QScrollArea* FScrollArea;
    bool FFitToWindow = true;
    bool FZoomChosen = false;
    double FZoom = 1; // the scale while not fitted to the window
    QPoint FDragFrom; // where a pan drag started (global), with the scroll positions then
    QPoint FScrollFrom;
    bool FDragging = false;
};
