#include "os/X11ClickWatch.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <initializer_list>
#include <optional>
#include <poll.h>

namespace orvix::x11 {

namespace {

// Modifiers that make a click something else: window managers bind them.
// Caps Lock and Num Lock (Mod2) change nothing about a click.
constexpr unsigned kClickModifiers =
    ShiftMask | ControlMask | Mod1Mask | Mod3Mask | Mod4Mask | Mod5Mask;

void select(Display* display, Window window, std::initializer_list<int> events) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    for (int event : events)
        XISetMask(bits, event);
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(display, window, &mask, 1);
}

} // namespace

struct ClickWatch::Private {
    Display* display = nullptr;
    int opcode = 0;
    int xkbEvent = -1;
    // Logical button of each raw (device) button.
    unsigned char buttonMap[256] = {};
    // What is known of the pointer: over the window, where on the screen (as
    // of the last button event), and the modifiers held.
    bool inside = false;
    bool positionKnown = false;
    double x = 0, y = 0;
    unsigned heldModifiers = 0;
    // The time of the release that ended the window's click, while it is the
    // last button event read.
    std::optional<uint32_t> lastRelease;
    // The click in progress on the window: its device and raw button.
    bool down = false;
    int downDevice = 0;
    int downRawButton = 0;

    void readButtonMap() {
        for (int i = 0; i < 256; ++i)
            buttonMap[i] = static_cast<unsigned char>(i);
        unsigned char map[256];
        const int count = XGetPointerMapping(display, map, 256);
        for (int i = 0; i < count && i < 255; ++i)
            buttonMap[i + 1] = map[i];
    }

    // Whether the press `raw` reports surely goes to the window.
    bool onWindow(const XIRawEvent* raw) const {
        return inside && positionKnown && !(heldModifiers & kClickModifiers) &&
               buttonMap[raw->detail & 0xff] == 1;
    }

    void pointerSeen(double rootX, double rootY, unsigned modifiers) {
        inside = true;
        positionKnown = true;
        x = rootX;
        y = rootY;
        heldModifiers = modifiers;
    }
};

std::unique_ptr<ClickWatch> ClickWatch::open(const std::string& displayName, unsigned long window) {
    Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!display)
        return nullptr;
    auto d = std::make_unique<Private>();
    d->display = display;
    int event = 0, error = 0, major = 2, minor = 2;
    // Raw events reach every client on the root window since 2.1.
    if (!XQueryExtension(display, "XInputExtension", &d->opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 2)) {
        XCloseDisplay(display);
        return nullptr;
    }
    select(display, DefaultRootWindow(display), {XI_RawButtonPress, XI_RawButtonRelease});
    d->readButtonMap();
    // Modifier keys pressed or released without a pointer event between.
    int xkbOpcode = 0, xkbError = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (XkbQueryExtension(display, &xkbOpcode, &d->xkbEvent, &xkbError, &xkbMajor, &xkbMinor)) {
        XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbModifierStateMask,
                              XkbModifierStateMask);
        XkbStateRec state{};
        if (XkbGetState(display, XkbUseCoreKbd, &state) == Success)
            d->heldModifiers = state.base_mods | state.latched_mods;
    }
    std::unique_ptr<ClickWatch> watch(new ClickWatch(std::move(d)));
    watch->watch(window);
    return watch;
}

ClickWatch::ClickWatch(std::unique_ptr<Private> p) : d(std::move(p)) {}

ClickWatch::~ClickWatch() {
    XCloseDisplay(d->display);
}

void ClickWatch::watch(unsigned long window) {
    d->inside = false;
    d->positionKnown = false;
    select(d->display, window, {XI_Motion, XI_Enter, XI_Leave});
    // The selection is in force before the caller relies on it.
    XSync(d->display, False);
}

void ClickWatch::pointerAt(double x, double y, uint32_t releaseTime) {
    // A move read since that release is newer than what the caller learnt.
    if (d->lastRelease != releaseTime || !d->inside || d->positionKnown)
        return;
    d->positionKnown = true;
    d->x = x;
    d->y = y;
}

int ClickWatch::descriptor() const {
    return ConnectionNumber(d->display);
}

bool ClickWatch::wait(int ms) const {
    if (XPending(d->display) > 0)
        return true;
    pollfd fd{ConnectionNumber(d->display), POLLIN, 0};
    return poll(&fd, 1, ms) > 0;
}

bool ClickWatch::next(Event& out) {
    while (XPending(d->display) > 0) {
        XEvent event;
        XNextEvent(d->display, &event);
        if (event.type == d->xkbEvent) {
            const auto* xkb = reinterpret_cast<const XkbStateNotifyEvent*>(&event);
            if (xkb->xkb_type == XkbStateNotify)
                d->heldModifiers = xkb->base_mods | xkb->latched_mods;
            continue;
        }
        if (event.type == MappingNotify) {
            if (event.xmapping.request == MappingPointer)
                d->readButtonMap();
            continue;
        }
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != d->opcode ||
            !XGetEventData(d->display, cookie))
            continue;
        bool found = false;
        switch (cookie->evtype) {
        case XI_RawButtonPress: {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            if (raw->sourceid < 0 || raw->sourceid >= 256)
                break;
            d->lastRelease.reset();
            if (d->buttonMap[raw->detail & 0xff] == 1) {
                out = {Event::Press, static_cast<uint32_t>(raw->time), false, 0, 0};
                if (!d->down && d->onWindow(raw)) {
                    out.onWindow = true;
                    out.x = d->x;
                    out.y = d->y;
                    d->down = true;
                    d->downDevice = raw->sourceid;
                    d->downRawButton = raw->detail;
                }
                found = true;
            }
            // While a button is down the pointer's moves go to the grab.
            d->positionKnown = false;
            break;
        }
        case XI_RawButtonRelease: {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            d->lastRelease.reset();
            d->positionKnown = false;
            if (d->down && raw->sourceid == d->downDevice && raw->detail == d->downRawButton) {
                d->down = false;
                d->lastRelease = static_cast<uint32_t>(raw->time);
                out = {Event::Release, static_cast<uint32_t>(raw->time), false, 0, 0};
                found = true;
            }
            break;
        }
        case XI_Motion: {
            // Reported here only while no other client holds the pointer.
            const auto* seen = static_cast<const XIDeviceEvent*>(cookie->data);
            d->pointerSeen(seen->root_x, seen->root_y,
                           static_cast<unsigned>(seen->mods.base | seen->mods.latched));
            break;
        }
        case XI_Enter: {
            const auto* seen = static_cast<const XIEnterEvent*>(cookie->data);
            d->pointerSeen(seen->root_x, seen->root_y,
                           static_cast<unsigned>(seen->mods.base | seen->mods.latched));
            break;
        }
        case XI_Leave:
            // Also when a grab takes the pointer: then nothing is known until it returns.
            d->inside = false;
            d->positionKnown = false;
            break;
        default:
            break;
        }
        XFreeEventData(d->display, cookie);
        if (found)
            return true;
    }
    return false;
}

} // namespace orvix::x11
