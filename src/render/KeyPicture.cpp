#include "render/KeyPicture.h"

#include "render/Blur.h"

#include <QHash>
#include <QLinearGradient>
#include <QPaintDevice>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <malloc.h>
#include <mutex>

namespace orvix {

namespace {

// Largest side of a shadow bitmap; beyond this the shadow is rendered coarser
// and stretched, which a blurred shape does not show.
constexpr qreal kMaxShadowPixels = 4096;
// Standard deviation, in shadow pixels, below which a shadow is rasterised at
// full device resolution.
constexpr qreal kShadowSigmaPixels = 1.5;

// Qt's raster engine keeps a converted copy of every path it fills on the
// path itself, for as long as the path lives. Pictures live as long as their
// key, and that copy would double the memory of every outline they hold, so
// each fill draws an unshared copy that takes the converted one with it.
QPainterPath transientCopy(const QPainterPath& path) {
    QPainterPath copy = path;
    if (copy.elementCount() > 0) {
        const QPainterPath::Element first = copy.elementAt(0);
        copy.setElementPositionAt(0, first.x, first.y); // detaches
    }
    return copy;
}

// The gradient line of an angled fill: through the centre of the bounds, long
// enough that both end colours reach the farthest corners.
QLinearGradient angledGradient(const QRectF& bounds, const Gradient& g, qreal angle) {
    const qreal radians = angle * M_PI / 180.0;
    const QPointF dir(std::cos(radians), std::sin(radians));
    const qreal half =
        (std::abs(dir.x()) * bounds.width() + std::abs(dir.y()) * bounds.height()) / 2.0;
    const QPointF c = bounds.center();
    QLinearGradient lg(c - dir * half, c + dir * half);
    lg.setColorAt(0, g.start);
    lg.setColorAt(1, g.end);
    return lg;
}

QBrush brushFor(const PictureOp& op) {
    switch (op.paint) {
    case PictureOp::Paint::Solid:
        return QBrush(op.color);
    case PictureOp::Paint::AngledGradient:
        // A gradient of one colour is a plain fill, and much cheaper to raster.
        if (op.gradient.start == op.gradient.end)
            return QBrush(op.gradient.start);
        return QBrush(angledGradient(op.path.boundingRect(), op.gradient, op.angle));
    case PictureOp::Paint::AxialGradient: {
        QLinearGradient lg(op.from, op.to);
        lg.setColorAt(0, op.gradient.start);
        lg.setColorAt(1, op.gradient.end);
        lg.setSpread(QGradient::PadSpread);
        return QBrush(lg);
    }
    }
    return {};
}

// A premultiplied image of `color` with the mask's alpha.
QImage tinted(const QImage& mask, const QColor& color) {
    std::array<QRgb, 256> shade{};
    for (int i = 0; i < 256; ++i) {
        QColor c = color;
        c.setAlphaF(color.alphaF() * static_cast<float>(i) / 255.0f);
        shade[static_cast<size_t>(i)] = qPremultiply(c.rgba());
    }
    QImage out(mask.size(), QImage::Format_ARGB32_Premultiplied);
    const int w = mask.width();
    const int h = mask.height();
    for (int y = 0; y < h; ++y) {
        const uchar* in = mask.constScanLine(y);
        auto* px = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x)
            px[x] = shade[in[x]];
    }
    return out;
}

// A made shadow: its tinted pixels and where they go, in device pixels.
struct MadeShadow {
    QImage image;
    QRectF target;
};

// Keys of one size and theme cast the same shadows, and making one (raster,
// blur, tint) costs more than the rest of a key's picture, so each is made
// once. Keyed by everything that goes into the pixels. Pictures are drawn on
// more than one thread.
class ShadowCache {
public:
    static ShadowCache& shared() {
        static ShadowCache cache;
        return cache;
    }
    std::optional<MadeShadow> find(const QByteArray& key) {
        std::lock_guard lock(_mutex);
        const auto it = _made.constFind(key);
        if (it == _made.constEnd())
            return std::nullopt;
        return *it;
    }
    void clear() {
        std::lock_guard lock(_mutex);
        _made = {};
    }
    qsizetype size() {
        std::lock_guard lock(_mutex);
        return _made.size();
    }
    void insert(const QByteArray& key, const MadeShadow& shadow) {
        std::lock_guard lock(_mutex);
        // Six themes of every key size fit; past that, start again.
        if (_made.size() >= kMostShadows)
            _made.clear();
        _made.insert(key, shadow);
    }

private:
    static constexpr qsizetype kMostShadows = 512;
    std::mutex _mutex;
    QHash<QByteArray, MadeShadow> _made;
};

QByteArray shadowKey(const PictureOp& op, const QTransform& toDevice, qreal dpr) {
    QByteArray key;
    key.reserve(64 * 8 + op.path.elementCount() * 3 * 8);
    const auto put = [&key](qreal value) {
        key.append(reinterpret_cast<const char*>(&value), sizeof value);
    };
    const auto putColor = [&key](const QColor& color) {
        const QRgba64 rgba = color.rgba64();
        key.append(reinterpret_cast<const char*>(&rgba), sizeof rgba);
    };
    for (qreal m : {toDevice.m11(), toDevice.m12(), toDevice.m13(), toDevice.m21(), toDevice.m22(),
                    toDevice.m23(), toDevice.m31(), toDevice.m32(), toDevice.m33(), dpr})
        put(m);
    const Shadow& shadow = *op.shadow;
    putColor(shadow.color);
    put(shadow.offset.x());
    put(shadow.offset.y());
    put(shadow.blurRadius);
    put(static_cast<qreal>(op.paint));
    putColor(op.color);
    putColor(op.gradient.start);
    putColor(op.gradient.end);
    for (qreal v : {op.angle, op.from.x(), op.from.y(), op.to.x(), op.to.y()})
        put(v);
    for (int i = 0; i < op.path.elementCount(); ++i) {
        const QPainterPath::Element e = op.path.elementAt(i);
        put(static_cast<qreal>(e.type));
        put(e.x);
        put(e.y);
    }
    put(static_cast<qreal>(op.path.fillRule()));
    return key;
}

// Rasterises, blurs and tints the shadow of one fill. `toDevice` maps picture
// coordinates to device pixels. The shadow is rasterised in device pixels,
// aligned to the device's pixel grid, so it is blitted unscaled.
MadeShadow makeShadow(const PictureOp& op, const QTransform& toDevice, qreal dpr) {
    const Shadow& shadow = *op.shadow;
    const qreal pointsToPixels = std::sqrt(std::abs(toDevice.determinant()));
    const qreal sigma = sigmaForBlurRadius(shadow.blurRadius) * pointsToPixels;
    // The offset is in points with y up; map its direction only.
    const QPointF offset = toDevice.map(shadow.offset) - toDevice.map(QPointF(0, 0));
    const qreal margin = std::ceil(3.0 * sigma) + 2;
    const QRectF shape = toDevice.mapRect(op.path.boundingRect()).translated(offset);
    const QRect area =
        QRectF(QPointF(std::floor(shape.left() - margin), std::floor(shape.top() - margin)),
               QPointF(std::ceil(shape.right() + margin), std::ceil(shape.bottom() + margin)))
            .toRect();
    if (area.isEmpty())
        return {};
    // A blur wider than a pixel or two hides any finer detail, so the shadow is
    // rasterised at the coarsest resolution that still keeps its deviation at
    // kShadowSigmaPixels, and stretched when drawn. Very large shadows are
    // capped in size the same way.
    qreal shrink = sigma > kShadowSigmaPixels ? kShadowSigmaPixels / sigma : 1.0;
    shrink = std::min(shrink, kMaxShadowPixels / std::max(area.width(), area.height()));
    const QSize pixels(std::max(1, static_cast<int>(std::ceil(area.width() * shrink))),
                       std::max(1, static_cast<int>(std::ceil(area.height() * shrink))));

    // The fill's coverage and opacity as an alpha mask (the layer a shadow is
    // cast from), blurred, then tinted.
    QImage mask(pixels, QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter sp(&mask);
        sp.setRenderHint(QPainter::Antialiasing);
        QTransform t = toDevice;
        t *= QTransform::fromTranslate(offset.x() - area.left(), offset.y() - area.top());
        t *= QTransform::fromScale(shrink, shrink);
        sp.setTransform(t);
        sp.fillPath(transientCopy(op.path), brushFor(op));
    }
    blurImage(mask, sigma * shrink);
    // The mask's pixels map back by 1 / shrink each, from the area's corner.
    return {tinted(mask, shadow.color),
            QRectF(QPointF(area.topLeft()) / dpr, QSizeF(pixels) / shrink / dpr)};
}

// Draws the blurred shadow of one fill. `toLogical` maps picture coordinates
// to the painter's logical coordinates.
void paintShadow(QPainter& painter, const PictureOp& op, const QTransform& toLogical) {
    if (op.shadow->color.alpha() == 0)
        return;
    // Picture points to device pixels (the device pixel ratio included).
    const QTransform toDevice = toLogical * painter.deviceTransform();
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QByteArray key = shadowKey(op, toDevice, dpr);
    std::optional<MadeShadow> made = ShadowCache::shared().find(key);
    if (!made) {
        made = makeShadow(op, toDevice, dpr);
        ShadowCache::shared().insert(key, *made);
    }
    if (made->image.isNull())
        return;
    painter.save();
    painter.resetTransform();
    painter.drawImage(made->target, made->image);
    painter.restore();
}

} // namespace

