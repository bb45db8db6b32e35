// One HoverImageView on a real X server; prints where it lies, in which X
// window, and each opacity it settles at.
#include "render/HoverImageView.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <QWindow>
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
        // Exposed: the server has mapped the window, so the pointer can reach it.
        // Its own id spares the test a window search by process.
        if (!placed && window.windowHandle() && window.windowHandle()->isExposed()) {
            const QRect g = view->geometry(); // within the window, wherever that is put
            std::printf("view %d %d %d %d window %llu\n", g.x(), g.y(), g.width(), g.height(),
                        static_cast<unsigned long long>(window.winId()));
            placed = true;
        }
        if (!placed)
            return; // the test reads the place first
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
