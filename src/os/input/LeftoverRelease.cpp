#include "os/input/LeftoverRelease.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace orvix::input {

void releaseLeftovers(Display* display, const InputStateFile::Record& record) {
    for (int keycode : record.keycodes)
        XTestFakeKeyEvent(display, static_cast<unsigned>(keycode), False, CurrentTime);
    // A key being clicked is not in the record (no key content is kept): it
    // is among the keys the server reports down.
    char keys[32];
    XQueryKeymap(display, keys);
    for (int keycode = 8; keycode < 256; ++keycode)
        if (keys[keycode / 8] & (1 << (keycode % 8)))
            XTestFakeKeyEvent(display, static_cast<unsigned>(keycode), False, CurrentTime);
    if (record.lockRestore >= 0)
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, record.lockRestore == 1 ? LockMask : 0);
    if (const unsigned locks = record.locks & ~static_cast<unsigned>(LockMask))
        XkbLockModifiers(display, XkbUseCoreKbd, locks, 0);
    XFlush(display);
}

} // namespace orvix::input
