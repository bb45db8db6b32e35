#pragma once

#include "render/KeyPicture.h"
#include "render/ThemeDictionary.h"

#include <QImage>
#include <QRectF>
#include <initializer_list>
#include <string>

namespace orvix::test {

// A dictionary holding only the named gradients of every look, each an opaque
// solid colour, so that a picture shows exactly those layers.
ThemeDictionary onlyLayers(std::initializer_list<const char*> layers,
                           const QColor& color = Qt::red);

// Renders one key in one look with a dictionary at `scale` pixels per point.
QImage renderKey(int64_t code, int64_t state, const ThemeDictionary* theme, qreal scale);

// Bounding box, in points with y up (as the key is drawn), of the pixels whose
// alpha exceeds `threshold`; empty when there are none.
QRectF inkPoints(const QImage& image, qreal scale, int threshold = 128);

// Alpha of the pixel under the point (x, y up) of an image of the given scale.
int alphaAt(const QImage& image, qreal scale, qreal x, qreal y);

// Number of pixels that differ by more than `tolerance` in any channel.
int differingPixels(const QImage& a, const QImage& b, int tolerance = 0);

} // namespace orvix::test
