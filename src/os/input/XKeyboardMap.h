#pragma once

#include <array>
#include <cstdint>

typedef struct _XDisplay Display;

namespace orvix::input {

// The keymap the posted keys will be read with: X keycodes for virtual key
// codes (found through XKB key names, so the user's layout applies), and the
// modifier keys and masks that carry each event flag.
class XKeyboardMap {
public:
    struct ModifierKey {
        unsigned mask = 0; // X modifier mask the key sets (0: none in this keymap)
        int keycode = 0;   // X keycode to press for it (0: none)
    };

    XKeyboardMap() { _virtualByX.fill(-1); }

    // Reads the map of an XKB device (XkbUseCoreKbd or an input device id).
    // Returns false and leaves the map empty when the server will not say.
    bool load(Display* display, unsigned deviceSpec);

    // 0 when the keymap has no key for the code.
    int xKeycodeFor(int virtualCode) const;
    // -1 when the X keycode is none of the known keys.
    int virtualCodeFor(int xKeycode) const;

    const ModifierKey& shift() const { return _shift; }
    const ModifierKey& control() const { return _control; }
    const ModifierKey& option() const { return _option; }
    const ModifierKey& command() const { return _command; }

    // X modifier state for event flags; Function has no X modifier.
    unsigned maskForFlags(uint64_t flags) const;
    // Event flags for an X modifier state.
    uint64_t flagsForMask(unsigned mask) const;
    // The X modifier bits that event flags can express.
    unsigned managedMask() const;

    // X keycode -> modifier mask, from the keymap's modifier map.
    unsigned modifiersOfKeycode(int xKeycode) const;

private:
    std::array<uint8_t, 128> _xByVirtual{};
    std::array<int16_t, 256> _virtualByX{};
    std::array<uint8_t, 256> _modmap{};
    ModifierKey _shift, _control, _option, _command;
};

} // namespace orvix::input
