#pragma once

#include "os/input/InputEvent.h"

namespace orvix::input {

// A tap on the stream of real input events. It runs on a thread of its own
// (run() is the thread's body) with its own connection to the input system,
// and hands every event it watches to its callback, which may change the
// event's flags. The tap applies what its system allows of the change.
class EventTap {
public:
    // Called on the tap's thread for every event; a disabled tap calls it
    // only with TapDisabledByTimeout / TapDisabledByUserInput.
    using Callback = void (*)(void* userInfo, EventTap& tap, InputEvent& event);

    virtual ~EventTap() = default;

    // Delivers events until stop(). Returns at once if the tap cannot run.
    virtual void run() = 0;
    // Any thread. run() returns soon after.
    virtual void stop() = 0;

    // Any thread. A disabled tap watches nothing (events pass it unseen).
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
};

} // namespace orvix::input
