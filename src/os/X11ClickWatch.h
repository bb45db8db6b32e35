#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace orvix::x11 {

// Left-button presses on one window, and the release that ends each, read on
// an X connection of the caller's own: whoever reads it sees a click as soon
// as the X server sends it, with no other thread in between.
//
// The presses come from an ordinary XInput 2 selection on the window, so a
// press goes nowhere else than X itself sends it (a pointer grab of a menu
// keeps it away). The window's owner keeps the implicit grab that follows, so
// the release is read from the raw events of the same device and button,
// which X reports whoever holds the pointer.
class ClickWatch {
public:
    struct Event {
        enum Kind { Press, Release } kind = Press;
        uint32_t time = 0;   // X server time, as the toolkit's copy of the event carries it
        double x = 0, y = 0; // in the window, in pixels (presses only)
        // A press emulated from a touch ends without a raw button release:
        // the window owner's own release is all there will be.
        bool rawRelease = true;
    };

    // Null when there is no X server here or it lacks XInput 2.2.
    static std::unique_ptr<ClickWatch> open(const std::string& displayName, unsigned long window);
    ~ClickWatch();

    // Watches another window (the old one was destroyed).
    void watch(unsigned long window);
    // The connection's socket: readable when events may be waiting.
    int descriptor() const;
    // The next event that has arrived, without waiting; false when there is none.
    bool next(Event& event);
    // Waits up to `ms` for the socket to become readable.
    bool wait(int ms) const;

    ClickWatch(const ClickWatch&) = delete;
    ClickWatch& operator=(const ClickWatch&) = delete;

private:
    struct Private;
    explicit ClickWatch(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

} // namespace orvix::x11
