#include "FakeBackend.h"
#include "XRecorder.h"
#include "XSession.h"
#include "os/input/EventFlags.h"
#include "os/input/X11Backend.h"

#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>

using namespace orvix;
using namespace orvix::input;
using orvix::test::TapRig;
using orvix::test::XSession;
using Sounds = TapRig::Sounds;

namespace {

// Real keys (xdotool) through the tap thread to the key input on the main
// thread, and posted keys that must not come back as real ones. Real
// modifiers and latches resting for real keys: TapTest, through the program.
class TapThreadTest : public orvix::test::RecordedXSessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RecordedXSessionTest::SetUp());
        backend = orvix::test::openX11Backend(session->display(), stateDir.path() + "/state");
        ASSERT_NE(backend, nullptr);
        // Listening as soon as the wait ends: the posts of the tests that
        // follow must all be known as our own.
        ASSERT_TRUE(rig.start(*backend, true, false, [this] { failed = true; }));
    }

    bool waitForSounds(size_t count) {
        return XSession::waitFor([&] { return rig.sounds.size() >= count; }, 5000);
    }

    QTemporaryDir stateDir;
    std::atomic<bool> failed{false};
    std::unique_ptr<X11Backend> backend;
    TapRig rig; // after the backend: ends before it
};

TEST_F(TapThreadTest, RealKeysLightAndSoundOnTheMainThread) {
    xdotool({"keydown", "Home"});
    ASSERT_TRUE(waitForSounds(1));
    EXPECT_TRUE(rig.lighter.isLit(123)) << "Home lights the Left Arrow";
    xdotool({"keyup", "Home"});
    ASSERT_TRUE(waitForSounds(2));
    EXPECT_FALSE(rig.lighter.isLit(123));
    EXPECT_EQ(rig.sounds, (Sounds{{115, 1}, {115, 0}}));
    EXPECT_FALSE(failed);
}

TEST_F(TapThreadTest, OwnClicksAreNotLitOrPlayedTwice) {
    rig.input->keyPressed(55); // Command latched: Super goes around the key
    rig.input->keyPressed(0);
    rig.input->keyReleased(0);
    rig.input->keyReleased(55);
    EXPECT_EQ(recorder->waitForEvents(4).size(), 4);
    // Give anything the tap might wrongly hand over time to arrive.
    XSession::waitFor([] { return false; }, 300);
    EXPECT_EQ(rig.sounds, (Sounds{{55, 1}, {0, 1}, {0, 0}, {55, 0}}));
    EXPECT_FALSE(rig.lighter.pressed.count(0)) << "a posted key came back as a real one";
    EXPECT_EQ(rig.input->heldFlags(), 0u);
}

TEST(TapThreadFailureTest, NoTapRunsTheFailureHandler) {
    orvix::test::FakeBackend backend;
    std::atomic<bool> failed{false};
    TapRig rig;
    // A tap that cannot be made ends the wait for it at once.
    EXPECT_FALSE(rig.start(backend, true, false, [&] { failed = true; }));
    EXPECT_TRUE(XSession::waitFor([&] { return failed.load(); }, 5000));
    EXPECT_FALSE(rig.thread->isRunning());
}

} // namespace