void KeyPicture::releaseMadeShadows() {
    ShadowCache::shared().clear();
    // Freed shadow pixels sit between live allocations in the heap; give the
    // pages back instead of keeping them for a next batch that may not come.
    malloc_trim(0);
}

qsizetype KeyPicture::madeShadowCount() {
    return ShadowCache::shared().size();
}

void KeyPicture::fillSolid(QPainterPath path, const QColor& color, std::optional<Shadow> shadow) {
    PictureOp op;
    op.path = std::move(path);
    op.paint = PictureOp::Paint::Solid;
    op.color = color;
    op.shadow = std::move(shadow);
    _ops.push_back(std::move(op));
}

void KeyPicture::fillGradient(QPainterPath path, const Gradient& gradient, qreal angle,
                              std::optional<Shadow> shadow) {
    PictureOp op;
    op.path = std::move(path);
    op.paint = PictureOp::Paint::AngledGradient;
    op.gradient = gradient;
    op.angle = angle;
    op.shadow = std::move(shadow);
    _ops.push_back(std::move(op));
}

void KeyPicture::fillAxial(QPainterPath path, const Gradient& gradient, QPointF from, QPointF to) {
    PictureOp op;
    op.path = std::move(path);
    op.paint = PictureOp::Paint::AxialGradient;
    op.gradient = gradient;
    op.from = from;
    op.to = to;
    _ops.push_back(std::move(op));
}

