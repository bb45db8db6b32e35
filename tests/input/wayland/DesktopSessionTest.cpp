#include "os/DesktopSession.h"

#include "XSession.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <map>
#include <string>

using orvix::DesktopSession;
using orvix::test::XSession;

namespace {

TEST(DesktopSessionTest, KindFromTheEnvironment) {
    using Kind = DesktopSession::Kind;
    const struct {
        std::map<std::string, std::string> env;
        Kind kind;
        bool lacksXWayland;
    } cases[] = {
        {{}, Kind::Unknown, false},
        {{{"DISPLAY", ":0"}}, Kind::X11, false},
        {{{"XDG_SESSION_TYPE", "x11"}}, Kind::X11, false},
        {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, Kind::Wayland, false},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, Kind::Wayland, true},
        {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ""}}, Kind::Wayland, true},
        {{{"XDG_SESSION_TYPE", "Wayland"}}, Kind::Wayland, true},
        // A nested or virtual X server started from a Wayland desktop.
        {{{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":99"}}, Kind::X11, false},
        {{{"WAYLAND_DISPLAY", ""}, {"XDG_SESSION_TYPE", "tty"}}, Kind::Unknown, false},
    };
    for (const auto& c : cases) {
        const auto session = DesktopSession::detect([&](const char* name) -> const char* {
            auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        });
        EXPECT_EQ(session.kind, c.kind) << c.env.size();
        EXPECT_EQ(session.lacksXWayland(), c.lacksXWayland) << c.env.size();
    }
}

// Only managers known to honour the no-focus hint keep the panel; on X11
// the panel is always managed.
TEST(DesktopSessionTest, PanelBypassesManagersThatFocusEveryClick) {
    using Kind = DesktopSession::Kind;
    const struct {
        Kind kind;
        const char* desktop;
        const char* windowManager;
        bool bypasses;
    } cases[] = {
        {Kind::Wayland, "sway", "wlroots wm", true},
        {Kind::Wayland, "", "", true},
        {Kind::Wayland, "Hyprland", "", true},
        {Kind::Wayland, "ubuntu:GNOME", "", false},
        {Kind::Wayland, "", "GNOME Shell", false},
        {Kind::Wayland, "", "Mutter (X11 frames)", false},
        {Kind::Wayland, "KDE", "", false},
        {Kind::Wayland, "", "KWin", false},
        {Kind::Wayland, "plasma", "kwin_wayland", false},
        {Kind::X11, "sway", "wlroots wm", false},
        {Kind::Unknown, "", "", false},
    };
    for (const auto& c : cases) {
        DesktopSession session;
        session.kind = c.kind;
        session.desktop = c.desktop;
        EXPECT_EQ(session.panelBypassesWindowManager(c.windowManager), c.bypasses)
            << c.desktop << " / " << c.windowManager;
    }
}

// The real program on a Wayland session without XWayland: the message, and
// no window attempted.
TEST(DesktopSessionTest, ProgramQuitsWithoutXWayland) {
    QProcess orvix;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-orvix-none"));
    orvix.setProcessEnvironment(env);
    orvix.start(XSession::orvixPath());
    ASSERT_TRUE(orvix.waitForFinished(30000));
    EXPECT_EQ(orvix.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(orvix.exitCode(), 1);
    EXPECT_TRUE(orvix.readAllStandardError().contains(orvix::kMissingXWaylandMessage));
}

} // namespace
