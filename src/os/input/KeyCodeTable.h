#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace orvix::input {

// One physical key: its virtual key code, its Linux evdev code and the XKB
// key name that keymaps give it. Keys are addressed by position, never by
// symbol, so the user's own layout applies to posted keys as it would to a
// real keyboard.
struct KeyCodeEntry {
    int virtualCode;
    int evdevCode;
    std::string_view xkbName;
};

class KeyCodeTable {
public:
    // Entries sorted by virtual key code; Function has no evdev code that
    // any keymap maps, so it is absent.
    static std::span<const KeyCodeEntry> entries();

    static std::optional<KeyCodeEntry> forVirtualCode(int virtualCode);
    static std::optional<KeyCodeEntry> forEvdevCode(int evdevCode);
    static std::optional<KeyCodeEntry> forXkbName(std::string_view name);

    // X keycodes of keymaps built on evdev are the evdev code plus 8.
    static constexpr int kEvdevToXOffset = 8;
};

} // namespace orvix::input
