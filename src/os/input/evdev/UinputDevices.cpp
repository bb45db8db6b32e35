#include "os/input/evdev/UinputDevices.h"

#include "os/Log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <unistd.h>

namespace orvix::input {

namespace {

// Every key code but the button ranges: a device with buttons would be taken
// for a mouse or joystick. Power, sleep and brightness keys are among them,
// so grabbed keyboards keep them working through the virtual one.
bool isKeyboardKey(int code) {
    return (code >= KEY_ESC && code < BTN_MISC) || (code >= KEY_OK && code < BTN_TRIGGER_HAPPY);
}

libevdev_uinput* makeDevice(int uinputFd, const char* name, uint16_t product, bool pointer) {
    libevdev* dev = libevdev_new();
    libevdev_set_name(dev, name);
    libevdev_set_id_bustype(dev, BUS_VIRTUAL);
    libevdev_set_id_vendor(dev, UinputDevices::kVendor);
    libevdev_set_id_product(dev, product);
    libevdev_set_id_version(dev, 1);
    if (pointer) {
        libevdev_enable_event_type(dev, EV_KEY);
        for (int code = BTN_MOUSE; code < BTN_JOYSTICK; ++code)
            libevdev_enable_event_code(dev, EV_KEY, code, nullptr);
        libevdev_enable_event_type(dev, EV_REL);
        for (int code : {REL_X, REL_Y, REL_HWHEEL, REL_WHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES})
            libevdev_enable_event_code(dev, EV_REL, code, nullptr);
    } else {
        libevdev_enable_event_type(dev, EV_KEY);
        for (int code = 0; code < 0x300; ++code)
            if (isKeyboardKey(code))
                libevdev_enable_event_code(dev, EV_KEY, code, nullptr);
        libevdev_enable_event_type(dev, EV_LED);
        for (int code : {LED_NUML, LED_CAPSL, LED_SCROLLL, LED_COMPOSE, LED_KANA})
            libevdev_enable_event_code(dev, EV_LED, code, nullptr);
    }
    libevdev_uinput* uidev = nullptr;
    const int rc = libevdev_uinput_create_from_device(dev, uinputFd, &uidev);
    libevdev_free(dev);
    if (rc != 0) {
        Log::write("Cannot create the virtual %s: %s", pointer ? "pointer" : "keyboard",
                   strerror(-rc));
        return nullptr;
    }
    return uidev;
}

int openUinput(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        Log::write("Cannot open %s: %s", path.c_str(), strerror(errno));
    return fd;
}

} // namespace

std::unique_ptr<UinputDevices> UinputDevices::create(const std::string& uinputPath) {
    const int fd = openUinput(uinputPath);
    if (fd < 0)
        return nullptr;
    libevdev_uinput* keyboard = makeDevice(fd, "Orvix virtual keyboard", kKeyboardProduct, false);
    if (!keyboard) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<UinputDevices>(new UinputDevices(keyboard, uinputPath));
}

UinputDevices::UinputDevices(libevdev_uinput* keyboard, std::string uinputPath)
    : _keyboard(keyboard), _uinputPath(std::move(uinputPath)) {}

UinputDevices::~UinputDevices() {
    releaseHolder(0);
    // Destroying a device lets go of whatever it still holds, too.
    for (libevdev_uinput* dev : {_pointer, _keyboard})
        if (dev) {
            const int fd = libevdev_uinput_get_fd(dev);
            libevdev_uinput_destroy(dev);
            close(fd);
        }
}

bool UinputDevices::isOwnDevice(uint16_t vendor, uint16_t product) {
    return vendor == kVendor && (product == kKeyboardProduct || product == kPointerProduct);
}

void UinputDevices::writeLocked(int type, int code, int value) {
    if (_pendingCount == _pending.size())
        flushLocked();
    // The kernel stamps the time itself.
    _pending[_pendingCount++] =
        input_event{{}, static_cast<uint16_t>(type), static_cast<uint16_t>(code), value};
}

void UinputDevices::flushLocked() {
    const char* data = reinterpret_cast<const char*>(_pending.data());
    size_t left = _pendingCount * sizeof(input_event);
    _pendingCount = 0;
    const int fd = libevdev_uinput_get_fd(_keyboard);
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        left -= static_cast<size_t>(written);
    }
}

void UinputDevices::syncLocked() {
    writeLocked(EV_SYN, SYN_REPORT, 0);
}

