#pragma once

#include <cstdint>

namespace orvix::input {

// Modifier flags keep the event-flags layout of the keyboard events the
// program was designed around, so every backend translates from one format.
inline constexpr uint64_t kFlagAlphaShift = 0x10000;
inline constexpr uint64_t kFlagShift = 0x20000;
inline constexpr uint64_t kFlagControl = 0x40000;
inline constexpr uint64_t kFlagAlternate = 0x80000;
inline constexpr uint64_t kFlagCommand = 0x100000;
inline constexpr uint64_t kFlagSecondaryFn = 0x800000;

// The six modifier bits together.
inline constexpr uint64_t kModifierMask = 0x9F0000;

// Every event the program posts carries this value in field 42, so the tap
// can tell the program's own events from real ones.
inline constexpr int kMarkerField = 42;
inline constexpr int64_t kMarkerValue = 42;

// Virtual key codes that the input logic names explicitly.
namespace keycode {
inline constexpr int A = 0;
inline constexpr int Return = 36;
inline constexpr int Delete = 51;
inline constexpr int RightCommand = 54;
inline constexpr int Command = 55;
inline constexpr int Shift = 56;
inline constexpr int CapsLock = 57;
inline constexpr int Option = 58;
inline constexpr int Control = 59;
inline constexpr int RightShift = 60;
inline constexpr int RightOption = 61;
inline constexpr int RightControl = 62;
inline constexpr int Function = 63;
inline constexpr int KeypadEnter = 76;
inline constexpr int Home = 115;
inline constexpr int PageUp = 116;
inline constexpr int ForwardDelete = 117;
inline constexpr int End = 119;
inline constexpr int PageDown = 121;
inline constexpr int LeftArrow = 123;
inline constexpr int RightArrow = 124;
inline constexpr int DownArrow = 125;
inline constexpr int UpArrow = 126;
} // namespace keycode

// The modifier bit a key sets when it is latched, or 0 for a plain key.
// Right Control has no bit of its own: it is a plain key.
constexpr uint64_t modifierBitForKeyCode(int code) {
    switch (code) {
    case keycode::CapsLock:
        return kFlagAlphaShift;
    case keycode::Shift:
    case keycode::RightShift:
        return kFlagShift;
    case keycode::Control:
        return kFlagControl;
    case keycode::Option:
    case keycode::RightOption:
        return kFlagAlternate;
    case keycode::Command:
    case keycode::RightCommand:
        return kFlagCommand;
    case keycode::Function:
        return kFlagSecondaryFn;
    default:
        return 0;
    }
}

} // namespace orvix::input
