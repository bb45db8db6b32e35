// The evdev backend and its tap on a real kernel: run inside the guest
// (run-in-guest); elsewhere every case is skipped.
#include "../input/FakeBackend.h"
#include "GuestDevices.h"
#include "XSession.h"
#include "os/input/EventFlags.h"
#include "os/input/evdev/EvdevBackend.h"
#include "platform/InputBackendFactory.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <linux/input.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orvix;
using namespace orvix::input;
using orvix::test::around;
using orvix::test::DeviceReader;
using orvix::test::FakeLighter;
using orvix::test::kProbe;
using orvix::test::passesOn;
using orvix::test::StandInDevice;
using orvix::test::XSession;
using Keys = DeviceReader::Keys;

namespace {

class EvdevTapGuestTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!orvix::test::canUseUinput())
            GTEST_SKIP() << "needs /dev/uinput: runs in the guest (tests/kernel/run-in-guest)";
        keyboard = std::make_unique<StandInDevice>();
        ASSERT_TRUE(keyboard->ok());
    }
    // The application's wiring of the tap (TapRig) on the evdev backend.
    void startTap(bool stampKeys, bool stampMouse = false) {
        backend = EvdevBackend::open({});
        ASSERT_NE(backend, nullptr);
        reader = std::make_unique<DeviceReader>(backend->devices().keyboardNode());
        ASSERT_TRUE(reader->ok());
        ASSERT_TRUE(rig.start(*backend, stampKeys, stampMouse));
    }

    // Types `events` on the stand-in and returns what the virtual keyboard sent.
    Keys type(const Keys& events, size_t expected) {
        for (const auto& [code, value] : events)
            keyboard->key(code, value);
        return reader->take(expected);
    }

    std::unique_ptr<StandInDevice> keyboard;
    std::unique_ptr<EvdevBackend> backend;
    std::unique_ptr<DeviceReader> reader;
    orvix::test::TapRig rig; // after the backend: ends before it
    std::unique_ptr<KeyInput>& input = rig.input;
    FakeLighter& lighter = rig.lighter;
    orvix::test::TapRig::Sounds& sounds = rig.sounds;
};

TEST_F(EvdevTapGuestTest, StampingPassesKeysOnWithTheLatchedModifiersAroundThem) {
    ASSERT_NO_FATAL_FAILURE(startTap(true));
    ASSERT_TRUE(passesOn(*keyboard, *reader));

    const Keys plain = {{KEY_A, 1},           {KEY_A, 2},         {KEY_A, 2},
                        {KEY_A, 0},           {KEY_LEFTSHIFT, 1}, {KEY_B, 1},
                        {KEY_B, 0},           {KEY_LEFTSHIFT, 0}, {KEY_C, 1},
                        {KEY_C, 0},           {KEY_POWER, 1},     {KEY_POWER, 0},
                        {KEY_SLEEP, 1},       {KEY_SLEEP, 0},     {KEY_BRIGHTNESSUP, 1},
                        {KEY_BRIGHTNESSUP, 0}};
    EXPECT_EQ(type(plain, plain.size()), plain)
        << "plain keys, repeats, power, sleep and brightness keys pass unchanged, in order";
    EXPECT_TRUE(XSession::waitFor([&] { return sounds.size() >= 6; }, 10000));
    EXPECT_EQ(sounds[0], std::make_pair(0, 1)) << "one press sound for A, repeats add none";
    EXPECT_EQ(sounds[1], std::make_pair(0, 0));

    input->keyPressed(keycode::Shift); // latches Shift, posts nothing
    EXPECT_EQ(type({{KEY_A, 1}, {KEY_A, 0}}, 6), around(KEY_LEFTSHIFT, {{KEY_A, 1}, {KEY_A, 0}}))
        << "latched Shift is pressed around each real key event";

    Keys controlled = around(KEY_LEFTSHIFT, {{KEY_A, 1}, {KEY_A, 0}});
    controlled.insert(controlled.begin(), {KEY_LEFTCTRL, 1});
    controlled.push_back({KEY_LEFTCTRL, 0});
    EXPECT_EQ(type({{KEY_LEFTCTRL, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTCTRL, 0}}, 8), controlled)
        << "a held Control passes as it is beside the latched Shift";

    EXPECT_EQ(type({{KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTSHIFT, 0}}, 4),
              (Keys{{KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTSHIFT, 0}}))
        << "a real Shift held with the latched one is not pressed twice";

    input->keyReleased(keycode::Shift);
    EXPECT_EQ(type({{KEY_A, 1}, {KEY_A, 0}}, 2), (Keys{{KEY_A, 1}, {KEY_A, 0}}))
        << "with the latch released, keys pass plain again";

    input->keyPressed(keycode::CapsLock);
    EXPECT_EQ(type({{KEY_A, 1}, {KEY_A, 0}}, 6), (Keys{{KEY_CAPSLOCK, 1},
                                                       {KEY_CAPSLOCK, 0},
                                                       {KEY_A, 1},
                                                       {KEY_CAPSLOCK, 1},
                                                       {KEY_CAPSLOCK, 0},
                                                       {KEY_A, 0}}))
        << "a latched Caps Lock is switched on for the press only";
    input->keyReleased(keycode::CapsLock);
}