void UinputDevices::writeKeyboardUnlocked(int type, int code, int value) {
    if (type == EV_KEY && code >= 0 && code < static_cast<int>(_holders.size())) {
        // A stamped event of a key that is held: the holder is the real keyboard.
        if (value == 1)
            _holders[code] |= Real;
        else if (value == 0)
            _holders[code] &= ~Real;
    }
    writeLocked(type, code, value);
}

void UinputDevices::writePointerUnlocked(int type, int code, int value) {
    if (_pointer)
        libevdev_uinput_write_event(_pointer, static_cast<unsigned>(type),
                                    static_cast<unsigned>(code), value);
}

void UinputDevices::setKey(int code, Holder holder, bool down, bool sync) {
    if (code <= 0 || code >= static_cast<int>(_holders.size()) || !isKeyboardKey(code))
        return;
    std::lock_guard lock(_mutex);
    const bool wasDown = _holders[code] != 0;
    if (down)
        _holders[code] |= holder;
    else
        _holders[code] &= ~holder;
    const bool isDown = _holders[code] != 0;
    if (wasDown != isDown)
        writeLocked(EV_KEY, code, isDown ? 1 : 0);
    if (sync)
        syncLocked();
    flushLocked();
}

void UinputDevices::sync() {
    std::lock_guard lock(_mutex);
    syncLocked();
    flushLocked();
}

void UinputDevices::repeatKey(int code) {
    if (code <= 0 || code >= static_cast<int>(_holders.size()))
        return;
    std::lock_guard lock(_mutex);
    if (_holders[code] == 0)
        return;
    writeLocked(EV_KEY, code, 2);
    syncLocked();
    flushLocked();
}

bool UinputDevices::isDown(int code) const {
    std::lock_guard lock(_mutex);
    return code > 0 && code < static_cast<int>(_holders.size()) && _holders[code] != 0;
}

void UinputDevices::releaseHolder(uint8_t holders) {
    std::lock_guard lock(_mutex);
    bool wrote = false;
    for (size_t code = 0; code < _holders.size(); ++code) {
        if (_holders[code] == 0)
            continue;
        _holders[code] = holders == 0 ? 0 : (_holders[code] & ~holders);
        if (_holders[code] == 0) {
            writeLocked(EV_KEY, static_cast<int>(code), 0);
            wrote = true;
        }
    }
    if (wrote)
        syncLocked();
    flushLocked();
    if (_pointer && holders == 0) {
        for (int code = BTN_MOUSE; code < BTN_JOYSTICK; ++code)
            libevdev_uinput_write_event(_pointer, EV_KEY, static_cast<unsigned>(code), 0);
        libevdev_uinput_write_event(_pointer, EV_SYN, SYN_REPORT, 0);
    }
}

bool UinputDevices::makePointer() {
    std::lock_guard lock(_mutex);
    if (_pointer)
        return true;
    const int fd = openUinput(_uinputPath);
    if (fd < 0)
        return false;
    _pointer = makeDevice(fd, "Orvix virtual pointer", kPointerProduct, true);
    if (!_pointer)
        close(fd);
    return _pointer != nullptr;
}

bool UinputDevices::writePointer(int type, int code, int value) {
    std::lock_guard lock(_mutex);
    if (!_pointer)
        return false;
    libevdev_uinput_write_event(_pointer, static_cast<unsigned>(type), static_cast<unsigned>(code),
                                value);
    return true;
}

int UinputDevices::keyboardDescriptor() const {
    return libevdev_uinput_get_fd(_keyboard);
}

std::vector<std::pair<int, int>> UinputDevices::takeLedChanges() {
    std::lock_guard lock(_mutex);
    std::vector<std::pair<int, int>> changes;
    input_event event;
    while (read(libevdev_uinput_get_fd(_keyboard), &event, sizeof event) ==
           static_cast<ssize_t>(sizeof event)) {
        if (event.type != EV_LED)
            continue;
        if (event.code == LED_CAPSL)
            _capsLed = event.value != 0;
        changes.emplace_back(event.code, event.value);
    }
    return changes;
}

bool UinputDevices::capsLockLed() const {
    std::lock_guard lock(_mutex);
    return _capsLed;
}

std::string UinputDevices::keyboardNode() const {
    const char* node = libevdev_uinput_get_devnode(_keyboard);
    return node ? node : "";
}

} // namespace orvix::input
