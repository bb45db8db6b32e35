#include "os/input/evdev/EvdevBackend.h"

#include "os/input/EventFlags.h"
#include "os/input/KeysDown.h"
#include "os/input/evdev/EvdevEventTap.h"
#include "os/input/evdev/EvdevKeys.h"

#include <algorithm>
#include <linux/input-event-codes.h>

namespace orvix::input {

std::unique_ptr<EvdevBackend> EvdevBackend::open(const Options& options) {
    std::shared_ptr<UinputDevices> devices = UinputDevices::create(options.uinputPath);
    if (!devices)
        return nullptr;
    return std::unique_ptr<EvdevBackend>(new EvdevBackend(std::move(devices), options));
}

EvdevBackend::EvdevBackend(std::shared_ptr<UinputDevices> devices, Options options)
    : _devices(std::move(devices)), _options(std::move(options)) {}

EvdevBackend::~EvdevBackend() {
    releaseAll();
}

std::unique_ptr<EventTap> EvdevBackend::createEventTap(const EventTap::Options& options) {
    EvdevEventTap::Options evdevOptions;
    static_cast<EventTap::Options&>(evdevOptions) = options;
    evdevOptions.inputFolder = _options.inputFolder;
    return EvdevEventTap::create(evdevOptions, _devices);
}

bool EvdevBackend::post(const InputEvent& event) {
    if (!event.isKeyEvent())
        return false;
    const int code = static_cast<int>(event.keycode);
    // Modifier keys act through the flags of the keys they modify.
    if (modifierBitForKeyCode(code) != 0)
        return true;
    int key = evdev::evdevCodeForVirtual(code);
    if (key == 0)
        return false;
    const bool down = event.type == EventType::KeyDown;

    auto applyModifiers = [this](uint64_t flags) {
        const std::vector<int> wanted = evdev::modifierKeysForFlags(flags);
        for (auto it = _modifierCodes.begin(); it != _modifierCodes.end();) {
            if (std::find(wanted.begin(), wanted.end(), *it) == wanted.end()) {
                _devices->setKey(*it, UinputDevices::Posted, false, false);
                it = _modifierCodes.erase(it);
            } else {
                ++it;
            }
        }
        for (int modifier : wanted)
            if (std::find(_modifierCodes.begin(), _modifierCodes.end(), modifier) ==
                _modifierCodes.end()) {
                _devices->setKey(modifier, UinputDevices::Posted, true, false);
                _modifierCodes.push_back(modifier);
            }
        _devices->sync();
    };
    auto tapCapsLock = [this] {
        _devices->takeLedChanges();
        _devices->setKey(KEY_CAPSLOCK, UinputDevices::Posted, true);
        _devices->setKey(KEY_CAPSLOCK, UinputDevices::Posted, false);
    };

    if (down) {
        _devices->takeLedChanges();
        const bool capsWanted = event.flags & kFlagAlphaShift;
        if (_downKeys.empty() && capsWanted != _devices->capsLockLed()) {
            tapCapsLock();
            _capsTapped = true;
        }
        applyModifiers(event.flags);
        _devices->setKey(key, UinputDevices::Posted, true);
        _downKeys.push_back(key);
        return true;
    }
    const auto it = keyToRelease(_downKeys, key);
    if (it == _downKeys.end())
        return true;
    key = *it;
    applyModifiers(event.flags);
    _devices->setKey(key, UinputDevices::Posted, false);
    _downKeys.erase(it);
    if (_downKeys.empty()) {
        applyModifiers(0);
        if (_capsTapped) {
            tapCapsLock();
            _capsTapped = false;
        }
    }
    return true;
}

void EvdevBackend::releaseAll() {
    _devices->releaseHolder(UinputDevices::Posted);
    _downKeys.clear();
    _modifierCodes.clear();
    _capsTapped = false;
}

} // namespace orvix::input
