#include "app/input/EventTapHandler.h"

#include "FakeBackend.h"
#include "LogCapture.h"
#include "app/input/MainThreadHandOff.h"
#include "os/input/EventFlags.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace orvix;
using namespace orvix::input;
using orvix::test::FakeBackend;
using orvix::test::FakeLighter;

namespace {

class FakeTap : public EventTap {
public:
    void run() override {}
    void stop() override {}
    void setEnabled(bool value) override { enabled = value; }
    bool isEnabled() const override { return enabled; }
    bool enabled = true;
};

// Runs the hand-offs at once, and notes what it was asked to do.
class FakeMainThread : public EventTapHandler::MainThread {
public:
    explicit FakeMainThread(KeyInput& input) : input(input) {}
    void performKeyDown(int32_t code) override { calls.push_back("down " + std::to_string(code)); }
    void performKeyRelease(int32_t code) override { calls.push_back("up " + std::to_string(code)); }
    void performUpdateHeldModifiersAndWait() override {
        calls.push_back("held");
        input._updateHeldModifiers();
    }
    KeyInput& input;
    std::vector<std::string> calls;
};

class EventTapHandlerTest : public ::testing::Test {
protected:
    EventTapHandlerTest()
        : input(backend, lighter,
                [this](int32_t code, int32_t state) { sounds.emplace_back(code, state); }),
          main(input) {}

    // Hands one event to the handler; answers the flags it leaves on it.
    uint64_t handle(EventTapHandler& handler, EventType type, int64_t code = 0, uint64_t flags = 0,
                    int64_t autorepeat = 0, int64_t userData = 0) {
        InputEvent e;
        e.type = type;
        e.keycode = code;
        e.flags = flags;
        e.autorepeat = autorepeat;
        e.userData = userData;
        handler.handle(tap, e);
        return e.flags;
    }

    FakeBackend backend;
    FakeLighter lighter;
    std::vector<std::pair<int32_t, int32_t>> sounds;
    KeyInput input;
    FakeMainThread main;
    FakeTap tap;
};

using Calls = std::vector<std::string>;

TEST_F(EventTapHandlerTest, MarkedEventsPassUntouched) {
    EventTapHandler handler(input, main, true, true);
    input.keyPressed(55); // Command latched
    for (EventType type : {EventType::KeyDown, EventType::KeyUp, EventType::FlagsChanged})
        EXPECT_EQ(handle(handler, type, 0, kFlagShift | 0x100, 0, kMarkerValue),
                  kFlagShift | 0x100);
    EXPECT_TRUE(main.calls.empty());
    EXPECT_EQ(input.heldFlags(), 0u);
    // Only the low 32 bits count as the marker.
    handle(handler, EventType::KeyDown, 0, 0, 0, (int64_t{1} << 32) | kMarkerValue);
    EXPECT_EQ(main.calls, Calls{});
    handle(handler, EventType::KeyDown, 0, 0, 0, 41);
    EXPECT_EQ(main.calls, Calls{"down 0"});
}

TEST_F(EventTapHandlerTest, KeysHandOffAndStampReplacingAllFlags) {
    EventTapHandler handler(input, main, true, false);
    input.keyPressed(55);
    EXPECT_EQ(handle(handler, EventType::KeyDown, 115, kFlagShift | 0x102), kFlagCommand)
        << "the real Shift and device bits are gone";
    EXPECT_EQ(handle(handler, EventType::KeyDown, 115, 0, 1), kFlagCommand)
        << "repeats are stamped too";
    handle(handler, EventType::KeyUp, 115);
    EXPECT_EQ(main.calls, (Calls{"down 115", "up 115"}));
}

TEST_F(EventTapHandlerTest, WithoutTheSettingRealKeysKeepTheirFlags) {
    EventTapHandler handler(input, main, false, false);
    input.keyPressed(56);
    EXPECT_EQ(handle(handler, EventType::KeyDown, 0, 0x100), 0x100u);
    EXPECT_EQ(handle(handler, EventType::FlagsChanged, 59, kFlagControl | 0x1), kFlagControl | 0x1);
    EXPECT_EQ(input.heldFlags(), kFlagControl | 0x1);
    EXPECT_EQ(input.effectiveFlags(), kFlagControl | kFlagShift | 0x1);
}

TEST_F(EventTapHandlerTest, FlagsChangedLeavesStampedWithItsOwnChange) {
    EventTapHandler handler(input, main, true, false);
    input.keyPressed(59); // Control latched
    EXPECT_EQ(handle(handler, EventType::FlagsChanged, 56, kFlagShift | 0x2),
              kFlagShift | 0x2 | kFlagControl);
    EXPECT_EQ(main.calls, Calls{"held"});
    EXPECT_TRUE(lighter.isLit(56));
    EXPECT_TRUE(lighter.isLit(60));

    // Without modifiers held or latched, real events carry the last
    // flags-changed event's flags.
    input.keyReleased(59);
    handle(handler, EventType::FlagsChanged, 56, 0x100);
    EXPECT_EQ(handle(handler, EventType::KeyDown, 0, kFlagCommand), 0x100u);
}

TEST_F(EventTapHandlerTest, MouseEventsStampedWhenAsked) {
    EventTapHandler withMouse(input, main, false, true);
    input.keyPressed(55);
    EXPECT_EQ(handle(withMouse, EventType::LeftMouseDown, 0, kFlagShift), kFlagCommand)
        << "a command-click, whatever the key setting";
    EXPECT_EQ(handle(withMouse, EventType::ScrollWheel), kFlagCommand);
    EXPECT_TRUE(main.calls.empty());
}

TEST_F(EventTapHandlerTest, TimeoutReEnablesAndUserInputDoesNot) {
    EventTapHandler handler(input, main, true, false);
    orvix::test::LogCapture capture;
    tap.enabled = false;
    handle(handler, EventType::TapDisabledByUserInput);
    EXPECT_FALSE(tap.enabled);
    EXPECT_TRUE(capture.lines().empty());

    InputEvent timeout;
    timeout.type = EventType::TapDisabledByTimeout;
    EventTapHandler::callback(&handler, tap, timeout);
    EXPECT_TRUE(tap.enabled);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"Disabled by timeout"});
}

