#include "os/DesktopSession.h"

#include "os/Log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace orvix {

namespace {

bool isSet(const char* value) {
    return value && *value;
}

} // namespace

DesktopSession DesktopSession::detect(const std::function<const char*(const char*)>& getenv) {
    DesktopSession session;
    session.hasXDisplay = isSet(getenv("DISPLAY"));
    const char* type = getenv("XDG_SESSION_TYPE");
    // A Wayland socket is the surer sign: XDG_SESSION_TYPE is inherited by
    // programs that start an X server of their own (a nested one, Xvfb).
    if (isSet(getenv("WAYLAND_DISPLAY")))
        session.kind = Kind::Wayland;
    else if (isSet(type) && strcasecmp(type, "wayland") == 0)
        session.kind = session.hasXDisplay ? Kind::X11 : Kind::Wayland;
    else if (session.hasXDisplay || (isSet(type) && strcasecmp(type, "x11") == 0))
        session.kind = Kind::X11;
    return session;
}

DesktopSession DesktopSession::current() {
    return detect([](const char* name) { return static_cast<const char*>(::getenv(name)); });
}

bool DesktopSession::preparePlatform() {
    const DesktopSession session = current();
    if (session.kind != Kind::Wayland)
        return true;
    const char* platform = ::getenv("QT_QPA_PLATFORM");
    if (isSet(platform) && strncasecmp(platform, "wayland", 7) != 0)
        return true; // offscreen, vnc, xcb: the user's choice
    if (session.lacksXWayland()) {
        fprintf(stderr, "%s\n", kMissingXWaylandMessage);
        Log::write("Wayland session without XWayland (DISPLAY unset); quitting");
        return false;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    return true;
}

} // namespace orvix
