// Typing with the panel as a user does: real clicks (xdotool) on the keys of
// the running program in a private X session with openbox, and a recording X
// client that holds the focus and prints every key event it receives with its
// modifier state. The server's own keyboard state is read over a connection
// of the test's own.
#include "PanelTest.h"
#include "app/MyPanel.h"
#include "render/KeyboardLayout.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <gtest/gtest.h>
#include <signal.h>

using orvix::test::XProbe;
using orvix::test::XSession;

// Readable failure messages for lists of events.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

// X modifier masks as the recording client prints them.
constexpr unsigned kShiftMask = 0x1, kLockMask = 0x2, kControlMask = 0x4, kMod4Mask = 0x40;

// Apple key codes of the keys the tests click.
constexpr int kA = 0, kS = 1, kReturn = 36, kDelete = 51, kShift = 56, kCommand = 55,
              kCapsLock = 57, kControl = 59, kRightShift = 60, kFunction = 63, kLeft = 123,
              kRight = 124, kDown = 125, kUp = 126;
constexpr int kModifierCodes[] = {63, 57, 56, 60, 59, 58, 61, 55, 54};

using KeyEvent = orvix::test::RecordedKey;
using orvix::test::TapPanelPixels;

class TypingTest : public orvix::test::PanelTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PanelTest::SetUp());
        writeQuietConfig();
    }

    // The events of keys other than modifiers, as text.
    QStringList plainKeyEvents() {
        QStringList out;
        for (const KeyEvent& e : keyEvents())
            if (!e.isModifier())
                out << e.text();
        return out;
    }

    // Waits for `count` plain-key events, then a little longer so that stray
    // extra events show up in what the test compares.
    QStringList waitForPlainKeyEvents(qsizetype count) {
        XSession::waitFor([&] { return plainKeyEvents().size() >= count; }, 10000);
        pause(300);
        return plainKeyEvents();
    }

    void expectNothingDownOrLocked() const {
        EXPECT_TRUE(nothingDownOrLocked()) << keyboardState().text();
        const QString q = x.run(QStringLiteral("xset"), {"q"});
        EXPECT_TRUE(q.contains(QRegularExpression(QStringLiteral("Caps Lock:\\s+off"))))
            << qPrintable(q);
    }

    static qreal layoutRatio() {
        const QSizeF s = orvix::keyboardLayoutSize();
        return s.width() / s.height();
    }
    static qreal contentRatio(const XSession::Geometry& g) {
        return qreal(g.width) / qreal(g.height - orvix::MyPanel::titleBarHeight());
    }

    QString storedFrame() const {
        return QSettings(x.orvixConfigPath(), QSettings::IniFormat).value("keyboard").toString();
    }
};

TEST_F(TypingTest, ShiftLatchTypesCapitalAndShiftComesUpWithTheLatch) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(startRecorder());
    clickKeys({kShift, kA, kShift, kA});
    const QStringList plain = waitForPlainKeyEvents(4);
    EXPECT_EQ(plain, (QStringList{"press A 0x1", "release A 0x1", "press a 0x0", "release a 0x0"}));

    // However the backend carries the latch (Shift held around each key, or
    // resting in the server as a lock), every Shift key-down the client sees
    // has its key-up, and none comes after the latch is released.
    const QList<KeyEvent> all = keyEvents();
    int shiftBalance = 0;
    qsizetype lastShift = -1, secondA = -1;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const KeyEvent& e = all[i];
        if (e.sym == u"Shift_L" || e.sym == u"Shift_R") {
            shiftBalance += e.press ? 1 : -1;
            lastShift = i;
        } else if (e.sym == u"a" && e.press && secondA < 0) {
            secondA = i;
        }
    }
    EXPECT_EQ(shiftBalance, 0) << qPrintable(recorderOutput());
    EXPECT_LT(lastShift, secondA) << qPrintable(recorderOutput());
    expectNothingDownOrLocked();
}

