#include "platform/InputAccess.h"

#include <QDir>
#include <QFile>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <unistd.h>

namespace orvix {

InputAccessLack X11AccessReport::lack() const {
    if (!display)
        return InputAccessLack::X11Display;
    if (!xtest)
        return InputAccessLack::X11Xtest;
    if (!xinput2)
        return InputAccessLack::X11XInput2;
    return InputAccessLack::Nothing;
}

X11AccessReport checkX11Access(Display* display) {
    X11AccessReport report;
    if (!display)
        return report;
    report.display = true;

    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    report.xtest = XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) == True;

    int opcode = 0;
    if (XQueryExtension(display, "XInputExtension", &opcode, &eventBase, &errorBase)) {
        int xiMajor = 2, xiMinor = 0;
        report.xinput2 = XIQueryVersion(display, &xiMajor, &xiMinor) == Success && xiMajor >= 2;
    }
    return report;
}

X11AccessReport checkX11AccessForDisplayName(const QString& name) {
    const QByteArray encoded = name.toLocal8Bit();
    Display* display = XOpenDisplay(name.isEmpty() ? nullptr : encoded.constData());
    const X11AccessReport report = checkX11Access(display);
    if (display)
        XCloseDisplay(display);
    return report;
}

InputAccessLack EvdevAccessReport::lack() const {
    if (!uinputWritable)
        return InputAccessLack::UinputNotWritable;
    if (!keyboardsReadable)
        return InputAccessLack::KeyboardsNotReadable;
    return InputAccessLack::Nothing;
}

EvdevAccessReport checkEvdevAccess(const QString& uinputPath, const QString& inputFolder) {
    EvdevAccessReport report;
    report.uinputWritable = ::access(QFile::encodeName(uinputPath).constData(), W_OK) == 0;
    // Opening (not just testing the mode) is the real question; nothing is read.
    const QStringList devices =
        QDir(inputFolder).entryList({QStringLiteral("event*")}, QDir::System | QDir::Files);
    for (const QString& name : devices) {
        const QByteArray path = QFile::encodeName(inputFolder + QLatin1Char('/') + name);
        const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            report.keyboardsReadable = true;
            break;
        }
    }
    return report;
}

} // namespace orvix
