#pragma once

#include <QImage>

namespace orvix {

// Blurs an image in place with three box passes per axis, which approximates a
// Gaussian of the given standard deviation in pixels. Works on premultiplied
// ARGB (each channel alike; other formats are converted to it) and on 8-bit
// alpha masks, which shadows use. Sigma <= 0 leaves the image as it is.
void blurImage(QImage& image, qreal sigma);

// The standard deviation in points that a shadow of the given blur radius
// spreads over: the blur radius reaches about two deviations out.
inline qreal sigmaForBlurRadius(qreal blurRadius) {
    return blurRadius / 2.0;
}

} // namespace orvix
