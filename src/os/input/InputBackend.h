#pragma once

#include "os/input/InputEvent.h"

namespace orvix::input {

// The seam between the input logic and the machinery that posts (and later
// watches) keyboard events. The logic builds events with virtual key codes
// and event flags; a backend turns them into whatever its system needs.
//
// Backends: X11 (XTest), an in-memory fake for unit tests; others may join
// without touching the logic.
//
// Watching real input comes from the same backend: its tap runs on a thread
// of its own with its own connection, hands every event to the callback
// logic as an InputEvent (type, fields 8, 9 and 42, flags), and applies what
// the callback changed as far as its system allows. Events the program posted
// come back marked (userData 42); on X11 the PostedEventLedger supplies the
// mark, since X events carry no user data.
class InputBackend {
public:
    virtual ~InputBackend() = default;

    // Whether this backend may post and watch input at all (an X server with
    // the needed extensions, a writable uinput device, ...).
    virtual bool canPostAndWatch() const = 0;

    // Posts a key-down or key-up. The event reaches the focused application
    // with event.flags as its complete modifier state. Returns false when
    // the event could not be made; then nothing was posted.
    virtual bool post(const InputEvent& event) = 0;

    // Lets go of every key and modifier the backend holds down or locked on
    // the program's behalf. Safe to call any number of times.
    virtual void releaseAll() = 0;
};

} // namespace orvix::input
