// The real keyboard as the program watches it: a private X session with
// openbox, xdotool as the keyboard (XTest from another client counts as real),
// the panel's own pixels to read which on-screen keys are lit, and xrecorder
// to see what a focused application receives.
#include "PanelTest.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>

using orvix::test::TapPanelPixels;
using orvix::test::XProbe;
using orvix::test::XSession;

namespace {

// Apple key codes of the keys these tests use.
constexpr int kCodeA = 0, kCodeS = 1, kCodeShift = 56, kCodeRightShift = 60, kCodeCapsLock = 57,
              kCodeOption = 58, kCodeRightOption = 61, kCodeCommand = 55;
// Whether latched modifiers reach real keys.
constexpr const char* kStampOn = "ModifyKeyEventsWithVirtualKeyboardStateKey=true\n";
constexpr const char* kStampOff = "ModifyKeyEventsWithVirtualKeyboardStateKey=false\n";

class TapTest : public orvix::test::PanelTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PanelTest::SetUp());
        writeQuietConfig();
    }

    // The keysym names of the key presses xrecorder has seen, in order.
    QStringList recordedPresses() {
        QStringList presses;
        for (const orvix::test::RecordedKey& key : keyEvents())
            if (key.press && !key.isModifier())
                presses << key.sym;
        return presses;
    }
    bool waitForPresses(int count) {
        return XSession::waitFor([&] { return recordedPresses().size() >= count; });
    }
};

TEST_F(TapTest, RealKeysLightTheirKeysAndCapsLockShowsItsLock) {
    ASSERT_TRUE(launch({kCodeA, kCodeS, kCodeShift, kCodeRightShift, kCodeCapsLock}));
    ASSERT_TRUE(pixels->isUnlit(kCodeA));

    for (int round = 0; round < 2; ++round) {
        xdotool({"keydown", "a"});
        EXPECT_TRUE(waitLit(kCodeA)) << "difference " << pixels->differenceFromUnlit(kCodeA);
        // Only the key pressed: its neighbour stays as it was.
        EXPECT_TRUE(pixels->isUnlit(kCodeS));
        xdotool({"keyup", "a"});
        EXPECT_TRUE(waitUnlit(kCodeA)) << "difference " << pixels->differenceFromUnlit(kCodeA);
    }

    // A quick tap (down and up in one go) still ends dark.
    xdotool({"key", "s"});
    pause(300);
    EXPECT_TRUE(waitUnlit(kCodeS));

    // Either Shift lights the pair.
    for (const char* shift : {"Shift_L", "Shift_R"}) {
        xdotool({"keydown", shift});
        EXPECT_TRUE(waitLit(kCodeShift)) << shift;
        EXPECT_TRUE(waitLit(kCodeRightShift)) << shift;
        EXPECT_TRUE(pixels->isUnlit(kCodeA)) << shift;
        xdotool({"keyup", shift});
        EXPECT_TRUE(waitUnlit(kCodeShift)) << shift;
        EXPECT_TRUE(waitUnlit(kCodeRightShift)) << shift;
    }
    // The key shows the lock, not the finger: lit after the release...
    xdotool({"key", "Caps_Lock"});
    EXPECT_TRUE(waitLit(kCodeCapsLock));
    pause(300);
    EXPECT_TRUE(pixels->isLit(kCodeCapsLock));
    // ...and dark once the next press unlocks it.
    xdotool({"key", "Caps_Lock"});
    EXPECT_TRUE(waitUnlit(kCodeCapsLock));
    EXPECT_EQ(keyboardState().locked & XProbe::kLockMask, 0u);
    EXPECT_EQ(orvix->state(), QProcess::Running);
}

