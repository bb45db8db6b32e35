#include "os/input/PostedEventLedger.h"

namespace orvix::input {

PostedEventLedger::PostedEventLedger() {
    for (auto& count : _pending)
        count.store(0, std::memory_order_relaxed);
}

void PostedEventLedger::setEnabled(bool enabled) {
    if (!enabled)
        for (auto& count : _pending)
            count.store(0, std::memory_order_relaxed);
    _enabled.store(enabled, std::memory_order_release);
}

void PostedEventLedger::notePosted(int xKeycode, bool down) {
    if (!isEnabled() || xKeycode < 0 || xKeycode > 255)
        return;
    auto& count = _pending[slot(xKeycode, down)];
    uint16_t value = count.load(std::memory_order_relaxed);
    // Saturate rather than wrap: a wrapped count would hide our own events.
    while (value != UINT16_MAX &&
           !count.compare_exchange_weak(value, static_cast<uint16_t>(value + 1),
                                        std::memory_order_release, std::memory_order_relaxed)) {
    }
}

bool PostedEventLedger::consume(int xKeycode, bool down) {
    if (xKeycode < 0 || xKeycode > 255)
        return false;
    auto& count = _pending[slot(xKeycode, down)];
    uint16_t value = count.load(std::memory_order_acquire);
    while (value != 0) {
        if (count.compare_exchange_weak(value, static_cast<uint16_t>(value - 1),
                                        std::memory_order_acq_rel, std::memory_order_acquire))
            return true;
    }
    return false;
}

int PostedEventLedger::pending(int xKeycode, bool down) const {
    if (xKeycode < 0 || xKeycode > 255)
        return 0;
    return _pending[slot(xKeycode, down)].load(std::memory_order_acquire);
}

} // namespace orvix::input
