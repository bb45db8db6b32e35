#include "LogCapture.h"
#include "SharedXSessionTest.h"
#include "os/input/X11Backend.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

// Last: Xlib's macros clash with names in the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

using namespace orvix::input;
using orvix::test::XSession;

namespace {

class StuckModifierTest : public orvix::test::SharedXSessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SharedXSessionTest::SetUp());
        probe = XOpenDisplay(session->display().toLatin1().constData());
        ASSERT_NE(probe, nullptr);
        ASSERT_EQ(downKeys(), 0);
        ASSERT_EQ(lockedModifiers(), 0u);
    }
    void TearDown() override {
        if (probe)
            XCloseDisplay(probe);
    }

    QString statePath() const { return stateDir.path() + QStringLiteral("/orvix/input.state"); }

    // Starts the helper, waits until it holds its key, and answers it.
    QProcess* startHolder(const char* mode, bool watchdog = false) {
        QStringList arguments{session->display(), statePath(), QString::fromLatin1(mode)};
        if (watchdog)
            arguments << QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/orvix-watchdog");
        QProcess* helper = session->start(
            QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/input_hold_helper"), arguments);
        QByteArray output;
        EXPECT_TRUE(XSession::waitFor(
            [&] {
                output += helper->readAllStandardOutput();
                return output.contains("holding\n");
            },
            10000));
        XSync(probe, False);
        return helper;
    }

    int downKeys() {
        char keys[32];
        XQueryKeymap(probe, keys);
        int count = 0;
        for (int k = 8; k < 256; ++k)
            if (keys[k / 8] & (1 << (k % 8)))
                ++count;
        return count;
    }
    unsigned lockedModifiers() {
        XkbStateRec state{};
        XkbGetState(probe, XkbUseCoreKbd, &state);
        return state.locked_mods;
    }
    unsigned modifiers() {
        XkbStateRec state{};
        XkbGetState(probe, XkbUseCoreKbd, &state);
        return state.mods;
    }

    QTemporaryDir stateDir;
    Display* probe = nullptr;
};

TEST_F(StuckModifierTest, NextStartCleansUpAfterKill) {
    QProcess* helper = startHolder("hold");
    EXPECT_EQ(downKeys(), 3); // Shift, Alt and A
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(LockMask | ControlMask));
    helper->kill(); // SIGKILL: no handler runs
    ASSERT_TRUE(helper->waitForFinished(5000));
    XSync(probe, False);
    // The server keeps XTest keys down after their client is gone.
    EXPECT_EQ(downKeys(), 3);

    struct stat st {};
    ASSERT_EQ(stat(statePath().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    orvix::test::LogCapture capture;
    X11Backend::Options options;
    options.displayName = session->display().toStdString();
    options.statePath = statePath().toStdString();
    options.emergencyRelease = false;
    auto backend = X11Backend::open(options);
    ASSERT_NE(backend, nullptr);
    EXPECT_TRUE(backend->cleanedUpEarlierRun());
    XSync(probe, False);
    EXPECT_EQ(downKeys(), 0);
    EXPECT_EQ(lockedModifiers(), 0u);
    EXPECT_EQ(modifiers(), 0u);
    EXPECT_TRUE(capture.contains("Released modifiers left by an earlier run"));

    // A clean end leaves nothing to clean up at the following start.
    backend.reset();
    backend = X11Backend::open(options);
    ASSERT_NE(backend, nullptr);
    EXPECT_FALSE(backend->cleanedUpEarlierRun());
}

TEST_F(StuckModifierTest, RecordOfALiveProcessIsLeftAlone) {
    QProcess* helper = startHolder("hold");
    X11Backend::Options options;
    options.displayName = session->display().toStdString();
    options.statePath = statePath().toStdString();
    options.emergencyRelease = false;
    auto second = X11Backend::open(options);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->stateHeldByAnother());
    EXPECT_FALSE(second->cleanedUpEarlierRun());
    second.reset();
    XSync(probe, False);
    EXPECT_EQ(downKeys(), 3);
    EXPECT_TRUE(QFile::exists(statePath()));

    // Once its holder is gone, the record is the next start's to clean up.
    helper->kill();
    ASSERT_TRUE(helper->waitForFinished(5000));
    second = X11Backend::open(options);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->cleanedUpEarlierRun());
    XSync(probe, False);
    EXPECT_EQ(downKeys(), 0);
}