TEST_F(EvdevTapGuestTest, RealFnRemapsClickedKeysAndPostsGoOutByEvdevCode) {
    ASSERT_NO_FATAL_FAILURE(startTap(true));
    ASSERT_TRUE(passesOn(*keyboard, *reader));
    keyboard->key(KEY_FN, 1);
    ASSERT_TRUE(XSession::waitFor([&] { return input->effectiveFlags() & kFlagSecondaryFn; }));
    input->keyPressed(keycode::Return);
    input->keyReleased(keycode::Return);
    EXPECT_EQ(reader->take(3), (Keys{{KEY_FN, 1}, {KEY_KPENTER, 1}, {KEY_KPENTER, 0}}))
        << "a held real fn turns a clicked Return into Keypad Enter";
    keyboard->key(KEY_FN, 0);
    ASSERT_TRUE(XSession::waitFor([&] { return !(input->effectiveFlags() & kFlagSecondaryFn); }));
    reader->take(1);

    input->keyPressed(keycode::Command); // latched: travels with the next keys only
    input->keyPressed(keycode::A);
    input->keyReleased(keycode::A);
    input->keyReleased(keycode::Command);
    EXPECT_EQ(reader->take(4), (Keys{{KEY_LEFTMETA, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTMETA, 0}}))
        << "a click's flags become modifier presses around its key";
    EXPECT_TRUE(sounds.size() >= 4);
    EXPECT_FALSE(lighter.isLit(0)) << "posted keys never come back through the tap";
}

TEST_F(EvdevTapGuestTest, AStalledMainThreadNeverStallsTheKeyboard) {
    ASSERT_NO_FATAL_FAILURE(startTap(true));
    ASSERT_TRUE(passesOn(*keyboard, *reader));
    // The main thread answers nothing while these pass: the modifier waits
    // for it at most the hand-off limit, then goes on unchanged.
    for (const auto& [code, value] : Keys{{KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}})
        keyboard->key(code, value);
    EXPECT_EQ(reader->take(3, 15000, false), (Keys{{KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}}));
    keyboard->key(KEY_LEFTSHIFT, 0);
    EXPECT_EQ(reader->take(1), (Keys{{KEY_LEFTSHIFT, 0}}));
    // Emulated and loaded, the queued hand-offs can take a while to drain.
    EXPECT_TRUE(
        XSession::waitFor([&] { return input->heldFlags() == 0 && sounds.size() >= 4; }, 30000))
        << "the main thread catches up once it runs";
}

