#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orvix {

// What kind of graphical session the program was started in. The panel is an
// X11 window everywhere: on Wayland it runs through XWayland, where the
// desktops keep an "above" window over native ones and honour its no-focus
// hint, which Wayland itself offers no window of this kind.
struct DesktopSession {
    enum class Kind { X11, Wayland, Unknown };
    Kind kind = Kind::Unknown;
    bool hasXDisplay = false; // $DISPLAY: X11, or XWayland on a Wayland session
    std::string desktop;      // $XDG_CURRENT_DESKTOP, e.g. "GNOME" or "KDE"

    // From WAYLAND_DISPLAY, XDG_SESSION_TYPE and DISPLAY; `getenv` answers a
    // variable's value or null.
    static DesktopSession detect(const std::function<const char*(const char*)>& getenv);
    static DesktopSession current();

    // Where the panel cannot be shown at all: a Wayland session without
    // XWayland.
    bool lacksXWayland() const { return kind == Kind::Wayland && !hasXDisplay; }

    // Whether the panel must stay out of the window manager's hands on this
    // session, given the manager's name (x11::windowManagerName()). GNOME's
    // and KDE's managers honour the panel's no-focus hint; wlroots' manager,
    // and any other one on Wayland, gives the focus to every X11 window that
    // appears or is clicked, so typed keys would land in the panel. There the
    // panel is an override-redirect window, which those compositors never
    // focus, and it places, moves and sizes itself.
    bool panelBypassesWindowManager(std::string_view windowManagerName) const;

    // Before the application object exists: on Wayland, picks Qt's X11
    // platform (unless the user picked a platform other than Wayland). Answers
    // false after printing missingXWaylandMessage() and logging one line,
    // when the panel could not be shown; the program should then quit.
    static bool preparePlatform();
};

inline constexpr const char* kMissingXWaylandMessage =
    "Orvix shows its keyboard through XWayland, which this Wayland session does not run. "
    "Install XWayland (the package \"xwayland\") and log in again, or choose an X11 session "
    "at the login screen.";

} // namespace orvix
