// One HoverImageView on a real X server; prints where it lies and each opacity it settles at.
#include "render/HoverImageView.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("hover-probe"));
    window.resize(320, 200);
    auto* view = new orvix::HoverImageView(&window);
    view->setGeometry(60, 50, 200, 100);
    QImage picture(200, 100, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    view->setPixmap(QPixmap::fromImage(picture));
    window.show();

    bool placed = false;
    qreal reported = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!placed && view->isVisible()) {
            const QRect g = view->geometry(); // within the window, wherever that is put
            std::printf("view %d %d %d %d\n", g.x(), g.y(), g.width(), g.height());
            placed = true;
        }
        const qreal alpha = view->alphaValue();
        // Only settled values: a fade in progress is not a state.
        if ((alpha == 0.0 || alpha == 1.0) && alpha != reported) {
            std::printf("alpha %g\n", alpha);
            reported = alpha;
        }
        std::fflush(stdout);
    });
    poll.start(25);
    return app.exec();
}
