#include "os/input/evdev/EvdevEventTap.h"

#include "os/Log.h"
#include "os/input/EventFlags.h"
#include "os/input/evdev/EvdevKeys.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace orvix::input {

namespace {

bool isEventNode(const char* name) {
    return std::strncmp(name, "event", 5) == 0;
}

bool isKeyboard(const libevdev* dev) {
    for (int code : {KEY_A, KEY_Q, KEY_Z, KEY_SPACE})
        if (!libevdev_has_event_code(dev, EV_KEY, static_cast<unsigned>(code)))
            return false;
    return true;
}

bool isMouse(const libevdev* dev) {
    return libevdev_has_event_code(dev, EV_KEY, BTN_LEFT) &&
           libevdev_has_event_code(dev, EV_REL, REL_X) &&
           libevdev_has_event_code(dev, EV_REL, REL_Y) && !libevdev_has_event_type(dev, EV_ABS);
}

EventType buttonEventType(int code, bool down) {
    if (code == BTN_LEFT)
        return down ? EventType::LeftMouseDown : EventType::LeftMouseUp;
    if (code == BTN_RIGHT)
        return down ? EventType::RightMouseDown : EventType::RightMouseUp;
    return down ? EventType::OtherMouseDown : EventType::OtherMouseUp;
}

} // namespace

std::unique_ptr<EvdevEventTap> EvdevEventTap::create(const Options& options,
                                                     std::shared_ptr<UinputDevices> devices) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, options.inputFolder.c_str(),
                                    IN_CREATE | IN_ATTRIB | IN_DELETE | IN_MOVED_TO) < 0) {
        Log::write("Cannot watch %s for keyboards: %s", options.inputFolder.c_str(),
                   strerror(errno));
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    return std::unique_ptr<EvdevEventTap>(new EvdevEventTap(options, std::move(devices), fd));
}

