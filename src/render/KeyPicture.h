#pragma once

#include "render/ThemeDictionary.h"

#include <QImage>
#include <QPainterPath>
#include <QSizeF>
#include <optional>
#include <vector>

class QPainter;

namespace orvix {

// One recorded fill. Paths are in the picture's own coordinates: points,
// origin at the bottom left, y growing upward.
struct PictureOp {
    enum class Paint {
        Solid,          // `color`
        AngledGradient, // `gradient` across the path's bounds at `angle` degrees
        AxialGradient,  // `gradient` from `from` to `to`, end colours extended
    };
    QPainterPath path;
    Paint paint = Paint::Solid;
    QColor color;
    Gradient gradient;
    qreal angle = 0;
    QPointF from;
    QPointF to;
    // Cast by the fill as a whole, as a transparency layer would cast it.
    std::optional<Shadow> shadow;
};

// A key's picture: a display list of filled vector paths with gradients and
// shadows. It holds no pixels, so it is drawn sharp at any size: every call
// to paint() or toImage() rasterises it for the destination's own pixels.
class KeyPicture {
public:
    KeyPicture() = default;
    explicit KeyPicture(QSizeF size) : _size(size) {}

    QSizeF size() const { return _size; }
    bool isNull() const { return _size.isEmpty(); }
    const std::vector<PictureOp>& ops() const { return _ops; }

    void fillSolid(QPainterPath path, const QColor& color, std::optional<Shadow> shadow = {});
    // Angle 0 runs from the start colour at the left to the end colour at the
    // right, 90 from bottom to top, -90 from top to bottom.
    void fillGradient(QPainterPath path, const Gradient& gradient, qreal angle,
                      std::optional<Shadow> shadow = {});
    void fillAxial(QPainterPath path, const Gradient& gradient, QPointF from, QPointF to);

    // Draws the picture stretched into `target` (painter coordinates, y down).
    // Shadows are rasterised at the painter's device resolution, paths stay
    // vectors on vector devices (PDF, SVG).
    void paint(QPainter& painter, const QRectF& target) const;

    // Shadows are made once for every picture that casts the same one at the
    // same size; this forgets them, once a batch of keys has been drawn.
    static void releaseMadeShadows();
    static qsizetype madeShadowCount();

    // Rasterises into a transparent premultiplied image of the given size.
    QImage toImage(QSize pixelSize) const;
    // Rasterises at `scale` pixels per point, keeping that device pixel ratio
    // on the image, so that it shows at the picture's size in points.
    QImage toImage(qreal scale) const;

private:
    QSizeF _size;
    std::vector<PictureOp> _ops;
};

} // namespace orvix
