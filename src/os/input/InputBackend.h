#pragma once

#include "os/input/EventTap.h"
#include "os/input/InputEvent.h"

#include <memory>
#include <vector>

namespace orvix::input {

// The seam between the input logic and the machinery that posts and watches
// keyboard events. The logic builds events with virtual key codes and event
// flags; a backend turns them into whatever its system needs.
//
// Watching real input comes from the same backend: its tap runs on a thread
// of its own with its own connection, hands every event to the callback
// logic as an InputEvent (type, fields 8, 9 and 42, flags), and applies what
// the callback changed as far as its system allows. Events the program posted
// are marked (userData 42) or never reach the tap at all.
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

    // Whether the backend watches real input at all. One that only posts
    // (a compositor's virtual keyboard) makes no tap, and nothing lights
    // for real keys.
    virtual bool watches() const { return true; }

    // Makes the tap on real input; called on the thread that will run it.
    // Null (with a log line) when the tap cannot be made.
    virtual std::unique_ptr<EventTap> createEventTap(const EventTap::Options& options) = 0;

    // Whether the tap puts the callback's flags on real events in flight.
    // A backend that cannot keeps the latched modifiers in force between
    // posts instead (setRestingFlags).
    virtual bool stampsInFlight() const = 0;
    // Modifiers to keep in force for real keys between posts; 0 keeps none.
    virtual void setRestingFlags(uint64_t flags) { (void)flags; }

    // Descriptors the main loop watches for the backend: when one is
    // readable, the main loop calls dispatch() with it.
    virtual std::vector<int> mainLoopDescriptors() const { return {}; }
    virtual void dispatch(int descriptor) { (void)descriptor; }
};

} // namespace orvix::input
