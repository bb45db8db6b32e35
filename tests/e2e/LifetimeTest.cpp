// The program's lifetime as a user meets it: real processes in a private X
// session with a window manager, driven with xdotool and read with xprop.
#include "OrvixSessionTest.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <gtest/gtest.h>
#include <signal.h>

using orvix::test::XSession;

namespace {

class LifetimeTest : public orvix::test::OrvixSessionTest {
protected:
    // A system tray (XEmbed) at the top of the screen; answers its window.
    QString startTray() {
        QProcess* trayer =
            x.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "right", "--widthtype",
                                               "pixel", "--width", "120", "--height", "24"});
        QString tray;
        // Up once its window exists: the tray selection is taken before it.
        const bool up = XSession::waitFor(
            [&] {
                tray = x.run(QStringLiteral("xdotool"), {"search", "--class", "trayer"});
                return !tray.isEmpty() || trayer->state() == QProcess::NotRunning;
            },
            30000);
        if (!up || tray.isEmpty())
            ADD_FAILURE() << "trayer did not come up: " << trayer->readAll().constData();
        return tray;
    }
};

TEST_F(LifetimeTest, FirstLaunchFadesInToDefaultAndForcesAutomaticChecksOff) {
    writeConfig("[General]\nSUEnableAutomaticChecks=true\n");
    const QString panel = launch();
    ASSERT_FALSE(panel.isEmpty());
    EXPECT_TRUE(waitForOpacity(panel, 0.5));
    QSettings stored(x.orvixConfigPath(), QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("SUEnableAutomaticChecks")).toString(),
              QStringLiteral("false"));
    EXPECT_EQ(orvix->state(), QProcess::Running);
}

TEST_F(LifetimeTest, BadConfigStillShowsAVisiblePanel) {
    writeConfig("[General]\nInactiveTransparency=-4\nActiveTransparency=banana\n"
                "Theme=\\xff\\xfe\nkeyboard=1 2\n\x01\x02\x03 garbage = = =\n");
    const QString panel = launch();
    ASSERT_FALSE(panel.isEmpty());
    // A negative transparency is clamped to 0.0: still a valid alpha, never a crash.
    EXPECT_TRUE(waitForOpacity(panel, 0.0));
    EXPECT_EQ(orvix->state(), QProcess::Running);
}

TEST_F(LifetimeTest, PanelFloatsOnEveryWorkspaceAndClicksLeaveTheFocusAlone) {
    // Above other windows: launch() waits for it.
    const QString panel = launch();
    ASSERT_FALSE(panel.isEmpty());
    // openbox keeps stickiness as "all desktops" rather than a state atom:
    // the panel must stay on screen when the user switches workspace.
    xdotool({"set_desktop", "2"});
    ASSERT_TRUE(XSession::waitFor([&] {
        return x.rootProperty(QStringLiteral("_NET_CURRENT_DESKTOP"))
            .endsWith(QStringLiteral("= 2"));
    }));
    EXPECT_TRUE(
        x.windowsOfPid(
             x.windowProperty(panel, QStringLiteral("_NET_WM_PID")).section(u' ', -1).toLongLong())
            .contains(panel));
    const QString hints = x.windowProperty(panel, QStringLiteral("WM_HINTS"));
    EXPECT_TRUE(hints.contains(QStringLiteral("False"))) << qPrintable(hints);

    // Clicks on the panel leave the focus with the window that has it.
    QProcess* other = x.start(QStringLiteral("xmessage"), {"-geometry", "+10+10", "typing here"});
    ASSERT_TRUE(other->waitForStarted());
    const QString otherWindow = x.waitForWindow({"--class", "Xmessage"});
    ASSERT_FALSE(otherWindow.isEmpty());
    xdotool({"windowactivate", "--sync", otherWindow});
    ASSERT_TRUE(XSession::waitFor([&] { return x.activeWindow() == otherWindow; }));

    const auto g = x.windowGeometry(panel);
    for (auto [fx, fy] : {std::pair{0.5, 0.6}, {0.2, 0.8}, {0.5, 0.03}}) {
        x.click(g.x + int(g.width * fx), g.y + int(g.height * fy));
        pause(200);
        EXPECT_EQ(x.activeWindow(), otherWindow);
    }
}