void KeyPicture::paint(QPainter& painter, const QRectF& target) const {
    if (isNull() || target.isEmpty())
        return;
    // Picture coordinates (y up) to the painter's logical ones (y down).
    QTransform toLogical =
        QTransform::fromScale(target.width() / _size.width(), -target.height() / _size.height());
    toLogical *= QTransform::fromTranslate(target.left(), target.bottom());

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setPen(Qt::NoPen);
    const QTransform world = painter.worldTransform();
    for (const PictureOp& op : _ops) {
        if (op.shadow) {
            painter.setWorldTransform(world);
            paintShadow(painter, op, toLogical);
        }
        painter.setWorldTransform(toLogical * world);
        painter.fillPath(transientCopy(op.path), brushFor(op));
    }
    painter.restore();
}

QImage KeyPicture::toImage(QSize pixelSize) const {
    if (pixelSize.isEmpty())
        return {};
    QImage image(pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(painter, QRectF(QPointF(0, 0), QSizeF(pixelSize)));
    return image;
}

QImage KeyPicture::toImage(qreal scale) const {
    const QSize pixels(static_cast<int>(std::lround(_size.width() * scale)),
                       static_cast<int>(std::lround(_size.height() * scale)));
    if (pixels.isEmpty() || !(scale > 0))
        return {};
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(painter, QRectF(QPointF(0, 0), _size));
    return image;
}

} // namespace orvix
