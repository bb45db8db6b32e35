#pragma once

#include "os/input/InputBackend.h"
#include "os/input/evdev/UinputDevices.h"

#include <memory>
#include <string>
#include <vector>

namespace orvix::input {

// Posts and watches keys at the kernel's input layer, under any display
// server: posted keys go out through the program's uinput keyboard by evdev
// code, the flags as modifier presses around the key; the tap reads every
// keyboard's event device and, to stamp real events, grabs the keyboards
// and passes their events on through the same virtual keyboard.
class EvdevBackend final : public InputBackend {
public:
    struct Options {
        std::string uinputPath = "/dev/uinput";
        std::string inputFolder = "/dev/input";
    };

    // Null (with a log line) when the virtual keyboard cannot be made.
    static std::unique_ptr<EvdevBackend> open(const Options& options);
    ~EvdevBackend() override;

    bool canPostAndWatch() const override { return true; }
    bool post(const InputEvent& event) override;
    void releaseAll() override;
    std::unique_ptr<EventTap> createEventTap(const EventTap::Options& options) override;
    bool stampsInFlight() const override { return true; }

    UinputDevices& devices() { return *_devices; }

    EvdevBackend(const EvdevBackend&) = delete;
    EvdevBackend& operator=(const EvdevBackend&) = delete;

private:
    EvdevBackend(std::shared_ptr<UinputDevices> devices, Options options);

    std::shared_ptr<UinputDevices> _devices;
    Options _options;
    std::vector<int> _downKeys;      // evdev codes of ours that are down, oldest first
    std::vector<int> _modifierCodes; // modifier keys pressed for them
    bool _capsTapped = false;        // Caps Lock was toggled for the keys down
};

} // namespace orvix::input
