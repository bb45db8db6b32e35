#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace orvix::x11 {

// Left-button presses on one window, and the release that ends each, read on
// an X connection of the caller's own: whoever reads it sees a click as soon
// as the X server sends it, with no other thread in between.
//
// Presses are read from their raw events, which X sends before anything else
// of the press: before a window manager's passive grab gets it (click to
// raise) and replays it to the window, a round trip through the manager. A
// press is told as one on the window only when it surely goes there, from
// what this connection already knows (asking the server would wait behind
// the manager, which holds the server while it raises): the pointer entered
// the window and has not left it (another client's grab makes it leave), no
// modifier key is held (managers bind modifier clicks to moves and keep
// them), and its position is known since the last button event (while a
// button is down, a grab hides the pointer's moves). Any other press is told
// without a position: the window's owner handles it as it comes.
//
// Nothing here selects the window's own button events: a second client
// selecting them could take the implicit grab that follows a press from the
// window's owner. The release is read from the raw events of the same device
// and button, which X reports whoever holds the pointer.
class ClickWatch {
public:
    struct Event {
        enum Kind { Press, Release } kind = Press;
        uint32_t time = 0; // X server time, as the toolkit's copy of the event carries it
        // Presses only: whether it surely goes to the window, and then where
        // on the screen, in pixels.
        bool onWindow = false;
        double x = 0, y = 0;
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

    // The pointer was at this screen position (pixels) when the window's
    // click released at `releaseTime`, as a copy of that release says. Kept
    // only while that release is the last button event read and no move has
    // been read since: a late copy of an earlier release is out of date.
    void pointerAt(double x, double y, uint32_t releaseTime);

    ClickWatch(const ClickWatch&) = delete;
    ClickWatch& operator=(const ClickWatch&) = delete;

private:
    struct Private;
    explicit ClickWatch(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

} // namespace orvix::x11
