#include "os/input/X11EventTap.h"

#include "LogCapture.h"
#include "XRecorder.h"
#include "os/input/EventFlags.h"
#include "os/input/X11Backend.h"

#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

// Last: Xlib's macros clash with names in the headers above.
#include <X11/Xlib.h>

using namespace orvix::input;
using orvix::test::XSession;
using namespace std::chrono_literals;

namespace {

// What the callback saw, one line per event: "down 0 0x0", with " repeat" and
// " marked" added when the event is one.
class Recorder {
public:
    static void callback(void* userInfo, EventTap& tap, InputEvent& event) {
        auto* self = static_cast<Recorder*>(userInfo);
        if (event.type == EventType::TapDisabledByTimeout) {
            tap.setEnabled(true);
            self->add("timeout");
            return;
        }
        const char* kind = event.type == EventType::KeyDown        ? "down"
                           : event.type == EventType::KeyUp        ? "up"
                           : event.type == EventType::FlagsChanged ? "flags"
                                                                   : "other";
        char line[128];
        snprintf(line, sizeof line, "%s %lld 0x%llx%s%s", kind,
                 static_cast<long long>(event.keycode),
                 static_cast<unsigned long long>(event.flags), event.autorepeat ? " repeat" : "",
                 event.userData == kMarkerValue ? " marked" : "");
        self->add(line);
        if (self->slowOnce.exchange(false))
            std::this_thread::sleep_for(150ms);
    }

    void add(std::string line) {
        std::lock_guard lock(mutex);
        lines.push_back(std::move(line));
    }
    std::vector<std::string> take(size_t count) {
        XSession::waitFor(
            [&] {
                std::lock_guard lock(mutex);
                return lines.size() >= count;
            },
            5000);
        std::this_thread::sleep_for(100ms); // room for unexpected extras
        std::lock_guard lock(mutex);
        auto out = std::move(lines);
        lines.clear();
        return out;
    }

    std::mutex mutex;
    std::vector<std::string> lines;
    std::atomic<bool> slowOnce{false};
};

class X11EventTapTest : public orvix::test::SharedXSessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SharedXSessionTest::SetUp());
        backend = orvix::test::openX11Backend(session->display(), stateDir.path() + "/state");
        ASSERT_NE(backend, nullptr);

        // Made the way the tap thread makes it: the backend's own tap, on
        // the backend's display, marking what the backend posts.
        EventTap::Options options;
        options.callback = &Recorder::callback;
        options.userInfo = &recorder;
        options.timeLimit = 100ms;
        tap = backend->createEventTap(options);
        ASSERT_NE(tap, nullptr);
        thread = std::thread([this] { tap->run(); });
    }
    void TearDown() override {
        if (tap) {
            tap->stop();
            thread.join();
        }
        tap.reset();
        backend.reset();
    }

    QTemporaryDir stateDir;
    std::unique_ptr<X11Backend> backend;
    Recorder recorder;
    std::unique_ptr<EventTap> tap;
    std::thread thread;
};

using Lines = std::vector<std::string>;

TEST_F(X11EventTapTest, RealKeysAndModifiers) {
    xdotool({"key", "a"});
    EXPECT_EQ(recorder.take(2), (Lines{"down 0 0x0", "up 0 0x0"}));

    // Modifiers are flags-changed events carrying what is held after them.
    // (xdotool also sends a second release of each key it lets go; a release
    // of a key that is up reports nothing.)
    xdotool({"keydown", "Shift_L", "keydown", "Control_L", "key", "Home", "keyup", "Shift_L",
             "keyup", "Control_L"});
    EXPECT_EQ(recorder.take(6), (Lines{"flags 56 0x20000", "flags 59 0x60000", "down 115 0x60000",
                                       "up 115 0x60000", "flags 56 0x40000", "flags 59 0x0"}));
}

TEST_F(X11EventTapTest, OwnPostsComeBackMarkedAndHoldNothing) {
    orvix::test::postKey(*backend, 0, true, kFlagCommand);
    orvix::test::postKey(*backend, 0, false, kFlagCommand);
    XSync(backend->display(), False);
    // Super around A: all four marked; the held flags stay those of the real keys.
    EXPECT_EQ(recorder.take(4), (Lines{"flags 55 0x0 marked", "down 0 0x0 marked",
                                       "up 0 0x0 marked", "flags 55 0x0 marked"}));
    // Another XTest client's key right after ours is real.
    xdotool({"key", "a"});
    EXPECT_EQ(recorder.take(2), (Lines{"down 0 0x0", "up 0 0x0"}));
    EXPECT_EQ(backend->ledger().pending(38, true), 0);
}

TEST_F(X11EventTapTest, DisabledTapSeesNothingAndSlowCallbacksTimeOut) {
    tap->setEnabled(false);
    xdotool({"key", "a"});
    EXPECT_EQ(recorder.take(1), Lines{});
    tap->setEnabled(true);

    recorder.slowOnce = true;
    xdotool({"key", "s"});
    // The slow callback disables the tap; the time-out report re-enables it.
    EXPECT_EQ(recorder.take(3), (Lines{"down 1 0x0", "timeout", "up 1 0x0"}));
    EXPECT_TRUE(tap->isEnabled());
}

TEST(X11EventTapFailureTest, NoServerNoTap) {
    orvix::test::LogCapture capture;
    X11EventTap::Options options;
    options.displayName = ":4094";
    EXPECT_EQ(X11EventTap::create(options), nullptr);
    EXPECT_EQ(capture.lines().size(), 1u);
}

} // namespace
