#pragma once

#include <array>
#include <cstdint>
#include <linux/input.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct libevdev_uinput;

namespace orvix::input {

// The program's own virtual input devices, made through uinput: one keyboard
// that carries both the keys the program posts and the real keys it passes
// on from grabbed keyboards, and, when pointer buttons are stamped, one
// pointer for the grabbed mice. Both carry the program's own vendor and
// product ids, so the tap never takes them for real devices.
//
// A key is down on the virtual keyboard while any of its holders holds it:
// the real keyboards passed on (Real), the program's posts (Posted) or one
// stamped event (Stamp). Every method may be called from any thread; a frame
// of events is written whole under the lock.
class UinputDevices {
public:
    static constexpr uint16_t kVendor = 0x4f58;
    static constexpr uint16_t kKeyboardProduct = 0x0001;
    static constexpr uint16_t kPointerProduct = 0x0002;

    enum Holder : uint8_t { Real = 1, Posted = 2, Stamp = 4 };

    // Null (with a log line) when the uinput device cannot be opened.
    static std::unique_ptr<UinputDevices> create(const std::string& uinputPath);
    ~UinputDevices();

    // Whether `vendor`/`product` name one of the program's own devices.
    static bool isOwnDevice(uint16_t vendor, uint16_t product);

    // Sets a key's holder down or up; writes the key when the key's state on
    // the virtual keyboard changes, and a frame end when `sync` is set.
    void setKey(int code, Holder holder, bool down, bool sync = true);
    // Ends a frame of events.
    void sync();
    // Writes an auto-repeat for a key that is down.
    void repeatKey(int code);
    // Presses the keys of `codes` that are not down for one event: the event
    // made by `write` (which must end its own frame), then lets go of them.
    template <class Write> void around(const std::vector<int>& codes, Write write) {
        std::lock_guard lock(_mutex);
        std::vector<int> pressed;
        for (int code : codes)
            if (_holders[code] == 0) {
                writeLocked(kEvKey, code, 1);
                _holders[code] |= Stamp;
                pressed.push_back(code);
            }
        if (!pressed.empty())
            syncLocked();
        write();
        for (int code : pressed) {
            _holders[code] &= ~Stamp;
            if (_holders[code] == 0)
                writeLocked(kEvKey, code, 0);
        }
        if (!pressed.empty())
            syncLocked();
        flushLocked();
    }
    // Inside around()'s write only.
    void writeKeyboardUnlocked(int type, int code, int value);
    void writePointerUnlocked(int type, int code, int value);

    bool isDown(int code) const;
    // Lets go of every key a holder holds (all holders when 0).
    void releaseHolder(uint8_t holders);

    // Writes one pointer event (type/code/value); makes the pointer first.
    bool writePointer(int type, int code, int value);
    bool makePointer();

    // The virtual keyboard's uinput descriptor: readable when a client set
    // its LEDs. takeLedChanges() drains it.
    int keyboardDescriptor() const;
    std::vector<std::pair<int, int>> takeLedChanges();
    bool capsLockLed() const;

    // The event device node of the virtual keyboard (for tests and logs).
    std::string keyboardNode() const;

    UinputDevices(const UinputDevices&) = delete;
    UinputDevices& operator=(const UinputDevices&) = delete;

private:
    static constexpr int kEvKey = 1;
    UinputDevices(libevdev_uinput* keyboard, std::string uinputPath);
    void writeLocked(int type, int code, int value);
    void syncLocked();
    // Writes the events gathered under the lock in one system call: a
    // stamped key's three frames then wake the readers once, not three times.
    void flushLocked();

    mutable std::mutex _mutex;
    libevdev_uinput* _keyboard;
    libevdev_uinput* _pointer = nullptr;
    std::string _uinputPath;
    std::array<uint8_t, 0x300> _holders{};
    std::array<input_event, 64> _pending{};
    size_t _pendingCount = 0;
    bool _capsLed = false;
};

} // namespace orvix::input
