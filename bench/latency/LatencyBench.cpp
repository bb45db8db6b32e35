// Click-to-key latency of an on-screen keyboard in a running X session.
//
// This program is the recording client: it maps a small window, takes the
// keyboard focus, then clicks the keyboard's A key with XTest again and again
// and times each click from the button event that types (press or release,
// whichever the keyboard types on) to the arrival of the KeyPress in its own
// window. Both ends are read on one monotonic clock in one process.
//
//   bench_latency --keyboard orvix|xvkbd|onboard|matchbox-keyboard|reference-press|
//                            reference-release --window <id>
//                 [--clicks N] [--gap-ms M] [--samples FILE]
//
// Orvix's A key comes from its own layout and xvkbd's from its key windows;
// the reference keyboard (bench_reference_keyboard) types A anywhere.
// Onboard and matchbox-keyboard draw every key into one window, so their A
// key is found by clicking along the home row from its middle leftwards until
// a click types A: every click on the way types a home-row letter (or
// nothing, between keys), and the scan stops at A, before Caps Lock or Shift.
//
// Prints one line: keyboard, typing button event, clicks, lost, and the
// median, 99th percentile, minimum and maximum in milliseconds.
#include "app/MyPanel.h"
#include "render/KeyboardLayout.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace {

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void sleepMs(int ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

struct Point {
    int x = 0, y = 0;
};

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

Rect rootGeometry(Display* display, Window window) {
    Window root = 0, child = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(display, window, &root, &x, &y, &width, &height, &border, &depth);
    XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child);
    return {x, y, static_cast<int>(width), static_cast<int>(height)};
}

std::vector<Window> children(Display* display, Window window) {
    Window root = 0, parent = 0, *list = nullptr;
    unsigned count = 0;
    std::vector<Window> out;
    if (XQueryTree(display, window, &root, &parent, &list, &count) && list) {
        out.assign(list, list + count);
        XFree(list);
    }
    return out;
}

// The panel: the layout scaled into the window below its title strip.
std::optional<Point> orvixKeyA(Display* display, Window panel) {
    const Rect g = rootGeometry(display, panel);
    const QSizeF layout = orvix::keyboardLayoutSize();
    const int strip = orvix::MyPanel::titleBarHeight();
    for (const orvix::KeyPlacement& key : orvix::keyboardLayout()) {
        if (key.code != 0)
            continue;
        const QPointF c = key.frame.center();
        return Point{
            g.x + static_cast<int>(std::lround(c.x() * g.width / layout.width())),
            g.y + strip +
                static_cast<int>(std::lround(c.y() * (g.height - strip) / layout.height()))};
    }
    return std::nullopt;
}

Point centreOf(Display* display, Window window) {
    const Rect g = rootGeometry(display, window);
    return {g.x + g.width / 2, g.y + g.height / 2};
}

// xvkbd's keys are widgets with windows of their own, one window per row.
// The rows are the siblings with a dozen or more children each (the keypad's
// rows have fewer); A is the second key of the third row from the bottom, in
// the full layout (function keys on top) and in the compact one alike.
std::optional<Point> xvkbdKeyA(Display* display, Window top) {
    std::vector<Window> queue{top};
    while (!queue.empty()) {
        const Window w = queue.back();
        queue.pop_back();
        std::vector<std::pair<Rect, Window>> rows;
        for (Window c : children(display, w))
            if (children(display, c).size() >= 12)
                rows.push_back({rootGeometry(display, c), c});
        if (rows.size() >= 5) {
            std::sort(rows.begin(), rows.end(),
                      [](const auto& a, const auto& b) { return a.first.y < b.first.y; });
            std::vector<Rect> keys;
            for (Window k : children(display, rows[rows.size() - 3].second))
                keys.push_back(rootGeometry(display, k));
            std::sort(keys.begin(), keys.end(),
                      [](const Rect& a, const Rect& b) { return a.x < b.x; });
            return Point{keys[1].x + keys[1].width / 2, keys[1].y + keys[1].height / 2};
        }
        for (Window c : children(display, w))
            queue.push_back(c);
    }
    return std::nullopt;
}

