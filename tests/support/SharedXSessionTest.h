#pragma once

#include "XSession.h"

#include <gtest/gtest.h>
#include <memory>

namespace orvix::test {

// A fixture whose tests share one bare X session (no window manager): it
// starts before the suite's first test and ends, with every process started
// in it, after the last. A server per test would cost more than most tests,
// so each test must leave the server as it found it. A suite that needs more
// for its whole run declares its own SetUpTestSuite and TearDownTestSuite and
// calls startSession and endSession from them.
class SharedXSessionTest : public ::testing::Test {
protected:
    static void startSession() {
        session = std::make_unique<XSession>(
            XSession::Options{.windowManager = false, .screen = QStringLiteral("640x480x24")});
    }
    static void endSession() { session.reset(); }
    static void SetUpTestSuite() { startSession(); }
    static void TearDownTestSuite() { endSession(); }

    void SetUp() override { ASSERT_TRUE(session && session->isRunning()) << "Xvfb did not start"; }

    // Runs xdotool in the session; a failed run fails the test.
    static void xdotool(const QStringList& arguments) {
        int status = -1;
        session->run(QStringLiteral("xdotool"), arguments, 10000, &status);
        ASSERT_EQ(status, 0);
    }

    static inline std::unique_ptr<XSession> session;
};

} // namespace orvix::test
