#pragma once

#include "os/input/EventTap.h"
#include "os/input/evdev/UinputDevices.h"

#include <array>
#include <atomic>
#include <bitset>
#include <memory>
#include <string>
#include <vector>

struct libevdev;

namespace orvix::input {

// Watches every keyboard's event device (and, when pointer buttons are
// stamped, every mouse's), found at start and as they come and go.
//
// Reading alone cannot change an event in flight. To stamp, the tap grabs a
// device once no key is down on it, so only the tap sees its events, and
// passes each event on through the program's virtual devices: a real key
// leaves with the latched modifiers pressed on the virtual keyboard around
// it and released after it (a latched Caps Lock switched on and off around
// a press); held modifiers and repeats pass as they are;
// LEDs set on the virtual keyboard reach the grabbed keyboards.
//
// The program's own virtual devices are never watched. Backspace, Escape
// and Return held together let go of every grab and every key for the rest
// of the run. Ending the tap (or the process) lets go of everything too.
class EvdevEventTap final : public EventTap {
public:
    struct Options : EventTap::Options {
        std::string inputFolder = "/dev/input";
    };

    // Null (with a log line) when the input folder cannot be watched.
    static std::unique_ptr<EvdevEventTap> create(const Options& options,
                                                 std::shared_ptr<UinputDevices> devices);
    ~EvdevEventTap() override;

    void run() override;
    void stop() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return _enabled.load(std::memory_order_acquire); }

    // Tap thread only.
    uint64_t heldFlags() const;

    EvdevEventTap(const EvdevEventTap&) = delete;
    EvdevEventTap& operator=(const EvdevEventTap&) = delete;

private:
    static constexpr int kKeyCount = 0x300;
    struct Device {
        std::string path;
        int fd = -1;
        libevdev* dev = nullptr;
        bool keyboard = false;
        bool pointer = false;
        bool wantsGrab = false;
        bool grabbed = false;
        bool draining = false; // reading what came before its grab
        std::bitset<kKeyCount> down;
    };

    EvdevEventTap(const Options& options, std::shared_ptr<UinputDevices> devices, int inotifyFd);

    void scan();
    void openDevice(const std::string& name);
    void closeDevice(size_t index);
    bool readDevice(Device& device); // false: the device is gone
    void handle(Device& device, int type, int code, int value);
    void handleKey(Device& device, int code, int value);
    void handleButton(Device& device, int code, int value);
    void passKey(int code, int value, const std::vector<int>& around, bool capsLock);
    void tryGrab(Device& device);
    void ungrab(Device& device);
    void panic();
    void forwardLeds();
    void readHotplug();
    bool deliver(InputEvent& event);

    Options _options;
    std::shared_ptr<UinputDevices> _devices;
    int _inotify;
    int _wakePipe[2] = {-1, -1};
    std::atomic<bool> _enabled{true};
    std::atomic<bool> _stop{false};
    bool _panicked = false;
    bool _capsLocked = false;

    std::vector<std::unique_ptr<Device>> _watched;
    std::array<uint16_t, kKeyCount> _realDown{};    // keys down on all watched devices
    std::array<uint16_t, kKeyCount> _grabbedDown{}; // keys down on grabbed devices
};

} // namespace orvix::input
