// The real program on the evdev backend, in the guest: Orvix in a private X
// session (for its panel) with InputBackend=evdev, a stand-in keyboard, and
// what Orvix's virtual keyboard sends, read from its device and, through a
// display server that reads the kernel's devices as a desktop's does, by an
// application.
#include "../e2e/PanelTest.h"
#include "GuestDevices.h"
#include "os/input/evdev/UinputDevices.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <optional>

using namespace orvix::test;
using orvix::input::UinputDevices;
using Keys = DeviceReader::Keys;

namespace {

constexpr int kCodeA = 0;
constexpr int kCodeShift = 56;

class EvdevProgramGuestTest : public PanelTest {
protected:
    void SetUp() override {
        if (!canUseUinput())
            GTEST_SKIP() << "needs /dev/uinput: runs in the guest (tests/kernel/run-in-guest)";
        ASSERT_TRUE(keyboard.ok());
        ASSERT_NO_FATAL_FAILURE(PanelTest::SetUp());
        writeQuietConfig("InputBackend=evdev\n");
        ASSERT_TRUE(launch({kCodeA, kCodeShift})) << orvix->readAll().toStdString();
        const std::string node =
            findDeviceNode(UinputDevices::kVendor, UinputDevices::kKeyboardProduct);
        ASSERT_FALSE(node.empty());
        reader.emplace(node);
        ASSERT_TRUE(passesOn(keyboard, *reader));
    }
    void TearDown() override {
        if (HasFailure() && orvix)
            std::fprintf(stderr, "Orvix said:\n%s\n", orvix->readAll().constData());
    }

    void latchShift() {
        clickKey(kCodeShift); // nothing is sent for it
        ASSERT_TRUE(waitLit(kCodeShift, 30000));
    }

    StandInDevice keyboard;
    std::optional<DeviceReader> reader;
};

TEST_F(EvdevProgramGuestTest, LatchedShiftReachesRealKeysAndClicksGoOutThroughUinput) {
    keyboard.key(KEY_A, 1);
    EXPECT_TRUE(waitLit(kCodeA, 20000)) << "a real A lights the panel's A";
    keyboard.key(KEY_A, 0);
    EXPECT_EQ(reader->take(2), (Keys{{KEY_A, 1}, {KEY_A, 0}})) << "and passes unchanged";

    latchShift();
    keyboard.tap(KEY_A);
    EXPECT_EQ(reader->take(6), around(KEY_LEFTSHIFT, {{KEY_A, 1}, {KEY_A, 0}}))
        << "with Shift latched on the panel, a real a leaves as A";
    clickKey(kCodeA);
    EXPECT_EQ(reader->take(4),
              (Keys{{KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTSHIFT, 0}}))
        << "a click on the panel's A goes out through uinput, shifted";

    keyboard.key(KEY_LEFTCTRL, 1);
    EXPECT_EQ(reader->take(1), (Keys{{KEY_LEFTCTRL, 1}}));
    kill(static_cast<pid_t>(orvix->processId()), SIGKILL);
    EXPECT_TRUE(reader->waitUntilGone()) << "the virtual keyboard goes, and its keys with it";
    EXPECT_TRUE(XSession::waitFor([&] { return keyboard.grabbable(); }))
        << "the keyboard is free again";
    keyboard.key(KEY_LEFTCTRL, 0);
}

// An Xorg that finds its keyboards through udev and reads them with libinput,
// as a desktop's display server does, and an application on it: what reaches
// the application is what users get.
TEST_F(EvdevProgramGuestTest, AnApplicationOnADisplayServerReadingTheDevicesGetsTheStampedKeys) {
    // udev tells libinput what each device is; the guest runs no udev of its
    // own.
    QProcessEnvironment udevEnv = QProcessEnvironment::systemEnvironment();
    udevEnv.insert(QStringLiteral("SYSTEMD_IGNORE_CHROOT"), QStringLiteral("1"));
    QProcess udevd;
    udevd.setProcessEnvironment(udevEnv);
    udevd.setProcessChannelMode(QProcess::ForwardedChannels);
    udevd.start(QStringLiteral("/lib/systemd/systemd-udevd"), {});
    ASSERT_TRUE(udevd.waitForStarted(5000));
    auto udevadm = [&](const QStringList& arguments) {
        QProcess p;
        p.setProcessEnvironment(udevEnv);
        p.start(QStringLiteral("udevadm"), arguments);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    ASSERT_TRUE(XSession::waitFor([&] {
        return udevadm({QStringLiteral("control"), QStringLiteral("--ping")});
    }));
    ASSERT_TRUE(udevadm({QStringLiteral("trigger"), QStringLiteral("--action=add"),
                         QStringLiteral("--subsystem-match=input")}));
    ASSERT_TRUE(udevadm({QStringLiteral("settle"), QStringLiteral("--timeout=30")}));

    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("xorg.conf")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("Section \"Device\"\n  Identifier \"dummy\"\n  Driver \"dummy\"\n"
                 "  VideoRam 16384\nEndSection\n"
                 "Section \"Screen\"\n  Identifier \"screen\"\n  Device \"dummy\"\n"
                 "  DefaultDepth 24\n  SubSection \"Display\"\n    Depth 24\n"
                 "    Modes \"1024x768\"\n  EndSubSection\nEndSection\n");
    config.close();
    XSession desktop({.windowManager = false,
                      .server = QStringLiteral("Xorg"),
                      .serverArguments = {
                          QStringLiteral("-config"), config.fileName(), QStringLiteral("-logfile"),
                          dir.filePath(QStringLiteral("Xorg.log")), QStringLiteral("-novtswitch"),
                          QStringLiteral("-sharevts"), QStringLiteral("vt1")}});
    ASSERT_TRUE(desktop.isRunning());
    XRecorder app(desktop);
    ASSERT_TRUE(app.isReady());
    // The taps of b that found Xorg reading are not counted.
    auto presses = [&] {
        QStringList keys;
        for (const RecordedKey& key : app.keys())
            if (key.press && !key.sym.startsWith(QStringLiteral("Shift")) && key.sym != u"b")
                keys << key.sym;
        return keys;
    };
    ASSERT_TRUE(XSession::waitFor([&] { return app.output().contains("focus-in"); }, 30000));

    // Xorg reads Orvix's virtual keyboard, through which the grabbed
    // stand-in's keys come.
    ASSERT_TRUE(XSession::waitFor(
        [&] {
            keyboard.tap(KEY_B);
            return app.output().contains(QStringLiteral(" b "));
        },
        30000))
        << app.output().toStdString();

    latchShift();
    keyboard.tap(KEY_A);
    EXPECT_TRUE(XSession::waitFor([&] { return presses() == QStringList{"A"}; }))
        << "a real a, with Shift latched on the panel: " << app.output().toStdString();
    clickKey(kCodeA);
    EXPECT_TRUE(XSession::waitFor([&] {
        return presses() == (QStringList{"A", "A"});
    })) << "a click on the panel's A: "
        << app.output().toStdString();

    // Killed with Shift still latched: nothing stays down, and the stand-in,
    // given back, types plainly.
    kill(static_cast<pid_t>(orvix->processId()), SIGKILL);
    EXPECT_TRUE(reader->waitUntilGone());
    ASSERT_TRUE(XSession::waitFor([&] { return keyboard.grabbable(); }));
    keyboard.tap(KEY_C);
    EXPECT_TRUE(XSession::waitFor([&] {
        return presses() == (QStringList{"A", "A", "c"});
    })) << app.output().toStdString();
    udevadm({QStringLiteral("control"), QStringLiteral("--exit")});
    udevd.waitForFinished(5000);
}

} // namespace
