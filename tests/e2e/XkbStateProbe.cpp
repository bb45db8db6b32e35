// Prints the X server's keyboard state on one line, for end-to-end tests that
// must prove nothing was left down or locked in the session:
//
//   mods=0x<effective> base=0x<base> latched=0x<latched> locked=0x<locked> keys=<k1>,<k2>
//
// "keys" lists the keycodes the server reports down (XQueryKeymap), empty
// when none. With --lock-caps or --unlock-caps it first sets Caps Lock.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    int setLock = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lock-caps") == 0) {
            setLock = 1;
        } else if (std::strcmp(argv[i], "--unlock-caps") == 0) {
            setLock = 0;
        } else {
            std::fprintf(stderr, "usage: orvix_xkbstate [--lock-caps|--unlock-caps]\n");
            return 2;
        }
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "orvix_xkbstate: cannot open display\n");
        return 1;
    }
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &event, &error, &major, &minor)) {
        std::fprintf(stderr, "orvix_xkbstate: no XKEYBOARD extension\n");
        return 1;
    }
    if (setLock >= 0) {
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, setLock ? LockMask : 0);
        XSync(display, False);
    }
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) {
        std::fprintf(stderr, "orvix_xkbstate: XkbGetState failed\n");
        return 1;
    }
    char keys[32];
    XQueryKeymap(display, keys);
    std::printf("mods=0x%x base=0x%x latched=0x%x locked=0x%x keys=", state.mods, state.base_mods,
                state.latched_mods, state.locked_mods);
    bool first = true;
    for (int keycode = 8; keycode < 256; ++keycode) {
        if (keys[keycode / 8] & (1 << (keycode % 8))) {
            std::printf(first ? "%d" : ",%d", keycode);
            first = false;
        }
    }
    std::printf("\n");
    XCloseDisplay(display);
    return 0;
}
