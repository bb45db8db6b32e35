// The output device on OpenAL Soft's wave-file writer (see WaveOutput.h).
#include "SoundTestSupport.h"
#include "WaveOutput.h"
#include "sound/AudioEngine.h"
#include "sound/AudioKeepAlive.h"
#include "sound/DevicePauser.h"

#include <QDir>
#include <QTest>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>

using namespace orvix;
using namespace std::chrono_literals;

namespace {

constexpr int kToneFrames = 2400; // 50 ms at 48 kHz

AudioEngine& engine() {
    return AudioEngine::sharedInstance();
}

uint32_t makeTone(const QString& name, float level) {
    uint32_t id = 0;
    return engine().createSound(test::scratchTone(name + ".wav", level), &id) ==
                   SystemSoundService::kNoError
               ? id
               : 0;
}

// Plays `sound` from a wiped file and answers what was heard once it ended.
test::Heard playAndHear(uint32_t sound) {
    if (!test::wipeOutput())
        return {};
    engine().play(sound);
    (void)QTest::qWaitFor([] { return engine().playingVoices() == 0; }, 3000);
    QTest::qWait(100); // the writer's buffer plays out
    return test::heardSinceWipe();
}

class OutputDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        tone = makeTone(QStringLiteral("tone"), 0.5f);
        ASSERT_NE(tone, 0u) << "the wave-file device did not open";
        ASSERT_TRUE(test::waitForFirstOutput());
    }
    void TearDown() override { engine().dispose(tone); }
    uint32_t tone = 0;
};

TEST_F(OutputDeviceTest, RunsWhileSoundsExistAndTheFirstPlayAfterIdleIsWhole) {
    // Idle for longer than a quiet mixer waits before it pauses: with
    // nothing else to keep the output awake (no sound server here) it
    // still mixes, so the output never sees a quiet stream.
    QTest::qWait(static_cast<int>(DevicePauser::kQuietBeforePause.count()) + 500);
    EXPECT_FALSE(engine().outputPaused());
    EXPECT_TRUE(test::outputAdvances(300)) << "the mixer stopped while idle";

    const test::Heard heard = playAndHear(tone);
    // Mono at the centre: every frame of the square wave on both channels.
    EXPECT_EQ(heard.samples, 2 * kToneFrames);
    EXPECT_NEAR(std::fabs(heard.first), heard.loudest, 0.01f) << "the start was faded or cut";
    EXPECT_NEAR(heard.quietest, heard.loudest, 0.01f);
}

TEST_F(OutputDeviceTest, ReleasedHoldPausesAndAHoldOrAPlayResumes) {
    engine().holdOutput(true);
    engine().holdOutput(false); // the keep-alive stops: the system goes to sleep
    ASSERT_TRUE(engine().waitForOutput(3s));
    EXPECT_TRUE(engine().outputPaused());
    EXPECT_FALSE(test::outputAdvances(300)) << "a paused device writes nothing";

    // A key while paused resumes the device and is heard from its first frame.
    EXPECT_EQ(playAndHear(tone).samples, 2 * kToneFrames);
    EXPECT_FALSE(engine().outputPaused());

    engine().holdOutput(true);
    engine().holdOutput(false);
    engine().holdOutput(true); // woken before the pause was carried out
    ASSERT_TRUE(engine().waitForOutput(3s));
    EXPECT_FALSE(engine().outputPaused());
    EXPECT_TRUE(test::outputAdvances(300));
}

TEST_F(OutputDeviceTest, TheLastSoundClosesTheDeviceAndTheNextOpensIt) {
    const int live = engine().liveSounds();
    engine().dispose(tone);
    tone = 0;
    EXPECT_EQ(engine().liveSounds(), live - 1);
    EXPECT_FALSE(engine().outputOpen()) << "no sound, no stream";
    engine().play(999999); // nothing to play opens nothing
    EXPECT_FALSE(engine().outputOpen());

    tone = makeTone(QStringLiteral("again"), 0.4f);
    ASSERT_NE(tone, 0u);
    EXPECT_TRUE(engine().outputOpen());
    ASSERT_TRUE(test::waitForFirstOutput());
    EXPECT_EQ(playAndHear(tone).samples, 2 * kToneFrames);
}

