#include "os/input/evdev/EvdevKeys.h"

#include "os/input/EventFlags.h"
#include "os/input/KeyCodeTable.h"

#include <linux/input-event-codes.h>

namespace orvix::input::evdev {

uint64_t heldFlagForCode(int code) {
    switch (code) {
    case KEY_LEFTSHIFT:
    case KEY_RIGHTSHIFT:
        return kFlagShift;
    case KEY_LEFTCTRL:
    case KEY_RIGHTCTRL:
        return kFlagControl;
    case KEY_LEFTALT:
    case KEY_RIGHTALT:
        return kFlagAlternate;
    case KEY_LEFTMETA:
    case KEY_RIGHTMETA:
        return kFlagCommand;
    case KEY_FN:
        return kFlagSecondaryFn;
    default:
        return 0;
    }
}

int virtualCodeForEvdev(int code) {
    if (code == KEY_FN)
        return keycode::Function;
    const auto entry = KeyCodeTable::forEvdevCode(code);
    return entry ? entry->virtualCode : -1;
}

int evdevCodeForVirtual(int virtualCode) {
    const auto entry = KeyCodeTable::forVirtualCode(virtualCode);
    return entry ? entry->evdevCode : 0;
}

std::vector<int> modifierKeysForFlags(uint64_t flags) {
    std::vector<int> codes;
    if (flags & kFlagShift)
        codes.push_back(KEY_LEFTSHIFT);
    if (flags & kFlagControl)
        codes.push_back(KEY_LEFTCTRL);
    if (flags & kFlagAlternate)
        codes.push_back(KEY_LEFTALT);
    if (flags & kFlagCommand)
        codes.push_back(KEY_LEFTMETA);
    return codes;
}

} // namespace orvix::input::evdev