EvdevEventTap::EvdevEventTap(const Options& options, std::shared_ptr<UinputDevices> devices,
                             int inotifyFd)
    : _options(options), _devices(std::move(devices)), _inotify(inotifyFd) {
    if (pipe2(_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        _wakePipe[0] = _wakePipe[1] = -1;
    scan();
}

EvdevEventTap::~EvdevEventTap() {
    while (!_watched.empty())
        closeDevice(_watched.size() - 1);
    _devices->releaseHolder(UinputDevices::Real | UinputDevices::Stamp);
    close(_inotify);
    for (int fd : _wakePipe)
        if (fd >= 0)
            close(fd);
}

void EvdevEventTap::stop() {
    _stop.store(true, std::memory_order_release);
    if (_wakePipe[1] >= 0) {
        const char byte = 1;
        ssize_t ignored = write(_wakePipe[1], &byte, 1);
        (void)ignored;
    }
}

void EvdevEventTap::setEnabled(bool enabled) {
    _enabled.store(enabled, std::memory_order_release);
}

uint64_t EvdevEventTap::heldFlags() const {
    uint64_t flags = _capsLocked ? kFlagAlphaShift : 0;
    for (int code : {KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTCTRL, KEY_RIGHTCTRL, KEY_LEFTALT,
                     KEY_RIGHTALT, KEY_LEFTMETA, KEY_RIGHTMETA, KEY_FN})
        if (_realDown[code])
            flags |= evdev::heldFlagForCode(code);
    return flags;
}

void EvdevEventTap::scan() {
    DIR* dir = opendir(_options.inputFolder.c_str());
    if (!dir)
        return;
    while (dirent* entry = readdir(dir))
        if (isEventNode(entry->d_name))
            openDevice(entry->d_name);
    closedir(dir);
}

void EvdevEventTap::openDevice(const std::string& name) {
    const std::string path = _options.inputFolder + "/" + name;
    for (const auto& device : _watched)
        if (device->path == path)
            return;
    // Read-write where allowed, so LEDs can be set on a grabbed keyboard.
    int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return; // not readable (yet: its permissions may follow)
    libevdev* dev = nullptr;
    if (libevdev_new_from_fd(fd, &dev) != 0) {
        close(fd);
        return;
    }
    auto device = std::make_unique<Device>();
    device->path = path;
    device->fd = fd;
    device->dev = dev;
    const bool own =
        UinputDevices::isOwnDevice(static_cast<uint16_t>(libevdev_get_id_vendor(dev)),
                                   static_cast<uint16_t>(libevdev_get_id_product(dev)));
    device->keyboard = !own && isKeyboard(dev);
    device->pointer = !own && !device->keyboard && _options.stampMouse && isMouse(dev);
    if (!device->keyboard && !device->pointer) {
        libevdev_free(dev);
        close(fd);
        return;
    }
    device->wantsGrab = !_panicked && (device->keyboard ? _options.stampKeys : true);
    for (int code = 0; code < kKeyCount; ++code)
        if (libevdev_get_event_value(dev, EV_KEY, static_cast<unsigned>(code)) != 0) {
            device->down.set(static_cast<size_t>(code));
            ++_realDown[static_cast<size_t>(code)];
        }
    if (device->keyboard && libevdev_get_event_value(dev, EV_LED, LED_CAPSL) != 0)
        _capsLocked = true;
    if (device->pointer && !_devices->makePointer())
        device->wantsGrab = false;
    Log::write("Watching %s %s", device->keyboard ? "keyboard" : "mouse", libevdev_get_name(dev));
    _watched.push_back(std::move(device));
    tryGrab(*_watched.back());
}

void EvdevEventTap::closeDevice(size_t index) {
    Device& device = *_watched[index];
    ungrab(device);
    for (size_t code = 0; code < device.down.size(); ++code)
        if (device.down.test(code) && _realDown[code] > 0)
            --_realDown[code];
    libevdev_free(device.dev);
    close(device.fd);
    _watched.erase(_watched.begin() + static_cast<long>(index));
}

void EvdevEventTap::ungrab(Device& device) {
    if (!device.grabbed)
        return;
    libevdev_grab(device.dev, LIBEVDEV_UNGRAB);
    device.grabbed = false;
    // What it held on the virtual devices comes up there.
    for (size_t code = 0; code < device.down.size(); ++code) {
        if (!device.down.test(code) || _grabbedDown[code] == 0)
            continue;
        if (--_grabbedDown[code] == 0) {
            if (device.pointer)
                _devices->writePointer(EV_KEY, static_cast<int>(code), 0);
            else
                _devices->setKey(static_cast<int>(code), UinputDevices::Real, false, false);
        }
    }
    _devices->sync();
    if (device.pointer)
        _devices->writePointer(EV_SYN, SYN_REPORT, 0);
}

void EvdevEventTap::tryGrab(Device& device) {
    if (!device.wantsGrab || device.grabbed || _panicked || device.down.any())
        return;
    if (libevdev_grab(device.dev, LIBEVDEV_GRAB) != 0) {
        Log::write("%s is grabbed by another program; it is only read",
                   libevdev_get_name(device.dev));
        device.wantsGrab = false;
        return;
    }
    // Events read now reached everyone before the grab; they are seen, not
    // passed on. A key pressed meanwhile is waited out again.
    device.draining = true;
    const bool present = readDevice(device);
    device.draining = false;
    if (!present)
        return;
    if (device.down.any()) {
        libevdev_grab(device.dev, LIBEVDEV_UNGRAB);
        return;
    }
    device.grabbed = true;
}

bool EvdevEventTap::readDevice(Device& device) {
    input_event event;
    int rc = 0;
    for (;;) {
        rc = libevdev_next_event(device.dev, LIBEVDEV_READ_FLAG_NORMAL, &event);
        while (rc == LIBEVDEV_READ_STATUS_SYNC) {
            handle(device, event.type, event.code, event.value);
            rc = libevdev_next_event(device.dev, LIBEVDEV_READ_FLAG_SYNC, &event);
        }
        if (rc != LIBEVDEV_READ_STATUS_SUCCESS)
            break;
        handle(device, event.type, event.code, event.value);
    }
    return rc == -EAGAIN;
}

void EvdevEventTap::handle(Device& device, int type, int code, int value) {
    if (type == EV_KEY && code >= 0 && code < kKeyCount) {
        if (device.pointer)
            handleButton(device, code, value);
        else
            handleKey(device, code, value);
        return;
    }
    if (type == EV_SYN && code == SYN_REPORT) {
        if (!device.grabbed) {
            if (!device.draining)
                tryGrab(device);
            return;
        }
        if (device.pointer)
            _devices->writePointer(EV_SYN, SYN_REPORT, 0);
        return;
    }
    if (device.grabbed && device.pointer && type == EV_REL)
        _devices->writePointer(type, code, value);
}

bool EvdevEventTap::deliver(InputEvent& event) {
    if (!isEnabled() || !_options.callback)
        return false;
    const auto start = std::chrono::steady_clock::now();
    _options.callback(_options.userInfo, *this, event);
    if (std::chrono::steady_clock::now() - start > _options.timeLimit) {
        // Events pass on unchanged until the callback is back in time.
        setEnabled(false);
        InputEvent timeout;
        timeout.type = EventType::TapDisabledByTimeout;
        _options.callback(_options.userInfo, *this, timeout);
        return false;
    }
    return true;
}

void EvdevEventTap::handleKey(Device& device, int code, int value) {
    const auto index = static_cast<size_t>(code);
    if (value == 1 && !device.down.test(index)) {
        device.down.set(index);
        ++_realDown[index];
    } else if (value == 0 && device.down.test(index)) {
        device.down.reset(index);
        if (_realDown[index] > 0)
            --_realDown[index];
    } else if (value == 0) {
        return; // a release for a key that was never seen down
    }

    if (value == 1 && _realDown[KEY_BACKSPACE] && _realDown[KEY_ESC] && _realDown[KEY_ENTER]) {
        panic();
        return;
    }

    InputEvent event;
    bool known = false;
    const bool modifier = evdev::heldFlagForCode(code) != 0 || code == KEY_CAPSLOCK;
    const int virtualCode = evdev::virtualCodeForEvdev(code);
    if (modifier && value != 2) {
        if (code == KEY_CAPSLOCK && value == 1)
            _capsLocked = !_capsLocked;
        event.type = EventType::FlagsChanged;
        event.keycode = virtualCode;
        known = true;
    } else if (!modifier && virtualCode >= 0) {
        event.type = value == 0 ? EventType::KeyUp : EventType::KeyDown;
        event.keycode = virtualCode;
        event.autorepeat = value == 2 ? 1 : 0;
        known = true;
    }
    const uint64_t held = heldFlags();
    event.flags = held;
    const bool delivered = known && deliver(event);

    if (!device.grabbed)
        return;
    std::vector<int> around;
    bool capsLock = false;
    if (delivered && _options.stampKeys && event.isKeyEvent()) {
        around = evdev::modifierKeysForFlags(event.flags & ~held);
        // Caps Lock is a lock, not a key held: a latched one is switched on
        // for the press (and its repeats) and off again after it.
        capsLock = value != 0 && (event.flags & kFlagAlphaShift) && !(held & kFlagAlphaShift);
    }
    passKey(code, value, around, capsLock);
}

void EvdevEventTap::passKey(int code, int value, const std::vector<int>& around, bool capsLock) {
    const auto index = static_cast<size_t>(code);
    if (value == 2) {
        if (_grabbedDown[index] == 0)
            return;
    } else if (value == 1) {
        if (_grabbedDown[index]++ != 0)
            return; // down already through another keyboard
    } else {
        if (_grabbedDown[index] == 0 || --_grabbedDown[index] != 0)
            return;
    }
    auto toggleCapsLock = [this] {
        _devices->setKey(KEY_CAPSLOCK, UinputDevices::Stamp, true);
        _devices->setKey(KEY_CAPSLOCK, UinputDevices::Stamp, false);
    };
    if (capsLock)
        toggleCapsLock();
    _devices->around(around, [&] {
        _devices->writeKeyboardUnlocked(EV_KEY, code, value);
        _devices->writeKeyboardUnlocked(EV_SYN, SYN_REPORT, 0);
    });
    if (capsLock)
        toggleCapsLock();
}

void EvdevEventTap::handleButton(Device& device, int code, int value) {
    const auto index = static_cast<size_t>(code);
    if (value == 1)
        device.down.set(index);
    else if (value == 0)
        device.down.reset(index);
    if (code < BTN_MOUSE || code >= BTN_JOYSTICK || value == 2)
        return;
    InputEvent event;
    event.type = buttonEventType(code, value != 0);
    const uint64_t held = heldFlags();
    event.flags = held;
    const bool delivered = deliver(event);
    if (!device.grabbed)
        return;
    if (value == 1)
        ++_grabbedDown[index];
    else if (_grabbedDown[index] > 0)
        --_grabbedDown[index];
    std::vector<int> around;
    if (delivered)
        around = evdev::modifierKeysForFlags(event.flags & ~held);
    _devices->around(around, [&] {
        _devices->writePointerUnlocked(EV_KEY, code, value);
        _devices->writePointerUnlocked(EV_SYN, SYN_REPORT, 0);
    });
}

void EvdevEventTap::panic() {
    Log::write("Backspace, Escape and Return held together: every keyboard is let go");
    _panicked = true;
    for (auto& device : _watched) {
        ungrab(*device);
        device->wantsGrab = false;
    }
    _grabbedDown.fill(0);
    _devices->releaseHolder(0);
}

void EvdevEventTap::forwardLeds() {
    for (const auto& [code, value] : _devices->takeLedChanges()) {
        if (code == LED_CAPSL)
            _capsLocked = value != 0;
        for (const auto& device : _watched)
            if (device->grabbed && device->keyboard)
                libevdev_kernel_set_led_value(device->dev, static_cast<unsigned>(code),
                                              value ? LIBEVDEV_LED_ON : LIBEVDEV_LED_OFF);
    }
}

void EvdevEventTap::readHotplug() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = read(_inotify, buffer, sizeof buffer);
        if (length <= 0)
            return;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->len == 0 || !isEventNode(event->name))
                continue;
            const std::string path = _options.inputFolder + "/" + event->name;
            if (event->mask & IN_DELETE) {
                for (size_t i = 0; i < _watched.size(); ++i)
                    if (_watched[i]->path == path) {
                        closeDevice(i);
                        break;
                    }
            } else {
                openDevice(event->name);
            }
        }
    }
}

void EvdevEventTap::run() {
    std::vector<pollfd> fds;
    while (!_stop.load(std::memory_order_acquire)) {
        fds.clear();
        fds.push_back({_wakePipe[0], POLLIN, 0});
        fds.push_back({_inotify, POLLIN, 0});
        fds.push_back({_devices->keyboardDescriptor(), POLLIN, 0});
        for (const auto& device : _watched)
            fds.push_back({device->fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents) {
            char drain[16];
            while (read(_wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (fds[1].revents)
            readHotplug();
        if (fds[2].revents)
            forwardLeds();
        // Devices in the order polled; one that went away is closed.
        for (size_t i = 3, index = 0; i < fds.size() && index < _watched.size(); ++i) {
            if (_watched[index]->fd != fds[i].fd) {
                continue; // closed by hot-plug above
            }
            if (fds[i].revents && !readDevice(*_watched[index])) {
                closeDevice(index);
                continue;
            }
            ++index;
        }
    }
}

} // namespace orvix::input
