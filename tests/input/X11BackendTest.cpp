#include "os/input/X11Backend.h"

#include "FakeBackend.h"
#include "LogCapture.h"
#include "XRecorder.h"
#include "app/input/KeyInput.h"
#include "os/input/EventFlags.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// Last: Xlib's macros (None, Bool, Status) clash with names in the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

using namespace orvix;
using namespace orvix::input;

namespace {

// One server and one recording client for the whole suite; every test
// leaves the server as it found it, which is what most of them check.
class X11BackendTest : public orvix::test::RecordedXSessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RecordedXSessionTest::SetUp());
        probe = XOpenDisplay(display().constData());
        ASSERT_NE(probe, nullptr);
        backend = openBackend();
        ASSERT_NE(backend, nullptr);
    }
    void TearDown() override {
        backend.reset();
        if (probe) {
            EXPECT_EQ(downKeys(), "") << "a key was left down";
            EXPECT_EQ(modifiers(), 0u) << "a modifier was left in force";
            XCloseDisplay(probe);
        }
    }

    QByteArray display() const { return session->display().toLatin1(); }
    std::unique_ptr<X11Backend> openBackend() {
        X11Backend::Options options;
        options.displayName = display().toStdString();
        options.statePath = (stateDir.path() + QStringLiteral("/input.state")).toStdString();
        options.emergencyRelease = false;
        return X11Backend::open(options);
    }

    // The probe is another client: the server owes it no order with the
    // backend's requests until the backend has synced.
    void settle() {
        if (backend)
            XSync(backend->display(), False);
    }
    // Effective modifiers of the core keyboard, as a client sees them.
    unsigned modifiers() {
        settle();
        XkbStateRec state{};
        XkbGetState(probe, XkbUseCoreKbd, &state);
        return state.mods;
    }
    unsigned lockedModifiers() {
        settle();
        XkbStateRec state{};
        XkbGetState(probe, XkbUseCoreKbd, &state);
        return state.locked_mods;
    }
    QString downKeys() {
        settle();
        char keys[32];
        XQueryKeymap(probe, keys);
        QStringList down;
        for (int k = 8; k < 256; ++k)
            if (keys[k / 8] & (1 << (k % 8)))
                down << QString::number(k);
        return down.join(u' ');
    }
    void post(int code, bool down, uint64_t flags) {
        InputEvent event;
        event.type = down ? EventType::KeyDown : EventType::KeyUp;
        event.keycode = code;
        event.flags = flags;
        event.userData = kMarkerValue;
        ASSERT_TRUE(backend->post(event));
    }

    QTemporaryDir stateDir;
    Display* probe = nullptr;
    std::unique_ptr<X11Backend> backend;
};

// The on-screen keyboard, minus the screen: lights recorded, sounds ignored.
struct Keyboard {
    explicit Keyboard(InputBackend& backend) : input(backend, lighter, nullptr) {}
    void click(int code) {
        input.keyPressed(code);
        input.keyReleased(code);
    }
    orvix::test::FakeLighter lighter;
    KeyInput input;
};

TEST_F(X11BackendTest, KeysAreAddressedByPositionThroughTheKeymap) {
    const XKeyboardMap& map = backend->keyboardMap();
    EXPECT_EQ(map.xKeycodeFor(0), 38);    // A on an evdev keymap
    EXPECT_EQ(map.xKeycodeFor(123), 113); // Left
    EXPECT_EQ(map.xKeycodeFor(63), 0);    // Function has no key
    EXPECT_EQ(map.virtualCodeFor(38), 0);
    EXPECT_EQ(map.shift().mask, static_cast<unsigned>(ShiftMask));
    EXPECT_EQ(map.option().mask, static_cast<unsigned>(Mod1Mask));
    EXPECT_EQ(map.command().mask, static_cast<unsigned>(Mod4Mask));
    EXPECT_NE(backend->xtestKeyboardId(), -1);

    post(0, true, 0);
    post(0, false, 0);
    EXPECT_EQ(recorder->waitForEvents(2), (QStringList{"press 38 a 0x0", "release 38 a 0x0"}));
}