class Recorder {
public:
    explicit Recorder(Display* display) : _display(display) {
        const int screen = DefaultScreen(display);
        // The bottom-right corner, where none of the keyboards opens: it must
        // never cover the key that is clicked.
        const int width = 200, height = 100;
        const int x = DisplayWidth(display, screen) - width;
        const int y = DisplayHeight(display, screen) - height;
        _window = XCreateSimpleWindow(display, RootWindow(display, screen), x, y, width, height, 0,
                                      BlackPixel(display, screen), WhitePixel(display, screen));
        XStoreName(display, _window, "latency recorder");
        XSizeHints size{};
        size.flags = USPosition | PPosition;
        size.x = x;
        size.y = y;
        XSetWMNormalHints(display, _window, &size);
        XWMHints hints{};
        hints.flags = InputHint;
        hints.input = True;
        XSetWMHints(display, _window, &hints);
        XSelectInput(display, _window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapRaised(display, _window);
        XEvent event;
        do
            XNextEvent(display, &event);
        while (event.type != MapNotify);
    }

    bool takeFocus() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            XSetInputFocus(_display, _window, RevertToParent, CurrentTime);
            XSync(_display, False);
            Window focus = None;
            int revert = 0;
            XGetInputFocus(_display, &focus, &revert);
            if (focus == _window)
                return true;
            sleepMs(20);
        }
        return false;
    }

    // Waits for a key event of `type` (of `keycode` when not 0); answers its
    // arrival time and keycode. Other keys on the way (a peer may press and
    // release a modifier before the key) are passed over.
    std::optional<std::pair<double, unsigned>> waitKey(int type, int timeoutMs,
                                                       unsigned keycode = 0) {
        const double deadline = nowMs() + timeoutMs;
        for (;;) {
            while (XPending(_display) > 0) {
                XEvent event;
                XNextEvent(_display, &event);
                if (event.type == type && (!keycode || event.xkey.keycode == keycode))
                    return std::pair{nowMs(), event.xkey.keycode};
            }
            const double left = deadline - nowMs();
            if (left <= 0)
                return std::nullopt;
            pollfd fd{ConnectionNumber(_display), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(std::ceil(left)));
        }
    }

    void drain() {
        while (XPending(_display) > 0) {
            XEvent event;
            XNextEvent(_display, &event);
        }
    }

private:
    Display* _display;
    Window _window;
};

void button(Display* display, bool down) {
    XTestFakeButtonEvent(display, 1, down ? True : False, CurrentTime);
    XFlush(display);
}

// One click at `at`: the keycode it typed (on the press or the release), if any.
std::optional<unsigned> probeClick(Display* display, Recorder& recorder, Point at, int gapMs) {
    XTestFakeMotionEvent(display, -1, at.x, at.y, CurrentTime);
    XSync(display, False);
    sleepMs(20);
    recorder.drain();
    button(display, true);
    auto typed = recorder.waitKey(KeyPress, 300);
    button(display, false);
    if (!typed)
        typed = recorder.waitKey(KeyPress, 500);
    if (typed)
        recorder.waitKey(KeyRelease, 1000, typed->second);
    sleepMs(gapMs);
    return typed ? std::optional<unsigned>(typed->second) : std::nullopt;
}

bool isHomeRowLetter(KeySym sym) {
    return sym == XK_a || sym == XK_s || sym == XK_d || sym == XK_f || sym == XK_g || sym == XK_h ||
           sym == XK_j || sym == XK_k || sym == XK_l;
}

// Keyboards that draw all their keys into one window: their home row lies at
// `rowY` of the window's height, and `startX` of its width falls on one of
// its letters right of A (both read off screenshots of the default layouts
// with ample margin). Clicks move leftwards in steps well below a key's width
// until one types A; a click that types anything but a home-row letter ends
// the search, so nothing beyond A (Caps Lock, Shift) is ever pressed.
std::optional<Point> scanForKeyA(Display* display, Recorder& recorder, Window window, double startX,
                                 double rowY, int gapMs) {
    const Rect g = rootGeometry(display, window);
    const unsigned keycodeA = XKeysymToKeycode(display, XK_a);
    const int step = std::max(3, g.width / 100);
    const int y = g.y + static_cast<int>(std::lround(rowY * g.height));
    for (int x = g.x + static_cast<int>(std::lround(startX * g.width)); x > g.x; x -= step) {
        const auto typed = probeClick(display, recorder, {x, y}, gapMs);
        if (!typed)
            continue; // between two keys
        if (*typed == keycodeA)
            return Point{x, y};
        const KeySym sym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(*typed), 0, 0);
        if (!isHomeRowLetter(sym)) {
            const char* name = XKeysymToString(sym);
            std::fprintf(stderr,
                         "bench_latency: a click at %d,%d typed %s, not a home-row letter\n", x, y,
                         name ? name : "an unknown key");
            return std::nullopt;
        }
    }
    return std::nullopt;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