TEST_F(OutputDeviceTest, KeepAliveHoldsTheOutputAndPlaysAtOnce) {
    ASSERT_TRUE(test::audibleSilence(4800));
    ASSERT_TRUE(test::wipeOutput());
    auto* keepAlive = AudioKeepAlive::sharedInstance();
    keepAlive->start();
    ASSERT_TRUE(keepAlive->isRunning());
    (void)QTest::qWaitFor([] { return test::heardSinceWipe().samples >= 2 * 4800; }, 3000);
    EXPECT_EQ(test::heardSinceWipe().samples, 2 * 4800);
    keepAlive->stop();
    ASSERT_TRUE(engine().waitForOutput(3s));
    EXPECT_TRUE(engine().outputPaused()) << "the theme's sounds remain, the hold is gone";
    engine().play(tone);
    ASSERT_TRUE(engine().waitForOutput(3s));
    EXPECT_FALSE(engine().outputPaused());
}

// Pauses only after the last sound plus the quiet time; the next sound resumes.
std::atomic<int> g_pauses{0}, g_resumes{0};
TEST(DevicePauserTest, PausesOnlyOnceQuietAfterTheLastSound) {
    using Clock = DevicePauser::Clock;
    DevicePauser pauser;
    ASSERT_TRUE(pauser.start(
        nullptr, [](ALCdevice_struct*) { ++g_pauses; }, [](ALCdevice_struct*) { ++g_resumes; }));
    const auto soundEnds = Clock::now() + 300ms;
    pauser.requestResume(soundEnds);
    pauser.setIdlePause(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pauser.paused(); }, 10000));
    EXPECT_GE(Clock::now(), soundEnds + DevicePauser::kQuietBeforePause);
    EXPECT_EQ(g_pauses, 1);

    // A sound on the paused device resumes it; one asked for while it runs
    // moves the pause on.
    pauser.requestResume(Clock::now());
    ASSERT_TRUE(pauser.waitSettled(3s));
    EXPECT_EQ(g_resumes, 1);
    const auto later = Clock::now() + 500ms;
    pauser.requestResume(later);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pauser.paused(); }, 10000));
    EXPECT_GE(Clock::now(), later + DevicePauser::kQuietBeforePause);
    EXPECT_EQ(g_pauses, 2);

    // Off again: a resumed device stays running.
    pauser.setIdlePause(false);
    pauser.requestResume(Clock::now());
    ASSERT_TRUE(pauser.waitSettled(3s));
    QTest::qWait(static_cast<int>(DevicePauser::kQuietBeforePause.count()) + 500);
    EXPECT_FALSE(pauser.paused());
    EXPECT_EQ(g_pauses, 2);
    EXPECT_FALSE(pauser.failed());
}

// Shutting down ends the engine for the process, so these run in a child.
using OutputDeviceDeathTest = OutputDeviceTest;

TEST_F(OutputDeviceDeathTest, ShutdownWhilePausedOrResumingIsSafe) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            engine().holdOutput(true);
            engine().holdOutput(false);
            engine().waitForOutput(3s);
            engine().shutdown();
            engine().play(tone);
            engine().dispose(tone);
            uint32_t id = 0;
            const bool refused = engine().createSound(QDir(test::scratchDir()).filePath("tone.wav"),
                                                      &id) == SystemSoundService::kUnspecifiedError;
            std::exit(refused && engine().liveSounds() == 0 && !engine().outputOpen() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            // A resume on its way when the device closes.
            engine().holdOutput(false);
            engine().play(tone);
            engine().shutdown();
            engine().shutdown();
            std::exit(engine().playingVoices() == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