// Function and Caps Lock act only through the keys they change: no key event
// of their own reaches the client.
TEST_F(TypingTest, FunctionAndCapsLockLatchesChangeOnlyTheKeysTheyApplyTo) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(startRecorder());
    ASSERT_EQ(keyboardState().locked, 0u);
    clickKeys({kFunction, kReturn, kDelete, kLeft, kRight, kDown, kUp, kA, kFunction, kLeft});
    // Function remaps presses of its six keys and nothing else, and each key
    // comes up as the key that went down.
    EXPECT_EQ(waitForPlainKeyEvents(16),
              (QStringList{"press KP_Enter 0x0", "release KP_Enter 0x0", "press Delete 0x0",
                           "release Delete 0x0", "press Home 0x0", "release Home 0x0",
                           "press End 0x0", "release End 0x0", "press Next 0x0", "release Next 0x0",
                           "press Prior 0x0", "release Prior 0x0", "press a 0x0", "release a 0x0",
                           "press Left 0x0", "release Left 0x0"}));
    expectNothingDownOrLocked();

    // Typing does not release Caps Lock; its second click does.
    clickKeys({kCapsLock, kA, kS, kCapsLock, kA});
    EXPECT_EQ(waitForPlainKeyEvents(22).mid(16),
              (QStringList{"press A 0x2", "release A 0x2", "press S 0x2", "release S 0x2",
                           "press a 0x0", "release a 0x0"}));
    expectNothingDownOrLocked();

    // Latched and released with nothing typed between: the X lock, which a
    // Caps Lock key-down would toggle, is left as it was.
    clickKeys({kCapsLock, kCapsLock, kA});
    EXPECT_EQ(waitForPlainKeyEvents(24).mid(22), (QStringList{"press a 0x0", "release a 0x0"}));
    expectNothingDownOrLocked();
    EXPECT_EQ(keyEvents().size(), plainKeyEvents().size())
        << "a modifier key event reached the client: " << qPrintable(recorderOutput());
}

TEST_F(TypingTest, FocusNeverLeavesTheClientWhileEveryKeyIsClicked) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(startRecorder());
    int plainKeys = 0;
    for (const orvix::KeyPlacement& key : orvix::keyboardLayout()) {
        if (std::ranges::find(kModifierCodes, key.code) != std::end(kModifierCodes))
            continue;
        clickKey(int(key.code));
        ++plainKeys;
    }
    // Every plain key types something, and comes up again.
    XSession::waitFor([&] { return keyEvents().size() >= 2 * plainKeys; }, 15000);
    const QList<KeyEvent> events = keyEvents();
    EXPECT_EQ(events.size(), 2 * plainKeys) << qPrintable(recorderOutput());
    QMap<int, int> balance;
    for (const KeyEvent& e : events)
        balance[e.keycode] += e.press ? 1 : -1;
    for (auto it = balance.cbegin(); it != balance.cend(); ++it)
        EXPECT_EQ(it.value(), 0) << "keycode " << it.key() << " left down";

    recorderOutput();
    EXPECT_EQ(recorderOutput().count(QStringLiteral("focus-out")), 0)
        << "a click on a key took the focus: " << qPrintable(recorderOutput());

    EXPECT_EQ(x.activeWindow(), recorder->window());
    expectNothingDownOrLocked();
}

TEST_F(TypingTest, ClickOrDragOnTheStripLeavesTheKeyboardWithTheClient) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(startRecorder());
    // A quick click on the strip, away from its buttons, as when a button is
    // missed: the real keyboard and the next key click still type.
    const auto before = x.windowGeometry(panel);
    const int sx = before.x + before.width / 2, sy = before.y + 8;
    x.click(sx, sy);
    xdotool({"key", "b"});
    clickKey(kA);
    EXPECT_EQ(waitForPlainKeyEvents(4),
              (QStringList{"press b 0x0", "release b 0x0", "press a 0x0", "release a 0x0"}));
    auto g = x.windowGeometry(panel);
    EXPECT_TRUE(g.x == before.x && g.y == before.y) << "a click moved the panel";

    // A drag on the strip moves the panel; afterwards typing goes on.
    xdotool({"mousemove", QString::number(sx), QString::number(sy), "mousedown", "1"});
    for (int step = 1; step <= 5; ++step)
        moveTo({sx - 12 * step, sy - 10 * step});
    xdotool({"mouseup", "1"});
    EXPECT_TRUE(XSession::waitFor([&] {
        g = x.windowGeometry(panel);
        return g.x != before.x || g.y != before.y;
    })) << "dragging the title strip did not move the panel";
    pause(300);
    xdotool({"key", "b"});
    clickKey(kA);
    EXPECT_EQ(waitForPlainKeyEvents(8).mid(4),
              (QStringList{"press b 0x0", "release b 0x0", "press a 0x0", "release a 0x0"}));
    EXPECT_EQ(x.activeWindow(), recorder->window());
    // The window manager's grab during a move shows as focus-out / focus-in
    // pairs; the client must end up with the focus.
    recorderOutput();
    EXPECT_EQ(recorderOutput().count(QStringLiteral("focus-out")),
              recorderOutput().count(QStringLiteral("focus-in")) - 1)
        << qPrintable(recorderOutput());
    expectNothingDownOrLocked();
}

