#pragma once

#include "os/input/InputEvent.h"

#include <chrono>

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

    // What every backend's tap is made with.
    struct Options {
        Callback callback = nullptr;
        void* userInfo = nullptr;
        // A callback that runs longer disables the tap.
        std::chrono::milliseconds timeLimit{1000};
        // Whether the callback's flags are to be put on real key events, and
        // on pointer events; a tap that stamps nothing only reads.
        bool stampKeys = false;
        bool stampMouse = false;
    };

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
