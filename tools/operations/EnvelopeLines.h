// Envelope curves given by points: a whole 256-entry gain table from a few (level, percent) points.
#pragma once

#include <array>
#include <span>

// A gain table in percent, one entry per channel level.
using TEnvelopeTable = std::array<double, 256>;

// A point of a curve: a channel level 0..255 and its gain in percent.
struct TEnvelopePoint {
    int Level;
    double Percent;

    friend bool operator==(const TEnvelopePoint&, const TEnvelopePoint&) = default;
};

// The table through Points, given by strictly rising level: every level L from A.Level to B.Level of
// neighbouring points A and B gets A.Percent + (B.Percent - A.Percent) * (L - A.Level) / (B.Level - A.Level)
// in double arithmetic, left to right (a level shared by two segments takes the later segment's value);
// levels before the first point take its percent, levels after the last take the last's. No points give
// 100 everywhere. For example points (0, 100) and (255, 50) give 100 - 50 * L / 255.
TEnvelopeTable EnvelopeLines(std::span<const TEnvelopePoint> Points);
