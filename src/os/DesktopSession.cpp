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

bool containsNoCase(std::string_view text, std::string_view part) {
    if (part.size() > text.size())
        return false;
    for (size_t i = 0; i + part.size() <= text.size(); ++i)
        if (strncasecmp(text.data() + i, part.data(), part.size()) == 0)
            return true;
    return false;
}

} // namespace

DesktopSession DesktopSession::detect(const std::function<const char*(const char*)>& getenv) {
    DesktopSession session;
    session.hasXDisplay = isSet(getenv("DISPLAY"));
    if (const char* desktop = getenv("XDG_CURRENT_DESKTOP"))
        session.desktop = desktop;
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

bool DesktopSession::panelBypassesWindowManager(std::string_view windowManagerName) const {
    if (kind != Kind::Wayland)
        return false;
    // Either sign will do: XWayland may be started before its manager names
    // itself, and a session may leave XDG_CURRENT_DESKTOP unset.
    for (std::string_view honours : {"GNOME", "KDE", "Mutter", "KWin"})
        if (containsNoCase(desktop, honours) || containsNoCase(windowManagerName, honours))
            return false;
    return true;
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