TEST_F(TapTest, HeldKeyStaysLitThroughTheRepeatsAndDarkensOnce) {
    ASSERT_TRUE(launch({kCodeA}));
    ASSERT_TRUE(startRecorder());
    // A short repeat delay, so that the hold is well past it.
    x.run(QStringLiteral("xset"), {"r", "rate", "200", "30"});

    xdotool({"keydown", "a"});
    ASSERT_TRUE(waitLit(kCodeA));
    // Lit on every look through the repeats: no release-press flicker.
    for (int i = 0; i < 25; ++i) {
        EXPECT_TRUE(pixels->isLit(kCodeA)) << "sample " << i;
        pause(40);
    }
    // The server's own repeats go to applications, not to raw-event
    // listeners; a keyboard that repeats by sending the press again does reach
    // the tap, and must count as the same hold.
    xdotool({"keydown", "a"});
    pause(200);
    EXPECT_TRUE(pixels->isLit(kCodeA));
    xdotool({"keyup", "a"});
    EXPECT_TRUE(waitUnlit(kCodeA));

    // The server did repeat: the application saw more than one press.
    EXPECT_GT(recordedPresses().size(), 3) << qPrintable(recorderOutput());

    // And the next real press lights the key again.
    expectRealKeyLights("a", kCodeA);
}

TEST_F(TapTest, ShiftLatchedOnScreenOutlivesARealShiftAndRightShiftReleasesIt) {
    ASSERT_TRUE(launch({kCodeShift, kCodeRightShift}));
    ASSERT_TRUE(startRecorder());
    clickKey(kCodeShift);
    park();
    // Both Shift keys light, the clicked one and its twin.
    EXPECT_TRUE(waitLit(kCodeShift));
    EXPECT_TRUE(waitLit(kCodeRightShift));
    xdotool({"keydown", "Shift_R"});
    pause(200);
    xdotool({"keyup", "Shift_R"});
    pause(400);
    EXPECT_TRUE(pixels->isLit(kCodeShift)) << "the latch outlives the real key";
    EXPECT_TRUE(pixels->isLit(kCodeRightShift));
    clickKey(kCodeRightShift);
    park();
    EXPECT_TRUE(waitUnlit(kCodeShift)) << "Shift stayed lit after Right Shift released the latch";
    EXPECT_TRUE(waitUnlit(kCodeRightShift));
    clickKey(kCodeA);
    ASSERT_TRUE(waitForPresses(1));
    EXPECT_EQ(recordedPresses(), QStringList{QStringLiteral("a")});
    EXPECT_EQ(keyboardState().mods, 0u);
    EXPECT_EQ(keyboardState().locked, 0u);
}

TEST_F(TapTest, OwnClickIsLitOnlyWhileTheMouseIsDown) {
    ASSERT_TRUE(launch({kCodeA}));
    ASSERT_TRUE(startRecorder());
    for (int holdMs : {50, 900}) {
        pressMouseOn(kCodeA);
        EXPECT_TRUE(waitLit(kCodeA)) << "hold " << holdMs;
        pause(holdMs);
        EXPECT_TRUE(pixels->isLit(kCodeA)) << "hold " << holdMs;
        xdotool({"mouseup", "1"});
        // Under the pointer the key shows its hover look, not pressed; the
        // posted key's own release must not be needed to darken it, and the
        // posted press must not light it again afterwards.
        EXPECT_TRUE(XSession::waitFor([&] { return !pixels->isLit(kCodeA); }, 3000))
            << "hold " << holdMs;
        pause(400);
        EXPECT_FALSE(pixels->isLit(kCodeA)) << "hold " << holdMs;
        park();
        EXPECT_TRUE(waitUnlit(kCodeA)) << "hold " << holdMs;
    }
    // The clicks did type: the application got them.
    ASSERT_TRUE(waitForPresses(2));
    EXPECT_EQ(recordedPresses().first(), QStringLiteral("a"));

    // After clicks, a real press and release of the same key still light and
    // darken it: the program's own events left nothing behind.
    expectRealKeyLights("a", kCodeA);
}

TEST_F(TapTest, RealKeysAndClicksOverlappingLightEachKeyForItsOwnHold) {
    // xdotool and Orvix share the XTest keyboard: Orvix's click of a key the
    // other client holds must not leave the on-screen key stuck or blind.
    ASSERT_TRUE(launch({kCodeA, kCodeS}));
    xdotool({"keydown", "s"});
    ASSERT_TRUE(waitLit(kCodeS));
    clickKey(kCodeS);
    pause(300);
    xdotool({"keyup", "s"});
    park();
    EXPECT_TRUE(waitUnlit(kCodeS));
    expectRealKeyLights("s", kCodeS); // a fresh real press lights it again

    // A real key while a click is held lights only itself.
    pressMouseOn(kCodeA);
    ASSERT_TRUE(waitLit(kCodeA));
    expectRealKeyLights("s", kCodeS);
    EXPECT_TRUE(pixels->isLit(kCodeA)) << "the held click is untouched by the real key";
    xdotool({"mouseup", "1"});
    park();
    EXPECT_TRUE(waitUnlit(kCodeA));
}