// A second copy asks the first to reopen and quits: the panel comes up
// active. Miniaturised, it is opaque, and a reopen brings it back active
// until the pointer moves.
TEST_F(LifetimeTest, SecondCopyReopensTheFirstAlsoFromMiniaturizedAndQuits) {
    writeConfig("[General]\nInactiveTransparency=0.3\nActiveTransparency=0.9\n");
    const QString panel = launch();
    ASSERT_FALSE(panel.isEmpty());
    ASSERT_TRUE(waitForOpacity(panel, 0.3));

    // The second copy runs under another file name: its log line must name it.
    const QString copy = x.home() + QStringLiteral("/orvix-second");
    ASSERT_TRUE(QFile::copy(XSession::orvixPath(), copy));
    x.setEnv(QStringLiteral("ORVIX_RESOURCES"),
             QStringLiteral(ORVIX_TEST_BINARY_DIR "/share/orvix"));
    QProcess* second = x.start(copy);
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->readAll().contains(
        "Found another orvix-second process; sent 'reopen' and will quit instead."));
    EXPECT_TRUE(waitForOpacity(panel, 0.9));

    const auto g = x.windowGeometry(panel);
    x.click(g.x + 33, g.y + 11); // the miniaturise button beside close
    ASSERT_TRUE(XSession::waitFor([&] {
        return x.windowProperty(panel, QStringLiteral("WM_STATE"))
            .contains(QStringLiteral("Iconic"));
    }));
    EXPECT_TRUE(waitForOpacity(panel, 1.0));
    second = x.startOrvix();
    ASSERT_TRUE(second->waitForFinished(20000));
    ASSERT_TRUE(XSession::waitFor([&] {
        return x.windowProperty(panel, QStringLiteral("WM_STATE"))
            .contains(QStringLiteral("Normal"));
    }));
    pause(500);
    EXPECT_NEAR(opacity(panel), 0.9, 0.01);
    EXPECT_EQ(orvix->state(), QProcess::Running);
}

TEST_F(LifetimeTest, TwoCopiesStartedTogetherLeaveOne) {
    QProcess* a = x.startOrvix();
    QProcess* b = x.startOrvix();
    ASSERT_TRUE(a->waitForStarted() && b->waitForStarted());
    // Exactly one of them finds the other and quits; the other keeps running.
    ASSERT_TRUE(XSession::waitFor(
        [&] { return a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning; },
        20000));
    QProcess* quitter = a->state() == QProcess::NotRunning ? a : b;
    QProcess* survivor = quitter == a ? b : a;
    EXPECT_EQ(quitter->exitCode(), 0);
    EXPECT_TRUE(quitter->readAll().contains("Found another orvix process"));
    pause(1000);
    EXPECT_EQ(survivor->state(), QProcess::Running);
    EXPECT_FALSE(x.windowsOfPid(survivor->processId()).isEmpty());
}

struct CloseCase {
    const char* name;
    bool showInMenuBar;
    bool trayHost;
    bool hides; // else it quits
};

void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << c.name;
}

