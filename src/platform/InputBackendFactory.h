#pragma once

#include "os/input/InputBackend.h"
#include "platform/InputAccess.h"

#include <QString>
#include <functional>
#include <memory>

namespace orvix {

// The backend the "InputBackend" setting asks for, and the check of what
// that backend lacks. "evdev", "wayland" and "x11" name one; "auto" (and
// anything else) takes evdev where the virtual keyboard can be made and
// keyboards can be read; else, on a Wayland session, the compositor's
// virtual keyboard where it offers one; else X11 on an X11 display (XWayland
// included). A backend that cannot be made is null; its check then says what
// it lacks, so the user is told.
struct InputBackendChoice {
    QString name; // "evdev", "wayland" or "x11"
    std::unique_ptr<input::InputBackend> backend;
    std::function<InputAccessLack()> accessProbe;
    // What it cannot do on this session although it works.
    InputLimitation limitation = InputLimitation::None;
};

InputBackendChoice makeInputBackend(const QString& setting);

// The same check for a run that opened no backend (a copy about to quit):
// it asks what the chosen backend would lack without opening one.
std::function<InputAccessLack()> makeInputAccessProbe(const QString& setting);

} // namespace orvix
