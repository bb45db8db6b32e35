/* xrecorder: a small X client for end-to-end tests. It maps a window, takes
 * the keyboard focus and prints one line per event it receives, flushing
 * each line:
 *
 *   ready <window id>
 *   press <keycode> <keysym name> 0x<state>
 *   release <keycode> <keysym name> 0x<state>
 *   focus-in / focus-out
 *
 * The keysym is looked up with the event's own modifier state, so Shift+a
 * prints "A". Runs until killed or until its window is destroyed.
 * Options: --no-focus (do not take the focus), --title TEXT.
 */
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static void printKey(Display* display, const XKeyEvent* event, const char* kind) {
    KeySym sym = NoSymbol;
    unsigned int consumed = 0;
    XkbLookupKeySym(display, (KeyCode)event->keycode, event->state, &consumed, &sym);
    const char* name = sym != NoSymbol ? XKeysymToString(sym) : NULL;
    printf("%s %u %s 0x%x\n", kind, event->keycode, name ? name : "NoSymbol", event->state);
    fflush(stdout);
}

int main(int argc, char** argv) {
    int takeFocus = 1;
    const char* title = "xrecorder";
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--no-focus") == 0)
            takeFocus = 0;
        else if (strcmp(argv[i], "--title") == 0 && i + 1 < argc)
            title = argv[++i];
        else {
            fprintf(stderr, "usage: xrecorder [--no-focus] [--title TEXT]\n");
            return 2;
        }
    }
    signal(SIGPIPE, SIG_DFL);

    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "xrecorder: cannot open display\n");
        return 1;
    }
    int screen = DefaultScreen(display);
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 400, 200, 0,
                                        BlackPixel(display, screen), WhitePixel(display, screen));
    XStoreName(display, window, title);
    XWMHints hints;
    hints.flags = InputHint;
    hints.input = True;
    XSetWMHints(display, window, &hints);
    XSelectInput(display, window,
                 KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask |
                     ExposureMask);
    XMapRaised(display, window);

    XEvent event;
    do
        XNextEvent(display, &event);
    while (event.type != MapNotify);

    if (takeFocus) {
        /* The window manager may not have set the focus yet; ask until it holds. */
        for (int attempt = 0; attempt < 100; ++attempt) {
            XSetInputFocus(display, window, RevertToParent, CurrentTime);
            XSync(display, False);
            Window focus = None;
            int revert = 0;
            XGetInputFocus(display, &focus, &revert);
            if (focus == window)
                break;
            struct timespec pause = {0, 20 * 1000 * 1000};
            nanosleep(&pause, NULL);
        }
    }
    printf("ready %lu\n", (unsigned long)window);
    fflush(stdout);

    for (;;) {
        XNextEvent(display, &event);
        switch (event.type) {
        case KeyPress:
            printKey(display, &event.xkey, "press");
            break;
        case KeyRelease:
            printKey(display, &event.xkey, "release");
            break;
        case FocusIn:
            if (event.xfocus.detail != NotifyPointer) {
                printf("focus-in\n");
                fflush(stdout);
            }
            break;
        case FocusOut:
            if (event.xfocus.detail != NotifyPointer) {
                printf("focus-out\n");
                fflush(stdout);
            }
            break;
        case DestroyNotify:
            XCloseDisplay(display);
            return 0;
        default:
            break;
        }
    }
}