class CloseTest : public LifetimeTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseTest, CloseHidesOnlyWhileTheTrayShowsTheIcon) {
    const CloseCase& c = GetParam();
    writeConfig(c.showInMenuBar ? "[General]\nShowInMenuBar=true\n"
                                : "[General]\nShowInMenuBar=false\n");
    if (c.trayHost) {
        ASSERT_FALSE(startTray().isEmpty());
    }
    const QString panel = launch();
    ASSERT_FALSE(panel.isEmpty());
    // The icon is in the tray (a second window of ours) before the close.
    if (c.trayHost && c.showInMenuBar) {
        ASSERT_TRUE(
            XSession::waitFor([&] { return x.windowsOfPid(orvix->processId()).size() >= 2; }));
    }
    const auto g = x.windowGeometry(panel);
    x.click(g.x + 13, g.y + 11); // the close button at the strip's left end
    if (!c.hides) {
        ASSERT_TRUE(orvix->waitForFinished(10000));
        EXPECT_EQ(orvix->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(orvix->exitCode(), 0);
        EXPECT_EQ(orvix->readAll().contains("No system tray"), c.showInMenuBar);
        return;
    }
    EXPECT_TRUE(XSession::waitFor([&] {
        return !x.windowsOfPid(orvix->processId()).contains(panel);
    })) << qPrintable(x.windowsOfPid(orvix->processId()).join(u' '))
        << " / panel " << qPrintable(panel) << ": " << orvix->peek(1 << 16).constData();
    EXPECT_EQ(orvix->state(), QProcess::Running);
    // Launching again reopens the hidden panel.
    QProcess* second = x.startOrvix();
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_TRUE(
        XSession::waitFor([&] { return x.windowsOfPid(orvix->processId()).contains(panel); }));
}

INSTANTIATE_TEST_SUITE_P(Tray, CloseTest,
                         ::testing::Values(CloseCase{"InMenuBarWithTray", true, true, true},
                                           CloseCase{"InMenuBarWithoutTray", true, false, false},
                                           CloseCase{"NotInMenuBar", false, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LifetimeTest, TrayClickHidesThePanelAndLeavesTheIcon) {
    writeConfig("[General]\nShowInMenuBar=true\n");
    ASSERT_FALSE(startTray().isEmpty());
    const QString panel = launch();
    ASSERT_FALSE(panel.isEmpty());
    QString icon;
    ASSERT_TRUE(XSession::waitFor([&] {
        const QStringList windows = x.windowsOfPid(orvix->processId());
        for (const QString& w : windows)
            if (w != panel)
                icon = w;
        return !icon.isEmpty();
    }));
    const auto g = x.windowGeometry(icon);
    for (int round = 0; round < 2; ++round) {
        x.click(g.x + g.width / 2, g.y + g.height / 2);
        EXPECT_TRUE(XSession::waitFor([&] {
            return !x.windowsOfPid(orvix->processId()).contains(panel);
        })) << "round "
            << round;
        EXPECT_TRUE(x.windowsOfPid(orvix->processId()).contains(icon)) << "the icon hid itself";
        // Two clicks in quick succession would make a double click.
        pause(800);
        x.click(g.x + g.width / 2, g.y + g.height / 2);
        EXPECT_TRUE(XSession::waitFor([&] {
            return x.windowsOfPid(orvix->processId()).contains(panel);
        })) << "round "
            << round;
        pause(800);
    }
}

TEST_F(LifetimeTest, SecondCopyQuitsAfterTheCrashAlertItShows) {
    writeQuietConfig();
    ASSERT_FALSE(launch().isEmpty());
    const QString reports = x.home() + QStringLiteral("/.local/state/Orvix/CrashReports");
    ASSERT_TRUE(QDir().mkpath(reports));
    QFile report(reports + QStringLiteral("/crash-1.crash"));
    ASSERT_TRUE(report.open(QIODevice::WriteOnly));
    report.write("Orvix crash report\n");
    report.close();

    QProcess* second = x.startOrvix();
    ASSERT_TRUE(second->waitForStarted());
    const QString alert = x.waitForWindowOfPid(second->processId());
    ASSERT_FALSE(alert.isEmpty());
    xdotool({"windowactivate", "--sync", alert});
    xdotool({"key", "--window", alert, "Escape"});
    ASSERT_TRUE(second->waitForFinished(10000)) << "the second copy kept running";
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->readAll().contains("Found another"));
}

TEST_F(LifetimeTest, PreferencesSayWhatTheModifierSettingsDoOnX11) {
    QProcess* p =
        x.start(QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/orvix_launch_probe"), {"preferences"});
    ASSERT_TRUE(p->waitForFinished(20000));
    const QString said = QString::fromUtf8(p->readAll());
    EXPECT_TRUE(said.contains(QStringLiteral("mouse-available=0\n"))) << qPrintable(said);
    EXPECT_TRUE(said.contains(QRegularExpression(QStringLiteral("keys-note=On X11 .*clicks"))))
        << qPrintable(said);
    EXPECT_TRUE(said.contains(QStringLiteral("mouse-note=Not available on X11")))
        << qPrintable(said);
}

TEST_F(LifetimeTest, FatalErrorAlertQuitsOnceDismissed) {
    QProcess* p = x.start(QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/orvix_launch_probe"));
    ASSERT_TRUE(p->waitForStarted());
    const QString id = x.waitForWindow({"--name", "^Orvix Error$"});
    ASSERT_FALSE(id.isEmpty());
    // The panel is hidden while the alert shows; only the alert is left.
    EXPECT_EQ(x.windowsOfPid(p->processId()), QStringList{id});
    EXPECT_EQ(p->state(), QProcess::Running);
    // Modal alerts come up at the panel's level, above ordinary windows.
    EXPECT_TRUE(XSession::waitFor([&] {
        return x.windowProperty(id, QStringLiteral("_NET_WM_STATE"))
            .contains(QStringLiteral("_NET_WM_STATE_ABOVE"));
    }));
    xdotool({"windowactivate", "--sync", id});
    xdotool({"key", "--window", id, "Return"});
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_EQ(p->exitCode(), 0);
}

} // namespace
