#include "EnvelopeKnots.h"

#include <cmath>

namespace {

constexpr double SlopeTolerance = 1e-6;

} // namespace

QList<TKnot> DefaultKnots() {
    return {TKnot{0, 100.0}, TKnot{255, 100.0}};
}

TEnvelopeTable InterpolateKnots(const QList<TKnot>& Knots) {
    TEnvelopeTable table;
    table.fill(100.0);
    for (qsizetype k = 0; k + 1 < Knots.size(); ++k) {
        const TKnot& a = Knots[k];
        const TKnot& b = Knots[k + 1];
        for (int level = a.Level; level <= b.Level; ++level)
            table[size_t(level)] =
                a.Percent + (b.Percent - a.Percent) * (level - a.Level) / (b.Level - a.Level);
    }
    if (Knots.size() == 1) table.fill(Knots.front().Percent);
    return table;
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
