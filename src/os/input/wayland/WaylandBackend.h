#pragma once

#include "os/input/InputBackend.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_keyboard;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct xkb_context;
struct xkb_keymap;

namespace orvix::input {

// Posts key events into a Wayland session through the virtual-keyboard
// protocol, which wlroots-based compositors offer to any client.
//
// Keys are addressed by position: the backend uploads the keymap the seat's
// keyboard uses (as the compositor announces it), so the user's own layout
// types the posted keys, as with a real keyboard. Every key carries its
// complete modifier state in an explicit modifiers request: the compositor
// learns the modifiers from us, not from modifier key presses, so none can
// be left behind in between and none leaks to the real keyboard.
//
// The modifier keys themselves are not sent on their own, as on X11: their
// effect travels with the keys they modify.
//
// When the connection ends, even by a crash, the compositor destroys the
// virtual keyboard and with it every key and modifier it held.
//
// Watching real input is not possible through Wayland; canPostAndWatch()
// answers false, and the kernel-level tap has to supply it.
class WaylandBackend final : public InputBackend {
public:
    struct Options {
        std::string displayName; // empty: $WAYLAND_DISPLAY; a name or an absolute socket path
    };

    // Null (with one log line) without a compositor or without the protocol.
    static std::unique_ptr<WaylandBackend> open(const Options& options);
    ~WaylandBackend() override;

    bool canPostAndWatch() const override { return false; }
    bool watches() const override { return false; }
    bool post(const InputEvent& event) override;
    void releaseAll() override;
    // The protocol only posts: real keys are watched by the kernel-level
    // backend alone, so this backend makes no tap.
    std::unique_ptr<EventTap> createEventTap(const EventTap::Options& options) override;
    bool stampsInFlight() const override { return false; }
    std::vector<int> mainLoopDescriptors() const override { return {connectionNumber()}; }
    void dispatch(int) override { dispatchEvents(); }

    // The connection's socket: when it is readable, call dispatchEvents(), so
    // keymap news never pile up between posts.
    int connectionNumber() const;
    void dispatchEvents();

    // The modifier masks, in the uploaded keymap, that event flags become.
    uint32_t depressedForFlags(uint64_t flags) const;
    uint32_t lockedForFlags(uint64_t flags) const;

    WaylandBackend(const WaylandBackend&) = delete;
    WaylandBackend& operator=(const WaylandBackend&) = delete;

    // Listener plumbing: the C callbacks reach the object through these.
    struct Callbacks;
    friend struct Callbacks;

private:
    WaylandBackend() = default;

    bool connect(const Options& options);
    bool useKeymap(const std::string& text);
    bool uploadKeymap();
    int keyFor(int virtualCode) const;
    void sendModifiers(uint32_t depressed, uint32_t locked);
    void sendKey(int key, bool down);
    bool flush();
    bool healthy();

    wl_display* _display = nullptr;
    wl_registry* _registry = nullptr;
    wl_seat* _seat = nullptr;
    uint32_t _seatCapabilities = 0;
    wl_keyboard* _keyboard = nullptr;
    zwp_virtual_keyboard_manager_v1* _manager = nullptr;
    zwp_virtual_keyboard_v1* _virtualKeyboard = nullptr;
    xkb_context* _context = nullptr;
    xkb_keymap* _keymap = nullptr;
    std::string _keymapText;    // as uploaded
    std::string _pendingKeymap; // announced by the seat, not yet in use
    int _writeError = 0;
    bool _brokenLogged = false;

    uint32_t _shift = 0, _control = 0, _alt = 0, _logo = 0, _caps = 0, _num = 0;
    std::vector<int> _downKeys; // evdev codes of ours that are down, oldest first
};

} // namespace orvix::input
