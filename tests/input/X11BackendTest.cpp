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
#include <X11/Xlib.h>

using namespace orvix;
using namespace orvix::input;
using orvix::test::postKey;

namespace {

// One server and one recording client for the whole suite; every test
// leaves the server as it found it, which is what most of them check.
class X11BackendTest : public orvix::test::RecordedXSessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RecordedXSessionTest::SetUp());
        probe = std::make_unique<orvix::test::XProbe>(session->display(), [this] { settle(); });
        ASSERT_TRUE(probe->isOpen());
        backend = orvix::test::openX11Backend(session->display(), stateDir.path() + "/state");
        ASSERT_NE(backend, nullptr);
    }
    void TearDown() override {
        backend.reset();
        if (probe) {
            EXPECT_EQ(probe->downKeys(), "") << "a key was left down";
            EXPECT_EQ(probe->modifiers(), 0u) << "a modifier was left in force";
        }
    }

    void settle() {
        if (backend)
            XSync(backend->display(), False);
    }
    void post(int code, bool down, uint64_t flags) { postKey(*backend, code, down, flags); }
    void click(int code, uint64_t flags) {
        post(code, true, flags);
        post(code, false, flags);
    }
    QStringList events(int count, int timeoutMs = 5000) {
        return recorder->waitForEvents(count, timeoutMs);
    }

    QTemporaryDir stateDir;
    std::unique_ptr<orvix::test::XProbe> probe;
    std::unique_ptr<X11Backend> backend;
};

TEST_F(X11BackendTest, EventsCarryExactlyTheirFlags) {
    click(0, kFlagShift);
    EXPECT_EQ(events(4), (QStringList{"press 50 Shift_L 0x0", "press 38 A 0x1", "release 38 A 0x1",
                                      "release 50 Shift_L 0x1"}));

    recorder->clear();
    post(1, true, kFlagControl | kFlagAlternate | kFlagCommand | kFlagSecondaryFn);
    EXPECT_EQ(probe->modifiers(), static_cast<unsigned>(ControlMask | Mod1Mask | Mod4Mask));
    post(1, false, kFlagControl | kFlagAlternate | kFlagCommand | kFlagSecondaryFn);
    const QStringList seen = events(8);
    ASSERT_EQ(seen.size(), 8);
    EXPECT_EQ(seen[3], "press 39 s 0x4c");
    EXPECT_EQ(seen[4], "release 39 s 0x4c");
    // Nothing of ours sits in the server between posts.
    EXPECT_EQ(probe->modifiers(), 0u);
}

// Posts read the modifier state from the server's notifications instead of
// asking for it: no round trip on the key path once the state is known. Keys
// posted back to back, before any news of the previous one's modifiers came
// back, must still carry exactly their own flags.
TEST_F(X11BackendTest, ModifierStateComesFromNotificationsYetNeverGoesStale) {
    click(0, 0);
    ASSERT_EQ(events(2).size(), 2);
    const unsigned asked = backend->stateQueries();
    EXPECT_LE(asked, 1u);
    for (int i = 0; i < 10; ++i) {
        settle();
        backend->dispatchEvents();
        click(0, 0);
    }
    EXPECT_EQ(backend->stateQueries(), asked) << "plain clicks asked the server for the state";

    recorder->clear();
    QStringList expected;
    for (int i = 0; i < 40; ++i) {
        const bool shifted = i % 2;
        click(1, shifted ? kFlagShift : 0);
        if (shifted)
            expected << "press 50 Shift_L 0x0"
                     << "press 39 S 0x1"
                     << "release 39 S 0x1"
                     << "release 50 Shift_L 0x1";
        else
            expected << "press 39 s 0x0"
                     << "release 39 s 0x0";
    }
    EXPECT_EQ(events(static_cast<int>(expected.size())), expected);
}

