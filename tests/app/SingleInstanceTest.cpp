#include "os/SingleInstance.h"

#include "TempHome.h"
#include "ToolRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using orvix::SingleInstance;

namespace {

const QString kId = kId;

class SingleInstanceTest : public ::testing::Test {
protected:
    orvix::test::TempHome home{true};
};

TEST_F(SingleInstanceTest, EndpointIgnoresCaseOfIdentifier) {
    EXPECT_EQ(SingleInstance::endpointFor(QStringLiteral("org.orvix.Orvix")),
              SingleInstance::endpointFor(QStringLiteral("ORG.ORVIX.orvix")));
    EXPECT_NE(SingleInstance::endpointFor(QStringLiteral("org.orvix.Orvix")),
              SingleInstance::endpointFor(QStringLiteral("org.orvix.Other")));
    EXPECT_TRUE(SingleInstance::endpointFor(QStringLiteral("a")).startsWith(home.runtimeDir()));
}

TEST_F(SingleInstanceTest, CopiesStartedTogetherLeaveExactlyOneFirst) {
    // A lock file left by a copy that died does not hold anyone up.
    const QString endpoint = SingleInstance::endpointFor(kId);
    QFile leftover(endpoint + QStringLiteral(".lock"));
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();

    for (int round = 0; round < 5; ++round) {
        constexpr int kCopies = 4;
        std::atomic<int> ready{0}, firsts{0}, done{0};
        std::vector<std::thread> copies;
        for (int i = 0; i < kCopies; ++i)
            copies.emplace_back([&] {
                SingleInstance copy(kId);
                copy.setReplyTimeout(200);
                ++ready;
                while (ready.load() < kCopies) {
                }
                if (copy.claim() == SingleInstance::Outcome::Primary)
                    ++firsts;
                // Stay up, listening, until every copy has decided.
                ++done;
                while (done.load() < kCopies)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            });
        for (std::thread& t : copies)
            t.join();
        EXPECT_EQ(firsts.load(), 1) << "round " << round;
    }
}

TEST_F(SingleInstanceTest, StaleEndpointDoesNotStopLaunch) {
    // A socket file nobody listens on, as a killed copy leaves behind.
    const int stale = orvix::test::bindUnixSocket(SingleInstance::endpointFor(kId), false);
    ASSERT_GE(stale, 0);
    ::close(stale);
    SingleInstance copy(kId);
    EXPECT_EQ(copy.claim(), SingleInstance::Outcome::Primary);
    // It really listens now: a later copy finds it.
    std::atomic<int> outcome{-1};
    std::thread later([&] {
        SingleInstance again(kId);
        again.setReplyTimeout(300);
        outcome = static_cast<int>(again.claim());
    });
    later.join();
    EXPECT_EQ(outcome.load(), static_cast<int>(SingleInstance::Outcome::Duplicate));
}

TEST_F(SingleInstanceTest, UnresponsiveFirstCopyDoesNotHangTheSecond) {
    // A listener that accepts connections but never answers.
    const int fd = orvix::test::bindUnixSocket(SingleInstance::endpointFor(kId), true);
    ASSERT_GE(fd, 0);

    SingleInstance copy(kId);
    copy.setReplyTimeout(400);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(copy.claim(), SingleInstance::Outcome::Duplicate);
    EXPECT_LT(timer.elapsed(), 5000);
    ::close(fd);
}

TEST_F(SingleInstanceTest, ListensPrivatelyPastSilentCopiesAndCleansUp) {
    const QString endpoint = SingleInstance::endpointFor(kId);
    {
        SingleInstance first(kId);
        ASSERT_EQ(first.claim(), SingleInstance::Outcome::Primary);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(endpoint).constData(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u) << std::oct << (st.st_mode & 0777);

        // More connections that never speak than the copy keeps open: a real
        // request after them is still answered.
        std::vector<std::unique_ptr<QLocalSocket>> silent;
        for (int i = 0; i < 12; ++i) {
            silent.push_back(std::make_unique<QLocalSocket>());
            silent.back()->connectToServer(endpoint);
            ASSERT_TRUE(silent.back()->waitForConnected(2000));
            QCoreApplication::processEvents();
        }
        QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
        QLocalSocket asker;
        asker.connectToServer(endpoint);
        ASSERT_TRUE(asker.waitForConnected(2000));
        asker.write("reopen\n");
        asker.flush();
        EXPECT_TRUE(reopened.wait(5000));
        EXPECT_TRUE(asker.waitForReadyRead(2000));
        EXPECT_EQ(asker.readAll(), QByteArray("ok\n"));
    }
    EXPECT_FALSE(QFile::exists(endpoint)) << "the socket file outlived its copy";
}

TEST_F(SingleInstanceTest, IgnoresRequestsThatAreNotReopen) {
    SingleInstance first(kId);
    ASSERT_EQ(first.claim(), SingleInstance::Outcome::Primary);
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
    QLocalSocket socket;
    socket.connectToServer(SingleInstance::endpointFor(kId));
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(QByteArray(200, 'x') + "\n");
    socket.flush();
    EXPECT_FALSE(reopened.wait(500));
}

} // namespace
