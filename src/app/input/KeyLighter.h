#pragma once

namespace orvix {

// What the key input needs of the on-screen keyboard: find the key control
// with a key code as its tag and change its state. A code with no key
// control (a real key the panel lacks) is silently ignored.
class KeyLighter {
public:
    virtual ~KeyLighter() = default;
    virtual void setKeyPressed(int code, bool pressed) = 0;
    virtual void setKeyToggles(int code, bool toggles) = 0;
};

} // namespace orvix