TEST_F(X11BackendTest, CapsLockIsSetForTheKeyAndRestoredAfter) {
    click(0, kFlagAlphaShift | kFlagShift);
    const QStringList seen = events(4);
    ASSERT_EQ(seen.size(), 4);
    EXPECT_EQ(seen[1], "press 38 a 0x3"); // Shift cancels the lock for letters
    EXPECT_EQ(probe->lockedModifiers(), 0u);

    // The user's own Caps Lock is taken away for an event without it and
    // comes back afterwards.
    probe->lockCaps(true);
    recorder->clear();
    click(0, 0);
    EXPECT_EQ(events(2), (QStringList{"press 38 a 0x0", "release 38 a 0x0"}));
    EXPECT_EQ(probe->lockedModifiers(), static_cast<unsigned>(LockMask));
    probe->lockCaps(false);
}

// Shift, Function and Caps Lock latches through the real program: TypingTest.
TEST_F(X11BackendTest, LatchedCommandGoesAroundTheKeyAndLeavesNothingInTheServer) {
    orvix::test::FakeLighter lighter;
    KeyInput input(*backend, lighter, nullptr);
    input.keyPressed(55);
    input.keyPressed(8);
    input.keyReleased(8);
    EXPECT_EQ(probe->modifiers(), 0u);
    input.keyReleased(55);
    EXPECT_EQ(events(4), (QStringList{"press 133 Super_L 0x0", "press 54 c 0x40",
                                      "release 54 c 0x40", "release 133 Super_L 0x40"}));
    EXPECT_EQ(probe->lockedModifiers(), 0u);
}

TEST_F(X11BackendTest, ReleasesFindTheKeyThatIsDown) {
    // A release naming another key than the press lets go of the pressed one.
    post(123, true, kFlagSecondaryFn);
    post(115, true, 0);
    post(126, false, 0);
    post(0, false, 0);
    EXPECT_EQ(events(4), (QStringList{"press 113 Left 0x0", "press 110 Home 0x0",
                                      "release 110 Home 0x0", "release 113 Left 0x0"}));
    // A release with nothing down posts nothing.
    recorder->clear();
    post(0, false, kFlagShift);
    EXPECT_EQ(events(1, 300), QStringList{});
}

TEST_F(X11BackendTest, ModifierKeysAndUnknownCodesPostNothing) {
    for (int code : {54, 55, 56, 57, 58, 59, 60, 61, 63}) {
        post(code, true, modifierBitForKeyCode(code));
        post(code, false, 0);
    }
    for (auto [code, type] : {std::pair{127, EventType::KeyDown},
                              {0xFFFF, EventType::KeyDown},
                              {0, EventType::FlagsChanged}}) {
        InputEvent unknown;
        unknown.keycode = code;
        unknown.type = type;
        EXPECT_FALSE(backend->post(unknown)) << code;
    }
    EXPECT_EQ(events(1, 300), QStringList{});

    // Right Control is a plain key: it goes down and up like one.
    click(62, 0);
    EXPECT_EQ(events(2), (QStringList{"press 105 Control_R 0x0", "release 105 Control_R 0x4"}));
}

TEST_F(X11BackendTest, ReleaseAllLetsGoOfEverything) {
    probe->lockCaps(true);
    post(0, true, kFlagShift | kFlagAlternate);
    post(1, true, kFlagShift | kFlagAlternate);
    EXPECT_NE(probe->downKeys(), "");
    EXPECT_EQ(probe->lockedModifiers(), 0u);
    backend->releaseAll();
    backend->releaseAll();
    EXPECT_EQ(probe->downKeys(), "");
    EXPECT_EQ(probe->lockedModifiers(), static_cast<unsigned>(LockMask));
    probe->lockCaps(false);
}

