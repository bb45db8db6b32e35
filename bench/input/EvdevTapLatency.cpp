// Latency the evdev tap adds to a real key: from the moment a stand-in
// keyboard's event is written until the tap has passed it on through the
// virtual keyboard (the kernel's timestamp of the re-emitted event), for
// 1,000 key presses and releases, plain and with Shift latched (two more
// frames around each key). Needs /dev/uinput: run it in the guest,
//   tests/kernel/run-in-guest build/bench/bin/bench_evdev_tap
// where emulation inflates every figure.
#include "os/input/EventFlags.h"
#include "os/input/evdev/EvdevBackend.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace orvix::input;

namespace {

std::atomic<uint64_t> gFlags{0};

void stamp(void*, EventTap&, InputEvent& event) {
    event.flags = gFlags.load(std::memory_order_relaxed);
}

int64_t nanoseconds(const timespec& t) {
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Reads until the key event `code`/`value` arrives; its kernel timestamp.
int64_t waitForKey(int fd, int code, int value) {
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 5000) <= 0)
            return -1;
        input_event event;
        while (read(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event))
            if (event.type == EV_KEY && event.code == code && event.value == value)
                return int64_t(event.input_event_sec) * 1000000000 +
                       int64_t(event.input_event_usec) * 1000;
    }
}

void report(const char* what, std::vector<int64_t> samples) {
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) {
        return samples[size_t(q * double(samples.size() - 1))] / 1000.0;
    };
    std::printf("%-24s n=%zu  median %.1f us  p99 %.1f us  max %.1f us\n", what, samples.size(),
                at(0.5), at(0.99), at(1.0));
}

} // namespace

int main() {
    if (access("/dev/uinput", W_OK) != 0) {
        std::fprintf(stderr, "needs /dev/uinput (run it in the guest)\n");
        return 77;
    }
    libevdev* model = libevdev_new();
    libevdev_set_name(model, "Bench keyboard");
    libevdev_set_id_bustype(model, BUS_USB);
    libevdev_set_id_vendor(model, 0x1209);
    libevdev_set_id_product(model, 0x5670);
    libevdev_enable_event_type(model, EV_KEY);
    for (int code = KEY_ESC; code <= KEY_MICMUTE; ++code)
        libevdev_enable_event_code(model, EV_KEY, static_cast<unsigned>(code), nullptr);
    libevdev_uinput* keyboard = nullptr;
    if (libevdev_uinput_create_from_device(model, LIBEVDEV_UINPUT_OPEN_MANAGED, &keyboard) != 0)
        return 1;
    libevdev_free(model);

    auto backend = EvdevBackend::open({});
    if (!backend)
        return 1;
    EventTap::Options options;
    options.callback = &stamp;
    options.stampKeys = true;
    auto tap = backend->createEventTap(options);
    std::thread thread([&] { tap->run(); });
    const int fd = open(backend->devices().keyboardNode().c_str(), O_RDONLY | O_NONBLOCK);
    int clock = CLOCK_MONOTONIC;
    ioctl(fd, EVIOCSCLOCKID, &clock);

    auto type = [&](int code, int value) {
        timespec before;
        clock_gettime(CLOCK_MONOTONIC, &before);
        libevdev_uinput_write_event(keyboard, EV_KEY, static_cast<unsigned>(code), value);
        libevdev_uinput_write_event(keyboard, EV_SYN, SYN_REPORT, 0);
        const int64_t out = waitForKey(fd, code, value);
        return out < 0 ? -1 : out - nanoseconds(before);
    };
    // Grabbed once a key comes out.
    bool grabbed = false;
    for (int i = 0; i < 500 && !grabbed; ++i)
        grabbed = type(KEY_F24, 1) >= 0 && type(KEY_F24, 0) >= 0;
    if (!grabbed)
        return 1;

    for (const auto& [name, flags] :
         {std::pair{"plain keys", uint64_t(0)}, std::pair{"with Shift latched", kFlagShift}}) {
        gFlags.store(flags);
        std::vector<int64_t> samples;
        for (int i = 0; i < 1000; ++i)
            for (int value : {1, 0}) {
                const int64_t latency = type(KEY_A, value);
                if (latency >= 0)
                    samples.push_back(latency);
            }
        report(name, samples);
    }
    tap->stop();
    thread.join();
    libevdev_uinput_destroy(keyboard);
    return 0;
}
