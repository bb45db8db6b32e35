#include "os/input/X11EventTap.h"

#include "os/Log.h"
#include "os/input/EventFlags.h"
#include "os/input/X11Backend.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace orvix::input {

namespace {

Display* asDisplay(void* display) {
    return static_cast<Display*>(display);
}

} // namespace

std::unique_ptr<X11EventTap> X11EventTap::create(const Options& options) {
    const char* name = options.displayName.empty() ? nullptr : options.displayName.c_str();
    Display* display = XOpenDisplay(name);
    if (!display) {
        Log::write("Cannot open X display %s for the event tap", name ? name : "(DISPLAY unset)");
        return nullptr;
    }
    int opcode = 0, event = 0, error = 0;
    int major = 2, minor = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success) {
        Log::write("X display %s has no XInput 2", DisplayString(display));
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<X11EventTap>(new X11EventTap(display, options, opcode));
}

X11EventTap::X11EventTap(void* display, const Options& options, int xiOpcode)
    : _display(display), _options(options), _xiOpcode(xiOpcode) {
    Display* dpy = asDisplay(_display);
    if (pipe2(_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        _wakePipe[0] = _wakePipe[1] = -1;

    int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    XkbQueryExtension(dpy, &opcode, &_xkbEventBase, &error, &major, &minor);
    const unsigned long mapEvents = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(dpy, XkbUseCoreKbd, mapEvents, mapEvents);
    _xtestKeyboard = X11Backend::findXTestKeyboard(dpy);
    reloadKeymap();

    XkbStateRec state{};
    if (XkbGetState(dpy, XkbUseCoreKbd, &state) == Success)
        _capsLocked = state.locked_mods & LockMask;

    // Raw events of every keyboard, whoever has the focus or a grab.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(dpy, DefaultRootWindow(dpy), &mask, 1);
    XSync(dpy, False);

    if (_options.ledger)
        _options.ledger->setEnabled(true);
}

X11EventTap::~X11EventTap() {
    if (_options.ledger)
        _options.ledger->setEnabled(false);
    XCloseDisplay(asDisplay(_display));
    for (int fd : _wakePipe)
        if (fd >= 0)
            close(fd);
}

void X11EventTap::reloadKeymap() {
    _map.load(asDisplay(_display), XkbUseCoreKbd);
}

void X11EventTap::stop() {
    _stop.store(true, std::memory_order_release);
    if (_wakePipe[1] >= 0) {
        const char byte = 1;
        ssize_t ignored = write(_wakePipe[1], &byte, 1);
        (void)ignored;
    }
}

void X11EventTap::setEnabled(bool enabled) {
    _enabled.store(enabled, std::memory_order_release);
}

uint64_t X11EventTap::heldFlags() const {
    unsigned mask = 0;
    for (int keycode = 8; keycode < 256; ++keycode)
        if (_realDown[keycode])
            mask |= _map.modifiersOfKeycode(keycode);
    mask &= ~static_cast<unsigned>(LockMask);
    if (_capsLocked)
        mask |= LockMask;
    return _map.flagsForMask(mask);
}

void X11EventTap::run() {
    Display* dpy = asDisplay(_display);
    // A Caps Lock already on when the tap starts is reported once, as the
    // change it was, so the panel shows it and clicked keys carry it.
    if (_capsLocked && isEnabled()) {
        InputEvent initial;
        initial.type = EventType::FlagsChanged;
        initial.keycode = keycode::CapsLock;
        initial.flags = heldFlags();
        deliver(initial);
    }
    struct pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {_wakePipe[0], POLLIN, 0}};
    while (!_stop.load(std::memory_order_acquire)) {
        while (XPending(dpy) > 0) {
            XEvent event;
            XNextEvent(dpy, &event);
            if (event.type == _xkbEventBase) {
                const auto* any = reinterpret_cast<const XkbAnyEvent*>(&event);
                if (any->xkb_type == XkbNewKeyboardNotify || any->xkb_type == XkbMapNotify)
                    reloadKeymap();
                continue;
            }
            if (event.type == MappingNotify) {
                reloadKeymap();
                continue;
            }
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != _xiOpcode ||
                !XGetEventData(dpy, cookie))
                continue;
            if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
                const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
                handleKey(raw->detail, cookie->evtype == XI_RawKeyPress, raw->sourceid);
            }
            XFreeEventData(dpy, cookie);
        }
        if (_stop.load(std::memory_order_acquire))
            break;
        if (poll(fds, _wakePipe[0] >= 0 ? 2 : 1, -1) < 0 && errno != EINTR)
            break;
        char drain[16];
        while (_wakePipe[0] >= 0 && read(_wakePipe[0], drain, sizeof drain) > 0) {
        }
    }
}

void X11EventTap::handleKey(int keycode, bool down, int sourceId) {
    if (keycode < 8 || keycode > 255)
        return;
    // Our own events are recognised even while the tap is disabled, so their
    // counts never linger to mark a real event later.
    const bool ours =
        sourceId == _xtestKeyboard && _options.ledger && _options.ledger->consume(keycode, down);
    const unsigned modifiers = _map.modifiersOfKeycode(keycode) & _map.managedMask();

    bool repeat = false;
    if (!ours) {
        // Some clients send a release for a key that is already up; there is
        // nothing to report for it.
        if (!down && !_realDown[keycode])
            return;
        repeat = down && _realDown[keycode];
        _realDown[keycode] = down ? 1 : 0;
        if (down && !repeat && (modifiers & LockMask))
            _capsLocked = !_capsLocked;
    }
    if (!isEnabled())
        return;
    const int virtualCode = _map.virtualCodeFor(keycode);
    if (virtualCode < 0)
        return; // a key no virtual key code names

    InputEvent event;
    event.keycode = virtualCode;
    event.userData = ours ? kMarkerValue : 0;
    event.flags = heldFlags();
    if (modifiers != 0) {
        if (repeat)
            return; // a held modifier changes nothing
        event.type = EventType::FlagsChanged;
    } else {
        event.type = down ? EventType::KeyDown : EventType::KeyUp;
        event.autorepeat = repeat ? 1 : 0;
    }
    deliver(event);
}

void X11EventTap::deliver(InputEvent& event) {
    if (!_options.callback)
        return;
    const auto start = std::chrono::steady_clock::now();
    _options.callback(_options.userInfo, *this, event);
    if (std::chrono::steady_clock::now() - start > _options.timeLimit) {
        setEnabled(false);
        InputEvent timeout;
        timeout.type = EventType::TapDisabledByTimeout;
        _options.callback(_options.userInfo, *this, timeout);
    }
}

} // namespace orvix::input