TEST_F(TapTest, LatchedAltAndSuperStayOutOfTheServerWhileThePointerIsOverThePanel) {
    writeQuietConfig(kStampOn);
    ASSERT_TRUE(launch({kCodeOption, kCodeRightOption, kCodeCommand}));
    const unsigned altSuper = XProbe::kMod1Mask | XProbe::kMod4Mask;
    clickKey(kCodeOption);
    clickKey(kCodeCommand);
    EXPECT_TRUE(waitLit(kCodeOption));
    EXPECT_TRUE(waitLit(kCodeRightOption));
    EXPECT_TRUE(waitLit(kCodeCommand));
    // The pointer is still over the panel: a click there must stay a click.
    pause(300);
    EXPECT_EQ(keyboardState().mods & altSuper, 0u) << keyboardState().text();
    // Away from the panel the latches wait in the server for the next real key...
    park();
    EXPECT_TRUE(XSession::waitFor([&] { return (keyboardState().mods & altSuper) == altSuper; }))
        << keyboardState().text();
    // ...and leave it again when the pointer comes back.
    hoverPanel();
    EXPECT_TRUE(XSession::waitFor([&] { return (keyboardState().mods & altSuper) == 0; }))
        << keyboardState().text();
    EXPECT_TRUE(pixels->isLit(kCodeOption)) << "still latched on screen";
    // Unlatched over the panel, and nothing returns when the pointer leaves.
    clickKey(kCodeOption);
    clickKey(kCodeCommand);
    park();
    EXPECT_TRUE(waitUnlit(kCodeOption));
    EXPECT_TRUE(waitUnlit(kCodeCommand));
    pause(300);
    EXPECT_EQ(keyboardState().mods & altSuper, 0u) << keyboardState().text();
}

// The sounds a user hears, through OpenAL's wave-file backend: mono 16-bit
// samples written as they are mixed. The output pauses when idle, and this
// writer goes back to byte 8 of its file when it is paused, so each step of a
// test empties the file to its first 8 bytes and reads what follows: the same
// place whether the output was running (a gap of zeros, silence) or paused.
class TapSoundTest : public TapTest {
protected:
    void SetUp() override {
        TapTest::SetUp();
        wavePath = x.home() + QStringLiteral("/mix.wav");
        const QString conf = x.home() + QStringLiteral("/alsoft.conf");
        QFile f(conf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[general]\nchannels = mono\nsample-type = int16\nfrequency = 44100\n"
                "period_size = 256\nperiods = 2\n[wave]\nfile = " +
                QFile::encodeName(wavePath) + "\n");
        f.close();
        x.setEnv(QStringLiteral("ALSOFT_DRIVERS"), QStringLiteral("wave"));
        x.setEnv(QStringLiteral("ALSOFT_CONF"), conf);
    }

    bool restartOutput() const { return QFile::resize(wavePath, 8); }

