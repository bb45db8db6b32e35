#pragma once

#include "XSession.h"

#include <gtest/gtest.h>
#include <memory>

namespace orvix::test {

// A fixture whose tests share one bare X session (no window manager) for the
// whole suite, as a server per test would cost more than most tests: each test
// must leave the server as it found it. Suites that need more for their whole
// run call startSession and endSession from their own suite set-up.
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
