#include "EnvelopeCurve.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

constexpr double KnotRadius = 4.5;
constexpr double GrabRadius = 8.0; // the mouse takes a knot within this distance

} // namespace

TEnvelopeCurve::TEnvelopeCurve(const QColor& Color, QWidget* Parent) : QWidget(Parent), FColor(Color) {
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setToolTip(tr(
        "Drag a point to change the gain at that level; click to add a point, double-click to remove one"));
}

void TEnvelopeCurve::SetKnots(const QList<TKnot>& Knots) {
    FKnots = Knots.size() >= 2 ? Knots : DefaultKnots();
    FDragged = FHovered = -1;
    update();
    emit Changed();
}

QRectF TEnvelopeCurve::PlotRect() const {
    const QFontMetrics metrics(font());
    // Room on the left for "100 %" and at the bottom for the level numbers.
    const double left = metrics.horizontalAdvance(QStringLiteral("100 %")) + 10;
    const double bottom = metrics.height() + 8;
    return QRectF(left, 8, width() - left - 10, height() - 8 - bottom);
}

QPointF TEnvelopeCurve::PositionOf(double Level, double Percent) const {
    const QRectF plot = PlotRect();
    return QPointF(plot.left() + plot.width() * Level / 255.0,
                   plot.bottom() - plot.height() * Percent / 100.0);
}

TKnot TEnvelopeCurve::KnotFor(const QPointF& Position) const {
    const QRectF plot = PlotRect();
    const double level = (Position.x() - plot.left()) / plot.width() * 255.0;
    const double percent = (plot.bottom() - Position.y()) / plot.height() * 100.0;
    return TKnot{int(std::lround(std::clamp(level, 0.0, 255.0))),
                 double(std::lround(std::clamp(percent, 0.0, 100.0)))};
}

int TEnvelopeCurve::KnotAt(const QPointF& Position) const {
    int nearest = -1;
    double best = GrabRadius;
    for (qsizetype i = 0; i < FKnots.size(); ++i) {
        const double distance = QLineF(Position, PositionOf(FKnots[i].Level, FKnots[i].Percent)).length();
        if (distance <= best) {
            best = distance;
            nearest = int(i);
        }
    }
    return nearest;
}

void TEnvelopeCurve::MoveKnot(int Index, const QPointF& Position) {
    TKnot knot = KnotFor(Position);
    const int last = int(FKnots.size()) - 1;
    // Ends stay at their levels; a knot between them stays strictly between its neighbours.
    if (Index == 0)
        knot.Level = 0;
    else if (Index == last)
        knot.Level = 255;
    else
        knot.Level = std::clamp(knot.Level, FKnots[Index - 1].Level + 1, FKnots[Index + 1].Level - 1);
    if (FKnots[Index] == knot) return;
    FKnots[Index] = knot;
    update();
    emit Changed();
}

void TEnvelopeCurve::RemoveKnot(int Index) {
    if (Index <= 0 || Index >= FKnots.size() - 1) return;
    FKnots.removeAt(Index);
    FDragged = FHovered = -1;
    update();
    emit Changed();
}

void TEnvelopeCurve::mousePressEvent(QMouseEvent* Event) {
    const QPointF at = Event->position();
    const int hit = KnotAt(at);
    if (Event->button() == Qt::RightButton) {
        RemoveKnot(hit);
        return;
    }
    if (Event->button() != Qt::LeftButton) return;
    if (hit >= 0) {
        FDragged = hit;
        return;
    }
    // A press away from the knots adds one there, unless its level already has one.
    const TKnot knot = KnotFor(at);
    qsizetype index = 0;
    while (index < FKnots.size() && FKnots[index].Level < knot.Level)
        ++index;
    if (index < FKnots.size() && FKnots[index].Level == knot.Level) {
        FDragged = int(index);
        MoveKnot(FDragged, at);
        return;
    }
    FKnots.insert(index, knot);
    FDragged = int(index);
    update();
    emit Changed();
}

void TEnvelopeCurve::mouseMoveEvent(QMouseEvent* Event) {
    if (FDragged >= 0) {
        MoveKnot(FDragged, Event->position());
        return;
    }
    const int hovered = KnotAt(Event->position());
    if (hovered != FHovered) {
        FHovered = hovered;
        setCursor(hovered >= 0 ? Qt::SizeAllCursor : Qt::CrossCursor);
        update();
    }
}

void TEnvelopeCurve::mouseReleaseEvent(QMouseEvent*) {
    FDragged = -1;
    update();
}

void TEnvelopeCurve::mouseDoubleClickEvent(QMouseEvent* Event) {
    if (Event->button() == Qt::LeftButton) RemoveKnot(KnotAt(Event->position()));
}

void TEnvelopeCurve::leaveEvent(QEvent*) {
    FHovered = -1;
    update();
}

void TEnvelopeCurve::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plot = PlotRect();
    const QPalette& colors = palette();
    painter.fillRect(plot, colors.base());

    // Grid every 25 % and every 64 levels, with their numbers outside the plot.
    painter.setPen(QPen(colors.mid().color(), 0, Qt::DotLine));
    for (int percent = 0; percent <= 100; percent += 25) {
        const double y = PositionOf(0, percent).y();
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    for (int level = 0; level <= 256; level += 64) {
        const double x = PositionOf(std::min(level, 255), 0).x();
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    painter.setPen(colors.text().color());
    const QFontMetrics metrics(font());
    for (int percent : {0, 50, 100}) {
        const QString text = QString::number(percent) + " %";
        const QPointF at = PositionOf(0, percent);
        painter.drawText(QRectF(0, at.y() - metrics.height() / 2.0, plot.left() - 5, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, text);
    }
    for (int level : {0, 128, 255}) {
        const QPointF at = PositionOf(level, 0);
        painter.drawText(QRectF(at.x() - 20, plot.bottom() + 3, 40, metrics.height()), Qt::AlignCenter,
                         QString::number(level));
    }

    // The curve, straight between the knots, with the area under it tinted in the channel's colour.
    QPainterPath curve;
    curve.moveTo(PositionOf(FKnots.front().Level, FKnots.front().Percent));
    for (const TKnot& knot : FKnots)
        curve.lineTo(PositionOf(knot.Level, knot.Percent));
    QPainterPath area = curve;
    area.lineTo(plot.bottomRight());
    area.lineTo(plot.bottomLeft());
    area.closeSubpath();
    QColor tint = FColor;
    tint.setAlpha(40);
    painter.fillPath(area, tint);
    painter.setPen(QPen(FColor, 2));
    painter.drawPath(curve);

    for (qsizetype i = 0; i < FKnots.size(); ++i) {
        const bool active = i == FDragged || i == FHovered;
        painter.setPen(QPen(FColor.darker(140), 1.5));
        painter.setBrush(active ? FColor : colors.base().color());
        painter.drawEllipse(PositionOf(FKnots[i].Level, FKnots[i].Percent), KnotRadius, KnotRadius);
    }
    const int shown = FDragged >= 0 ? FDragged : FHovered;
    if (shown >= 0) {
        painter.setPen(colors.text().color());
        painter.drawText(plot.adjusted(6, 4, -6, -4), Qt::AlignTop | Qt::AlignRight,
                         tr("level %1: %2 %").arg(FKnots[shown].Level).arg(FKnots[shown].Percent));
    }
    painter.setPen(colors.mid().color());
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
}
