#include "LogCapture.h"
#include "XRecorder.h"
#include "os/input/InputStateFile.h"
#include "os/input/X11Backend.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>

// Last: Xlib's macros clash with names in the headers above.
#include <X11/Xlib.h>

using namespace orvix::input;
using orvix::test::XSession;

namespace {

// What the helper holds: Shift, Alt and A down; Caps Lock and Control locked.
const QString kHeldKeys = QStringLiteral("38 50 64");
constexpr unsigned kHeldLocks = LockMask | ControlMask;

class StuckModifierTest : public orvix::test::SharedXSessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SharedXSessionTest::SetUp());
        probe = std::make_unique<orvix::test::XProbe>(session->display());
        ASSERT_TRUE(probe->isOpen());
        ASSERT_EQ(probe->downKeys(), "");
        ASSERT_EQ(probe->lockedModifiers(), 0u);
    }

    QString statePath() const { return stateDir.path() + QStringLiteral("/orvix/input.state"); }
    std::unique_ptr<X11Backend> open() {
        return orvix::test::openX11Backend(session->display(), statePath());
    }
    bool released() {
        return XSession::waitFor(
            [this] {
                return probe->downKeys().isEmpty() && probe->lockedModifiers() == 0 &&
                       probe->modifiers() == 0;
            },
            5000);
    }

    // Starts the helper, waits until it holds its key, and answers it.
    QProcess* startHolder(const char* mode) {
        QProcess* helper =
            session->start(QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/input_hold_helper"),
                           {session->display(), statePath(), QString::fromLatin1(mode)});
        QByteArray output;
        EXPECT_TRUE(XSession::waitFor(
            [&] {
                output += helper->readAllStandardOutput();
                return output.contains("holding\n");
            },
            10000));
        // segv and exit end at once: what they held may already be gone.
        if (strcmp(mode, "segv") != 0 && strcmp(mode, "exit") != 0) {
            EXPECT_EQ(probe->downKeys(), kHeldKeys);
            EXPECT_EQ(probe->lockedModifiers(), kHeldLocks);
        }
        return helper;
    }

    QTemporaryDir stateDir;
    std::unique_ptr<orvix::test::XProbe> probe;
};

TEST_F(StuckModifierTest, RecordOfALiveProcessIsLeftAloneAndCleanedUpAfterKill) {
    QProcess* helper = startHolder("hold");
    auto second = open();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->stateHeldByAnother());
    EXPECT_FALSE(second->cleanedUpEarlierRun());
    second.reset();
    EXPECT_EQ(probe->downKeys(), kHeldKeys);
    EXPECT_TRUE(QFile::exists(statePath()));

    helper->kill(); // SIGKILL: no handler runs
    ASSERT_TRUE(helper->waitForFinished(5000));
    // The server keeps XTest keys down after their client is gone.
    EXPECT_EQ(probe->downKeys(), kHeldKeys);

    // Once its holder is gone, the record is the next start's to clean up.
    orvix::test::LogCapture capture;
    second = open();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->cleanedUpEarlierRun());
    EXPECT_EQ(probe->downKeys(), "");
    EXPECT_EQ(probe->lockedModifiers(), 0u);
    EXPECT_EQ(probe->modifiers(), 0u);
    EXPECT_TRUE(capture.contains("Released modifiers left by an earlier run"));

    // A clean end leaves nothing to clean up at the following start.
    second.reset();
    second = open();
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->cleanedUpEarlierRun());
}

TEST_F(StuckModifierTest, EveryWayOfEndingReleasesBeforeTheProcessEnds) {
    for (const char* mode : {"term", "segv", "exit", "graceful"}) {
        SCOPED_TRACE(mode);
        const QByteArray m(mode);
        QProcess* helper = startHolder(mode);
        if (m == "term" || m == "graceful")
            ::kill(static_cast<pid_t>(helper->processId()), SIGTERM);
        ASSERT_TRUE(helper->state() == QProcess::NotRunning || helper->waitForFinished(10000));
        if (m == "exit" || m == "graceful") {
            EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(helper->exitCode(), m == "exit" ? 3 : 0);
        } else {
            // The signal still ends the process as it would have (or as the
            // handler installed before ours makes it end: the sanitizers'
            // crash report exits with a failure code).
            EXPECT_TRUE(helper->exitStatus() == QProcess::CrashExit || helper->exitCode() != 0);
        }
        if (m == "graceful") {
            // A polite quit handler of the program's own still runs, and its
            // clean end removes the state file.
            const QByteArray output = helper->readAll();
            EXPECT_TRUE(output.contains("clean\n")) << output.constData();
            EXPECT_FALSE(output.contains("Xlib")) << output.constData();
            EXPECT_FALSE(QFile::exists(statePath()));
        }
        // The releases went out on the helper's spare connection, which the
        // server reads in its own time: wait for them.
        EXPECT_TRUE(released());
    }
}

TEST_F(StuckModifierTest, RunningFileIsActiveAndCleanEndLeavesUserLockAlone) {
    // The user's own Caps Lock is on; nothing of ours may touch it.
    probe->lockCaps(true);
    {
        auto first = open();
        ASSERT_NE(first, nullptr);
        // While it runs, the file says so: a kill now would be cleaned up.
        QFile file(statePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const auto record = InputStateFile::parse(file.readAll().toStdString());
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(*record, (InputStateFile::Record{true, {}, -1}));
    }
    // The first one ended cleanly, so there is nothing to do at the next start.
    auto second = open();
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->cleanedUpEarlierRun());
    EXPECT_EQ(probe->lockedModifiers(), static_cast<unsigned>(LockMask));
    probe->lockCaps(false);
}

} // namespace
