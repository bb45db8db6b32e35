#include "os/input/XKeyboardMap.h"

#include "os/input/EventFlags.h"
#include "os/input/KeyCodeTable.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <cstring>
#include <string_view>

namespace orvix::input {

namespace {

std::string_view nameOf(const char (&name)[XkbKeyNameLength]) {
    return std::string_view(name, strnlen(name, XkbKeyNameLength));
}

// The keycode that XKB calls `name`, directly or through an alias.
int keycodeForName(XkbDescPtr xkb, std::string_view name) {
    if (!xkb->names || !xkb->names->keys)
        return 0;
    for (int k = xkb->min_key_code; k <= xkb->max_key_code; ++k)
        if (nameOf(xkb->names->keys[k].name) == name)
            return k;
    for (int i = 0; xkb->names->key_aliases && i < xkb->names->num_key_aliases; ++i) {
        const XkbKeyAliasRec& alias = xkb->names->key_aliases[i];
        if (nameOf(alias.alias) == name)
            return keycodeForName(xkb, nameOf(alias.real));
    }
    return 0;
}

} // namespace

bool XKeyboardMap::load(Display* display, unsigned deviceSpec) {
    *this = XKeyboardMap{};

    XkbDescPtr xkb = XkbGetMap(display, XkbModifierMapMask | XkbKeySymsMask, deviceSpec);
    if (!xkb)
        return false;
    if (XkbGetNames(display, XkbKeyNamesMask | XkbKeyAliasesMask, xkb) != Success) {
        XkbFreeKeyboard(xkb, 0, True);
        return false;
    }

    for (const KeyCodeEntry& entry : KeyCodeTable::entries()) {
        const int k = keycodeForName(xkb, entry.xkbName);
        if (k <= 0 || k > 255)
            continue;
        _xByVirtual[entry.virtualCode] = static_cast<uint8_t>(k);
        if (_virtualByX[k] < 0)
            _virtualByX[k] = static_cast<int16_t>(entry.virtualCode);
    }
    if (xkb->map && xkb->map->modmap)
        for (int k = xkb->min_key_code; k <= xkb->max_key_code; ++k)
            _modmap[k] = xkb->map->modmap[k];

    // The key that carries a modifier: the left key of the standard layout
    // if it sets a modifier, else the first key bound to the expected mask
    // (keymaps that move Alt or Super elsewhere), else any key with the
    // modifier's usual keysym.
    auto find = [&](std::string_view name, unsigned expected, KeySym sym) {
        ModifierKey key;
        const int named = keycodeForName(xkb, name);
        if (named > 0 && _modmap[named] != 0) {
            key.keycode = named;
            key.mask = _modmap[named];
            return key;
        }
        for (int k = xkb->min_key_code; k <= xkb->max_key_code; ++k)
            if (_modmap[k] & expected) {
                key.keycode = k;
                key.mask = expected;
                return key;
            }
        for (int k = xkb->min_key_code; k <= xkb->max_key_code; ++k)
            if (XkbKeycodeToKeysym(display, static_cast<KeyCode>(k), 0, 0) == sym &&
                _modmap[k] != 0) {
                key.keycode = k;
                key.mask = _modmap[k];
                return key;
            }
        return key;
    };
    _shift = find("LFSH", ShiftMask, XK_Shift_L);
    _control = find("LCTL", ControlMask, XK_Control_L);
    _option = find("LALT", Mod1Mask, XK_Alt_L);
    _command = find("LWIN", Mod4Mask, XK_Super_L);

    XkbFreeKeyboard(xkb, 0, True);
    return true;
}

int XKeyboardMap::xKeycodeFor(int virtualCode) const {
    if (virtualCode < 0 || virtualCode >= static_cast<int>(_xByVirtual.size()))
        return 0;
    return _xByVirtual[virtualCode];
}

int XKeyboardMap::virtualCodeFor(int xKeycode) const {
    if (xKeycode < 0 || xKeycode >= static_cast<int>(_virtualByX.size()))
        return -1;
    return _virtualByX[xKeycode];
}

unsigned XKeyboardMap::modifiersOfKeycode(int xKeycode) const {
    if (xKeycode < 0 || xKeycode >= static_cast<int>(_modmap.size()))
        return 0;
    return _modmap[xKeycode];
}

unsigned XKeyboardMap::maskForFlags(uint64_t flags) const {
    unsigned mask = 0;
    if (flags & kFlagAlphaShift)
        mask |= LockMask;
    if (flags & kFlagShift)
        mask |= _shift.mask;
    if (flags & kFlagControl)
        mask |= _control.mask;
    if (flags & kFlagAlternate)
        mask |= _option.mask;
    if (flags & kFlagCommand)
        mask |= _command.mask;
    return mask;
}

uint64_t XKeyboardMap::flagsForMask(unsigned mask) const {
    uint64_t flags = 0;
    if (mask & LockMask)
        flags |= kFlagAlphaShift;
    if (_shift.mask && (mask & _shift.mask))
        flags |= kFlagShift;
    if (_control.mask && (mask & _control.mask))
        flags |= kFlagControl;
    if (_option.mask && (mask & _option.mask))
        flags |= kFlagAlternate;
    if (_command.mask && (mask & _command.mask))
        flags |= kFlagCommand;
    return flags;
}

unsigned XKeyboardMap::managedMask() const {
    return LockMask | _shift.mask | _control.mask | _option.mask | _command.mask;
}

} // namespace orvix::input
