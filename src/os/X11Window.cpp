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
// A property's items, as Xlib hands them (longs for format 32, bytes for
// format 8); empty when the property is missing or of another type.
template <typename T>
std::vector<T> property(Display* dpy, Window window, Atom name, Atom type, long length) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<T> items;
    if (XGetWindowProperty(dpy, window, name, 0, length, False, type, &actualType, &format, &count,
                           &after, &data) == Success &&
        data && actualType == type) {
        const T* first = reinterpret_cast<const T*>(data);
        items.assign(first, first + count);
    }
    if (data)
        XFree(data);
    return items;
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
        std::vector<Atom> atoms = property<Atom>(dpy, xid, netWmState, XA_ATOM, 64);
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
    const Atom checkAtom = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False);
    const auto checkOf = [&](Window window) {
        const auto found = property<Window>(dpy, window, checkAtom, XA_WINDOW, 1);
        return found.size() == 1 ? found[0] : Window(None);
    };
    const Window check = checkOf(DefaultRootWindow(dpy));
    // A manager that died leaves the property behind: its window must name
    // itself too.
    if (check == None || checkOf(check) != check)
        return {};
    const auto name = property<char>(dpy, check, XInternAtom(dpy, "_NET_WM_NAME", False),
                                     XInternAtom(dpy, "UTF8_STRING", False), 256);
    return {name.begin(), name.end()};
}

} // namespace orvix::x11
