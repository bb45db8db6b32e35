#pragma once

#include "render/KeyPicture.h"
#include "render/ThemeDictionary.h"

#include <QImage>
#include <QRectF>
#include <initializer_list>

namespace orvix::test {

// A dictionary holding only the named gradients of every look, each an opaque
// solid colour, so that a picture shows exactly those layers.
ThemeDictionary onlyLayers(std::initializer_list<const char*> layers,
                           const QColor& color = Qt::red);

// The picture of one key in one look with a dictionary, and that picture
// rendered at `scale` pixels per point.
KeyPicture keyPicture(int64_t code, int64_t state, const ThemeDictionary* theme);
QImage renderKey(int64_t code, int64_t state, const ThemeDictionary* theme, qreal scale);

// Bounding box, in points with y up (as the key is drawn), of the pixels whose
// alpha exceeds `threshold`; empty when there are none.
QRectF inkPoints(const QImage& image, qreal scale, int threshold = 128);

// Colour and alpha of the pixel under the point (x, y up) of an image of the
// given scale; transparent outside it.
QColor colorAt(const QImage& image, qreal scale, qreal x, qreal y);
inline int alphaAt(const QImage& image, qreal scale, qreal x, qreal y) {
    return colorAt(image, scale, x, y).alpha();
}

} // namespace orvix::test
