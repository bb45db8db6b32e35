#pragma once

#include <QString>

typedef struct _XDisplay Display;

namespace orvix {

// What an input backend lacks to post and watch key events. The X11 backend
// needs a display with the XTEST extension (posting) and XInput 2 (watching);
// the evdev backend needs /dev/uinput writable and the keyboards readable.
enum class InputAccessLack {
    Nothing,
    X11Display,
    X11Xtest,
    X11XInput2,
    UinputNotWritable,
    KeyboardsNotReadable,
    WaylandVirtualKeyboard,
};

// What a working backend still cannot do on this session. The program runs
// on, and the user is told once.
enum class InputLimitation {
    None,
    // Posting through the compositor's virtual keyboard; real keys are not
    // watched without the kernel's devices.
    WaylandWithoutWatching,
    // No virtual keyboard from the compositor either: XTest into XWayland
    // reaches X11 applications only.
    WaylandX11Only,
};

struct X11AccessReport {
    bool display = false;
    bool xtest = false;
    bool xinput2 = false;

    bool canPostAndWatch() const { return display && xtest && xinput2; }
    // The first thing missing, in the order the backend needs them.
    InputAccessLack lack() const;
};

// Checks an open connection (nullptr means no display could be opened). Only
// queries the server; never grabs or selects anything.
X11AccessReport checkX11Access(Display* display);

// Opens the named display (empty: $DISPLAY), checks it and closes it again.
X11AccessReport checkX11AccessForDisplayName(const QString& name = {});

// The evdev backend's needs: /dev/uinput writable (posting) and at least one
// keyboard event device readable (watching). The folders can be moved for tests.
struct EvdevAccessReport {
    bool uinputWritable = false;
    bool keyboardsReadable = false;

    bool canPostAndWatch() const { return uinputWritable && keyboardsReadable; }
    InputAccessLack lack() const;
};

EvdevAccessReport checkEvdevAccess(const QString& uinputPath = QStringLiteral("/dev/uinput"),
                                   const QString& inputFolder = QStringLiteral("/dev/input"));

} // namespace orvix
