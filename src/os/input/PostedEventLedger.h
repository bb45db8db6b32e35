#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace orvix::input {

// X events carry no user data, so the marker of posted events is kept here
// instead: the poster counts each key event it sends, and the tap, seeing
// that key event come back from the XTest device, consumes the count and
// knows the event as the program's own. Another client's XTest events (a
// test driver, a macro tool) find no count and count as real.
//
// Written by the posting thread and the tap thread; lock-free.
class PostedEventLedger {
public:
    PostedEventLedger();

    // Counting is off until a tap listens, so that unconsumed counts cannot
    // pile up; turning it off forgets all counts.
    void setEnabled(bool enabled);
    bool isEnabled() const { return _enabled.load(std::memory_order_acquire); }

    void notePosted(int xKeycode, bool down);
    // True (and one count less) when an event like this was posted by us.
    bool consume(int xKeycode, bool down);
    int pending(int xKeycode, bool down) const;

private:
    static int slot(int xKeycode, bool down) { return (xKeycode & 0xFF) * 2 + (down ? 1 : 0); }

    std::atomic<bool> _enabled{false};
    std::array<std::atomic<uint16_t>, 512> _pending;
};

} // namespace orvix::input
