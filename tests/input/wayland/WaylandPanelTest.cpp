// The real program on a headless sway with XWayland, as on a wlroots desktop
// where the user has not granted the kernel's devices: clicks go through the
// compositor's seat as a user's would, and keys must arrive in the native
// client that has the focus, which must keep it.
#include "WaylandSession.h"
#include "XSession.h"
#include "app/MyPanel.h"
#include "render/KeyboardLayout.h"

#include <QFile>
#include <gtest/gtest.h>
#include <optional>
#include <signal.h>

using orvix::test::KeyRecorder;
using orvix::test::VirtualPointer;
using orvix::test::WaylandSession;
using orvix::test::XSession;

namespace {

constexpr int kA = 0, kReturn = 36, kShift = 56, kFunction = 63;

class WaylandPanelTest : public ::testing::Test {
protected:
    virtual WaylandSession::Compositor compositor() const {
        return WaylandSession::Compositor::Sway;
    }
    void SetUp() override {
        session.emplace(compositor(), true);
        ASSERT_TRUE(session->isRunning()) << session->error().toStdString();
        display = session->xDisplay();
        ASSERT_FALSE(display.isEmpty());
        xEnv.insert(QStringLiteral("DISPLAY"), display);
    }

    // Starts Orvix as a Wayland desktop would: the session asks Qt programs
    // for Wayland, and Orvix picks X11 for its panel by itself.
    QProcess* startOrvix() {
        QProcessEnvironment env = xEnv;
        env.insert(QStringLiteral("ALSOFT_DRIVERS"), QStringLiteral("null"));
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        orvix = session->start(XSession::orvixPath(), {}, env);
        return orvix;
    }
    bool waitForOutput(const char* text) {
        return XSession::waitFor(
                   [&] {
                       output += orvix->readAll();
                       return output.contains(text) || orvix->state() == QProcess::NotRunning;
                   },
                   30000) &&
               output.contains(text);
    }
    QString xdotool(const QStringList& arguments) {
        return session->run(QStringLiteral("xdotool"), arguments, xEnv).trimmed();
    }
    QString waitForPanel(int timeoutMs = 30000) {
        QString window;
        XSession::waitFor(
            [&] {
                window =
                    xdotool({"search", "--onlyvisible", "--class", "Orvix"}).section(u'\n', 0, 0);
                return !window.isEmpty();
            },
            timeoutMs);
        return window;
    }
    XSession::Geometry geometry(const QString& window) {
        return XSession::parseGeometry(xdotool({"getwindowgeometry", "--shell", window}));
    }
    // A key's centre on the screen: the layout scaled into the panel below
    // its strip.
    QPoint keyCentre(const XSession::Geometry& g, int64_t code) {
        const QSizeF size = orvix::keyboardLayoutSize();
        const int strip = orvix::MyPanel::titleBarHeight();
        for (const orvix::KeyPlacement& key : orvix::keyboardLayout())
            if (key.code == code)
                return {g.x + qRound(key.frame.center().x() * g.width / size.width()),
                        g.y + strip +
                            qRound(key.frame.center().y() * (g.height - strip) / size.height())};
        ADD_FAILURE() << "no key " << code;
        return {};
    }

