#include "app/input/KeyInput.h"

#include "os/input/EventFlags.h"

namespace orvix {

using namespace input;

namespace {

// Modifier keys pushed by _updateModifiers, in order. Right Control is a
// plain key and is not among them.
constexpr std::array<int32_t, 9> kLitModifierCodes = {63, 57, 56, 60, 59, 58, 61, 55, 54};

struct Remap {
    int32_t from;
    int32_t to;
};
constexpr std::array<Remap, 6> kFunctionRemap = {{
    {keycode::Return, keycode::KeypadEnter},
    {keycode::Delete, keycode::ForwardDelete},
    {keycode::LeftArrow, keycode::Home},
    {keycode::RightArrow, keycode::End},
    {keycode::DownArrow, keycode::PageDown},
    {keycode::UpArrow, keycode::PageUp},
}};

} // namespace

KeyInput::KeyInput(InputBackend& backend, KeyLighter& lighter, SoundPlayer playSound)
    : _backend(backend), _lighter(lighter), _playSound(std::move(playSound)) {}

int32_t KeyInput::functionRemap(int32_t code) {
    for (const Remap& remap : kFunctionRemap)
        if (remap.from == code)
            return remap.to;
    return code;
}

int32_t KeyInput::reverseRemap(int32_t code) {
    for (const Remap& remap : kFunctionRemap)
        if (remap.to == code)
            return remap.from;
    return code;
}

void KeyInput::keyPressed(int32_t code) {
    const int32_t clicked = code;
    bool remapped = false;
    if (effectiveFlags() & kFlagSecondaryFn) {
        const int32_t to = functionRemap(code);
        remapped = to != code;
        code = to;
    }
    if (!remapped) {
        if (const uint64_t bit = modifierBitForKeyCode(code)) {
            _latchedFlags.store(latchedFlags() | bit, std::memory_order_release);
            _updateModifiers();
        }
    }
    // The key goes out first; the sound can start a moment later unheard.
    _postKey(code, true);
    if (_playSound)
        _playSound(clicked, 1);
}

void KeyInput::keyReleased(int32_t code) {
    if (const uint64_t bit = modifierBitForKeyCode(code)) {
        _latchedFlags.store(latchedFlags() & ~bit, std::memory_order_release);
        _updateModifiers();
    }
    // Never remapped: the release names the key that was clicked.
    _postKey(code, false);
    if (_playSound)
        _playSound(code, 0);
}

void KeyInput::_postKey(int32_t code, bool down) {
    InputEvent event;
    event.type = down ? EventType::KeyDown : EventType::KeyUp;
    event.keycode = static_cast<uint16_t>(code);
    event.flags = effectiveFlags();
    event.userData = kMarkerValue;
    // When the event cannot be made nothing is posted; there is no one to tell.
    _backend.post(event);
}

void KeyInput::_keyDown(int32_t code) {
    _setKeyCode(code, 1);
    if (_playSound)
        _playSound(code, 1);
}

void KeyInput::_keyRelease(int32_t code) {
    _setKeyCode(code, 0);
    if (_playSound)
        _playSound(code, 0);
}

void KeyInput::_keyToggles(int32_t code) {
    _setKeyCode(code, 2);
}

void KeyInput::markToggleKeys() {
    for (int32_t code : kToggleKeyCodes)
        _keyToggles(code);
}

void KeyInput::_setKeyCode(int32_t code, int32_t state) {
    code = reverseRemap(code);
    if (state == 1)
        _lighter.setKeyPressed(code, true);
    else if (state == 2)
        _lighter.setKeyToggles(code, true);
    else
        _lighter.setKeyPressed(code, false);
}

void KeyInput::_updateModifiers() {
    const uint64_t effective = heldFlags() | (latchedFlags() & kModifierMask);
    _effectiveFlags.store(effective, std::memory_order_release);
    for (int32_t code : kLitModifierCodes)
        _setKeyCode(code, (effective & modifierBitForKeyCode(code)) ? 1 : 0);
    if (_modifiersObserver)
        _modifiersObserver(latchedFlags() & kModifierMask, effective);
}

void KeyInput::_updateHeldModifiers(uint64_t held) {
    const uint64_t released = _previousHeldFlags & ~held & kModifierMask;
    const uint64_t pressed = held & ~_previousHeldFlags & kModifierMask;
    if (released && _playSound)
        _playSound(keycode::Command, 0);
    if (pressed && _playSound)
        _playSound(keycode::Command, 1);
    _previousHeldFlags = held;
    _updateModifiers();
}

} // namespace orvix