    // A run of sound in the output: samples above the noise floor with less
    // than 60 ms of silence inside.
    struct Sound {
        qsizetype begin = 0, end = 0;
        double energy = 0;
    };
    QList<Sound> sounds() const {
        QFile f(wavePath);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        // Bytes 40..43 can be the writer's data size, stamped when it pauses.
        const QByteArray bytes = f.readAll().mid(44);
        const auto* s = reinterpret_cast<const qint16*>(bytes.constData());
        constexpr qsizetype kGap = 44100 * 60 / 1000;
        QList<Sound> found;
        qsizetype quiet = kGap + 1;
        for (qsizetype i = 0; i < bytes.size() / 2; ++i) {
            if (std::abs(int(s[i])) > 300) {
                if (quiet > kGap)
                    found.append({i, i, 0});
                quiet = 0;
            } else {
                ++quiet;
            }
            if (!found.isEmpty() && quiet <= kGap) {
                found.last().end = i + 1;
                found.last().energy += double(s[i]) * double(s[i]);
            }
        }
        return found;
    }
    // Waits for `count` sounds and for the output to go quiet after the last:
    // 100 ms of silence written, or the writer paused (its file unchanged
    // for 300 ms). The mixer runs late on a loaded machine, so the output is
    // waited for, not the clock.
    QList<Sound> waitForSounds(int count) const {
        QList<Sound> found;
        qint64 size = -1;
        QElapsedTimer unchanged;
        XSession::waitFor([&] {
            const qint64 now = QFileInfo(wavePath).size();
            if (now != size) {
                size = now;
                unchanged.start();
            }
            found = sounds();
            const qsizetype written = (now - 44) / 2;
            return found.size() >= count &&
                   (written - found.last().end > 4410 || unchanged.elapsed() > 300);
        });
        return found;
    }

    QString wavePath;
};

TEST_F(TapSoundTest, HeldRealKeyPlaysOnePressAndOneReleaseAndAClickPlaysOnce) {
    writeQuietConfig("SoundTheme=Typewriter\n");
    ASSERT_TRUE(launch({kCodeA}));
    x.run(QStringLiteral("xset"), {"r", "rate", "200", "30"});
    ASSERT_TRUE(XSession::waitFor([&] { return QFileInfo(wavePath).size() > 8820; }))
        << "no wave output";

    // A real key held well past the repeat delay, with a resent press.
    ASSERT_TRUE(restartOutput());
    xdotool({"keydown", "a"});
    ASSERT_EQ(waitForSounds(1).size(), 1) << "the press made no sound";
    pause(300);
    xdotool({"keydown", "a"});
    pause(300);
    xdotool({"keyup", "a"});
    waitForSounds(2);
    pause(300);
    const QList<Sound> held = sounds();
    ASSERT_GE(held.size(), 1);
    EXPECT_EQ(held.size(), 2) << "one press and one release sound; repeats play nothing";
    const double realPress = held.first().energy;

    // The same key clicked: the program's own posted press must not come back
    // through the tap as a second sound on top of the first.
    moveTo(keyCentre(kCodeA));
    pause(300);
    ASSERT_TRUE(restartOutput());
    xdotool({"mousedown", "1"});
    waitForSounds(1);
    pause(300);
    const QList<Sound> click = sounds();
    xdotool({"mouseup", "1"});
    ASSERT_GE(click.size(), 1) << "the click made no sound";
    EXPECT_EQ(click.size(), 1);
    const double clickPress = click.first().energy;
    // One sound has the real press's energy; two at once have about twice it
    // or more.
    EXPECT_LT(clickPress, 1.5 * realPress) << "click " << clickPress << " real " << realPress;
    EXPECT_GT(clickPress, 0.6 * realPress) << "click " << clickPress << " real " << realPress;
}

class TapLatchedShiftTest : public TapTest {
protected:
    // Latches Shift on screen with the pointer, then leaves the panel.
    void latchShift() {
        clickKey(kCodeShift);
        EXPECT_TRUE(waitLit(kCodeShift));
        EXPECT_TRUE(waitLit(kCodeRightShift));
        park();
        pause(300);
    }
    // Types a real "a" into xrecorder and answers what arrived.
    QString typeA() {
        const int before = int(recordedPresses().size());
        xdotool({"key", "a"});
        if (!waitForPresses(before + 1))
            return QStringLiteral("(nothing)");
        return recordedPresses().at(before);
    }
};

TEST_F(TapLatchedShiftTest, SettingOnStampsLatchedShiftOnRealKeys) {
    writeQuietConfig(kStampOn);
    ASSERT_TRUE(launch({kCodeShift, kCodeRightShift}));
    ASSERT_TRUE(startRecorder());
    EXPECT_EQ(typeA(), QStringLiteral("a"));
    latchShift();
    EXPECT_EQ(typeA(), QStringLiteral("A"));
    EXPECT_EQ(typeA(), QStringLiteral("A")) << "the latch stays for the next real key";
    // Unlatched, real keys are plain again and nothing stays in the server.
    clickKey(kCodeShift);
    park();
    EXPECT_TRUE(waitUnlit(kCodeShift));
    EXPECT_EQ(typeA(), QStringLiteral("a"));
    EXPECT_EQ(keyboardState().locked & XProbe::kShiftMask, 0u);
}

