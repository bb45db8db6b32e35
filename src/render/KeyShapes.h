#pragma once

#include <QPainterPath>

namespace orvix {

// A corner of a key contour: a cubic curve from the point rx before the
// corner on one edge to the point ry after it on the other, its control points
// k of each extent from the end points toward the corner. rx = ry = 0 is a
// square corner.
struct Corner {
    qreal rx = 0;
    qreal ry = 0;
    qreal k = 0.552;

    static constexpr Corner square() { return {0, 0, 0}; }
    // A quarter circle as one cubic.
    static constexpr Corner round(qreal r) { return {r, r, 0.552}; }
    // A flattened corner running between two given points.
    static constexpr Corner flattened(qreal rx, qreal ry) { return {rx, ry, 0.57}; }
};

struct Corners {
    Corner bottomLeft;
    Corner bottomRight;
    Corner topRight;
    Corner topLeft;

    static constexpr Corners all(Corner c) { return {c, c, c, c}; }
    static constexpr Corners bottom(Corner c) { return {c, c, Corner::square(), Corner::square()}; }
    static constexpr Corners top(Corner c) { return {Corner::square(), Corner::square(), c, c}; }
};

// The rectangle x0..x1, y0..y1 (y up) with the given corners.
struct Contour {
    qreal x0, x1, y0, y1;
    Corners corners;
};

// Appends a closed contour, counter-clockwise (y up) or clockwise.
void addContour(QPainterPath& path, const Contour& contour, bool counterClockwise = true);

// One closed contour; nonzero winding.
QPainterPath shapePath(const Contour& contour);

// The band between two contours: they run in opposite directions, so under the
// nonzero rule only the band is filled.
QPainterPath ringPath(const Contour& outer, const Contour& inner);

} // namespace orvix
