#include "app/MyApplication.h"

#include <QWidget>
#include <QWindow>
#include <atomic>

namespace orvix {

namespace {
std::atomic<bool> gTerminationRequested{false};
} // namespace

void MyApplication::terminate() {
    gTerminationRequested.store(true);
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}

bool MyApplication::terminationRequested() {
    return gTerminationRequested.load();
}

MyApplication::MyApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool MyApplication::notify(QObject* receiver, QEvent* event) {
    const bool result = QApplication::notify(receiver, event);
    if (_lifting)
        return result;
    QWidget* modal = activeModalWidget();
    if (!modal)
        return result;
    // Changing the platform window's flags restacks it in place; changing the
    // widget's flags would hide and reshow it and end its modal loop.
    QWindow* handle = modal->windowHandle();
    if (handle && !(handle->flags() & Qt::WindowStaysOnTopHint)) {
        _lifting = true;
        handle->setFlags(handle->flags() | Qt::WindowStaysOnTopHint);
        _lifting = false;
    }
    return result;
}

} // namespace orvix
