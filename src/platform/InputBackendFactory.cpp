#include "platform/InputBackendFactory.h"

#include "os/Bundle.h"
#include "os/DesktopSession.h"
#include "os/Log.h"
#include "os/X11Window.h"
#include "os/input/X11Backend.h"
#include "os/input/evdev/EvdevBackend.h"
#include "os/input/wayland/WaylandBackend.h"

namespace orvix {

namespace {

InputBackendChoice evdevChoice() {
    InputBackendChoice choice;
    choice.name = QStringLiteral("evdev");
    choice.backend = input::EvdevBackend::open({});
    choice.accessProbe = [] {
        return checkEvdevAccess().lack();
    };
    return choice;
}

InputBackendChoice x11Choice() {
    InputBackendChoice choice;
    choice.name = QStringLiteral("x11");
    std::unique_ptr<input::X11Backend> backend;
    if (x11::isX11()) {
        input::X11Backend::Options options;
        // X11 keeps what a killed client held down or locked; the watchdog
        // lets go of it. The kernel does that for the evdev backend itself.
        options.watchdogPath =
            Bundle::pathForAuxiliaryExecutable(QStringLiteral("orvix-watchdog")).toStdString();
        if (options.watchdogPath.empty())
            Log::write(
                "No orvix-watchdog helper: keys held when Orvix is killed stay down until it "
                "starts again");
        backend = input::X11Backend::open(options);
    }
    // The backend's own connection answers in three round trips; a fresh
    // one every 30 seconds would cost a dozen more wake-ups.
    input::X11Backend* x11 = backend.get();
    choice.accessProbe = [x11] {
        return x11 ? checkX11Access(x11->display()).lack() : checkX11AccessForDisplayName().lack();
    };
    choice.backend = std::move(backend);
    return choice;
}

InputBackendChoice waylandChoice() {
    InputBackendChoice choice;
    choice.name = QStringLiteral("wayland");
    choice.backend = input::WaylandBackend::open({});
    choice.limitation = InputLimitation::WaylandWithoutWatching;
    // The protocol needs no permission; without it there is nothing to post.
    const bool opened = choice.backend != nullptr;
    choice.accessProbe = [opened] {
        return opened ? InputAccessLack::Nothing : InputAccessLack::WaylandVirtualKeyboard;
    };
    return choice;
}

} // namespace

InputBackendChoice makeInputBackend(const QString& setting) {
    if (setting == u"evdev")
        return evdevChoice();
    if (setting == u"x11")
        return x11Choice();
    if (setting == u"wayland")
        return waylandChoice();
    if (setting != u"auto")
        Log::write("Unknown InputBackend setting; choosing automatically");
    if (checkEvdevAccess().canPostAndWatch()) {
        InputBackendChoice choice = evdevChoice();
        if (choice.backend)
            return choice;
    }
    if (DesktopSession::current().kind == DesktopSession::Kind::Wayland) {
        InputBackendChoice wayland = waylandChoice();
        if (wayland.backend)
            return wayland;
        if (x11::isX11()) {
            Log::write("The compositor offers no virtual keyboard; typing through XWayland "
                       "reaches X11 applications only");
            InputBackendChoice choice = x11Choice();
            choice.limitation = InputLimitation::WaylandX11Only;
            return choice;
        }
    }
    if (x11::isX11())
        return x11Choice();
    return evdevChoice();
}

std::function<InputAccessLack()> makeInputAccessProbe(const QString& setting) {
    const bool evdev = setting == u"evdev" ||
                       (setting != u"x11" && checkEvdevAccess().canPostAndWatch()) ||
                       (setting != u"x11" && !x11::isX11());
    if (evdev)
        return [] {
            return checkEvdevAccess().lack();
        };
    return [] {
        return checkX11AccessForDisplayName().lack();
    };
}

} // namespace orvix
