#pragma once

#include "render/KeyPicture.h"
#include "render/ThemeDictionary.h"

#include <QImage>
#include <QRectF>
#include <initializer_list>

namespace orvix::test {

// Only the named layers of every look, each an opaque solid colour.
ThemeDictionary onlyLayers(std::initializer_list<const char*> layers,
                           const QColor& color = Qt::red);

// One key's picture in one look, and that picture at `scale` pixels per point.
KeyPicture keyPicture(int64_t code, int64_t state, const ThemeDictionary* theme);
QImage renderKey(int64_t code, int64_t state, const ThemeDictionary* theme, qreal scale);

// Bounding box in points, y up, of the pixels with alpha above `threshold`.
QRectF inkPoints(const QImage& image, qreal scale, int threshold = 128);

// The pixel under the point (x, y up); transparent outside the image.
QColor colorAt(const QImage& image, qreal scale, qreal x, qreal y);
inline int alphaAt(const QImage& image, qreal scale, qreal x, qreal y) {
    return colorAt(image, scale, x, y).alpha();
}

} // namespace orvix::test
