#pragma once

#include "app/input/KeyLighter.h"
#include "os/input/InputBackend.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

namespace orvix {

// Virtual key input and the modifier state: turns presses and releases of the
// on-screen keys into posted key events, latches the on-screen modifiers,
// lights the keys, and keeps the latched, held and effective flag words.
//
// The application controller owns one and forwards its key-delegate messages
// and the tap's hand-offs to it. Everything runs on the main thread except
// setHeldFlags() and effectiveFlags(), which the tap thread uses.
class KeyInput {
public:
    // Plays the typing sound of a key code in state 1 (pressed) or 0.
    using SoundPlayer = std::function<void(int32_t code, int32_t state)>;

    // The keys marked as toggling at launch, in this order.
    static constexpr std::array<int32_t, 9> kToggleKeyCodes = {63, 57, 56, 60, 59, 58, 61, 55, 54};

    KeyInput(input::InputBackend& backend, KeyLighter& lighter, SoundPlayer playSound);

    // Key-delegate messages, with the key control's tag as key code.
    void keyPressed(int32_t code);
    void keyReleased(int32_t code);

    // A real key went down / up (from the tap).
    void _keyDown(int32_t code);
    void _keyRelease(int32_t code);
    // Marks a key as toggling.
    void _keyToggles(int32_t code);
    // _keyToggles for every modifier key, in launch order.
    void markToggleKeys();
    // Pushes a state to the on-screen key: 1 pressed, 2 toggling, else released.
    void _setKeyCode(int32_t code, int32_t state);

    void _updateModifiers();
    // A real flags-changed event arrived; the tap has stored its flags.
    void _updateHeldModifiers() { _updateHeldModifiers(heldFlags()); }
    // The same with the flags as they were at that event: a hand-off that
    // runs late (the main thread was busy) still plays each press and
    // release, in order, instead of only the state reached since.
    void _updateHeldModifiers(uint64_t held);

    // Tap thread: the complete flags of the last real flags-changed event.
    void setHeldFlags(uint64_t flags) { _heldFlags.store(flags, std::memory_order_release); }
    // Any thread.
    uint64_t effectiveFlags() const { return _effectiveFlags.load(std::memory_order_acquire); }
    uint64_t latchedFlags() const { return _latchedFlags.load(std::memory_order_acquire); }
    uint64_t heldFlags() const { return _heldFlags.load(std::memory_order_acquire); }

    // Told after every recomputation of the modifiers (main thread), e.g. to
    // keep the latched modifiers resting in the X server for real keys.
    using ModifiersObserver = std::function<void(uint64_t latched, uint64_t effective)>;
    void setModifiersObserver(ModifiersObserver observer) {
        _modifiersObserver = std::move(observer);
    }

    // Key code posted instead while Function is in force, or the code itself.
    static int32_t functionRemap(int32_t code);
    // The key that lights for a remapped code, or the code itself.
    static int32_t reverseRemap(int32_t code);

private:
    void _postKey(int32_t code, bool down);

    input::InputBackend& _backend;
    KeyLighter& _lighter;
    SoundPlayer _playSound;
    ModifiersObserver _modifiersObserver;

    // One writer each: latched and effective the main thread, held the tap.
    std::atomic<uint64_t> _latchedFlags{0};
    std::atomic<uint64_t> _heldFlags{0};
    std::atomic<uint64_t> _effectiveFlags{0};
    uint64_t _previousHeldFlags = 0; // main thread only
};

} // namespace orvix