TEST_F(StuckModifierTest, WatchdogReleasesTheMomentAKilledPosterIsGone) {
    QProcess* helper = startHolder("hold", true);
    EXPECT_EQ(downKeys(), 3);
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(LockMask | ControlMask));
    helper->kill();
    ASSERT_TRUE(helper->waitForFinished(5000));
    EXPECT_TRUE(XSession::waitFor(
        [this] { return downKeys() == 0 && lockedModifiers() == 0 && modifiers() == 0; }, 5000))
        << downKeys() << " keys down, locked 0x" << std::hex << lockedModifiers();
    // Its work done, the record goes.
    EXPECT_TRUE(XSession::waitFor([this] { return !QFile::exists(statePath()); }, 5000));
}

TEST_F(StuckModifierTest, SignalsReleaseBeforeTheProcessEnds) {
    for (const char* mode : {"term", "segv", "exit"}) {
        SCOPED_TRACE(mode);
        QProcess* helper = startHolder(mode);
        if (QByteArray(mode) == "term")
            ::kill(static_cast<pid_t>(helper->processId()), SIGTERM);
        ASSERT_TRUE(helper->state() == QProcess::NotRunning || helper->waitForFinished(10000));
        if (QByteArray(mode) == "exit") {
            EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(helper->exitCode(), 3);
        } else {
            // The signal still ends the process as it would have (or as the
            // handler installed before ours makes it end: the sanitizers'
            // crash report exits with a failure code).
            EXPECT_TRUE(helper->exitStatus() == QProcess::CrashExit || helper->exitCode() != 0);
        }
        // The releases went out on the helper's spare connection, which the
        // server reads in its own time: wait for them.
        EXPECT_TRUE(XSession::waitFor([this] { return downKeys() == 0; }, 5000));
        EXPECT_TRUE(XSession::waitFor([this] { return lockedModifiers() == 0; }, 5000));
        EXPECT_EQ(modifiers(), 0u);
    }
}

TEST_F(StuckModifierTest, PoliteQuitHandlersStillRun) {
    QProcess* helper = startHolder("graceful");
    ::kill(static_cast<pid_t>(helper->processId()), SIGTERM);
    ASSERT_TRUE(helper->state() == QProcess::NotRunning || helper->waitForFinished(10000));
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
    const QByteArray output = helper->readAll();
    EXPECT_TRUE(output.contains("clean\n")) << output.constData();
    EXPECT_FALSE(output.contains("Xlib")) << output.constData();
    XSync(probe, False);
    EXPECT_EQ(downKeys(), 0);
    EXPECT_EQ(lockedModifiers(), 0u);
    // A clean end removes the state file.
    EXPECT_FALSE(QFile::exists(statePath()));
}

TEST_F(StuckModifierTest, RunningFileIsActiveAndCleanEndLeavesUserLockAlone) {
    // The user's own Caps Lock is on; nothing of ours may touch it.
    XkbLockModifiers(probe, XkbUseCoreKbd, LockMask, LockMask);
    XSync(probe, False);
    X11Backend::Options options;
    options.displayName = session->display().toStdString();
    options.statePath = statePath().toStdString();
    options.emergencyRelease = false;
    {
        auto first = X11Backend::open(options);
        ASSERT_NE(first, nullptr);
        // While it runs, the file says so: a kill now would be cleaned up.
        QFile file(statePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const auto record = InputStateFile::parse(file.readAll().toStdString());
        ASSERT_TRUE(record.has_value());
        EXPECT_TRUE(record->active);
        EXPECT_TRUE(record->keycodes.empty());
        EXPECT_EQ(record->lockRestore, -1);
    }
    // The first one ended cleanly, so there is nothing to do at the next start.
    auto second = X11Backend::open(options);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->cleanedUpEarlierRun());
    EXPECT_EQ(lockedModifiers(), static_cast<unsigned>(LockMask));
    XkbLockModifiers(probe, XkbUseCoreKbd, LockMask, 0);
    XSync(probe, False);
}

} // namespace