TEST_F(TapLatchedShiftTest, SettingOffAtLaunchLeavesRealKeysAlone) {
    writeQuietConfig(kStampOff);
    ASSERT_TRUE(launch({kCodeShift, kCodeRightShift}));
    ASSERT_TRUE(startRecorder());
    latchShift();
    EXPECT_EQ(typeA(), QStringLiteral("a"));
    EXPECT_EQ(keyboardState().mods & XProbe::kShiftMask, 0u);
    // Clicked keys still carry the latch: the setting is about real keys only.
    clickKey(kCodeA);
    park();
    ASSERT_TRUE(waitForPresses(2));
    EXPECT_EQ(recordedPresses().at(1), QStringLiteral("A"));
}

// Opens Preferences from the gear menu with the keyboard and flips the
// "apply to real keys" box; answers the stored value afterwards.
class TapSettingChangeTest : public TapLatchedShiftTest {
protected:
    QString storedModifyKeys() {
        QSettings stored(x.orvixConfigPath(), QSettings::IniFormat);
        return stored.value(QStringLiteral("ModifyKeyEventsWithVirtualKeyboardStateKey"))
            .toString();
    }
    bool toggleModifyKeysInPreferences(const QString& expectedAfter) {
        const auto g = x.windowGeometry(panel);
        // Over the panel the title-strip extras show; the gear is at the right.
        moveTo({g.x + g.width / 2, g.y + 11});
        pause(600);
        if (!openGearMenu())
            return false;
        // Keyboard Theme, Typing Sounds, Start at Login, Login Items, Preferences.
        for (int i = 0; i < 5; ++i)
            xdotool({"key", "Down"});
        xdotool({"key", "Return"});
        const QString prefs = x.waitForWindow({"--name", "Preferences"});
        if (prefs.isEmpty())
            return false;
        xdotool({"windowactivate", "--sync", prefs});
        pause(300);
        // Two sliders and the tray box come first.
        for (int i = 0; i < 3; ++i)
            xdotool({"key", "Tab"});
        xdotool({"key", "space"});
        return XSession::waitFor([&] { return storedModifyKeys() == expectedAfter; });
    }
    // The next launch reads the setting: a fresh program with the same stored
    // settings and a fresh recording client with the focus.
    bool relaunch() {
        ::kill(static_cast<pid_t>(orvix->processId()), SIGTERM);
        if (!orvix->waitForFinished(10000))
            return false;
        recorder.reset();
        pixels.reset();
        panel.clear();
        return launch({kCodeShift, kCodeRightShift}) && startRecorder();
    }
};

class TapSettingFlipTest : public TapSettingChangeTest,
                           public ::testing::WithParamInterface<bool> {};

// The setting flipped in Preferences while the program runs changes nothing
// until the next launch, in either direction.
TEST_P(TapSettingFlipTest, FlippingTheSettingWhileRunningChangesNothingUntilRelaunch) {
    const bool on = GetParam();
    writeQuietConfig(on ? kStampOn : kStampOff);
    ASSERT_TRUE(launch({kCodeShift, kCodeRightShift}));
    ASSERT_TRUE(
        toggleModifyKeysInPreferences(on ? QStringLiteral("false") : QStringLiteral("true")))
        << "could not flip the setting in Preferences; stored: " << qPrintable(storedModifyKeys());
    ASSERT_TRUE(startRecorder());
    latchShift();
    EXPECT_EQ(typeA(), on ? QStringLiteral("A") : QStringLiteral("a")) << "read at launch only";
    ASSERT_TRUE(relaunch());
    latchShift();
    EXPECT_EQ(typeA(), on ? QStringLiteral("a") : QStringLiteral("A"));
}

INSTANTIATE_TEST_SUITE_P(FromOnAndOff, TapSettingFlipTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WasOn" : "WasOff"; });

} // namespace
