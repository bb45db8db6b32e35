#pragma once

#include "os/input/EventTap.h"
#include "os/input/PostedEventLedger.h"
#include "os/input/XKeyboardMap.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace orvix::input {

// Watches the real keyboards of an X session through XInput 2 raw events,
// on a connection of its own, and turns them into InputEvents:
//
// - a key of a modifier (Shift, Caps Lock, Control, Alt, Super) becomes a
//   flags-changed event whose flags are the modifiers held on the real
//   keyboards, Caps Lock's lock included; any other key a key-down or key-up;
// - a key pressed again while down is an auto-repeat;
// - an event the program posted itself comes back from the XTest device and
//   is found in the poster's ledger: it is marked (user data 42) and changes
//   no held state. Another client's XTest events count as real.
//
// X delivers real events before any client sees them, so the flags the
// callback writes cannot be put on the event in flight: this tap reports
// them and leaves the event as it was.
//
// A callback that runs longer than the time limit disables the tap, which
// then reports TapDisabledByTimeout to the callback.
class X11EventTap final : public EventTap {
public:
    struct Options : EventTap::Options {
        std::string displayName;             // empty: $DISPLAY
        PostedEventLedger* ledger = nullptr; // the poster's; counting is turned on
    };

    // Null (with a log line) when there is no X server or no XInput 2.
    static std::unique_ptr<X11EventTap> create(const Options& options);
    ~X11EventTap() override;

    void run() override;
    void stop() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return _enabled.load(std::memory_order_acquire); }

    // Tap thread only (or before run()).
    uint64_t heldFlags() const;

    X11EventTap(const X11EventTap&) = delete;
    X11EventTap& operator=(const X11EventTap&) = delete;

private:
    X11EventTap(void* display, const Options& options, int xiOpcode);

    void handleKey(int keycode, bool down, int sourceId);
    void deliver(InputEvent& event);
    void reloadKeymap();

    void* _display; // Display*, kept opaque here so Xlib's macros stay out
    Options _options;
    int _xiOpcode;
    int _xkbEventBase = 0;
    int _xtestKeyboard = -1;
    int _wakePipe[2] = {-1, -1};
    std::atomic<bool> _enabled{true};
    std::atomic<bool> _stop{false};

    XKeyboardMap _map;
    unsigned char _realDown[256] = {}; // real keys down, by X keycode
    bool _capsLocked = false;
};

} // namespace orvix::input
