// The idle pause of the output device, on OpenAL Soft's wave-file writer: a
// playback device with a real-time mixer thread that can be paused, and whose
// file shows every mixed frame.
#include "SoundTestSupport.h"
#include "WaveOutput.h"
#include "sound/AudioEngine.h"
#include "sound/AudioKeepAlive.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace orvix;
using namespace std::chrono_literals;

namespace {

constexpr int kToneFrames = 2400; // 50 ms at 48 kHz
constexpr int kGrace = AudioEngine::kPauseGraceMs;

AudioEngine& engine() {
    return AudioEngine::sharedInstance();
}

uint32_t makeTone(const QString& name, float level) {
    const QString path = QDir(test::scratchDir()).filePath(name + ".wav");
    if (!test::writeTone(path, level, kToneFrames))
        return 0;
    uint32_t id = 0;
    return engine().createSound(path, &id) == SystemSoundService::kNoError ? id : 0;
}

// Runs the event loop until `done` holds or `limitMs` passed.
bool waitFor(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool waitForPause() {
    return waitFor([] { return engine().outputPaused(); }, kGrace + 3000);
}

class DevicePauseTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tone = makeTone(QStringLiteral("tone"), 0.5f); }
    void SetUp() override {
        ASSERT_NE(tone, 0u) << "the wave-file device did not open";
        ASSERT_TRUE(engine().pausesWhenIdle());
        // Every case starts from an idle, paused device.
        ASSERT_TRUE(waitForPause());
    }
    static uint32_t tone;
};
uint32_t DevicePauseTest::tone = 0;

TEST_F(DevicePauseTest, PausesOnlyOnceTheGraceAfterTheLastSoundHasPassed) {
    EXPECT_FALSE(test::outputAdvances(200)) << "a paused device writes nothing";

    QElapsedTimer sincePlay;
    engine().play(tone);
    sincePlay.start();
    EXPECT_FALSE(engine().outputPaused());
    EXPECT_TRUE(test::outputAdvances(150));

    // Well inside the grace after the 50 ms sound: still running.
    QTest::qWait(std::max(0, 50 + kGrace * 6 / 10 - static_cast<int>(sincePlay.elapsed())));
    EXPECT_FALSE(engine().outputPaused());
    EXPECT_TRUE(test::outputAdvances(150));
    ASSERT_LT(sincePlay.elapsed(), 50 + kGrace) << "the machine was too slow to look in time";

    ASSERT_TRUE(waitForPause());
    EXPECT_GE(sincePlay.elapsed(), 50 + kGrace) << "paused before the grace was over";
    EXPECT_FALSE(test::outputAdvances(300)) << "the mixer stopped";
    EXPECT_EQ(engine().playingVoices(), 0);
}

TEST_F(DevicePauseTest, PlayAfterPauseIsHeardInFullFromItsFirstFrame) {
    ASSERT_TRUE(test::wipeOutput());
    engine().play(tone);
    ASSERT_TRUE(waitForPause());
    const test::Heard heard = test::heardSinceWipe();
    // Mono at the centre: every frame of the square wave on both channels.
    EXPECT_EQ(heard.samples, 2 * kToneFrames);
    EXPECT_NEAR(std::fabs(heard.first), heard.loudest, 0.01f) << "the start was faded or cut";
    EXPECT_NEAR(heard.quietest, heard.loudest, 0.01f);
    EXPECT_GT(heard.loudest, 0.25f);
}

TEST_F(DevicePauseTest, PlaysInsideTheGraceKeepTheMixerRunning) {
    // Key presses 0.6 s apart for over four graces: the device must stay up
    // the whole time, then pause once they stop.
    ASSERT_TRUE(test::wipeOutput());
    constexpr int kPlays = 8;
    bool everPaused = false;
    for (int i = 0; i < kPlays; ++i) {
        engine().play(tone);
        QElapsedTimer step;
        step.start();
        while (step.elapsed() < 600) {
            everPaused = everPaused || engine().outputPaused();
            QTest::qWait(5);
        }
    }
    EXPECT_FALSE(everPaused);
    ASSERT_TRUE(waitForPause());
    EXPECT_EQ(test::heardSinceWipe().samples, kPlays * 2 * kToneFrames);
}

TEST_F(DevicePauseTest, OverlappingAndLongSoundsAreWaitedFor) {
    // A 2 s sound started before a short one: the pause waits for the long
    // one's end plus the grace, not the short one's.
    const QString path = QDir(test::scratchDir()).filePath("long.wav");
    ASSERT_TRUE(test::writeTone(path, 0.3f, 96000));
    uint32_t longSound = 0;
    ASSERT_EQ(engine().createSound(path, &longSound), SystemSoundService::kNoError);
    QElapsedTimer sincePlay;
    engine().play(longSound);
    engine().play(tone);
    sincePlay.start();
    EXPECT_FALSE(engine().pauseIfIdle()) << "nothing pauses while a voice plays";
    ASSERT_TRUE(waitFor([] { return engine().outputPaused(); }, 2000 + kGrace + 3000));
    EXPECT_GE(sincePlay.elapsed(), 2000 + kGrace);
    engine().dispose(longSound);
}

