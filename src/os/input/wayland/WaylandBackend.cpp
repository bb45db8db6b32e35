#include "os/input/wayland/WaylandBackend.h"

#include "os/Log.h"
#include "os/input/EventFlags.h"
#include "os/input/KeyCodeTable.h"
#include "os/input/KeysDown.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace orvix::input {

namespace {

// Far larger than any real keymap; a bigger announcement is not one.
constexpr uint32_t kMaxKeymapSize = 16u << 20;

uint32_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

std::string readKeymap(int fd, uint32_t size) {
    std::string text;
    if (size == 0 || size > kMaxKeymapSize)
        return text;
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED)
        return text;
    const char* chars = static_cast<const char*>(data);
    text.assign(chars, strnlen(chars, size));
    munmap(data, size);
    return text;
}

uint32_t modMask(xkb_keymap* keymap, const char* name) {
    const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
    return index == XKB_MOD_INVALID || index >= 32 ? 0u : (1u << index);
}

} // namespace

struct WaylandBackend::Callbacks {
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
        auto* self = static_cast<WaylandBackend*>(data);
        if (!self->_seat && strcmp(interface, wl_seat_interface.name) == 0) {
            self->_seat = static_cast<wl_seat*>(
                wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 5u)));
            wl_seat_add_listener(self->_seat, &seatListener, self);
        } else if (!self->_manager &&
                   strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            self->_manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}

    static void capabilities(void* data, wl_seat*, uint32_t capabilities) {
        static_cast<WaylandBackend*>(data)->_seatCapabilities = capabilities;
    }
    static void seatName(void*, wl_seat*, const char*) {}

    static void keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
        auto* self = static_cast<WaylandBackend*>(data);
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1)
            self->_pendingKeymap = readKeymap(fd, size);
        close(fd);
    }
    static void enter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
    static void leave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
    static void key(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
    static void modifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
    static void repeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}

    static constexpr wl_registry_listener registryListener{global, globalRemove};
    static constexpr wl_seat_listener seatListener{capabilities, seatName};
    static constexpr wl_keyboard_listener keyboardListener{keymap, enter,     leave,
                                                           key,    modifiers, repeatInfo};
};

std::unique_ptr<EventTap> WaylandBackend::createEventTap(const EventTap::Options&) {
    Log::write("The Wayland virtual keyboard cannot watch real keys; they need the kernel-level "
               "input backend");
    return nullptr;
}

std::unique_ptr<WaylandBackend> WaylandBackend::open(const Options& options) {
    std::unique_ptr<WaylandBackend> backend(new WaylandBackend);
    if (!backend->connect(options))
        return nullptr;
    return backend;
}

