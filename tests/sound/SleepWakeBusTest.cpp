#include "AudioServer.h" // startPrivateBus
#include "LogCapture.h"
#include "SoundTestSupport.h"
#include "sound/AudioKeepAlive.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

using namespace orvix;

namespace {

QDBusMessage prepareForSleep(bool sleeping) {
    QDBusMessage m = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                QStringLiteral("org.freedesktop.login1.Manager"),
                                                QStringLiteral("PrepareForSleep"));
    m << sleeping;
    return m;
}

// A private system bus where a connection owns logind's name and sends PrepareForSleep.
TEST(SleepWakeBus, PrepareForSleepFromLogindPausesAndResumes) {
    QProcess daemon; // killed when it goes
    const QString address = test::startPrivateBus(daemon);
    ASSERT_FALSE(address.isEmpty());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());

    QDBusConnection logind = QDBusConnection::connectToBus(address, QStringLiteral("fake-logind"));
    ASSERT_TRUE(logind.isConnected());
    ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));
    QDBusConnection impostor = QDBusConnection::connectToBus(address, QStringLiteral("impostor"));
    ASSERT_TRUE(impostor.isConnected());

    test::useLoopback();
    ASSERT_TRUE(test::audibleSilence());
    orvix::test::LogCapture cap;
    AudioKeepAlive* keepAlive = AudioKeepAlive::sharedInstance();
    EXPECT_FALSE(cap.contains("No system bus"));
    keepAlive->start();
    ASSERT_TRUE(keepAlive->isRunning());

    // Only logind's own signal counts.
    impostor.send(prepareForSleep(true));
    EXPECT_FALSE(QTest::qWaitFor([&] { return !keepAlive->isRunning(); }, 500));

    logind.send(prepareForSleep(true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !keepAlive->isRunning(); }, 5000));
    test::drain();
    logind.send(prepareForSleep(false));
    EXPECT_TRUE(QTest::qWaitFor([&] { return keepAlive->isRunning(); }, 5000));
    EXPECT_GT(test::peak(test::render(2400)), 0.2f) << "a new sound, played at once on wake";

    // Asleep while stopped: waking leaves it stopped.
    keepAlive->stop();
    logind.send(prepareForSleep(true));
    logind.send(prepareForSleep(false));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 300);
    EXPECT_FALSE(QTest::qWaitFor([&] { return keepAlive->isRunning(); }, 500));

    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
    QDBusConnection::disconnectFromBus(QStringLiteral("impostor"));
}

} // namespace
