#include "sound/SoundController.h"

#include "LogCapture.h"
#include "SoundTestSupport.h"
#include "sound/AudioEngine.h"
#include "sound/AudioKeepAlive.h"
#include "sound/SoundTheme.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace orvix;
using orvix::test::LogCapture;
using Slot = SoundTheme::Slot;

namespace {

class SoundControllerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::useLoopback(); }

    void SetUp() override {
        SoundController::sharedInstance()->setThemeByName("Off");
        for (const QString& dir : {themeDir(), userDir()}) {
            QDir(dir).removeRecursively();
            QDir().mkpath(dir);
        }
        test::audibleSilence();
        test::drain();
    }

    static QString themeDir() { return test::resourceDir() + "/SoundThemes"; }
    static QString userDir() { return SoundController::userThemeDirectory(); }

    // Writes a theme whose press of key code `code` plays a tone of `level`.
    static void writeTheme(const QString& dir, const QString& file, const QString& name,
                           float level, int code = 0) {
        auto table = test::emptyTable();
        table[1][code] = Slot::of(test::scratchSound(file + ".wav", level));
        table[1][code].single.sound->setTransient(true);
        ASSERT_TRUE(test::writeFile(QDir(dir).filePath(file + ".snth"),
                                    SoundTheme(name, table).archivedData()));
    }

    static float pressPeak(int code = 0) {
        return test::playedPeak(
            [code] { SoundController::sharedInstance()->playSoundForKeyCode(code, 1); });
    }
};

TEST_F(SoundControllerTest, ThemeListIsOffThenNamesInStableOrder) {
    auto* controller = SoundController::sharedInstance();
    EXPECT_EQ(controller->themeNames(), QStringList({"Off"}));
    writeTheme(themeDir(), "typewriter", "Typewriter", 0.3f);
    writeTheme(themeDir(), "Crisp", "Crisp", 0.3f);
    writeTheme(themeDir(), "laptop", "Laptop", 0.3f);
    writeTheme(userDir(), "banjo", "Banjo", 0.3f);
    writeTheme(userDir(), "laptop", "User Laptop", 0.3f);
    QFile(QDir(themeDir()).filePath("notes.txt")).open(QIODevice::WriteOnly);
    EXPECT_EQ(controller->themeNames(),
              QStringList({"Off", "banjo", "Crisp", "laptop", "typewriter"}));
    // The shipped theme wins over the user's of the same name.
    EXPECT_TRUE(controller->setThemeByName("laptop"));
    EXPECT_EQ(controller->currentThemeName(), "Laptop");
    // The stored name differs from the file name asked for: read again.
    const auto first = controller->theme();
    EXPECT_TRUE(controller->setThemeByName("laptop"));
    EXPECT_NE(controller->theme(), first);
    EXPECT_EQ(controller->currentThemeName(), "Laptop");
    EXPECT_TRUE(controller->setThemeByName("banjo"));
    EXPECT_EQ(controller->currentThemeName(), "Banjo");
}

TEST_F(SoundControllerTest, PressPlaysThemeAndOffIsSilent) {
    auto* controller = SoundController::sharedInstance();
    writeTheme(themeDir(), "loud", "Loud", 0.5f, 49);
    EXPECT_EQ(pressPeak(49), 0.0f);
    EXPECT_TRUE(controller->setThemeByName("loud"));
    test::drain(); // the keep-alive's first play
    EXPECT_GT(pressPeak(49), 0.2f);
    EXPECT_EQ(pressPeak(50), 0.0f);
    controller->playSoundForKeyCode(49, 0); // no release sound in this theme
    EXPECT_EQ(test::peak(test::render(2400)), 0.0f);
    EXPECT_FALSE(controller->setThemeByName("Off"));
    EXPECT_EQ(controller->currentThemeName(), "Off");
    EXPECT_EQ(pressPeak(49), 0.0f);
}

TEST_F(SoundControllerTest, SwitchingDrivesTheKeepAlive) {
    auto* controller = SoundController::sharedInstance();
    auto* keepAlive = AudioKeepAlive::sharedInstance();
    writeTheme(themeDir(), "one", "One", 0.2f);
    writeTheme(themeDir(), "two", "Two", 0.2f);
    EXPECT_FALSE(keepAlive->isRunning());

    EXPECT_TRUE(controller->setThemeByName("one"));
    ASSERT_TRUE(keepAlive->isRunning());
    const QTimer* timer = keepAlive->timer();
    EXPECT_TRUE(timer->isActive());
    // Selecting the current theme again changes nothing.
    const auto theme = controller->theme();
    EXPECT_TRUE(controller->setThemeByName("One"));
    EXPECT_EQ(controller->theme(), theme);
    // Another theme: the running keep-alive and its timer stay as they are.
    EXPECT_TRUE(controller->setThemeByName("two"));
    EXPECT_EQ(keepAlive->timer(), timer);
    EXPECT_NE(controller->theme(), theme);

    EXPECT_FALSE(controller->setThemeByName("Off"));
    EXPECT_FALSE(keepAlive->isRunning());
    EXPECT_TRUE(controller->setThemeByName("Off"));
}

