#include "render/KeyShapes.h"

namespace orvix {

namespace {

void cornerTo(QPainterPath& path, QPointF corner, QPointF to, qreal k) {
    const QPointF from = path.currentPosition();
    if (from == to) // square corner: both points are the corner itself
        return;
    path.cubicTo(from + k * (corner - from), to + k * (corner - to), to);
}

} // namespace

void addContour(QPainterPath& path, const Contour& c, bool counterClockwise) {
    const Corners& k = c.corners;
    QPainterPath contour;
    contour.moveTo(c.x0 + k.bottomLeft.rx, c.y0);
    contour.lineTo(c.x1 - k.bottomRight.rx, c.y0);
    cornerTo(contour, {c.x1, c.y0}, {c.x1, c.y0 + k.bottomRight.ry}, k.bottomRight.k);
    contour.lineTo(c.x1, c.y1 - k.topRight.ry);
    cornerTo(contour, {c.x1, c.y1}, {c.x1 - k.topRight.rx, c.y1}, k.topRight.k);
    contour.lineTo(c.x0 + k.topLeft.rx, c.y1);
    cornerTo(contour, {c.x0, c.y1}, {c.x0, c.y1 - k.topLeft.ry}, k.topLeft.k);
    contour.lineTo(c.x0, c.y0 + k.bottomLeft.ry);
    cornerTo(contour, {c.x0, c.y0}, {c.x0 + k.bottomLeft.rx, c.y0}, k.bottomLeft.k);
    contour.closeSubpath();
    path.addPath(counterClockwise ? contour : contour.toReversed());
}

QPainterPath shapePath(const Contour& contour) {
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    addContour(path, contour);
    return path;
}

QPainterPath ringPath(const Contour& outer, const Contour& inner) {
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    addContour(path, outer, true);
    addContour(path, inner, false);
    return path;
}

} // namespace orvix
