// The floor for click-to-key under X11: the least an on-screen keyboard can
// do. One thread, one Xlib connection, one window that never takes the focus
// and types A through XTest when a button event reaches it, on the press or
// on the release. Measured beside the real keyboards, it shows what the X
// server and the window manager cost each way, apart from any toolkit.
//
//   bench_reference_keyboard --types-on press|release
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "--types-on") != 0 ||
        (std::strcmp(argv[2], "press") != 0 && std::strcmp(argv[2], "release") != 0)) {
        std::fprintf(stderr, "usage: bench_reference_keyboard --types-on press|release\n");
        return 2;
    }
    const bool onPress = std::strcmp(argv[2], "press") == 0;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_reference_keyboard: cannot open display\n");
        return 1;
    }
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 100, 100, 600,
                                              200, 0, 0, WhitePixel(display, 0));
    XSelectInput(display, window, ButtonPressMask | ButtonReleaseMask | ExposureMask);
    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = False; // as a keyboard: the focus stays with the typing target
    XSetWMHints(display, window, &hints);
    XStoreName(display, window, "reference keyboard");
    XMapWindow(display, window);
    const KeyCode a = XKeysymToKeycode(display, XK_a);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == Expose) {
            // Something on screen: the benchmark waits for a painted window.
            XFillRectangle(display, window, DefaultGC(display, 0), 20, 20, 560, 160);
            continue;
        }
        if (event.type == ButtonPress && onPress) {
            XTestFakeKeyEvent(display, a, True, CurrentTime);
        } else if (event.type == ButtonRelease) {
            if (!onPress)
                XTestFakeKeyEvent(display, a, True, CurrentTime);
            XTestFakeKeyEvent(display, a, False, CurrentTime);
        }
        XFlush(display);
    }
}