TEST_F(EventTapHandlerTest, HandOffRunsOnTheMainThreadAndWaits) {
    QObject context;
    MainThreadHandOff handOff(&context, input);
    std::atomic<bool> done{false};
    std::atomic<bool> updatedBeforeReturn{false};
    std::thread tapThread([&] {
        input.setHeldFlags(kFlagAlternate);
        handOff.performUpdateHeldModifiersAndWait();
        // The wait is over only once the main thread has relit the keys.
        updatedBeforeReturn = input.effectiveFlags() == kFlagAlternate;
        handOff.performKeyDown(0);
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    tapThread.join();
    QCoreApplication::processEvents();
    EXPECT_TRUE(updatedBeforeReturn);
    EXPECT_TRUE(lighter.isLit(58));
    EXPECT_TRUE(lighter.isLit(0));
    EXPECT_FALSE(handOff.takeTimedOut());
}

// A hand-off that runs late, because the main thread was busy past the
// limit, still happens, and plays the modifier press and release it stood
// for, in order.
TEST_F(EventTapHandlerTest, HandOffGivesUpWhenTheMainThreadIsBusyButStillRunsLater) {
    QObject context;
    MainThreadHandOff handOff(&context, input, std::chrono::milliseconds(50));
    std::thread tapThread([&] {
        for (uint64_t held : {kFlagShift, uint64_t{0}, kFlagShift}) {
            input.setHeldFlags(held);
            handOff.performUpdateHeldModifiersAndWait();
        }
    });
    tapThread.join(); // the main thread runs no events meanwhile
    EXPECT_TRUE(handOff.takeTimedOut());
    EXPECT_FALSE(handOff.takeTimedOut());
    EXPECT_TRUE(sounds.empty());
    EXPECT_FALSE(lighter.isLit(56));
    QCoreApplication::processEvents();
    EXPECT_EQ(sounds, (decltype(sounds){
                          {keycode::Command, 1}, {keycode::Command, 0}, {keycode::Command, 1}}));
    EXPECT_TRUE(lighter.isLit(56));

    // On the main thread itself it runs at once.
    input.setHeldFlags(0);
    handOff.performUpdateHeldModifiersAndWait();
    EXPECT_FALSE(lighter.isLit(56));
}

} // namespace