TEST_F(X11BackendTest, RestingFlagsRestInTheServerAndStepAsideForPosts) {
    // Real keys pick a resting modifier up: TapLatchedShiftTest, on the program.
    backend->setRestingFlags(kFlagShift | kFlagSecondaryFn);
    EXPECT_EQ(probe->lockedModifiers(), static_cast<unsigned>(ShiftMask));
    // A post without it goes out without it, and it comes back after.
    click(0, 0);
    EXPECT_EQ(events(2), (QStringList{"press 38 a 0x0", "release 38 a 0x0"}));
    EXPECT_EQ(probe->lockedModifiers(), static_cast<unsigned>(ShiftMask));
    // A post with it needs no Shift key.
    recorder->clear();
    click(0, kFlagShift);
    EXPECT_EQ(events(2), (QStringList{"press 38 A 0x1", "release 38 A 0x1"}));

    backend->setRestingFlags(kFlagCommand | kFlagAlphaShift);
    EXPECT_EQ(probe->lockedModifiers(), static_cast<unsigned>(Mod4Mask | LockMask));
    backend->setRestingFlags(0);
    EXPECT_EQ(probe->lockedModifiers(), 0u);

    // The user's own Caps Lock survives a resting Caps Lock coming and going.
    probe->lockCaps(true);
    backend->setRestingFlags(kFlagAlphaShift | kFlagControl);
    EXPECT_EQ(probe->lockedModifiers(), static_cast<unsigned>(LockMask | ControlMask));
    backend->setRestingFlags(kFlagControl);
    EXPECT_EQ(probe->lockedModifiers(), static_cast<unsigned>(LockMask | ControlMask));
    // releaseAll drops what rests.
    backend->releaseAll();
    EXPECT_EQ(probe->lockedModifiers(), static_cast<unsigned>(LockMask));
    probe->lockCaps(false);
}

TEST_F(X11BackendTest, RestingFlagsWaitForTheKeyThatIsDown) {
    post(0, true, kFlagAlternate);
    backend->setRestingFlags(kFlagShift);
    EXPECT_EQ(probe->lockedModifiers(), 0u) << "the click in progress keeps its own modifiers";
    post(0, false, kFlagAlternate);
    EXPECT_EQ(probe->lockedModifiers(), static_cast<unsigned>(ShiftMask));
    EXPECT_EQ(probe->modifiers(), static_cast<unsigned>(ShiftMask)) << "Alt went up with the key";
    const QStringList seen = events(4);
    ASSERT_EQ(seen.size(), 4);
    EXPECT_EQ(seen[1], "press 38 a 0x8");
    EXPECT_EQ(seen[2], "release 38 a 0x8");
    backend->setRestingFlags(0);
}

TEST_F(X11BackendTest, FollowsKeymapChanges) {
    int status = 0;
    session->run(QStringLiteral("setxkbmap"), {QStringLiteral("de")}, 10000, &status);
    ASSERT_EQ(status, 0);
    // Y on the US layout is Z on the German one: the key, not the symbol, is posted.
    click(16, 0);
    const QStringList seen = events(2);
    session->run(QStringLiteral("setxkbmap"), {QStringLiteral("us")}, 10000, &status);
    ASSERT_EQ(seen.size(), 2);
    EXPECT_TRUE(seen[0].startsWith("press 29 z ")) << seen[0].toStdString();

    recorder->clear();
    click(16, 0);
    EXPECT_EQ(events(2), (QStringList{"press 29 y 0x0", "release 29 y 0x0"}));
}

TEST_F(X11BackendTest, LedgerCountsEveryPostedKeyEvent) {
    PostedEventLedger& ledger = backend->ledger();
    post(0, true, kFlagShift);
    EXPECT_EQ(ledger.pending(38, true), 0) << "counting is off while no tap listens";
    post(0, false, kFlagShift);
    ledger.setEnabled(true);
    click(0, kFlagShift);
    for (int code : {38, 50})
        for (bool down : {true, false})
            EXPECT_EQ(ledger.pending(code, down), 1) << code << down;
    events(8);
}

TEST_F(X11BackendTest, BadDisplayFailsWithOneLogLine) {
    orvix::test::LogCapture capture;
    EXPECT_EQ(orvix::test::openX11Backend(":4095", ""), nullptr);
    EXPECT_TRUE(capture.contains("Cannot open X display :4095"));
    EXPECT_EQ(capture.lines().size(), 1u);
}

} // namespace
