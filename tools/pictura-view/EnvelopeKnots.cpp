#include "EnvelopeKnots.h"

#include <cmath>
#include <vector>

namespace {

constexpr double SlopeTolerance = 1e-6;

} // namespace

QList<TKnot> DefaultKnots() {
    return {TKnot{0, 100.0}, TKnot{255, 100.0}};
}

TEnvelopeTable InterpolateKnots(const QList<TKnot>& Knots) {
    std::vector<TEnvelopePoint> points;
    for (const TKnot& knot : Knots)
        points.push_back({knot.Level, knot.Percent});
    return EnvelopeLines(points);
}

QList<TKnot> KnotsFromTable(const TEnvelopeTable& Table) {
    QList<TKnot> knots{TKnot{0, Table[0]}};
    for (size_t level = 1; level < 255; ++level) {
        const double bend = Table[level - 1] - 2 * Table[level] + Table[level + 1];
        if (std::fabs(bend) > SlopeTolerance) knots << TKnot{int(level), Table[level]};
    }
    knots << TKnot{255, Table[255]};
    return knots;
}
