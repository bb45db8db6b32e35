#include "os/X11ClickWatch.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <initializer_list>
#include <poll.h>

namespace orvix::x11 {

struct ClickWatch::Private {
    Display* display = nullptr;
    int opcode = 0;
    // The raw button of each device's last raw press, indexed by device id:
    // raw events name buttons before the button map, ordinary ones after it.
    int lastRawPress[256] = {};
    // The click in progress: its device and raw button.
    bool down = false;
    int downDevice = 0;
    int downRawButton = 0;
};

namespace {

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
    std::unique_ptr<ClickWatch> watch(new ClickWatch(std::move(d)));
    watch->watch(window);
    return watch;
}

ClickWatch::ClickWatch(std::unique_ptr<Private> p) : d(std::move(p)) {}

ClickWatch::~ClickWatch() {
    XCloseDisplay(d->display);
}

void ClickWatch::watch(unsigned long window) {
    select(d->display, window, {XI_ButtonPress});
    // The selection is in force before the caller relies on it.
    XSync(d->display, False);
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
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != d->opcode ||
            !XGetEventData(d->display, cookie))
            continue;
        bool found = false;
        switch (cookie->evtype) {
        case XI_RawButtonPress: {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            if (raw->sourceid >= 0 && raw->sourceid < 256)
                d->lastRawPress[raw->sourceid] = raw->detail;
            break;
        }
        case XI_ButtonPress: {
            const auto* press = static_cast<const XIDeviceEvent*>(cookie->data);
            // Only the left button clicks keys; a wheel notch is a press too.
            if (press->detail != 1)
                break;
            const int source = press->sourceid >= 0 && press->sourceid < 256 ? press->sourceid : 0;
            const bool emulated = press->flags & XIPointerEmulated;
            d->down = !emulated;
            d->downDevice = source;
            d->downRawButton = d->lastRawPress[source] ? d->lastRawPress[source] : press->detail;
            out = {Event::Press, static_cast<uint32_t>(press->time), press->event_x, press->event_y,
                   !emulated};
            found = true;
            break;
        }
        case XI_RawButtonRelease: {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            if (d->down && raw->sourceid == d->downDevice && raw->detail == d->downRawButton) {
                d->down = false;
                out = {Event::Release, static_cast<uint32_t>(raw->time), 0, 0, true};
                found = true;
            }
            break;
        }
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