TEST_F(TypingTest, PointerEnterAndLeaveSetTheTwoTransparencies) {
    writeConfig("[General]\nCheckForUpdates=false\nInactiveTransparency=0.35\n"
                "ActiveTransparency=0.85\n");
    ASSERT_TRUE(launch());
    ASSERT_TRUE(waitForOpacity(0.35));
    for (int round = 0; round < 2; ++round) {
        hoverPanel();
        EXPECT_TRUE(waitForOpacity(0.85)) << "round " << round << ": " << opacity();
        park();
        EXPECT_TRUE(waitForOpacity(0.35)) << "round " << round << ": " << opacity();
    }
}

// Moved, and sized far wider than the layout: the panel answers with its own
// proportions where it was put, and the next launch opens it just so.
TEST_F(TypingTest, MovedAndResizedFrameKeepsTheLayoutRatioAndSurvivesRelaunch) {
    ASSERT_TRUE(launch());
    const auto initial = x.windowGeometry(panel);
    xdotool({"windowmove", panel, "60", "70"});
    xdotool({"windowsize", panel, "1000", "260"});
    XSession::Geometry g;
    EXPECT_TRUE(XSession::waitFor([&] {
        g = x.windowGeometry(panel);
        return g.x == 60 && g.y == 70 && g.width != initial.width &&
               qAbs(contentRatio(g) - layoutRatio()) < 0.02;
    })) << g.x
        << "," << g.y << " " << g.width << "x" << g.height;
    const QString saved =
        QStringLiteral("%1 %2 %3 %4").arg(g.x).arg(g.y).arg(g.width).arg(g.height);
    EXPECT_TRUE(XSession::waitFor([&] { return storedFrame() == saved; }))
        << qPrintable(saved) << " / " << qPrintable(storedFrame());
    quitOrvix();

    ASSERT_TRUE(launch());
    const auto again = x.windowGeometry(panel);
    EXPECT_EQ(
        QStringLiteral("%1 %2 %3 %4").arg(again.x).arg(again.y).arg(again.width).arg(again.height),
        saved);
    // The keys follow the new size: a click on A still types it.
    ASSERT_TRUE(startRecorder());
    clickKey(kA);
    EXPECT_EQ(waitForPlainKeyEvents(2), (QStringList{"press a 0x0", "release a 0x0"}));
}

// A press that is dragged to another key belongs to the key it began on:
// that key goes down and comes up, while the keys under the pointer show
// their hover look on the way.
TEST_F(TypingTest, DragFromAToSLightsSOnTheWayTypesOnlyAThenAClickThereTypesS) {
    ASSERT_TRUE(launch({kA, kS})); // drawn and settled
    ASSERT_TRUE(startRecorder());
    const QImage aBefore = pixels->grabKey(kA), sBefore = pixels->grabKey(kS);
    const QPoint a = keyCentre(kA), s = keyCentre(kS);
    pressMouseOn(kA);
    for (int step = 1; step <= 4; ++step)
        moveTo(a + (s - a) * step / 4);
    EXPECT_TRUE(XSession::waitFor([&] { return pixels->grabKey(kS) != sBefore; }))
        << "S did not light while the button was held over it; the program said:\n"
        << orvix->readAll().toStdString();
    xdotool({"mouseup", "1"});
    EXPECT_EQ(waitForPlainKeyEvents(2), (QStringList{"press a 0x0", "release a 0x0"}));
    // A click where the drag ended, the pointer unmoved, types the key under it.
    xdotool({"click", "1"});
    EXPECT_EQ(waitForPlainKeyEvents(4).mid(2), (QStringList{"press s 0x0", "release s 0x0"}));

    // Once the pointer has gone, both keys look as they did before.
    park();
    EXPECT_TRUE(XSession::waitFor([&] {
        return pixels->grabKey(kS) == sBefore && pixels->grabKey(kA) == aBefore;
    })) << "a key kept its hover or pressed look";
    expectNothingDownOrLocked();
}

