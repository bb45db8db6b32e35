#include "os/input/KeyCodeTable.h"

#include <algorithm>
#include <array>

namespace orvix::input {

namespace {

// Virtual key code, evdev code (linux/input-event-codes.h), XKB key name.
constexpr std::array<KeyCodeEntry, 117> kEntries{{
    {0, 30, "AC01"},    // A
    {1, 31, "AC02"},    // S
    {2, 32, "AC03"},    // D
    {3, 33, "AC04"},    // F
    {4, 35, "AC06"},    // H
    {5, 34, "AC05"},    // G
    {6, 44, "AB01"},    // Z
    {7, 45, "AB02"},    // X
    {8, 46, "AB03"},    // C
    {9, 47, "AB04"},    // V
    {10, 86, "LSGT"},   // ISO section key
    {11, 48, "AB05"},   // B
    {12, 16, "AD01"},   // Q
    {13, 17, "AD02"},   // W
    {14, 18, "AD03"},   // E
    {15, 19, "AD04"},   // R
    {16, 21, "AD06"},   // Y
    {17, 20, "AD05"},   // T
    {18, 2, "AE01"},    // 1
    {19, 3, "AE02"},    // 2
    {20, 4, "AE03"},    // 3
    {21, 5, "AE04"},    // 4
    {22, 7, "AE06"},    // 6
    {23, 6, "AE05"},    // 5
    {24, 13, "AE12"},   // =
    {25, 10, "AE09"},   // 9
    {26, 8, "AE07"},    // 7
    {27, 12, "AE11"},   // -
    {28, 9, "AE08"},    // 8
    {29, 11, "AE10"},   // 0
    {30, 27, "AD12"},   // ]
    {31, 24, "AD09"},   // O
    {32, 22, "AD07"},   // U
    {33, 26, "AD11"},   // [
    {34, 23, "AD08"},   // I
    {35, 25, "AD10"},   // P
    {36, 28, "RTRN"},   // Return
    {37, 38, "AC09"},   // L
    {38, 36, "AC07"},   // J
    {39, 40, "AC11"},   // '
    {40, 37, "AC08"},   // K
    {41, 39, "AC10"},   // ;
    {42, 43, "BKSL"},   // backslash
    {43, 51, "AB08"},   // ,
    {44, 53, "AB10"},   // /
    {45, 49, "AB06"},   // N
    {46, 50, "AB07"},   // M
    {47, 52, "AB09"},   // .
    {48, 15, "TAB"},    // Tab
    {49, 57, "SPCE"},   // Space
    {50, 41, "TLDE"},   // `
    {51, 14, "BKSP"},   // Delete (backspace)
    {53, 1, "ESC"},     // Escape
    {54, 126, "RWIN"},  // Right Command
    {55, 125, "LWIN"},  // Command
    {56, 42, "LFSH"},   // Shift
    {57, 58, "CAPS"},   // Caps Lock
    {58, 56, "LALT"},   // Option
    {59, 29, "LCTL"},   // Control
    {60, 54, "RTSH"},   // Right Shift
    {61, 100, "RALT"},  // Right Option
    {62, 97, "RCTL"},   // Right Control
    {64, 187, "FK17"},  // F17
    {65, 83, "KPDL"},   // keypad .
    {67, 55, "KPMU"},   // keypad *
    {69, 78, "KPAD"},   // keypad +
    {71, 69, "NMLK"},   // keypad Clear
    {72, 115, "VOL+"},  // volume up
    {73, 114, "VOL-"},  // volume down
    {74, 113, "MUTE"},  // mute
    {75, 98, "KPDV"},   // keypad /
    {76, 96, "KPEN"},   // keypad Enter
    {78, 74, "KPSU"},   // keypad -
    {79, 188, "FK18"},  // F18
    {80, 189, "FK19"},  // F19
    {81, 117, "KPEQ"},  // keypad =
    {82, 82, "KP0"},    // keypad 0
    {83, 79, "KP1"},    // keypad 1
    {84, 80, "KP2"},    // keypad 2
    {85, 81, "KP3"},    // keypad 3
    {86, 75, "KP4"},    // keypad 4
    {87, 76, "KP5"},    // keypad 5
    {88, 77, "KP6"},    // keypad 6
    {89, 71, "KP7"},    // keypad 7
    {90, 190, "FK20"},  // F20
    {91, 72, "KP8"},    // keypad 8
    {92, 73, "KP9"},    // keypad 9
    {93, 124, "AE13"},  // JIS yen
    {94, 89, "AB11"},   // JIS underscore
    {95, 121, "KPCO"},  // JIS keypad comma
    {96, 63, "FK05"},   // F5
    {97, 64, "FK06"},   // F6
    {98, 65, "FK07"},   // F7
    {99, 61, "FK03"},   // F3
    {100, 66, "FK08"},  // F8
    {101, 67, "FK09"},  // F9
    {103, 87, "FK11"},  // F11
    {105, 183, "FK13"}, // F13
    {106, 186, "FK16"}, // F16
    {107, 184, "FK14"}, // F14
    {109, 68, "FK10"},  // F10
    {110, 127, "COMP"}, // context menu
    {111, 88, "FK12"},  // F12
    {113, 185, "FK15"}, // F15
    {114, 110, "INS"},  // Help sits where Insert is
    {115, 102, "HOME"}, // Home
    {116, 104, "PGUP"}, // Page Up
    {117, 111, "DELE"}, // Forward Delete
    {118, 62, "FK04"},  // F4
    {119, 107, "END"},  // End
    {120, 60, "FK02"},  // F2
    {121, 109, "PGDN"}, // Page Down
    {122, 59, "FK01"},  // F1
    {123, 105, "LEFT"}, // Left Arrow
    {124, 106, "RGHT"}, // Right Arrow
    {125, 108, "DOWN"}, // Down Arrow
    {126, 103, "UP"},   // Up Arrow
}};

} // namespace

std::span<const KeyCodeEntry> KeyCodeTable::entries() {
    return kEntries;
}

std::optional<KeyCodeEntry> KeyCodeTable::forVirtualCode(int virtualCode) {
    auto it = std::lower_bound(
        kEntries.begin(), kEntries.end(), virtualCode,
        [](const KeyCodeEntry& entry, int code) { return entry.virtualCode < code; });
    if (it == kEntries.end() || it->virtualCode != virtualCode)
        return std::nullopt;
    return *it;
}

std::optional<KeyCodeEntry> KeyCodeTable::forEvdevCode(int evdevCode) {
    for (const auto& entry : kEntries)
        if (entry.evdevCode == evdevCode)
            return entry;
    return std::nullopt;
}

std::optional<KeyCodeEntry> KeyCodeTable::forXkbName(std::string_view name) {
    for (const auto& entry : kEntries)
        if (entry.xkbName == name)
            return entry;
    return std::nullopt;
}

} // namespace orvix::input