int usage() {
    std::fprintf(stderr, "usage: bench_latency --keyboard orvix|xvkbd|onboard|matchbox-keyboard|"
                         "reference-press|reference-release --window ID [--clicks N] [--gap-ms M] "
                         "[--samples FILE]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string samplesPath; // every click's latency in order, one per line
    std::string keyboard;
    Window target = 0;
    int clicks = 300, gapMs = 40;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--keyboard")
            keyboard = argv[i + 1];
        else if (option == "--window")
            target = std::strtoul(argv[i + 1], nullptr, 0);
        else if (option == "--clicks")
            clicks = std::atoi(argv[i + 1]);
        else if (option == "--samples")
            samplesPath = argv[i + 1];
        else if (option == "--gap-ms")
            gapMs = std::atoi(argv[i + 1]);
        else
            return usage();
    }
    const bool reference = keyboard == "reference-press" || keyboard == "reference-release";
    const bool known = keyboard == "orvix" || keyboard == "xvkbd" || keyboard == "onboard" ||
                       keyboard == "matchbox-keyboard" || reference;
    if (!known || !target || clicks < 1)
        return usage();

    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_latency: cannot open display\n");
        return 1;
    }
    // Windows of the other program may come and go while its tree is read.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    Recorder recorder(display);
    if (!recorder.takeFocus()) {
        std::fprintf(stderr, "bench_latency: cannot take the focus\n");
        return 1;
    }
    std::optional<Point> key;
    if (keyboard == "orvix")
        key = orvixKeyA(display, target);
    else if (reference)
        key = centreOf(display, target);
    else if (keyboard == "xvkbd")
        key = xvkbdKeyA(display, target);
    else if (keyboard == "onboard") // A at about 0.15 of the width, G at 0.4
        key = scanForKeyA(display, recorder, target, 0.40, 0.50, gapMs);
    else // matchbox-keyboard: A at about 0.09, G at 0.44
        key = scanForKeyA(display, recorder, target, 0.44, 0.50, gapMs);
    if (!key) {
        std::fprintf(stderr, "bench_latency: cannot find the A key of %s\n", keyboard.c_str());
        return 1;
    }
    const unsigned keycodeA = XKeysymToKeycode(display, XK_a);
    XTestFakeMotionEvent(display, -1, key->x, key->y, CurrentTime);
    XSync(display, False);
    sleepMs(200);
    recorder.drain();

    // One click to learn which button event types, and that it types A.
    button(display, true);
    auto typed = recorder.waitKey(KeyPress, 300, keycodeA);
    const bool typesOnPress = typed.has_value();
    button(display, false);
    if (!typed)
        typed = recorder.waitKey(KeyPress, 1000, keycodeA);
    if (!typed || typed->second != keycodeA) {
        std::fprintf(stderr, "bench_latency: a click at %d,%d did not type A\n", key->x, key->y);
        return 1;
    }
    recorder.waitKey(KeyRelease, 1000, keycodeA);
    sleepMs(gapMs);

    std::vector<double> latencies;
    int lost = 0;
    for (int i = 0; i < clicks; ++i) {
        recorder.drain();
        double start = 0;
        std::optional<std::pair<double, unsigned>> arrived;
        if (typesOnPress) {
            start = nowMs();
            button(display, true);
            arrived = recorder.waitKey(KeyPress, 1000, keycodeA);
            sleepMs(5);
            button(display, false);
        } else {
            button(display, true);
            sleepMs(5);
            recorder.drain();
            start = nowMs();
            button(display, false);
            arrived = recorder.waitKey(KeyPress, 1000, keycodeA);
        }
        if (arrived && arrived->second == keycodeA)
            latencies.push_back(arrived->first - start);
        else
            ++lost;
        recorder.waitKey(KeyRelease, 1000, keycodeA);
        sleepMs(gapMs);
    }
    if (latencies.empty()) {
        std::fprintf(stderr, "bench_latency: no click typed\n");
        return 1;
    }
    if (!samplesPath.empty()) {
        if (FILE* out = std::fopen(samplesPath.c_str(), "w")) {
            for (double ms : latencies)
                std::fprintf(out, "%.3f\n", ms);
            std::fclose(out);
        }
    }
    std::printf("%-17s %-8s %6d %5d %9.3f %9.3f %9.3f %9.3f\n", keyboard.c_str(),
                typesOnPress ? "press" : "release", clicks, lost, percentile(latencies, 0.5),
                percentile(latencies, 0.99), percentile(latencies, 0.0),
                percentile(latencies, 1.0));
    XCloseDisplay(display);
    return lost == 0 ? 0 : 3;
}