TEST_F(X11BackendTest, EventsCarryExactlyTheirFlags) {
    post(0, true, kFlagShift);
    post(0, false, kFlagShift);
    EXPECT_EQ(recorder->waitForEvents(4),
              (QStringList{"press 50 Shift_L 0x0", "press 38 A 0x1", "release 38 A 0x1",
                           "release 50 Shift_L 0x1"}));

    recorder->clear();
    post(1, true, kFlagControl | kFlagAlternate | kFlagCommand | kFlagSecondaryFn);
    EXPECT_EQ(modifiers(), static_cast<unsigned>(ControlMask | Mod1Mask | Mod4Mask));
    post(1, false, kFlagControl | kFlagAlternate | kFlagCommand | kFlagSecondaryFn);
    const QStringList events = recorder->waitForEvents(8);
    ASSERT_EQ(events.size(), 8);
    EXPECT_EQ(events[3], "press 39 s 0x4c");
    EXPECT_EQ(events[4], "release 39 s 0x4c");
    // Nothing of ours sits in the server between posts.
    EXPECT_EQ(modifiers(), 0u);
}

// Posts read the modifier state from the server's notifications instead of
// asking for it: no round trip on the key path once the state is known. Keys
// posted back to back, before any news of the previous one's modifiers came
// back, must still carry exactly their own flags.
TEST_F(X11BackendTest, ModifierStateComesFromNotificationsYetNeverGoesStale) {
    post(0, true, 0);
    post(0, false, 0);
    ASSERT_EQ(recorder->waitForEvents(2).size(), 2);
    const unsigned asked = backend->stateQueries();
    EXPECT_LE(asked, 1u);
    for (int i = 0; i < 10; ++i) {
        settle();
        backend->dispatchEvents();
        post(0, true, 0);
        post(0, false, 0);
    }
    EXPECT_EQ(backend->stateQueries(), asked) << "plain clicks asked the server for the state";

    recorder->clear();
    QStringList expected;
    for (int i = 0; i < 40; ++i) {
        const bool shifted = i % 2;
        post(1, true, shifted ? kFlagShift : 0);
        post(1, false, shifted ? kFlagShift : 0);
        if (shifted)
            expected << "press 50 Shift_L 0x0"
                     << "press 39 S 0x1"
                     << "release 39 S 0x1"
                     << "release 50 Shift_L 0x1";
        else
            expected << "press 39 s 0x0"
                     << "release 39 s 0x0";
    }
    EXPECT_EQ(recorder->waitForEvents(static_cast<int>(expected.size())), expected);
    EXPECT_EQ(modifiers(), 0u);
}

TEST_F(X11BackendTest, CapsLockIsSetForTheKeyAndRestoredAfter) {
    post(0, true, kFlagAlphaShift | kFlagShift);
    post(0, false, kFlagAlphaShift | kFlagShift);
    const QStringList events = recorder->waitForEvents(4);
    ASSERT_EQ(events.size(), 4);
    EXPECT_EQ(events[1], "press 38 a 0x3"); // Shift cancels the lock for letters
    EXPECT_EQ(lockedModifiers(), 0u);

    // The user's own Caps Lock is taken away for an event without it and
    // comes back afterwards.
    XkbLockModifiers(probe, XkbUseCoreKbd, LockMask, LockMask);
    XSync(probe, False);
    recorder->clear();
    post(0, true, 0);
    post(0, false, 0);
    EXPECT_EQ(recorder->waitForEvents(2), (QStringList{"press 38 a 0x0", "release 38 a 0x0"}));
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(LockMask));
    XkbLockModifiers(probe, XkbUseCoreKbd, LockMask, 0);
    XSync(probe, False);
}

