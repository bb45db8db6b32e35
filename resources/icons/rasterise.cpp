// Draws the scalable icon as a square PNG of one size. The build makes every
// hicolor size from the one SVG with it, so the sizes never drift apart.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: orvix-rasterise-icon IN.svg SIZE OUT.png\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString in = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[3]);
    bool ok = false;
    const int size = QByteArray(argv[2]).toInt(&ok);
    QSvgRenderer svg(in);
    if (!ok || size < 1 || size > 4096 || !svg.isValid()) {
        std::fprintf(stderr, "orvix-rasterise-icon: cannot draw %s at size %s\n", argv[1], argv[2]);
        return 1;
    }
    svg.setAspectRatioMode(Qt::KeepAspectRatio);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    svg.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    if (!image.save(out, "PNG")) {
        std::fprintf(stderr, "orvix-rasterise-icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