TEST_F(EvdevTapGuestTest, LedsSetOnTheVirtualKeyboardReachTheGrabbedOnes) {
    ASSERT_NO_FATAL_FAILURE(startTap(true));
    ASSERT_TRUE(passesOn(*keyboard, *reader));
    // As a display server sets Caps Lock's LED on the keyboard it reads.
    const int fd = open(backend->devices().keyboardNode().c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const input_event led[] = {{{}, EV_LED, LED_CAPSL, 1}, {{}, EV_SYN, SYN_REPORT, 0}};
    ASSERT_EQ(write(fd, led, sizeof led), static_cast<ssize_t>(sizeof led));
    close(fd);
    EXPECT_EQ(keyboard->waitForLed(), std::make_pair(int(LED_CAPSL), 1));
}

TEST_F(EvdevTapGuestTest, EndingTheTapLetsGoOfTheKeyboardAndItsKeys) {
    ASSERT_NO_FATAL_FAILURE(startTap(true));
    ASSERT_TRUE(passesOn(*keyboard, *reader));
    keyboard->key(KEY_A, 1);
    ASSERT_EQ(reader->take(1), (Keys{{KEY_A, 1}}));
    rig.thread.reset(); // as at quit
    EXPECT_EQ(reader->take(1), (Keys{{KEY_A, 0}})) << "the held key comes up on the virtual one";
    EXPECT_TRUE(keyboard->grabbable());
    keyboard->key(KEY_A, 0);
    EXPECT_EQ(reader->take(1, 500), Keys{}) << "and its real release is not passed on twice";
}

TEST_F(EvdevTapGuestTest, PanicChordLetsGoOfEveryGrabAndKey) {
    ASSERT_NO_FATAL_FAILURE(startTap(true));
    ASSERT_TRUE(passesOn(*keyboard, *reader));
    EXPECT_EQ(type({{KEY_BACKSPACE, 1}, {KEY_ESC, 1}, {KEY_ENTER, 1}}, 4),
              (Keys{{KEY_BACKSPACE, 1}, {KEY_ESC, 1}, {KEY_ESC, 0}, {KEY_BACKSPACE, 0}}));
    EXPECT_TRUE(XSession::waitFor([&] { return keyboard->grabbable(); }))
        << "the keyboard is given back";
    for (int code : {KEY_ENTER, KEY_ESC, KEY_BACKSPACE})
        keyboard->key(code, 0);
}

// The keyboard plugged in is another remapper's virtual keyboard (keyd's
// ids): for Orvix it is a keyboard like any other, grabbed and stamped.
TEST_F(EvdevTapGuestTest, KeyboardsPluggedInWhileRunningAreTapped) {
    ASSERT_NO_FATAL_FAILURE(startTap(true));
    ASSERT_TRUE(passesOn(*keyboard, *reader));
    StandInDevice remapper(StandInDevice::Keyboard, 0x0ade, 0x0fac);
    ASSERT_TRUE(remapper.ok());
    ASSERT_TRUE(passesOn(remapper, *reader));
    input->keyPressed(keycode::Shift);
    remapper.tap(KEY_A);
    EXPECT_EQ(reader->take(6), around(KEY_LEFTSHIFT, {{KEY_A, 1}, {KEY_A, 0}}));
    EXPECT_FALSE(remapper.grabbable());
    input->keyReleased(keycode::Shift);
}

TEST_F(EvdevTapGuestTest, WithoutStampingKeyboardsAreOnlyRead) {
    ASSERT_NO_FATAL_FAILURE(startTap(false));
    keyboard->key(KEY_H, 1);
    ASSERT_TRUE(XSession::waitFor([&] { return lighter.isLit(4); })) << "real H lights its key";
    keyboard->key(KEY_H, 0);
    ASSERT_TRUE(XSession::waitFor([&] { return !lighter.isLit(4); }));
    EXPECT_TRUE(keyboard->grabbable());
}

TEST_F(EvdevTapGuestTest, AKeyboardGrabbedByAnotherProgramIsLeftAlone) {
    const int fd = open(keyboard->node().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ioctl(fd, EVIOCGRAB, 1), 0);
    ASSERT_NO_FATAL_FAILURE(startTap(true));
    input->keyPressed(keycode::A);
    input->keyReleased(keycode::A);
    EXPECT_EQ(reader->take(2), (Keys{{KEY_A, 1}, {KEY_A, 0}})) << "posting still works";
    close(fd);
}

TEST_F(EvdevTapGuestTest, LatchedModifiersStampMouseButtonsOnlyWhenAsked) {
    StandInDevice mouse(StandInDevice::Mouse, 0x567a);
    ASSERT_TRUE(mouse.ok());
    ASSERT_NO_FATAL_FAILURE(startTap(true, true));
    const std::string pointerNode =
        orvix::test::findDeviceNode(UinputDevices::kVendor, UinputDevices::kPointerProduct);
    ASSERT_FALSE(pointerNode.empty());
    DeviceReader pointer(pointerNode);
    ASSERT_TRUE(XSession::waitFor([&] {
        mouse.tap(BTN_MIDDLE);
        return pointer.waitFor(BTN_MIDDLE, 0, 200);
    }));
    reader->take(0, 0);
    input->keyPressed(keycode::Command);
    mouse.tap(BTN_LEFT);
    EXPECT_EQ(pointer.take(2), (Keys{{BTN_LEFT, 1}, {BTN_LEFT, 0}}));
    EXPECT_EQ(reader->take(4),
              (Keys{{KEY_LEFTMETA, 1}, {KEY_LEFTMETA, 0}, {KEY_LEFTMETA, 1}, {KEY_LEFTMETA, 0}}))
        << "a latched Command makes the click a command-click";
    input->keyReleased(keycode::Command);
}

TEST_F(EvdevTapGuestTest, MiceAreLeftAloneWithoutMouseStamping) {
    StandInDevice mouse(StandInDevice::Mouse, 0x567b);
    ASSERT_TRUE(mouse.ok());
    ASSERT_NO_FATAL_FAILURE(startTap(true, false));
    ASSERT_TRUE(passesOn(*keyboard, *reader));
    EXPECT_TRUE(mouse.grabbable());
    EXPECT_TRUE(
        orvix::test::findDeviceNode(UinputDevices::kVendor, UinputDevices::kPointerProduct, 0)
            .empty());
}

// The kernel ends the grab of a killed tap and takes its virtual keyboard
// away, and whatever it held with it. A new tap waits out the key still held.
TEST_F(EvdevTapGuestTest, KillingTheTapGivesTheKeyboardBackAndHeldKeysAreWaitedOut) {
    char helper[] = ORVIX_TAP_HELPER;
    char* argv[] = {helper, nullptr};
    auto spawnTap = [&] {
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, helper, nullptr, nullptr, argv, environ), 0);
        return pid;
    };
    const pid_t first = spawnTap();
    const std::string node =
        orvix::test::findDeviceNode(UinputDevices::kVendor, UinputDevices::kKeyboardProduct);
    ASSERT_FALSE(node.empty());
    DeviceReader firstKeyboard(node);
    ASSERT_TRUE(passesOn(*keyboard, firstKeyboard));
    keyboard->key(KEY_A, 1);
    ASSERT_EQ(firstKeyboard.take(1), (Keys{{KEY_A, 1}}));
    kill(first, SIGKILL);
    waitpid(first, nullptr, 0);
    EXPECT_TRUE(firstKeyboard.waitUntilGone()) << "the virtual keyboard and its keys are gone";
    EXPECT_TRUE(XSession::waitFor([&] { return keyboard->grabbable(); }))
        << "the keyboard is free again";

    const pid_t second = spawnTap();
    const std::string secondNode =
        orvix::test::findDeviceNode(UinputDevices::kVendor, UinputDevices::kKeyboardProduct);
    ASSERT_FALSE(secondNode.empty());
    DeviceReader secondKeyboard(secondNode);
    keyboard->key(KEY_B, 1); // A is still down: the keyboard is not grabbed yet
    keyboard->key(KEY_B, 0);
    keyboard->key(KEY_A, 0);
    Keys seen;
    EXPECT_TRUE(XSession::waitFor(
        [&] {
            keyboard->tap(kProbe);
            for (const auto& key : secondKeyboard.take(2, 200))
                seen.push_back(key);
            return !seen.empty() && seen.back() == std::make_pair(kProbe, 0);
        },
        20000));
    for (const auto& key : seen)
        EXPECT_EQ(key.first, kProbe) << "keys of before the grab are not passed on again";
    kill(second, SIGKILL);
    waitpid(second, nullptr, 0);
}

} // namespace

namespace {

// The "InputBackend" setting: auto takes evdev where it can post and read.
TEST(InputBackendChoiceGuestTest, TheSettingPicksTheBackend) {
    if (!orvix::test::canUseUinput())
        GTEST_SKIP() << "needs /dev/uinput: runs in the guest (tests/kernel/run-in-guest)";
    StandInDevice keyboard;
    ASSERT_TRUE(keyboard.ok());
    qunsetenv("DISPLAY");
    for (const char* setting : {"auto", "evdev", "something else"}) {
        InputBackendChoice choice = makeInputBackend(QString::fromUtf8(setting));
        EXPECT_EQ(choice.name, u"evdev") << setting;
        EXPECT_NE(choice.backend, nullptr) << setting;
        EXPECT_EQ(choice.accessProbe(), InputAccessLack::Nothing) << setting;
    }
    InputBackendChoice x11 = makeInputBackend(QStringLiteral("x11"));
    EXPECT_EQ(x11.backend, nullptr) << "no X display here";
    EXPECT_EQ(x11.accessProbe(), InputAccessLack::X11Display) << "and the user is told so";
}

} // namespace