// Clicks in quick succession type in the order they were made, with the latch
// of the moment, one key per press: the two presses of a double click, a
// millisecond apart, type two keys, not three.
TEST_F(TypingTest, FastClicksTypeInOrderOncePerPress) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(startRecorder());
    QStringList chain;
    for (const auto& [code, clicks] :
         {std::pair{kShift, 1}, {kA, 1}, {kS, 2}, {kShift, 1}, {kA, 2}, {kS, 1}}) {
        const QPoint p = keyCentre(code);
        // The pause lets the server deliver the clicks before the pointer
        // jumps on: a move can overtake button events still queued in it.
        chain << QStringList{"mousemove",
                             QString::number(p.x()),
                             QString::number(p.y()),
                             "click",
                             "--repeat",
                             QString::number(clicks),
                             "--delay",
                             "1",
                             "1",
                             "sleep",
                             "0.05"};
    }
    xdotool(chain);
    EXPECT_EQ(waitForPlainKeyEvents(12),
              (QStringList{"press A 0x1", "release A 0x1", "press S 0x1", "release S 0x1",
                           "press S 0x1", "release S 0x1", "press a 0x0", "release a 0x0",
                           "press a 0x0", "release a 0x0", "press s 0x0", "release s 0x0"}));
    expectNothingDownOrLocked();
}

// Whatever size is asked for, the panel keeps the keyboard's proportions, led
// by the edge that was moved, no smaller than its minimum and on its screen.
TEST_F(TypingTest, ResizeKeepsProportionsFromEitherEdgeWithinLimits) {
    ASSERT_TRUE(launch());
    const auto initial = x.windowGeometry(panel);
    const int strip = orvix::MyPanel::titleBarHeight();
    const int minimumHeight = qRound(orvix::MyPanel::kMinimumContentWidth / layoutRatio()) + strip;
    const auto proportionalOnScreen = [&](const XSession::Geometry& g) {
        return qAbs(contentRatio(g) - layoutRatio()) < 0.02 && g.x >= 0 && g.y >= 0 &&
               g.x + g.width <= 1280 && g.y + g.height <= 800;
    };

    const struct {
        const char* what;
        int width, height;
        std::function<bool(const XSession::Geometry&)> holds;
    } cases[] = {
        {"height only", initial.width, initial.height + 120,
         [&](const XSession::Geometry& g) {
             return qAbs(g.height - (initial.height + 120)) <= 2;
         }},
        {"tiny", 30, 30,
         [&](const XSession::Geometry& g) {
             return qAbs(g.width - orvix::MyPanel::kMinimumContentWidth) <= 1 &&
                    qAbs(g.height - minimumHeight) <= 2;
         }},
        {"wider than the screen", 3000, 500,
         [&](const XSession::Geometry& g) {
             return g.width == 1280 && g.x == 0;
         }},
    };
    for (const auto& c : cases) {
        xdotool({"windowsize", panel, QString::number(c.width), QString::number(c.height)});
        XSession::Geometry g;
        EXPECT_TRUE(XSession::waitFor([&] {
            g = x.windowGeometry(panel);
            return c.holds(g) && proportionalOnScreen(g);
        })) << c.what
            << ": " << g.x << "," << g.y << " " << g.width << "x" << g.height;
    }

    // Back to the first size, then the corner grip dragged straight down: the
    // window manager sets the size from the pointer, and the width follows
    // the height once it lets go.
    xdotool({"windowsize", panel, QString::number(initial.width), QString::number(initial.height)});
    ASSERT_TRUE(XSession::waitFor([&] {
        const auto g = x.windowGeometry(panel);
        return g.width == initial.width && g.height == initial.height;
    }));
    const auto start = x.windowGeometry(panel);
    const int gx = start.x + start.width - 4, gy = start.y + start.height - 4;
    xdotool({"mousemove", QString::number(gx), QString::number(gy), "mousedown", "1"});
    pause(300); // the manager takes the pointer
    // At a hand's pace: the panel has time to answer between the steps.
    for (int step = 1; step <= 6; ++step) {
        moveTo({gx, gy + 20 * step});
        pause(400);
    }
    xdotool({"mouseup", "1"});
    XSession::Geometry dragged;
    EXPECT_TRUE(XSession::waitFor([&] {
        dragged = x.windowGeometry(panel);
        return dragged.height >= initial.height + 60 && proportionalOnScreen(dragged);
    })) << "grip: "
        << dragged.width << "x" << dragged.height;
}

