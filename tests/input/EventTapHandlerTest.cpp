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

InputEvent event(EventType type, int64_t code = 0, uint64_t flags = 0, int64_t autorepeat = 0,
                 int64_t userData = 0) {
    InputEvent e;
    e.type = type;
    e.keycode = code;
    e.flags = flags;
    e.autorepeat = autorepeat;
    e.userData = userData;
    return e;
}

class EventTapHandlerTest : public ::testing::Test {
protected:
    EventTapHandlerTest() : input(backend, lighter, nullptr), main(input) {}

    FakeBackend backend;
    FakeLighter lighter;
    KeyInput input;
    FakeMainThread main;
    FakeTap tap;
};

TEST_F(EventTapHandlerTest, MarkedEventsPassUntouched) {
    EventTapHandler handler(input, main, true, true);
    input.keyPressed(55); // Command latched
    for (EventType type : {EventType::KeyDown, EventType::KeyUp, EventType::FlagsChanged}) {
        InputEvent e = event(type, 0, kFlagShift | 0x100, 0, kMarkerValue);
        handler.handle(tap, e);
        EXPECT_EQ(e.flags, kFlagShift | 0x100);
    }
    EXPECT_TRUE(main.calls.empty());
    EXPECT_EQ(input.heldFlags(), 0u);
    // Only the low 32 bits count as the marker.
    InputEvent e = event(EventType::KeyDown, 0, 0, 0, (int64_t{1} << 32) | kMarkerValue);
    handler.handle(tap, e);
    EXPECT_EQ(main.calls, std::vector<std::string>{});
    e = event(EventType::KeyDown, 0, 0, 0, 41);
    handler.handle(tap, e);
    EXPECT_EQ(main.calls, std::vector<std::string>{"down 0"});
}

TEST_F(EventTapHandlerTest, KeysHandOffAndStampReplacingAllFlags) {
    EventTapHandler handler(input, main, true, false);
    input.keyPressed(55);
    InputEvent down = event(EventType::KeyDown, 115, kFlagShift | 0x102);
    handler.handle(tap, down);
    EXPECT_EQ(down.flags, kFlagCommand) << "the real Shift and device bits are gone";
    InputEvent repeat = event(EventType::KeyDown, 115, 0, 1);
    handler.handle(tap, repeat);
    EXPECT_EQ(repeat.flags, kFlagCommand) << "repeats are stamped too";
    InputEvent up = event(EventType::KeyUp, 115);
    handler.handle(tap, up);
    EXPECT_EQ(main.calls, (std::vector<std::string>{"down 115", "up 115"}));
}

TEST_F(EventTapHandlerTest, WithoutTheSettingRealKeysKeepTheirFlags) {
    EventTapHandler handler(input, main, false, false);
    input.keyPressed(56);
    InputEvent down = event(EventType::KeyDown, 0, 0x100);
    handler.handle(tap, down);
    EXPECT_EQ(down.flags, 0x100u);
    InputEvent flags = event(EventType::FlagsChanged, 59, kFlagControl | 0x1);
    handler.handle(tap, flags);
    EXPECT_EQ(flags.flags, kFlagControl | 0x1);
    EXPECT_EQ(input.heldFlags(), kFlagControl | 0x1);
    EXPECT_EQ(input.effectiveFlags(), kFlagControl | kFlagShift | 0x1);
}

TEST_F(EventTapHandlerTest, FlagsChangedLeavesStampedWithItsOwnChange) {
    EventTapHandler handler(input, main, true, false);
    input.keyPressed(59); // Control latched
    InputEvent e = event(EventType::FlagsChanged, 56, kFlagShift | 0x2);
    handler.handle(tap, e);
    EXPECT_EQ(main.calls, std::vector<std::string>{"held"});
    EXPECT_EQ(e.flags, kFlagShift | 0x2 | kFlagControl);
    EXPECT_TRUE(lighter.isLit(56));
    EXPECT_TRUE(lighter.isLit(60));

    // Without modifiers held or latched, real events carry the last
    // flags-changed event's flags.
    input.keyReleased(59);
    InputEvent released = event(EventType::FlagsChanged, 56, 0x100);
    handler.handle(tap, released);
    InputEvent key = event(EventType::KeyDown, 0, kFlagCommand);
    handler.handle(tap, key);
    EXPECT_EQ(key.flags, 0x100u);
}

TEST_F(EventTapHandlerTest, OtherEventsStampedUnderTheMouseMask) {
    EventTapHandler keysOnly(input, main, false, false);
    EventTapHandler withMouse(input, main, false, true);
    EXPECT_EQ(keysOnly.eventMask(), 7168u);
    EXPECT_EQ(withMouse.eventMask(), 264248574u);
    for (int type : {1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 22, 23, 24, 25, 26, 27})
        EXPECT_TRUE(withMouse.eventMask() & (uint64_t{1} << type)) << type;

    input.keyPressed(55);
    InputEvent click = event(EventType::LeftMouseDown, 0, kFlagShift);
    withMouse.handle(tap, click);
    EXPECT_EQ(click.flags, kFlagCommand) << "a command-click, whatever the key setting";
    InputEvent scroll = event(EventType::ScrollWheel, 0, 0);
    withMouse.handle(tap, scroll);
    EXPECT_EQ(scroll.flags, kFlagCommand);
    EXPECT_TRUE(main.calls.empty());
}

TEST_F(EventTapHandlerTest, TimeoutReEnablesAndUserInputDoesNot) {
    EventTapHandler handler(input, main, true, false);
    orvix::test::LogCapture capture;
    tap.enabled = false;
    InputEvent userInput = event(EventType::TapDisabledByUserInput);
    handler.handle(tap, userInput);
    EXPECT_FALSE(tap.enabled);
    EXPECT_TRUE(capture.lines().empty());

    InputEvent timeout = event(EventType::TapDisabledByTimeout);
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

TEST_F(EventTapHandlerTest, HandOffGivesUpWhenTheMainThreadIsBusy) {
    QObject context;
    MainThreadHandOff handOff(&context, input, std::chrono::milliseconds(50));
    std::thread tapThread([&] {
        input.setHeldFlags(kFlagShift);
        handOff.performUpdateHeldModifiersAndWait();
    });
    tapThread.join(); // the main thread runs no events meanwhile
    EXPECT_TRUE(handOff.takeTimedOut());
    EXPECT_FALSE(handOff.takeTimedOut());
    EXPECT_FALSE(lighter.isLit(56));
    // The update still happens once the main thread gets to it.
    QCoreApplication::processEvents();
    EXPECT_TRUE(lighter.isLit(56));

    // On the main thread itself it runs at once.
    input.setHeldFlags(0);
    handOff.performUpdateHeldModifiersAndWait();
    EXPECT_FALSE(lighter.isLit(56));
}

} // namespace
