// Envelope curves as knots: the points a user drags, joined by straight lines into a 256-entry table.
#pragma once

#include "EnvelopeLines.h"

#include <QList>

// A knot of an envelope curve: a channel level 0..255 and its gain in percent 0..100.
struct TKnot {
    int Level;
    double Percent;

    friend bool operator==(const TKnot&, const TKnot&) = default;
};

// The flat curve at 100 %: knots at levels 0 and 255.
QList<TKnot> DefaultKnots();

// The table of the curve through Knots (by rising level, the first at 0 and the last at 255): between
// neighbouring knots the gain runs in a straight line, for example knots (0, 100) and (255, 50) give
// 100 - 50 * level / 255. The same function as the tool's --curve options (EnvelopeLines).
TEnvelopeTable InterpolateKnots(const QList<TKnot>& Knots);

// The fewest knots whose straight lines give Table back: both ends and every level where the slope
// changes (differences below 1e-6 % count as none, so tables read back through the gains keep their knots).
QList<TKnot> KnotsFromTable(const TEnvelopeTable& Table);