bool WaylandBackend::connect(const Options& options) {
    const char* name = options.displayName.empty() ? nullptr : options.displayName.c_str();
    const char* shown = name ? name : getenv("WAYLAND_DISPLAY");
    if (!shown)
        shown = "(WAYLAND_DISPLAY unset)";
    _display = wl_display_connect(name);
    if (!_display) {
        Log::write("Cannot connect to Wayland display %s", shown);
        return false;
    }
    _registry = wl_display_get_registry(_display);
    wl_registry_add_listener(_registry, &Callbacks::registryListener, this);
    // The globals, then the seat's capabilities.
    if (wl_display_roundtrip(_display) < 0 || wl_display_roundtrip(_display) < 0) {
        Log::write("Wayland display %s closed the connection", shown);
        return false;
    }
    if (!_manager) {
        Log::write("Wayland compositor on %s offers no virtual keyboard "
                   "(zwp_virtual_keyboard_manager_v1)",
                   shown);
        return false;
    }
    if (!_seat) {
        Log::write("Wayland compositor on %s has no seat", shown);
        return false;
    }

    // The keymap the seat's keyboard uses is announced to every keyboard
    // object; without a keyboard yet, the default layout (XKB_DEFAULT_*) is
    // the best guess.
    if (_seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD) {
        _keyboard = wl_seat_get_keyboard(_seat);
        wl_keyboard_add_listener(_keyboard, &Callbacks::keyboardListener, this);
        wl_display_roundtrip(_display);
    }
    _context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!_context) {
        Log::write("Cannot create an xkbcommon context");
        return false;
    }
    std::string text = std::move(_pendingKeymap);
    _pendingKeymap.clear();
    if (text.empty() || !useKeymap(text)) {
        xkb_keymap* fallback =
            xkb_keymap_new_from_names(_context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
        char* fallbackText =
            fallback ? xkb_keymap_get_as_string(fallback, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
        const bool ok = fallbackText && useKeymap(fallbackText);
        free(fallbackText);
        xkb_keymap_unref(fallback);
        if (!ok) {
            Log::write("Cannot compile a keyboard map for Wayland display %s", shown);
            return false;
        }
    }

    _virtualKeyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(_manager, _seat);
    if (!uploadKeymap() || wl_display_roundtrip(_display) < 0) {
        Log::write("Wayland compositor on %s refused a virtual keyboard (error %d)", shown,
                   wl_display_get_error(_display));
        _brokenLogged = true; // said once is enough
        return false;
    }
    // Keypad keys type digits, as their labels on the panel say.
    sendModifiers(0, _num);
    return flush();
}

WaylandBackend::~WaylandBackend() {
    if (_virtualKeyboard && healthy())
        releaseAll();
    if (_virtualKeyboard)
        zwp_virtual_keyboard_v1_destroy(_virtualKeyboard);
    if (_keyboard && wl_keyboard_get_version(_keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(_keyboard);
    else if (_keyboard)
        wl_keyboard_destroy(_keyboard);
    if (_manager)
        zwp_virtual_keyboard_manager_v1_destroy(_manager);
    if (_seat)
        wl_seat_destroy(_seat);
    if (_registry)
        wl_registry_destroy(_registry);
    if (_display) {
        wl_display_flush(_display);
        wl_display_disconnect(_display);
    }
    xkb_keymap_unref(_keymap);
    xkb_context_unref(_context);
}

bool WaylandBackend::useKeymap(const std::string& text) {
    xkb_keymap* keymap = xkb_keymap_new_from_string(
        _context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return false;
    // Compared and uploaded in xkbcommon's own wording, so the same keymap
    // announced again (as when our own keyboard becomes the seat's) is
    // recognised.
    char* canonical = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    if (!canonical) {
        xkb_keymap_unref(keymap);
        return false;
    }
    _keymapText = canonical;
    free(canonical);
    xkb_keymap_unref(_keymap);
    _keymap = keymap;
    _shift = modMask(keymap, XKB_MOD_NAME_SHIFT);
    _control = modMask(keymap, XKB_MOD_NAME_CTRL);
    _alt = modMask(keymap, XKB_MOD_NAME_ALT);
    _logo = modMask(keymap, XKB_MOD_NAME_LOGO);
    _caps = modMask(keymap, XKB_MOD_NAME_CAPS);
    _num = modMask(keymap, XKB_MOD_NAME_NUM);
    return true;
}

bool WaylandBackend::uploadKeymap() {
    const size_t size = _keymapText.size() + 1;
    const int fd = memfd_create("orvix-keymap", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    size_t written = 0;
    while (ok && written < size) {
        const ssize_t n = write(fd, _keymapText.c_str() + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            written += static_cast<size_t>(n);
    }
    if (ok)
        zwp_virtual_keyboard_v1_keymap(_virtualKeyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<uint32_t>(size));
    // The request carries a duplicate of the descriptor.
    close(fd);
    return ok;
}

void WaylandBackend::dispatchEvents() {
    if (!_display || wl_display_get_error(_display))
        return;
    while (wl_display_prepare_read(_display) != 0)
        if (wl_display_dispatch_pending(_display) < 0)
            return;
    wl_display_flush(_display);
    pollfd pfd{wl_display_get_fd(_display), POLLIN, 0};
    if (poll(&pfd, 1, 0) > 0)
        wl_display_read_events(_display);
    else
        wl_display_cancel_read(_display);
    wl_display_dispatch_pending(_display);

    // A new keymap for the seat (the user switched layouts): keys typed from
    // now on use it. Not while keys of ours are down, which it would rename.
    if (!_pendingKeymap.empty() && _downKeys.empty()) {
        std::string text = std::move(_pendingKeymap);
        _pendingKeymap.clear();
        const std::string previous = _keymapText;
        // An unusable one changes nothing: the compositor keeps ours.
        if (useKeymap(text) && _keymapText != previous)
            uploadKeymap();
    }
}

int WaylandBackend::connectionNumber() const {
    return _display ? wl_display_get_fd(_display) : -1;
}

bool WaylandBackend::healthy() {
    // A write that failed (the compositor went away) counts before libwayland
    // has noticed it itself.
    const int error = _writeError ? _writeError : wl_display_get_error(_display);
    if (error == 0)
        return true;
    if (!_brokenLogged) {
        _brokenLogged = true;
        Log::write("Wayland connection for posting keys failed (%s)", strerror(error));
    }
    return false;
}

uint32_t WaylandBackend::depressedForFlags(uint64_t flags) const {
    uint32_t mask = 0;
    if (flags & kFlagShift)
        mask |= _shift;
    if (flags & kFlagControl)
        mask |= _control;
    if (flags & kFlagAlternate)
        mask |= _alt;
    if (flags & kFlagCommand)
        mask |= _logo;
    return mask;
}

uint32_t WaylandBackend::lockedForFlags(uint64_t flags) const {
    return _num | ((flags & kFlagAlphaShift) ? _caps : 0u);
}

int WaylandBackend::keyFor(int virtualCode) const {
    const auto entry = KeyCodeTable::forVirtualCode(virtualCode);
    if (!entry)
        return -1;
    // The keymap's own name for the position first (it may place a key
    // elsewhere); the evdev code when it does not know the name.
    const std::string name(entry->xkbName);
    xkb_keycode_t keycode = xkb_keymap_key_by_name(_keymap, name.c_str());
    if (keycode == XKB_KEYCODE_INVALID)
        keycode = static_cast<xkb_keycode_t>(entry->evdevCode + KeyCodeTable::kEvdevToXOffset);
    if (keycode < xkb_keymap_min_keycode(_keymap) || keycode > xkb_keymap_max_keycode(_keymap) ||
        !xkb_keymap_key_get_name(_keymap, keycode))
        return -1;
    return static_cast<int>(keycode) - KeyCodeTable::kEvdevToXOffset;
}

void WaylandBackend::sendModifiers(uint32_t depressed, uint32_t locked) {
    // Every time, even when unchanged: a key of the keymap's own (Num Lock,
    // a level-3 shift) may have changed the compositor's state in between.
    zwp_virtual_keyboard_v1_modifiers(_virtualKeyboard, depressed, 0, locked, 0);
}

void WaylandBackend::sendKey(int key, bool down) {
    zwp_virtual_keyboard_v1_key(_virtualKeyboard, nowMs(), static_cast<uint32_t>(key),
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                     : WL_KEYBOARD_KEY_STATE_RELEASED);
}

bool WaylandBackend::flush() {
    // A full socket buffer drains as soon as the compositor reads; a
    // compositor that stops reading for a second is gone for our purposes.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (wl_display_flush(_display) >= 0)
            return true;
        if (errno != EAGAIN) {
            _writeError = errno;
            break;
        }
        pollfd pfd{wl_display_get_fd(_display), POLLOUT, 0};
        poll(&pfd, 1, 1000);
    }
    return healthy() && wl_display_flush(_display) >= 0;
}

bool WaylandBackend::post(const InputEvent& event) {
    if (!event.isKeyEvent() || !healthy())
        return false;
    dispatchEvents();
    const int code = static_cast<int>(event.keycode);
    const bool down = event.type == EventType::KeyDown;

    // Modifier keys act through the flags of the keys they modify.
    if (modifierBitForKeyCode(code) != 0)
        return true;

    int key = keyFor(code);
    if (key < 0)
        return false;

    const uint32_t depressed = depressedForFlags(event.flags);
    const uint32_t locked = lockedForFlags(event.flags);
    if (down) {
        sendModifiers(depressed, locked);
        sendKey(key, true);
        _downKeys.push_back(key);
    } else {
        const auto it = keyToRelease(_downKeys, key);
        if (it == _downKeys.end())
            return true;
        key = *it;
        sendModifiers(depressed, locked);
        sendKey(key, false);
        _downKeys.erase(it);
        if (_downKeys.empty())
            sendModifiers(0, lockedForFlags(0));
    }
    return flush();
}

void WaylandBackend::releaseAll() {
    if (!_virtualKeyboard || !healthy())
        return;
    for (auto it = _downKeys.rbegin(); it != _downKeys.rend(); ++it)
        sendKey(*it, false);
    _downKeys.clear();
    sendModifiers(0, lockedForFlags(0));
    flush();
}

} // namespace orvix::input
