#pragma once

#include <cstdint>

namespace orvix::input {

// Event types, numbered as the keyboard-and-mouse event stream numbers them,
// so masks of the form (1 << type) mean the same on every backend.
enum class EventType : int {
    TapDisabledByTimeout = -2,
    TapDisabledByUserInput = -1,
    LeftMouseDown = 1,
    LeftMouseUp = 2,
    RightMouseDown = 3,
    RightMouseUp = 4,
    MouseMoved = 5,
    LeftMouseDragged = 6,
    RightMouseDragged = 7,
    KeyDown = 10,
    KeyUp = 11,
    FlagsChanged = 12,
    ScrollWheel = 22,
    TabletPointer = 23,
    TabletProximity = 24,
    OtherMouseDown = 25,
    OtherMouseUp = 26,
    OtherMouseDragged = 27,
};

// Backend-neutral event: what gets posted, and what a tap hands to its
// callback. The three integer fields are the ones the input logic reads
// and writes (8 auto-repeat, 9 key code, 42 user data / marker).
struct InputEvent {
    EventType type = EventType::KeyDown;
    int64_t keycode = 0;    // field 9: virtual key code
    int64_t autorepeat = 0; // field 8
    int64_t userData = 0;   // field 42
    uint64_t flags = 0;     // event flags (modifier bits and device bits)

    bool isKeyEvent() const { return type == EventType::KeyDown || type == EventType::KeyUp; }
};

} // namespace orvix::input