TEST_F(DevicePauseTest, DisposeWhilePausedAndPlaysOfUnknownSounds) {
    const uint32_t other = makeTone(QStringLiteral("other"), 0.25f);
    ASSERT_NE(other, 0u);
    ASSERT_TRUE(engine().outputPaused());
    const int live = engine().liveSounds();
    engine().dispose(other);
    EXPECT_EQ(engine().liveSounds(), live - 1);
    // A disposed or never-made identifier plays nothing and wakes nothing.
    engine().play(other);
    engine().play(999999);
    EXPECT_TRUE(engine().outputPaused());
    EXPECT_FALSE(test::outputAdvances(200));

    // A sound disposed of while its play is still waking the device: its
    // voice stops, the device pauses again and the rest stays playable.
    const uint32_t third = makeTone(QStringLiteral("third"), 0.4f);
    ASSERT_NE(third, 0u);
    engine().play(third);
    engine().dispose(third);
    EXPECT_EQ(engine().playingVoices(), 0);
    ASSERT_TRUE(waitForPause());
    ASSERT_TRUE(test::wipeOutput());
    engine().play(tone);
    ASSERT_TRUE(waitForPause());
    EXPECT_EQ(test::heardSinceWipe().samples, 2 * kToneFrames);
}

TEST_F(DevicePauseTest, PauseIfIdlePausesAtOnceAndAPlayUndoesAPendingPause) {
    engine().play(tone);
    ASSERT_TRUE(engine().waitForOutput(2000ms));
    EXPECT_FALSE(engine().outputPaused());
    ASSERT_TRUE(waitFor([] { return engine().playingVoices() == 0; }, 2000));
    EXPECT_TRUE(engine().pauseIfIdle());
    ASSERT_TRUE(engine().waitForOutput(2000ms));
    EXPECT_TRUE(engine().outputPaused());

    // Ask for a pause and play straight after: the play wins, whatever the
    // pausing thread had got to, and the sound is heard whole.
    engine().play(tone);
    ASSERT_TRUE(engine().waitForOutput(2000ms));
    ASSERT_TRUE(waitFor([] { return engine().playingVoices() == 0; }, 2000));
    QTest::qWait(100); // the writer's buffer now holds only silence
    ASSERT_TRUE(test::wipeOutput());
    EXPECT_TRUE(engine().pauseIfIdle());
    engine().play(tone);
    EXPECT_FALSE(engine().outputPaused());
    ASSERT_TRUE(engine().waitForOutput(2000ms));
    EXPECT_FALSE(engine().outputPaused());
    ASSERT_TRUE(waitForPause());
    EXPECT_EQ(test::heardSinceWipe().samples, 2 * kToneFrames);
}

TEST_F(DevicePauseTest, SoundThatDoesNotKeepTheOutputReadyGetsNoGrace) {
    const uint32_t wake = makeTone(QStringLiteral("wake"), 0.3f);
    ASSERT_NE(wake, 0u);
    engine().setKeepsOutputReady(wake, false);
    engine().setKeepsOutputReady(999999, false); // unknown: nothing happens

    QElapsedTimer sincePlay;
    engine().play(wake);
    sincePlay.start();
    ASSERT_TRUE(waitForPause());
    EXPECT_GE(sincePlay.elapsed(), 50 + AudioEngine::kPauseDrainMs) << "its end has played out";
    EXPECT_LT(sincePlay.elapsed(), 50 + AudioEngine::kPauseDrainMs + kGrace / 2)
        << "no grace after it";

    // After a key sound the grace stands, whatever wakes the output later.
    engine().play(tone);
    sincePlay.restart();
    QTest::qWait(200);
    engine().play(wake);
    ASSERT_TRUE(waitForPause());
    EXPECT_GE(sincePlay.elapsed(), 50 + kGrace);
    engine().dispose(wake);
}

TEST_F(DevicePauseTest, KeepAliveWakesTheOutputAndLetsItPauseAgain) {
    // The keep-alive's sound is audible here so its play can be counted.
    ASSERT_TRUE(test::writeTone(QDir(test::resourceDir()).filePath("silence.wav"), 0.5f, 4800));
    ASSERT_TRUE(test::wipeOutput());
    auto* keepAlive = AudioKeepAlive::sharedInstance();
    QElapsedTimer sinceStart;
    keepAlive->start();
    sinceStart.start();
    ASSERT_TRUE(keepAlive->isRunning());
    EXPECT_FALSE(engine().outputPaused()) << "its first play wakes the output at once";
    ASSERT_TRUE(waitForPause());
    EXPECT_LT(sinceStart.elapsed(), 100 + AudioEngine::kPauseDrainMs + kGrace / 2);
    keepAlive->stop();
    EXPECT_EQ(test::heardSinceWipe().samples, 2 * 4800);
}

// Shutting down ends the engine for the process, so these run in a child.
using DevicePauseDeathTest = DevicePauseTest;

TEST_F(DevicePauseDeathTest, ShutdownWhilePausedOrResumingIsSafe) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            engine().shutdown();
            engine().play(tone);
            engine().dispose(tone);
            uint32_t id = 0;
            const bool refused = engine().createSound(QDir(test::scratchDir()).filePath("tone.wav"),
                                                      &id) == SystemSoundService::kUnspecifiedError;
            const bool ok = refused && engine().liveSounds() == 0 && !engine().outputPaused();
            QTest::qWait(kGrace + 200); // an idle timer may still fire
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            // A resume on its way when the device closes.
            engine().play(tone);
            engine().shutdown();
            QTest::qWait(kGrace + 200);
            engine().shutdown();
            std::exit(engine().playingVoices() == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
