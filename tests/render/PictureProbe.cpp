#include "PictureProbe.h"

#include "render/KeyView.h"

#include <cmath>

namespace orvix::test {

ThemeDictionary onlyLayers(std::initializer_list<const char*> layers, const QColor& color) {
    ThemeDictionary dict;
    for (const char* look : {"normal", "hover", "pressed"})
        for (const char* layer : layers)
            dict.insert(std::string(look) + layer, Gradient{color, color});
    return dict;
}

KeyPicture keyPicture(int64_t code, int64_t state, const ThemeDictionary* theme) {
    KeyView view(code, state);
    view.setTheme(theme);
    return view.keyImage();
}

QImage renderKey(int64_t code, int64_t state, const ThemeDictionary* theme, qreal scale) {
    const KeyPicture picture = keyPicture(code, state, theme);
    const QSize pixels(static_cast<int>(std::lround(picture.size().width() * scale)),
                       static_cast<int>(std::lround(picture.size().height() * scale)));
    return picture.toImage(pixels);
}

QRectF inkPoints(const QImage& image, qreal scale, int threshold) {
    int minX = image.width(), minY = image.height(), maxX = -1, maxY = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(row[x]) > threshold) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    }
    if (maxX < 0)
        return {};
    // Image rows run downward; the key's y runs upward.
    const qreal h = image.height();
    return QRectF(QPointF(minX / scale, (h - maxY - 1) / scale),
                  QPointF((maxX + 1) / scale, (h - minY) / scale));
}

QColor colorAt(const QImage& image, qreal scale, qreal x, qreal y) {
    const int px = static_cast<int>(std::floor(x * scale));
    const int py = static_cast<int>(std::floor(image.height() - y * scale));
    if (px < 0 || py < 0 || px >= image.width() || py >= image.height())
        return Qt::transparent;
    return image.pixelColor(px, py);
}

} // namespace orvix::test
