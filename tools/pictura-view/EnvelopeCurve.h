// TEnvelopeCurve: an editable envelope curve: channel level across, gain in percent up.
#pragma once

#include "EnvelopeKnots.h"

#include <QColor>
#include <QWidget>

// Press on the curve's background to add a knot, drag a knot to move it (the end knots move only up
// and down), double-click or right-click a knot between the ends to remove it. Levels and percents
// snap to whole numbers.
class TEnvelopeCurve : public QWidget {
    Q_OBJECT
public:
    explicit TEnvelopeCurve(const QColor& Color, QWidget* Parent = nullptr);

    QList<TKnot> Knots() const { return FKnots; }
    void SetKnots(const QList<TKnot>& Knots);
    // The curve's table (straight lines between the knots).
    TEnvelopeTable Table() const { return InterpolateKnots(FKnots); }
    // Shows Table, with knots where its slope changes.
    void SetTable(const TEnvelopeTable& Table) { SetKnots(KnotsFromTable(Table)); }
    // Back to the flat curve at 100 %.
    void Reset() { SetKnots(DefaultKnots()); }

    // Where the point (Level, Percent) is drawn, in the widget's coordinates.
    QPointF PositionOf(double Level, double Percent) const;

    QSize sizeHint() const override { return QSize(280, 220); }
    QSize minimumSizeHint() const override { return QSize(220, 180); }

signals:
    // The knots changed through the mouse or SetKnots.
    void Changed();

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void leaveEvent(QEvent* Event) override;

private:
    QRectF PlotRect() const;
    // The knot drawn under Position, or -1.
    int KnotAt(const QPointF& Position) const;
    // The whole level and percent under Position, clamped to the plot.
    TKnot KnotFor(const QPointF& Position) const;
    void MoveKnot(int Index, const QPointF& Position);
    void RemoveKnot(int Index);

    QColor FColor;
    QList<TKnot> FKnots = DefaultKnots();
    int FDragged = -1;
    int FHovered = -1;
};