    std::optional<WaylandSession> session;
    QString display;
    QProcessEnvironment xEnv;
    QProcess* orvix = nullptr;
    QByteArray output;
};

TEST_F(WaylandPanelTest, ClicksTypeIntoTheFocusedNativeClientWhichKeepsTheFocus) {
    // Told before: this run must not put its notice over the client.
    ASSERT_TRUE(session->writeFile(QStringLiteral(".config/Orvix/Orvix.conf"),
                                   "[General]\nInputLimitationNoticed=WaylandWithoutWatching\n"));
    KeyRecorder recorder(*session);
    ASSERT_TRUE(recorder.waitForWindow()) << recorder.output().toStdString();
    startOrvix();
    const QString panel = waitForPanel();
    ASSERT_FALSE(panel.isEmpty()) << output.toStdString();
    ASSERT_TRUE(waitForOutput("Input backend: wayland")) << output.toStdString();
    EXPECT_TRUE(output.contains("the panel places itself")) << output.toStdString();
    // Orvix's virtual keyboard is the seat's only keyboard: with it the
    // client gets the focus, and the panel's appearing must not take it.
    ASSERT_TRUE(recorder.waitForFocus()) << recorder.output().toStdString();

    VirtualPointer pointer(session->socketPath());
    ASSERT_TRUE(pointer.isReady());
    const auto root =
        geometry(xdotool({"search", "--maxdepth", "0", "--name", ""}).section(u'\n', 0, 0));
    if (root.width > 0 && root.height > 0)
        pointer.setLayoutSize(root.width, root.height);
    auto click = [&](int64_t code) {
        const auto g = geometry(panel);
        const QPoint p = keyCentre(g, code);
        ASSERT_TRUE(pointer.click(p.x(), p.y()));
    };
    // Mapped for X is not yet on sway's screen: the panel is there once the
    // pointer over it has left the client below.
    const auto pointerLeftClient = [&] {
        const QString seen = recorder.output();
        return seen.lastIndexOf(QStringLiteral("wl_pointer] leave")) >
               seen.lastIndexOf(QStringLiteral("wl_pointer] enter"));
    };
    int nudge = 0;
    ASSERT_TRUE(recorder.waitUntil([&] {
        const QPoint p = keyCentre(geometry(panel), kA);
        pointer.moveTo(p.x() + (nudge++ % 2), p.y());
        return pointerLeftClient();
    })) << recorder.output().toStdString();

    for (int64_t code : {kA, kShift, kA, kShift, kFunction, kReturn, kFunction})
        click(code);
    const auto keys = recorder.waitForKeys(3);
    output += orvix->readAll();
    ASSERT_EQ(keys.size(), 3u) << recorder.output().toStdString() << output.toStdString();
    EXPECT_EQ(keys[0].sym, QStringLiteral("a"));
    EXPECT_EQ(keys[1].sym, QStringLiteral("A"));
    EXPECT_NE(keys[1].depressed & 1u, 0u); // Shift travelled with the key
    EXPECT_EQ(keys[2].sym, QStringLiteral("KP_Enter"));
    EXPECT_TRUE(recorder.focused()) << recorder.output().toStdString();

    // The title strip drags the panel with no window manager's help, and the
    // client keeps the focus. sway places a surface moving under a held
    // button from where the button went down: a busy machine or a slow build
    // may leave the panel a step or two off the pointer's path.
    const auto before = geometry(panel);
    ASSERT_TRUE(pointer.moveTo(before.x + before.width / 2, before.y + 8));
    ASSERT_TRUE(pointer.button(true));
    for (int step = 1; step <= 5; ++step)
        ASSERT_TRUE(
            pointer.moveTo(before.x + before.width / 2 - 20 * step, before.y + 8 + 10 * step));
    ASSERT_TRUE(pointer.button(false));
    XSession::Geometry moved;
    EXPECT_TRUE(XSession::waitFor(
        [&] {
            moved = geometry(panel);
            return moved.x <= before.x - 60 && moved.x >= before.x - 200 &&
                   moved.y >= before.y + 30 && moved.y <= before.y + 100 &&
                   (before.x - moved.x) == 2 * (moved.y - before.y);
        },
        10000))
        << before.x << "," << before.y << " -> " << moved.x << "," << moved.y;
    click(kA);
    ASSERT_EQ(recorder.waitForKeys(4).size(), 4u) << recorder.output().toStdString();
    EXPECT_EQ(recorder.waitForKeys(4)[3].sym, QStringLiteral("a"));
    EXPECT_TRUE(recorder.focused());

    // The corner grip sizes it, the keys keeping their proportions: a drag
    // inward shrinks it, and the wheel grows it again (a drag outward ends
    // where the pointer leaves the panel: sway holds no grab for it).
    const QSizeF layout = orvix::keyboardLayoutSize();
    const int strip = orvix::MyPanel::titleBarHeight();
    auto proportional = [&](const XSession::Geometry& g) {
        return qAbs(g.height - strip - g.width * layout.height() / layout.width()) <= 1.5;
    };
    const auto large = geometry(panel);
    ASSERT_TRUE(pointer.moveTo(large.x + large.width - 3, large.y + large.height - 3));
    ASSERT_TRUE(pointer.button(true));
    for (int step = 1; step <= 4; ++step)
        ASSERT_TRUE(
            pointer.moveTo(large.x + large.width - 3 - 25 * step, large.y + large.height - 3));
    ASSERT_TRUE(pointer.button(false));
    XSession::Geometry small;
    EXPECT_TRUE(XSession::waitFor(
        [&] {
            small = geometry(panel);
            return small.width == large.width - 100 && proportional(small);
        },
        10000))
        << small.width << "x" << small.height;
    // Two notches up over the grip. The seat's pointer puts XWayland's
    // there; the wheel goes through XWayland itself, as sway 1.7 passes no
    // wheel of a virtual pointer on.
    ASSERT_TRUE(pointer.moveTo(small.x + small.width - 3, small.y + small.height - 3));
    for (int notch = 0; notch < 2; ++notch)
        xdotool({"click", "4"});
    XSession::Geometry grown;
    EXPECT_TRUE(XSession::waitFor(
        [&] {
            grown = geometry(panel);
            return grown.width > small.width + 40 && proportional(grown) &&
                   grown.x + grown.width == small.x + small.width &&
                   grown.y + grown.height == small.y + small.height;
        },
        10000))
        << small.width << "x" << small.height << " -> " << grown.width << "x" << grown.height;

    // Miniaturised, it is hidden (there is no dock), and starting Orvix
    // again brings it back.
    ASSERT_TRUE(pointer.click(grown.x + 33, grown.y + strip / 2));
    EXPECT_TRUE(XSession::waitFor([&] { return waitForPanel(1000).isEmpty(); }, 10000));
    QProcess* second = session->start(XSession::orvixPath(), {}, orvix->processEnvironment());
    EXPECT_TRUE(second->waitForFinished(30000));
    EXPECT_EQ(waitForPanel(), panel);
    EXPECT_TRUE(recorder.focused());

    // Killed with a latched Shift: the compositor drops the virtual
    // keyboard and everything it held.
    click(kShift);
    ::kill(static_cast<pid_t>(orvix->processId()), SIGKILL);
    EXPECT_TRUE(recorder.waitUntil([&] {
        return recorder.heldKeys() == 0 && recorder.depressed() == 0;
    })) << recorder.output().toStdString();
}

TEST_F(WaylandPanelTest, TellsOnceWhatItCannotDoWithoutTheKernelDevices) {
    startOrvix();
    ASSERT_TRUE(waitForOutput("Input backend: wayland")) << output.toStdString();
    ASSERT_TRUE(waitForOutput("Told the user: real keys are not watched")) << output.toStdString();
    QFile settings(session->runtimeDir() + QStringLiteral("/.config/Orvix/Orvix.conf"));
    EXPECT_TRUE(XSession::waitFor(
        [&] {
            settings.close();
            return settings.open(QIODevice::ReadOnly) &&
                   settings.readAll().contains("InputLimitationNoticed=WaylandWithoutWatching");
        },
        10000));
    orvix->kill();
    orvix->waitForFinished(5000);

    output.clear();
    startOrvix();
    ASSERT_FALSE(waitForPanel().isEmpty()) << output.toStdString();
    EXPECT_FALSE(output.contains("Told the user")) << output.toStdString();
}

// weston offers no virtual keyboard to programs: Orvix types through
// XWayland then, and says what that leaves out.
class WestonPanelTest : public WaylandPanelTest {
protected:
    WaylandSession::Compositor compositor() const override {
        return WaylandSession::Compositor::Weston;
    }
};

TEST_F(WestonPanelTest, FallsBackToXWaylandAndSaysSo) {
    startOrvix();
    ASSERT_TRUE(waitForOutput("Input backend: x11")) << output.toStdString();
    EXPECT_TRUE(output.contains("The compositor offers no virtual keyboard"))
        << output.toStdString();
    ASSERT_TRUE(waitForOutput("Told the user: typing reaches X11 applications only"))
        << output.toStdString();
    EXPECT_FALSE(waitForPanel().isEmpty()) << output.toStdString();
}

} // namespace
