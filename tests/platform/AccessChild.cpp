// Permission check on a real display, quitting through it: launch|timer DISPLAY first|second
#include "platform/UniversalAccess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

using namespace orvix;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4)
        return 2;
    const bool withTimer = QByteArray(argv[1]) == "timer";
    const QString display = QString::fromLocal8Bit(argv[2]);
    const AlertAnswer answer =
        QByteArray(argv[3]) == "first" ? AlertAnswer::First : AlertAnswer::Second;

    UniversalAccess::Hooks hooks;
    hooks.probe = [display] {
        return checkX11AccessForDisplayName(display).lack();
    };
    hooks.hidePanel = [] {
        std::printf("hide panel\n");
    };
    hooks.runAlert = [answer](QMessageBox& box) {
        std::printf("alert: %s | %s\n", qPrintable(box.text()),
                    qPrintable(box.informativeText().section('\n', 0, 0)));
        std::fflush(stdout);
        QTimer::singleShot(0, &box, [&box, answer] { alertButton(box, answer)->click(); });
        return runAlertModally(box);
    };
    hooks.openUrl = [](const QUrl& url) {
        std::printf("open %s\n", qPrintable(url.toString()));
        return true;
    };
    UniversalAccess access(hooks);

    access._checkUniversalAccess(nullptr);
    if (withTimer)
        access.scheduleRepeatingCheck(100);
    std::printf("running\n");
    std::fflush(stdout);
    const int status = app.exec();
    std::printf("gone %d\n", status);
    return status;
}
