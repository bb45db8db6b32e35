#include "FakeBackend.h"
#include "XRecorder.h"
#include "XSession.h"
#include "app/input/EventTapHandler.h"
#include "app/input/EventTapThread.h"
#include "app/input/KeyInput.h"
#include "app/input/MainThreadHandOff.h"
#include "os/input/EventFlags.h"
#include "os/input/X11Backend.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>

using namespace orvix;
using namespace orvix::input;
using orvix::test::FakeLighter;
using orvix::test::XSession;

namespace {

using Sounds = std::vector<std::pair<int32_t, int32_t>>;

// Real keys (xdotool) through the tap thread to the key input on the main
// thread, and posted keys that must not come back as real ones.
class TapThreadTest : public orvix::test::RecordedXSessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RecordedXSessionTest::SetUp());
        X11Backend::Options options;
        options.displayName = session->display().toStdString();
        options.statePath = (stateDir.path() + "/state").toStdString();
        options.emergencyRelease = false;
        backend = X11Backend::open(options);
        ASSERT_NE(backend, nullptr);
        input = std::make_unique<KeyInput>(*backend, lighter, [this](int32_t code, int32_t state) {
            sounds.emplace_back(code, state);
        });
        handOff = std::make_unique<MainThreadHandOff>(&context, *input);
        handler = std::make_unique<EventTapHandler>(*input, *handOff, true, false);
        tapThread = std::make_unique<EventTapThread>(*handler);
        tapThread->start(*backend, {}, [this] { failed = true; });
        // Listening as soon as the wait ends: the posts of the tests that
        // follow must all be known as our own.
        ASSERT_TRUE(tapThread->waitUntilListening(std::chrono::seconds(5)));
    }
    void TearDown() override {
        tapThread.reset();
        handler.reset();
        handOff.reset();
        input.reset();
        backend.reset();
    }

    bool waitForSounds(size_t count) {
        return XSession::waitFor([&] { return sounds.size() >= count; }, 5000);
    }

    QTemporaryDir stateDir;
    QObject context;
    FakeLighter lighter;
    Sounds sounds;
    std::atomic<bool> failed{false};
    std::unique_ptr<X11Backend> backend;
    std::unique_ptr<KeyInput> input;
    std::unique_ptr<MainThreadHandOff> handOff;
    std::unique_ptr<EventTapHandler> handler;
    std::unique_ptr<EventTapThread> tapThread;
};

TEST_F(TapThreadTest, RealKeysLightAndSoundOnTheMainThread) {
    xdotool({"keydown", "Home"});
    ASSERT_TRUE(waitForSounds(1));
    EXPECT_TRUE(lighter.isLit(123)) << "Home lights the Left Arrow";
    xdotool({"keyup", "Home"});
    ASSERT_TRUE(waitForSounds(2));
    EXPECT_FALSE(lighter.isLit(123));
    EXPECT_EQ(sounds, (Sounds{{115, 1}, {115, 0}}));

    // A real modifier lights both twins and plays Command's sounds.
    sounds.clear();
    xdotool({"keydown", "Shift_R"});
    ASSERT_TRUE(waitForSounds(1));
    EXPECT_TRUE(lighter.isLit(56));
    EXPECT_TRUE(lighter.isLit(60));
    EXPECT_EQ(input->heldFlags(), kFlagShift);
    xdotool({"keyup", "Shift_R"});
    ASSERT_TRUE(waitForSounds(2));
    EXPECT_FALSE(lighter.isLit(56));
    EXPECT_EQ(sounds, (Sounds{{55, 1}, {55, 0}}));
    EXPECT_FALSE(failed);
}

TEST_F(TapThreadTest, OwnClicksAreNotLitOrPlayedTwice) {
    input->keyPressed(55); // Command latched: Super goes around the key
    input->keyPressed(0);
    input->keyReleased(0);
    input->keyReleased(55);
    EXPECT_EQ(recorder->waitForEvents(4).size(), 4);
    // Give anything the tap might wrongly hand over time to arrive.
    XSession::waitFor([] { return false; }, 300);
    EXPECT_EQ(sounds, (Sounds{{55, 1}, {0, 1}, {0, 0}, {55, 0}}));
    EXPECT_FALSE(lighter.pressed.count(0)) << "a posted key came back as a real one";
    EXPECT_EQ(input->heldFlags(), 0u);
}

TEST_F(TapThreadTest, LatchedModifiersRestForRealKeys) {
    input->setModifiersObserver(
        [this](uint64_t latched, uint64_t) { backend->setRestingFlags(latched); });
    input->keyPressed(56);
    xdotool({"key", "a"});
    EXPECT_EQ(recorder->waitForEvents(2), (QStringList{"press 38 A 0x1", "release 38 A 0x1"}));
    recorder->clear();
    input->keyReleased(56);
    xdotool({"key", "a"});
    EXPECT_EQ(recorder->waitForEvents(2), (QStringList{"press 38 a 0x0", "release 38 a 0x0"}));
}

TEST(TapThreadFailureTest, NoTapRunsTheFailureHandler) {
    FakeLighter lighter;
    orvix::test::FakeBackend backend;
    KeyInput input(backend, lighter, nullptr);
    QObject context;
    MainThreadHandOff handOff(&context, input);
    EventTapHandler handler(input, handOff, true, false);
    std::atomic<bool> failed{false};
    {
        EventTapThread thread(handler);
        thread.start(backend, {}, [&] { failed = true; });
        // A tap that cannot be made ends the wait for it at once.
        EXPECT_FALSE(thread.waitUntilListening(std::chrono::seconds(30)));
        EXPECT_TRUE(XSession::waitFor([&] { return failed.load(); }, 5000));
        EXPECT_FALSE(thread.isRunning());
    }
}

} // namespace
