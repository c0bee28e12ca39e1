#include "EnvelopeLines.h"

TEnvelopeTable EnvelopeLines(std::span<const TEnvelopePoint> Points) {
    TEnvelopeTable table;
    table.fill(Points.empty() ? 100.0 : Points.front().Percent);
    if (Points.empty()) return table;
    for (size_t k = 0; k + 1 < Points.size(); ++k) {
        const TEnvelopePoint& a = Points[k];
        const TEnvelopePoint& b = Points[k + 1];
        for (int level = a.Level; level <= b.Level; ++level)
            table[size_t(level)] =
                a.Percent + (b.Percent - a.Percent) * (level - a.Level) / (b.Level - a.Level);
    }
    for (int level = Points.back().Level + 1; level < 256; ++level)
        table[size_t(level)] = Points.back().Percent;
    return table;
}
