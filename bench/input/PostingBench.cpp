// Posting cost: the key-input logic alone (on a counting backend), posting
// through XTest until the server has handled it, and posting until a focused
// client has received the key. Watching cost: the tap callback alone, and a
// key from another client until the tap's callback has it. Runs its own Xvfb unless
// ORVIX_BENCH_DISPLAY names a display to use.
#include "app/input/EventTapHandler.h"
#include "app/input/KeyInput.h"
#include "os/input/EventFlags.h"
#include "os/input/X11Backend.h"
#include "os/input/X11EventTap.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Last: Xlib's macros clash with names in the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

using namespace orvix;
using namespace orvix::input;

namespace {

std::string gDisplay;

class CountingBackend : public InputBackend {
public:
    bool canPostAndWatch() const override { return true; }
    bool post(const InputEvent& event) override {
        benchmark::DoNotOptimize(event.flags);
        ++posted;
        return true;
    }
    void releaseAll() override {}
    std::unique_ptr<EventTap> createEventTap(const EventTap::Options&) override { return nullptr; }
    bool stampsInFlight() const override { return true; }
    long posted = 0;
};

class NoLighter : public KeyLighter {
public:
    void setKeyPressed(int code, bool pressed) override {
        benchmark::DoNotOptimize(code + pressed);
    }
    void setKeyToggles(int, bool) override {}
};

void BM_KeyInputClick(benchmark::State& state) {
    CountingBackend backend;
    NoLighter lighter;
    KeyInput input(backend, lighter, [](int32_t, int32_t) {});
    input.keyPressed(keycode::Shift); // a latched modifier makes every click relight nothing
    for (auto _ : state) {
        input.keyPressed(keycode::A);
        input.keyReleased(keycode::A);
    }
    state.SetItemsProcessed(backend.posted);
}
BENCHMARK(BM_KeyInputClick);

std::unique_ptr<X11Backend> openBackend() {
    X11Backend::Options options;
    options.displayName = gDisplay;
    options.statePath = "/tmp/orvix-bench-" + std::to_string(getpid()) + "/posted.state";
    options.emergencyRelease = false;
    return X11Backend::open(options);
}

InputEvent keyEvent(int code, bool down, uint64_t flags) {
    InputEvent event;
    event.type = down ? EventType::KeyDown : EventType::KeyUp;
    event.keycode = code;
    event.flags = flags;
    event.userData = kMarkerValue;
    return event;
}

// Post a click (down and up) and wait until the server has carried it out.
void BM_X11PostClick(benchmark::State& state) {
    auto backend = openBackend();
    if (!backend) {
        state.SkipWithError("no X display");
        return;
    }
    const uint64_t flags = static_cast<uint64_t>(state.range(0));
    for (auto _ : state) {
        backend->post(keyEvent(keycode::A, true, flags));
        backend->post(keyEvent(keycode::A, false, flags));
        XSync(backend->display(), False);
    }
}
BENCHMARK(BM_X11PostClick)
    ->Arg(0)
    ->Arg(kFlagShift)
    ->Arg(kFlagShift | kFlagAlphaShift)
    ->Unit(benchmark::kMicrosecond);

// Post a key-down and wait until a focused client has received it.
void BM_X11PostToArrival(benchmark::State& state) {
    auto backend = openBackend();
    Display* client = XOpenDisplay(gDisplay.c_str());
    if (!backend || !client) {
        state.SkipWithError("no X display");
        return;
    }
    Window window = XCreateSimpleWindow(client, DefaultRootWindow(client), 0, 0, 100, 100, 0, 0, 0);
    XSelectInput(client, window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapWindow(client, window);
    XEvent event;
    do
        XNextEvent(client, &event);
    while (event.type != MapNotify);
    XSetInputFocus(client, window, RevertToParent, CurrentTime);
    XSync(client, False);

    const uint64_t flags = static_cast<uint64_t>(state.range(0));
    for (auto _ : state) {
        backend->post(keyEvent(keycode::A, true, flags));
        do
            XNextEvent(client, &event);
        while (event.type != KeyPress || event.xkey.keycode != 38);
        state.PauseTiming();
        backend->post(keyEvent(keycode::A, false, flags));
        do
            XNextEvent(client, &event);
        while (event.type != KeyRelease || event.xkey.keycode != 38);
        while (XPending(client))
            XNextEvent(client, &event);
        state.ResumeTiming();
    }
    XCloseDisplay(client);
}
BENCHMARK(BM_X11PostToArrival)->Arg(0)->Arg(kFlagShift)->Unit(benchmark::kMicrosecond);

class NoTap : public EventTap {
public:
    void run() override {}
    void stop() override {}
    void setEnabled(bool) override {}
    bool isEnabled() const override { return true; }
};

class CountingMainThread : public EventTapHandler::MainThread {
public:
    void performKeyDown(int32_t code) override { calls += code; }
    void performKeyRelease(int32_t code) override { calls += code; }
    void performUpdateHeldModifiersAndWait() override { ++calls; }
    long calls = 0;
};

// The tap callback's own cost per real key event (the hand-off excluded).
void BM_TapCallbackKeyEvent(benchmark::State& state) {
    CountingBackend backend;
    NoLighter lighter;
    KeyInput input(backend, lighter, nullptr);
    CountingMainThread main;
    EventTapHandler handler(input, main, true, false);
    NoTap tap;
    input.keyPressed(keycode::Command);
    InputEvent event;
    for (auto _ : state) {
        event.type = EventType::KeyDown;
        event.keycode = keycode::A;
        event.flags = 0;
        EventTapHandler::callback(&handler, tap, event);
        benchmark::DoNotOptimize(event.flags);
    }
}
BENCHMARK(BM_TapCallbackKeyEvent);

struct SeenKeys {
    std::atomic<int> count{0};
    static void callback(void* self, EventTap&, InputEvent& event) {
        if (event.type == EventType::KeyDown)
            static_cast<SeenKeys*>(self)->count.fetch_add(1);
    }
};

// From a key sent by another client (the real keyboard's stand-in) to the
// tap's callback on its own thread.
void BM_X11TapLatency(benchmark::State& state) {
    SeenKeys seen;
    X11EventTap::Options options;
    options.displayName = gDisplay;
    options.callback = &SeenKeys::callback;
    options.userInfo = &seen;
    auto tap = X11EventTap::create(options);
    Display* keyboard = XOpenDisplay(gDisplay.c_str());
    if (!tap || !keyboard) {
        state.SkipWithError("no X display");
        return;
    }
    std::thread thread([&] { tap->run(); });
    int expected = 0;
    for (auto _ : state) {
        XTestFakeKeyEvent(keyboard, 38, True, CurrentTime);
        XFlush(keyboard);
        ++expected;
        while (seen.count.load() < expected) {
        }
        state.PauseTiming();
        XTestFakeKeyEvent(keyboard, 38, False, CurrentTime);
        XSync(keyboard, False);
        state.ResumeTiming();
    }
    tap->stop();
    thread.join();
    XCloseDisplay(keyboard);
}
BENCHMARK(BM_X11TapLatency)->Unit(benchmark::kMicrosecond)->UseRealTime();

pid_t startXvfb() {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-noreset", "-screen",
               "0", "640x480x24", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        return -1;
    gDisplay = ":" + number;
    return pid;
}

} // namespace

int main(int argc, char** argv) {
    pid_t server = -1;
    if (const char* display = getenv("ORVIX_BENCH_DISPLAY"))
        gDisplay = display;
    else
        server = startXvfb();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    return 0;
}
