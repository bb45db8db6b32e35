#include "os/X11Window.h"

#include <QGuiApplication>
#include <QWindow>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <algorithm>
#include <qguiapplication_platform.h>
#include <vector>

namespace orvix::x11 {
namespace {
Display* display() {
    auto* native =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return native ? native->display() : nullptr;
}
} // namespace

std::string displayName() {
    Display* dpy = display();
    return dpy ? std::string(DisplayString(dpy)) : std::string();
}

bool isX11() {
    return display() != nullptr;
}

bool capsLockOn() {
    Display* dpy = display();
    if (!dpy)
        return false;
    XkbStateRec state{};
    if (XkbGetState(dpy, XkbUseCoreKbd, &state) != Success)
        return false;
    return (state.locked_mods & LockMask) != 0;
}

bool pointerButtonDown() {
    Display* dpy = display();
    if (!dpy)
        return false;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rootX, &rootY, &x, &y, &mask))
        return false;
    return (mask & (Button1Mask | Button2Mask | Button3Mask)) != 0;
}

void setNetWmStates(QWindow* window, std::initializer_list<const char*> states) {
    Display* dpy = display();
    if (!dpy || !window)
        return;
    const Window xid = static_cast<Window>(window->winId());
    const Atom netWmState = XInternAtom(dpy, "_NET_WM_STATE", False);
    if (!window->isVisible()) {
        // Before the map the manager reads the property itself; Qt keeps
        // atoms it does not manage when it writes its own.
        std::vector<Atom> atoms;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(dpy, xid, netWmState, 0, 64, False, XA_ATOM, &type, &format, &count,
                               &after, &data) == Success &&
            data) {
            const Atom* existing = reinterpret_cast<const Atom*>(data);
            atoms.assign(existing, existing + count);
            XFree(data);
        }
        for (const char* name : states) {
            const Atom atom = XInternAtom(dpy, name, False);
            if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end())
                atoms.push_back(atom);
        }
        XChangeProperty(dpy, xid, netWmState, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(atoms.data()),
                        static_cast<int>(atoms.size()));
    } else {
        for (const char* name : states) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = xid;
            event.xclient.message_type = netWmState;
            event.xclient.format = 32;
            event.xclient.data.l[0] = 1; // _NET_WM_STATE_ADD
            event.xclient.data.l[1] = static_cast<long>(XInternAtom(dpy, name, False));
            event.xclient.data.l[3] = 1; // source: a normal application
            XSendEvent(dpy, DefaultRootWindow(dpy), False,
                       SubstructureRedirectMask | SubstructureNotifyMask, &event);
        }
    }
    // Sticky also means "on every desktop" to managers that go by _NET_WM_DESKTOP.
    const unsigned long allDesktops = 0xFFFFFFFFUL;
    XChangeProperty(dpy, xid, XInternAtom(dpy, "_NET_WM_DESKTOP", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&allDesktops), 1);
    XFlush(dpy);
}

std::string windowManagerName() {
    Display* dpy = display();
    if (!dpy)
        return {};
    auto windowProperty = [dpy](Window window, const char* name) -> Window {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        Window found = None;
        if (XGetWindowProperty(dpy, window, XInternAtom(dpy, name, False), 0, 1, False, XA_WINDOW,
                               &type, &format, &count, &after, &data) == Success &&
            type == XA_WINDOW && format == 32 && count == 1)
            found = *reinterpret_cast<Window*>(data);
        if (data)
            XFree(data);
        return found;
    };
    const Window check = windowProperty(DefaultRootWindow(dpy), "_NET_SUPPORTING_WM_CHECK");
    // A manager that died leaves the property behind: its window must name
    // itself too.
    if (check == None || windowProperty(check, "_NET_SUPPORTING_WM_CHECK") != check)
        return {};
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(dpy, check, XInternAtom(dpy, "_NET_WM_NAME", False), 0, 256, False,
                           XInternAtom(dpy, "UTF8_STRING", False), &type, &format, &count, &after,
                           &data) == Success &&
        format == 8 && data)
        name.assign(reinterpret_cast<const char*>(data), count);
    if (data)
        XFree(data);
    return name;
}

} // namespace orvix::x11
