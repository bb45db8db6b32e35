#include "TapPanelPixels.h"

#include "XSession.h"
#include "app/MyPanel.h"
#include "render/KeyboardLayout.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cmath>

namespace orvix::test {

namespace {
Display* dpy(void* display) {
    return static_cast<Display*>(display);
}

// A grab of a window that is being mapped, moved or closed fails with an X
// error; Xlib's default handler would end the whole test program for it.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

// Drawn: a key's frame and legend make its pixels more than one colour.
bool hasDetail(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != image.pixel(0, 0))
                return true;
    return false;
}
} // namespace

TapPanelPixels::TapPanelPixels(const QString& display, unsigned long window) : _window(window) {
    XSetErrorHandler(ignoreXError);
    _display = XOpenDisplay(display.toLocal8Bit().constData());
}

TapPanelPixels::~TapPanelPixels() {
    if (_display)
        XCloseDisplay(dpy(_display));
}

std::optional<QRect> TapPanelPixels::keyRect(int code) const {
    if (!_display)
        return std::nullopt;
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(dpy(_display), _window, &attributes))
        return std::nullopt;
    const int strip = MyPanel::titleBarHeight();
    const QSizeF layout = keyboardLayoutSize();
    const double sx = attributes.width / layout.width();
    const double sy = (attributes.height - strip) / layout.height();
    for (const KeyPlacement& key : keyboardLayout()) {
        if (key.code != code)
            continue;
        const int left = qRound(key.frame.left() * sx);
        const int top = qRound(key.frame.top() * sy);
        const int right = qRound(key.frame.right() * sx);
        const int bottom = qRound(key.frame.bottom() * sy);
        return QRect(QPoint(left, top + strip), QPoint(right - 1, bottom - 1 + strip));
    }
    return std::nullopt;
}

QImage TapPanelPixels::grabKey(int code) const {
    const auto rect = keyRect(code);
    if (!rect || rect->isEmpty())
        return {};
    XImage* image = XGetImage(dpy(_display), _window, rect->x(), rect->y(),
                              static_cast<unsigned>(rect->width()),
                              static_cast<unsigned>(rect->height()), AllPlanes, ZPixmap);
    if (!image)
        return {};
    QImage out(rect->size(), QImage::Format_RGB32);
    for (int y = 0; y < rect->height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < rect->width(); ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            // 24-bit TrueColor, the visual of the test servers.
            line[x] = qRgb(int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff));
        }
    }
    XDestroyImage(image);
    return out;
}

bool TapPanelPixels::rememberUnlit(int code) {
    QImage image = grabKey(code);
    if (image.isNull())
        return false;
    _unlit[code] = std::move(image);
    return true;
}

bool TapPanelPixels::rememberUnlitOnceSettled(int code, int timeoutMs) {
    QImage previous;
    const bool settled = XSession::waitFor(
        [&] {
            const QImage now = grabKey(code);
            const bool same = !now.isNull() && !previous.isNull() &&
                              meanDifference(now, previous) == 0 && hasDetail(now);
            previous = now;
            return same;
        },
        timeoutMs);
    return settled && rememberUnlit(code);
}

double TapPanelPixels::meanDifference(const QImage& a, const QImage& b) {
    if (a.isNull() || a.size() != b.size())
        return 255.0;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* la = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* lb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            sum += std::abs(qRed(la[x]) - qRed(lb[x])) + std::abs(qGreen(la[x]) - qGreen(lb[x])) +
                   std::abs(qBlue(la[x]) - qBlue(lb[x]));
    }
    return sum / (3.0 * a.width() * a.height());
}

double TapPanelPixels::meanLuminance(const QImage& image) {
    if (image.isNull())
        return 0;
    double sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            sum += 0.299 * qRed(line[x]) + 0.587 * qGreen(line[x]) + 0.114 * qBlue(line[x]);
    }
    return sum / (image.width() * image.height());
}

double TapPanelPixels::differenceFromUnlit(int code) const {
    const auto it = _unlit.find(code);
    return it == _unlit.end() ? 255.0 : meanDifference(grabKey(code), it->second);
}

bool TapPanelPixels::isLit(int code) const {
    const auto it = _unlit.find(code);
    if (it == _unlit.end())
        return false;
    const QImage now = grabKey(code);
    return meanDifference(now, it->second) > kLitDifference &&
           meanLuminance(it->second) - meanLuminance(now) > kLitDarkening;
}

bool TapPanelPixels::isUnlit(int code) const {
    return differenceFromUnlit(code) < kUnlitDifference;
}

} // namespace orvix::test
