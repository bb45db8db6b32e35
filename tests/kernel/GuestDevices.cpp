#include "GuestDevices.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace orvix::test {

namespace {

using Clock = std::chrono::steady_clock;

void pause() {
    QCoreApplication::processEvents();
    QThread::msleep(5);
}

// Runs `step` until it answers true or `timeoutMs` is over (at least once),
// with the event loop turning between tries; answers the last try.
template <typename Step> bool retry(int timeoutMs, Step step) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (step())
            return true;
        if (Clock::now() > deadline)
            return false;
        pause();
    }
}

} // namespace

bool canUseUinput() {
    return access("/dev/uinput", W_OK) == 0;
}

StandInDevice::StandInDevice(Kind kind, uint16_t product, uint16_t vendor) {
    libevdev* dev = libevdev_new();
    libevdev_set_name(dev, kind == Keyboard ? "Test keyboard" : "Test mouse");
    libevdev_set_id_bustype(dev, BUS_USB);
    libevdev_set_id_vendor(dev, vendor);
    libevdev_set_id_product(dev, product);
    libevdev_enable_event_type(dev, EV_KEY);
    if (kind == Keyboard) {
        for (int code = KEY_ESC; code <= KEY_MICMUTE; ++code)
            libevdev_enable_event_code(dev, EV_KEY, static_cast<unsigned>(code), nullptr);
        libevdev_enable_event_code(dev, EV_KEY, KEY_FN, nullptr);
        libevdev_enable_event_type(dev, EV_LED);
        libevdev_enable_event_code(dev, EV_LED, LED_CAPSL, nullptr);
    } else {
        for (int code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
            libevdev_enable_event_code(dev, EV_KEY, static_cast<unsigned>(code), nullptr);
        libevdev_enable_event_type(dev, EV_REL);
        libevdev_enable_event_code(dev, EV_REL, REL_X, nullptr);
        libevdev_enable_event_code(dev, EV_REL, REL_Y, nullptr);
    }
    libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &_uidev);
    libevdev_free(dev);
}

StandInDevice::~StandInDevice() {
    if (_uidev)
        libevdev_uinput_destroy(_uidev);
}

void StandInDevice::key(int code, int value) {
    libevdev_uinput_write_event(_uidev, EV_KEY, static_cast<unsigned>(code), value);
    libevdev_uinput_write_event(_uidev, EV_SYN, SYN_REPORT, 0);
}

std::string StandInDevice::node() const {
    const char* node = libevdev_uinput_get_devnode(_uidev);
    return node ? node : "";
}

std::pair<int, int> StandInDevice::waitForLed(int timeoutMs) {
    const int fd = libevdev_uinput_get_fd(_uidev);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    input_event event{};
    const bool set = retry(timeoutMs, [&] {
        while (read(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event))
            if (event.type == EV_LED)
                return true;
        return false;
    });
    return set ? std::pair<int, int>(event.code, event.value) : std::pair(-1, -1);
}

bool StandInDevice::grabbable() const {
    const int fd = open(node().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool grabbed = ioctl(fd, EVIOCGRAB, 1) == 0;
    if (grabbed)
        ioctl(fd, EVIOCGRAB, 0);
    close(fd);
    return grabbed;
}

DeviceReader::DeviceReader(const std::string& node) {
    _fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

DeviceReader::~DeviceReader() {
    if (_fd >= 0)
        close(_fd);
}

void DeviceReader::readAvailable() {
    input_event events[64];
    for (;;) {
        const ssize_t length = read(_fd, events, sizeof events);
        if (length < 0 && errno == ENODEV)
            _gone = true;
        if (length <= 0)
            return;
        for (size_t i = 0; i < static_cast<size_t>(length) / sizeof(input_event); ++i)
            if (events[i].type == EV_KEY)
                _keys.emplace_back(events[i].code, events[i].value);
    }
}

DeviceReader::Keys DeviceReader::take(size_t count, int timeoutMs, bool pumpEvents) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        readAvailable();
        if (_keys.size() >= count || _gone || Clock::now() > deadline)
            break;
        if (pumpEvents)
            pause();
        else
            QThread::msleep(5);
    }
    Keys keys;
    keys.swap(_keys);
    return keys;
}

bool DeviceReader::waitFor(int code, int value, int timeoutMs) {
    bool seen = false;
    retry(timeoutMs, [&] {
        readAvailable();
        seen = std::ranges::find(_keys, std::pair(code, value)) != _keys.end();
        _keys.clear();
        return seen || _gone;
    });
    return seen;
}

bool DeviceReader::waitUntilGone(int timeoutMs) {
    return retry(timeoutMs, [&] {
        readAvailable();
        return _gone;
    });
}

static_assert(kProbe == KEY_F24);

bool passesOn(StandInDevice& keyboard, DeviceReader& reader, int timeoutMs) {
    return retry(timeoutMs, [&] {
        keyboard.tap(kProbe);
        return reader.waitFor(kProbe, 0, 200);
    });
}

std::string findDeviceNode(uint16_t vendor, uint16_t product, int timeoutMs) {
    std::string found;
    retry(timeoutMs, [&] {
        DIR* dir = opendir("/dev/input");
        while (dirent* entry = dir && found.empty() ? readdir(dir) : nullptr) {
            if (std::string_view(entry->d_name).substr(0, 5) != "event")
                continue;
            const std::string path = std::string("/dev/input/") + entry->d_name;
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            input_id id{};
            if (fd >= 0 && ioctl(fd, EVIOCGID, &id) == 0 && id.vendor == vendor &&
                id.product == product)
                found = path;
            if (fd >= 0)
                close(fd);
        }
        if (dir)
            closedir(dir);
        return !found.empty();
    });
    return found;
}

} // namespace orvix::test