TEST_F(SoundControllerTest, MissingAndMalformedThemesFallBackToOff) {
    auto* controller = SoundController::sharedInstance();
    writeTheme(themeDir(), "good", "Good", 0.2f);
    ASSERT_TRUE(controller->setThemeByName("good"));

    LogCapture cap;
    EXPECT_FALSE(controller->setThemeByName("missing"));
    EXPECT_EQ(controller->currentThemeName(), "Off");
    EXPECT_FALSE(AudioKeepAlive::sharedInstance()->isRunning());
    EXPECT_TRUE(cap.lines().empty());

    EXPECT_FALSE(controller->setThemeByName("../SoundThemes/good"));
    EXPECT_EQ(controller->currentThemeName(), "Off");

    QByteArray bytes = SoundTheme().archivedData();
    bytes[bytes.size() - 1] = static_cast<char>(bytes[bytes.size() - 1] + 1);
    ASSERT_TRUE(test::writeFile(QDir(themeDir()).filePath("broken.snth"), bytes));
    EXPECT_FALSE(controller->setThemeByName("broken"));
    EXPECT_EQ(controller->currentThemeName(), "Off");
    ASSERT_EQ(cap.lines().size(), 1u);
    EXPECT_TRUE(cap.contains("Cannot read sound theme "));
    EXPECT_TRUE(cap.contains("broken.snth"));
    EXPECT_EQ(pressPeak(0), 0.0f);
}

TEST_F(SoundControllerTest, ThemeWithUndecodableSoundStillLoads) {
    auto table = test::emptyTable();
    table[1][0] = Slot::of(test::scratchSound("doomed.wav", 0.4f));
    const QString wav = table[1][0].single.sound->url().toLocalFile();
    table[1][1] = table[1][0];
    ASSERT_TRUE(test::writeFile(QDir(themeDir()).filePath("doomed.snth"),
                                SoundTheme("Doomed", table).archivedData()));
    table.clear();
    ASSERT_TRUE(QFile::remove(wav));

    LogCapture cap;
    EXPECT_TRUE(SoundController::sharedInstance()->setThemeByName("doomed"));
    // The shared sound is one object: one line, no sound, no crash.
    const auto lines = cap.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.find("creating system sound") != std::string::npos;
                            }),
              1);
    EXPECT_TRUE(cap.contains("Error -43 creating system sound for doomed.wav"));
    test::drain(); // the keep-alive's first play
    EXPECT_EQ(pressPeak(0), 0.0f);
    EXPECT_EQ(SoundController::sharedInstance()->theme()->failedSounds(), 1);
}

class AudioKeepAliveTest : public SoundControllerTest {};

TEST_F(AudioKeepAliveTest, StatusText) {
    EXPECT_EQ(AudioKeepAlive::OSStatusToFourChar(0), "No error");
    EXPECT_EQ(AudioKeepAlive::OSStatusToFourChar(-50), "-50");
    EXPECT_EQ(AudioKeepAlive::OSStatusToFourChar(0x666D743F), "'fmt?'");
    EXPECT_EQ(AudioKeepAlive::OSStatusToFourChar(0x666D7400), QString::number(0x666D7400));
    EXPECT_EQ(AudioKeepAlive::OSStatusToFourChar(-1500), "-1500");
}

TEST_F(AudioKeepAliveTest, StartPlaysAtOnceThenOnItsTimerUntilStopped) {
    auto* keepAlive = AudioKeepAlive::sharedInstance();
    const int sounds = AudioEngine::sharedInstance().liveSounds();
    keepAlive->start();
    keepAlive->start();
    ASSERT_TRUE(keepAlive->isRunning());
    EXPECT_EQ(AudioEngine::sharedInstance().liveSounds(), sounds + 1) << "one sound, one timer";
    EXPECT_GT(test::peak(test::render(2400)), 0.2f) << "the first play is immediate";
    test::drain();

    QElapsedTimer sinceStart;
    sinceStart.start();
    QTest::qWait(5000);
    EXPECT_EQ(test::peak(test::render(2400)), 0.0f);
    // Qt's coarse timers may fire up to 5% late, and a loaded machine adds
    // more: wait for the second play instead of guessing its moment.
    EXPECT_TRUE(QTest::qWaitFor([] { return test::peak(test::render(2400)) > 0.2f; }, 9000))
        << "the timer plays again after 10 s";
    EXPECT_GE(sinceStart.elapsed(), 9000) << "not before its time";
    test::drain();

    keepAlive->stop();
    EXPECT_FALSE(keepAlive->isRunning());
    EXPECT_EQ(AudioEngine::sharedInstance().liveSounds(), sounds);
    keepAlive->stop();
    EXPECT_EQ(AudioEngine::sharedInstance().liveSounds(), sounds);
}

TEST_F(AudioKeepAliveTest, MissingSilenceResourceIsLoggedAndStaysStopped) {
    auto* keepAlive = AudioKeepAlive::sharedInstance();
    const QString silence = QDir(test::resourceDir()).filePath("silence.wav");
    ASSERT_TRUE(QFile::remove(silence));
    LogCapture cap;
    keepAlive->start();
    EXPECT_FALSE(keepAlive->isRunning());
    EXPECT_TRUE(cap.contains("Error -50 creating system sound for (null)"));

    ASSERT_TRUE(test::writeFile(silence, "not audio at all, just bytes"));
    keepAlive->start();
    EXPECT_FALSE(keepAlive->isRunning());
    EXPECT_TRUE(
        cap.contains("Error 'typ?' creating system sound for file://" + silence.toStdString()));
}

} // namespace