TEST_F(TypingTest, SecondCopyLeavesTheRunningCopysLatchAndRecordAlone) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(startRecorder());
    clickKey(kShift);
    park();
    ASSERT_TRUE(XSession::waitFor([&] { return keyboardState().locked & kShiftMask; }))
        << keyboardState().text();
    const QDir records(x.runtimeDir() + QStringLiteral("/orvix"));
    const QStringList record = records.entryList(QDir::Files);
    ASSERT_FALSE(record.isEmpty());

    QProcess* second = x.startOrvix();
    ASSERT_TRUE(second->waitForFinished(20000));
    const QByteArray said = second->readAll();
    EXPECT_TRUE(said.contains("Found another")) << said.constData();
    EXPECT_FALSE(said.contains("Released")) << said.constData();
    EXPECT_TRUE(keyboardState().locked & kShiftMask) << keyboardState().text();
    EXPECT_EQ(records.entryList(QDir::Files), record);

    clickKey(kA);
    EXPECT_EQ(waitForPlainKeyEvents(2), (QStringList{"press A 0x1", "release A 0x1"}));
    // The record still tells what to undo when the first copy is killed.
    ::kill(static_cast<pid_t>(orvix->processId()), SIGKILL);
    ASSERT_TRUE(orvix->waitForFinished(5000));
    EXPECT_TRUE(XSession::waitFor([&] { return keyboardState().locked == 0; }))
        << keyboardState().text();
}

TEST_F(TypingTest, CapsLockOnBeforeLaunchShowsOnItsKeyAndReachesClickedKeys) {
    xdotool({"key", "Caps_Lock"});
    ASSERT_EQ(keyboardState().locked, kLockMask);
    ASSERT_TRUE(launch());
    // The key as shown with the lock on, once drawn and settled...
    QImage locked, previous;
    ASSERT_TRUE(XSession::waitFor([&] {
        locked = pixels->grabKey(kCapsLock);
        const bool same = !previous.isNull() && !locked.isNull() &&
                          TapPanelPixels::meanDifference(locked, previous) == 0;
        previous = locked;
        pause(100);
        return same;
    }));
    ASSERT_TRUE(startRecorder());
    xdotool({"key", "b"});
    clickKey(kA);
    EXPECT_EQ(waitForPlainKeyEvents(4),
              (QStringList{"press B 0x2", "release B 0x2", "press A 0x2", "release A 0x2"}));
    // The user's lock stays theirs...
    EXPECT_EQ(keyboardState().locked, kLockMask);
    park();
    // ...and the key changes when the real key unlocks it: it was lit.
    xdotool({"key", "Caps_Lock"});
    EXPECT_TRUE(XSession::waitFor([&] {
        return TapPanelPixels::meanDifference(pixels->grabKey(kCapsLock), locked) >
               TapPanelPixels::kUnlitDifference;
    })) << "Caps Lock was dark while the lock was on";
    expectNothingDownOrLocked();
}

struct EndCase {
    const char* name;
    int signal;
    std::vector<int> latched;
    bool holdKey = false; // the mouse held down on A when the program ends
};

void PrintTo(const EndCase& c, std::ostream* os) {
    *os << c.name;
}

class EndedWhileTypingTest : public TypingTest, public ::testing::WithParamInterface<EndCase> {};

