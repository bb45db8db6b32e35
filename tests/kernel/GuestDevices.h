#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct libevdev;
struct libevdev_uinput;

namespace orvix::test {

// Whether this process may make uinput devices (inside the guest).
bool canUseUinput();

// A stand-in for a physical keyboard (or mouse), made through uinput with ids
// of its own, that a test types on.
class StandInDevice {
public:
    enum Kind { Keyboard, Mouse };
    explicit StandInDevice(Kind kind = Keyboard, uint16_t product = 0x5678,
                           uint16_t vendor = 0x1209);
    ~StandInDevice();
    bool ok() const { return _uidev != nullptr; }

    // One event and the end of its frame.
    void key(int code, int value);
    void tap(int code) {
        key(code, 1);
        key(code, 0);
    }
    std::string node() const;
    // Waits until an LED was set on the device; its code and value, or -1s.
    std::pair<int, int> waitForLed(int timeoutMs = 15000);
    // Tries to grab the device for this test; true when nobody else holds it.
    bool grabbable() const;

    StandInDevice(const StandInDevice&) = delete;
    StandInDevice& operator=(const StandInDevice&) = delete;

private:
    libevdev_uinput* _uidev = nullptr;
};

// Reads the key events a device emits.
class DeviceReader {
public:
    using Keys = std::vector<std::pair<int, int>>; // code, value
    explicit DeviceReader(const std::string& node);
    ~DeviceReader();
    bool ok() const { return _fd >= 0; }

    // Waits (up to `timeoutMs`) until `count` key events arrived and returns
    // them all; fewer when the time ran out. Without `pumpEvents` this thread's
    // event loop stands still meanwhile, as a stalled main thread would.
    Keys take(size_t count, int timeoutMs = 15000, bool pumpEvents = true);
    // Reads until `code` arrives with `value`; drops everything read.
    bool waitFor(int code, int value, int timeoutMs = 15000);
    // True once the device has gone away.
    bool waitUntilGone(int timeoutMs = 15000);

private:
    void readAvailable();
    int _fd = -1;
    bool _gone = false;
    Keys _keys;
};

// A key no keymap uses, typed until it comes out of `reader`'s virtual
// keyboard: then the tap has grabbed `keyboard` and passes its keys on.
constexpr int kProbe = 194; // KEY_F24
bool passesOn(StandInDevice& keyboard, DeviceReader& reader, int timeoutMs = 30000);

// `keys` as a tap passes them on with `modifier` latched: each between a
// press and a release of the modifier.
inline DeviceReader::Keys around(int modifier, const DeviceReader::Keys& keys) {
    DeviceReader::Keys out;
    for (const auto& key : keys)
        out.insert(out.end(), {{modifier, 1}, key, {modifier, 0}});
    return out;
}

// The event node of the device with these ids, once it exists; empty if none.
std::string findDeviceNode(uint16_t vendor, uint16_t product, int timeoutMs = 15000);

} // namespace orvix::test