TEST_F(X11BackendTest, LatchedModifiersTypeThroughKeyInput) {
    Keyboard keyboard(*backend);
    keyboard.input.keyPressed(56); // latch Shift
    keyboard.click(0);
    keyboard.input.keyReleased(56);
    keyboard.click(0);
    EXPECT_EQ(recorder->waitForEvents(6),
              (QStringList{"press 50 Shift_L 0x0", "press 38 A 0x1", "release 38 A 0x1",
                           "release 50 Shift_L 0x1", "press 38 a 0x0", "release 38 a 0x0"}));

    // Function + Left arrives as Home, down and up, and A stays A.
    recorder->clear();
    keyboard.input.keyPressed(63);
    keyboard.click(123);
    keyboard.click(0);
    keyboard.input.keyReleased(63);
    EXPECT_EQ(recorder->waitForEvents(4), (QStringList{"press 110 Home 0x0", "release 110 Home 0x0",
                                                       "press 38 a 0x0", "release 38 a 0x0"}));

    // Caps Lock latches for typing and leaves no lock behind.
    recorder->clear();
    keyboard.input.keyPressed(57);
    keyboard.click(0);
    EXPECT_EQ(lockedModifiers(), 0u);
    keyboard.click(1);
    keyboard.input.keyReleased(57);
    keyboard.click(2);
    EXPECT_EQ(recorder->waitForEvents(6),
              (QStringList{"press 38 A 0x2", "release 38 A 0x2", "press 39 S 0x2",
                           "release 39 S 0x2", "press 40 d 0x0", "release 40 d 0x0"}));

    // Command (Super) around a key, released between clicks.
    recorder->clear();
    keyboard.input.keyPressed(55);
    EXPECT_EQ(modifiers(), 0u);
    keyboard.click(8);
    EXPECT_EQ(modifiers(), 0u);
    keyboard.input.keyReleased(55);
    EXPECT_EQ(recorder->waitForEvents(4),
              (QStringList{"press 133 Super_L 0x0", "press 54 c 0x40", "release 54 c 0x40",
                           "release 133 Super_L 0x40"}));
}

TEST_F(X11BackendTest, ReleasesFindTheKeyThatIsDown) {
    // A release naming another key than the press lets go of the pressed one.
    post(123, true, kFlagSecondaryFn);
    post(115, true, 0);
    post(126, false, 0);
    post(0, false, 0);
    const QStringList events = recorder->waitForEvents(4);
    EXPECT_EQ(events, (QStringList{"press 113 Left 0x0", "press 110 Home 0x0",
                                   "release 110 Home 0x0", "release 113 Left 0x0"}));
    // A release with nothing down posts nothing.
    recorder->clear();
    post(0, false, kFlagShift);
    EXPECT_EQ(recorder->waitForEvents(1, 300), QStringList{});
}

TEST_F(X11BackendTest, ModifierKeysAndUnknownCodesPostNothing) {
    for (int code : {54, 55, 56, 57, 58, 59, 60, 61, 63}) {
        post(code, true, modifierBitForKeyCode(code));
        post(code, false, 0);
    }
    InputEvent unknown;
    unknown.keycode = 127;
    EXPECT_FALSE(backend->post(unknown));
    unknown.keycode = 0xFFFF;
    EXPECT_FALSE(backend->post(unknown));
    unknown.keycode = 0;
    unknown.type = EventType::FlagsChanged;
    EXPECT_FALSE(backend->post(unknown));
    EXPECT_EQ(recorder->waitForEvents(1, 300), QStringList{});

    // Right Control is a plain key: it goes down and up like one.
    post(62, true, 0);
    post(62, false, 0);
    EXPECT_EQ(recorder->waitForEvents(2),
              (QStringList{"press 105 Control_R 0x0", "release 105 Control_R 0x4"}));
}

TEST_F(X11BackendTest, ReleaseAllLetsGoOfEverything) {
    XkbLockModifiers(probe, XkbUseCoreKbd, LockMask, LockMask);
    XSync(probe, False);
    post(0, true, kFlagShift | kFlagAlternate);
    post(1, true, kFlagShift | kFlagAlternate);
    EXPECT_NE(downKeys(), "");
    EXPECT_EQ(lockedModifiers(), 0u);
    backend->releaseAll();
    backend->releaseAll();
    XSync(backend->display(), False);
    EXPECT_EQ(downKeys(), "");
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(LockMask));
    XkbLockModifiers(probe, XkbUseCoreKbd, LockMask, 0);
    XSync(probe, False);
}