// Latches the modifiers, leaves them resting (pointer away from the panel)
// or holds the mouse down on A (so the modifier keys and A are down in the
// server), and ends the program with a signal. Its handlers let go of
// everything before it ends; after SIGKILL its watchdog does, without
// waiting for a new start.
TEST_P(EndedWhileTypingTest, NothingStaysDownOrLockedAndNothingRepeats) {
    const EndCase& c = GetParam();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(startRecorder());
    unsigned wanted = 0;
    for (int code : c.latched) {
        clickKey(code);
        wanted |= code == kCapsLock  ? kLockMask
                  : code == kShift   ? kShiftMask
                  : code == kControl ? kControlMask
                                     : kMod4Mask;
    }
    if (c.holdKey)
        pressMouseOn(kA);
    else
        park();
    // What the program holds is in the server: the state this test ends.
    ASSERT_TRUE(XSession::waitFor([&] {
        const KeyboardState s = keyboardState();
        return (s.mods & wanted) == wanted && (!c.holdKey || !s.keysDown.isEmpty());
    })) << keyboardState().text();

    ::kill(static_cast<pid_t>(orvix->processId()), c.signal);
    ASSERT_TRUE(orvix->waitForFinished(10000));
    // A crash still ends as a crash (under the sanitizers: a failure code).
    if (c.signal == SIGSEGV || c.signal == SIGKILL)
        EXPECT_TRUE(orvix->exitStatus() == QProcess::CrashExit || orvix->exitCode() != 0);
    else
        EXPECT_EQ(orvix->exitStatus(), QProcess::NormalExit);
    if (c.signal == SIGKILL) {
        EXPECT_TRUE(XSession::waitFor([&] { return nothingDownOrLocked(); }))
            << keyboardState().text();
    }
    const KeyboardState after = keyboardState();
    EXPECT_TRUE(after.mods == 0 && after.locked == 0 && after.latched == 0 && after.base == 0 &&
                after.keysDown.isEmpty())
        << after.text();
    if (c.holdKey)
        xdotool({"mouseup", "1"});
    expectNothingDownOrLocked();
    // As a user's tools see it: no keyboard light left on.
    const QString xset = x.run(QStringLiteral("xset"), {"q"});
    EXPECT_TRUE(xset.contains(QStringLiteral("LED mask:  00000000"))) << qPrintable(xset);
    // No repeats after that: a key left down would repeat past the server's
    // repeat delay.
    const auto pressesOfA = [&] {
        int count = 0;
        for (const KeyEvent& e : keyEvents())
            count += e.press && e.sym.compare(QStringLiteral("a"), Qt::CaseInsensitive) == 0;
        return count;
    };
    // Once the client has seen A come up, anything more would be a repeat.
    EXPECT_TRUE(XSession::waitFor([&] {
        const QList<KeyEvent> events = keyEvents();
        for (qsizetype i = events.size() - 1; i >= 0; --i)
            if (events[i].sym.compare(QStringLiteral("a"), Qt::CaseInsensitive) == 0)
                return !events[i].press;
        return !c.holdKey;
    })) << qPrintable(recorderOutput());
    const int pressed = pressesOfA();
    pause(1000);
    EXPECT_EQ(pressesOfA(), pressed) << qPrintable(recorderOutput());
    EXPECT_EQ(pressed > 0, c.holdKey);

    // The next start finds nothing to clean up, and types normally; after a
    // crash it first offers the crash report instead.
    if (c.signal == SIGSEGV)
        return;
    ASSERT_TRUE(launch());
    const qsizetype typed = plainKeyEvents().size();
    clickKey(kA);
    XSession::waitFor([&] { return plainKeyEvents().size() >= typed + 2; });
    EXPECT_EQ(plainKeyEvents().mid(typed), (QStringList{"press a 0x0", "release a 0x0"}));
    const QByteArray said = orvix->peek(1 << 20);
    EXPECT_FALSE(said.contains("Released modifiers left by an earlier run"));
    EXPECT_FALSE(said.contains("Found another")) << "the ended copy still counted as running";
    expectNothingDownOrLocked();
}

const std::vector<int> kShiftCapsControl = {kShift, kCapsLock, kControl};
INSTANTIATE_TEST_SUITE_P(
    Signals, EndedWhileTypingTest,
    ::testing::Values(EndCase{"TermWithShiftCapsAndControlResting", SIGTERM, kShiftCapsControl},
                      EndCase{"IntWithShiftCapsAndControlResting", SIGINT, kShiftCapsControl},
                      EndCase{"HupWithShiftCapsAndControlResting", SIGHUP, kShiftCapsControl},
                      EndCase{"SegvWithShiftCapsAndControlResting", SIGSEGV, kShiftCapsControl},
                      EndCase{"KillWithShiftAndCommandResting", SIGKILL, {kShift, kCommand}},
                      EndCase{"KillWithCapsLockResting", SIGKILL, {kCapsLock}},
                      EndCase{"KillWithNothingLatchedWhileTyping", SIGKILL, {}, true},
                      EndCase{"KillWithCapsShiftAndCommandWhileTyping",
                              SIGKILL,
                              {kCapsLock, kShift, kCommand},
                              true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
