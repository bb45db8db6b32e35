// The real program on the evdev backend, in the guest: Orvix in a private X
// session (for its panel) with InputBackend=evdev, a stand-in keyboard, and
// what Orvix's virtual keyboard sends.
#include "../e2e/TapPanelPixels.h"
#include "GuestDevices.h"
#include "XSession.h"
#include "os/input/evdev/UinputDevices.h"

#include <QImage>
#include <QProcess>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

using namespace orvix::test;
using orvix::input::UinputDevices;
using Keys = DeviceReader::Keys;

namespace {

constexpr int kCodeA = 0;
constexpr int kCodeShift = 56;

TEST(EvdevProgramGuestTest, LatchedShiftReachesRealKeysAndClicksGoOutThroughUinput) {
    if (!canUseUinput())
        GTEST_SKIP() << "needs /dev/uinput: runs in the guest (tests/kernel/run-in-guest)";
    StandInDevice keyboard;
    ASSERT_TRUE(keyboard.ok());
    XSession x;
    ASSERT_TRUE(x.isRunning());
    ASSERT_TRUE(x.writeOrvixConfig("[General]\nmoveToApplicationsFolderAlertSuppress=true\n"
                                   "FeedbackSuppress=true\nCheckForUpdates=false\n"
                                   "SUEnableAutomaticChecks=false\nInputBackend=evdev\n"));
    x.run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), "0", "0"});
    QProcess* orvix = x.startOrvix();
    ASSERT_TRUE(orvix->waitForStarted(10000));
    const QString panel = x.waitForWindowOfPid(orvix->processId(), 180000);
    ASSERT_FALSE(panel.isEmpty()) << orvix->readAll().toStdString();
    const std::string node =
        findDeviceNode(UinputDevices::kVendor, UinputDevices::kKeyboardProduct);
    ASSERT_FALSE(node.empty());
    DeviceReader reader(node);

    // Grabbed once the stand-in's keys come out of Orvix's virtual keyboard.
    ASSERT_TRUE(XSession::waitFor(
        [&] {
            keyboard.tap(KEY_F24);
            return reader.waitFor(KEY_F24, 0, 200);
        },
        30000));

    TapPanelPixels pixels(x.display(), panel.toULong());
    ASSERT_TRUE(pixels.isOpen());
    // Drawn and settled: two grabs in a row agree.
    for (int code : {kCodeA, kCodeShift}) {
        QImage previous;
        ASSERT_TRUE(XSession::waitFor(
            [&] {
                const QImage now = pixels.grabKey(code);
                const bool same = !now.isNull() && !previous.isNull() &&
                                  TapPanelPixels::meanDifference(now, previous) == 0 &&
                                  TapPanelPixels::meanLuminance(now) > 0;
                previous = now;
                return same;
            },
            60000));
        ASSERT_TRUE(pixels.rememberUnlit(code));
    }
    keyboard.key(KEY_A, 1);
    EXPECT_TRUE(XSession::waitFor([&] { return pixels.isLit(kCodeA); }, 20000))
        << "a real A lights the panel's A";
    keyboard.key(KEY_A, 0);
    EXPECT_EQ(reader.take(2), (Keys{{KEY_A, 1}, {KEY_A, 0}})) << "and passes unchanged";

    auto click = [&](int code) {
        const auto rect = pixels.keyRect(code);
        ASSERT_TRUE(rect.has_value());
        const auto g = x.windowGeometry(panel);
        x.click(g.x + rect->center().x(), g.y + rect->center().y());
    };
    click(kCodeShift); // latches Shift: nothing is sent for it
    ASSERT_TRUE(XSession::waitFor([&] { return pixels.isLit(kCodeShift); }, 30000));
    keyboard.tap(KEY_A);
    EXPECT_EQ(reader.take(6), (Keys{{KEY_LEFTSHIFT, 1},
                                    {KEY_A, 1},
                                    {KEY_LEFTSHIFT, 0},
                                    {KEY_LEFTSHIFT, 1},
                                    {KEY_A, 0},
                                    {KEY_LEFTSHIFT, 0}}))
        << "with Shift latched on the panel, a real a leaves as A";
    click(kCodeA);
    EXPECT_EQ(reader.take(4),
              (Keys{{KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTSHIFT, 0}}))
        << "a click on the panel's A goes out through uinput, shifted";

    keyboard.key(KEY_LEFTCTRL, 1);
    EXPECT_EQ(reader.take(1), (Keys{{KEY_LEFTCTRL, 1}}));
    kill(static_cast<pid_t>(orvix->processId()), SIGKILL);
    EXPECT_TRUE(reader.waitUntilGone()) << "the virtual keyboard goes, and its keys with it";
    EXPECT_TRUE(XSession::waitFor([&] { return keyboard.grabbable(); }))
        << "the keyboard is free again";
    keyboard.key(KEY_LEFTCTRL, 0);
    if (HasFailure())
        std::fprintf(stderr, "Orvix said:\n%s\n", orvix->readAll().constData());
}

} // namespace