TEST_F(X11BackendTest, RestingFlagsReachRealKeysAndStepAsideForPosts) {
    backend->setRestingFlags(kFlagShift | kFlagSecondaryFn);
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(ShiftMask));
    // Another client's key (the "real" keyboard here) picks the modifier up.
    session->run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("b")});
    EXPECT_EQ(recorder->waitForEvents(2), (QStringList{"press 56 B 0x1", "release 56 B 0x1"}));

    // A post without it goes out without it, and it comes back after.
    recorder->clear();
    post(0, true, 0);
    post(0, false, 0);
    EXPECT_EQ(recorder->waitForEvents(2), (QStringList{"press 38 a 0x0", "release 38 a 0x0"}));
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(ShiftMask));
    // A post with it needs no Shift key.
    recorder->clear();
    post(0, true, kFlagShift);
    post(0, false, kFlagShift);
    EXPECT_EQ(recorder->waitForEvents(2), (QStringList{"press 38 A 0x1", "release 38 A 0x1"}));

    backend->setRestingFlags(kFlagCommand | kFlagAlphaShift);
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(Mod4Mask | LockMask));
    backend->setRestingFlags(0);
    EXPECT_EQ(lockedModifiers(), 0u);

    // The user's own Caps Lock survives a resting Caps Lock coming and going.
    XkbLockModifiers(probe, XkbUseCoreKbd, LockMask, LockMask);
    XSync(probe, False);
    backend->setRestingFlags(kFlagAlphaShift | kFlagControl);
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(LockMask | ControlMask));
    backend->setRestingFlags(kFlagControl);
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(LockMask | ControlMask));
    // releaseAll drops what rests.
    backend->releaseAll();
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(LockMask));
    XkbLockModifiers(probe, XkbUseCoreKbd, LockMask, 0);
    XSync(probe, False);
}

TEST_F(X11BackendTest, RestingFlagsWaitForTheKeyThatIsDown) {
    post(0, true, kFlagAlternate);
    backend->setRestingFlags(kFlagShift);
    EXPECT_EQ(lockedModifiers(), 0u) << "the click in progress keeps its own modifiers";
    post(0, false, kFlagAlternate);
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(ShiftMask));
    EXPECT_EQ(modifiers(), static_cast<unsigned>(ShiftMask)) << "Alt went up with the key";
    const QStringList events = recorder->waitForEvents(4);
    ASSERT_EQ(events.size(), 4);
    EXPECT_EQ(events[1], "press 38 a 0x8");
    EXPECT_EQ(events[2], "release 38 a 0x8");
    backend->setRestingFlags(0);
}

TEST_F(X11BackendTest, FollowsKeymapChanges) {
    int status = 0;
    session->run(QStringLiteral("setxkbmap"), {QStringLiteral("de")}, 10000, &status);
    ASSERT_EQ(status, 0);
    // Y on the US layout is Z on the German one: the key, not the symbol, is posted.
    post(16, true, 0);
    post(16, false, 0);
    const QStringList events = recorder->waitForEvents(2);
    session->run(QStringLiteral("setxkbmap"), {QStringLiteral("us")}, 10000, &status);
    ASSERT_EQ(events.size(), 2);
    EXPECT_TRUE(events[0].startsWith("press 29 z ")) << events[0].toStdString();

    recorder->clear();
    post(16, true, 0);
    post(16, false, 0);
    EXPECT_EQ(recorder->waitForEvents(2), (QStringList{"press 29 y 0x0", "release 29 y 0x0"}));
}

TEST_F(X11BackendTest, LedgerCountsEveryPostedKeyEvent) {
    PostedEventLedger& ledger = backend->ledger();
    post(0, true, kFlagShift);
    EXPECT_EQ(ledger.pending(38, true), 0) << "counting is off while no tap listens";
    post(0, false, kFlagShift);
    ledger.setEnabled(true);
    post(0, true, kFlagShift);
    post(0, false, kFlagShift);
    EXPECT_EQ(ledger.pending(38, true), 1);
    EXPECT_EQ(ledger.pending(38, false), 1);
    EXPECT_EQ(ledger.pending(50, true), 1);
    EXPECT_EQ(ledger.pending(50, false), 1);
    EXPECT_TRUE(ledger.consume(50, true));
    EXPECT_FALSE(ledger.consume(50, true));
    recorder->waitForEvents(8);
}

TEST_F(X11BackendTest, BadDisplayFailsWithOneLogLine) {
    orvix::test::LogCapture capture;
    X11Backend::Options options;
    options.displayName = ":4095";
    options.emergencyRelease = false;
    EXPECT_EQ(X11Backend::open(options), nullptr);
    EXPECT_TRUE(capture.contains("Cannot open X display :4095"));
    EXPECT_EQ(capture.lines().size(), 1u);
}

} // namespace
