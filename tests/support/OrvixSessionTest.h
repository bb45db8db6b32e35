#pragma once

#include "XSession.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>

namespace orvix::test {

// The real orvix program in a private X session with openbox: launching it,
// finding its panel, driving the pointer, and a recording client that holds
// the focus and prints every key event it receives.
class OrvixSessionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(x.isRunning()) << "Xvfb or openbox did not start"; }

    void writeConfig(const QByteArray& text) { ASSERT_TRUE(x.writeOrvixConfig(text)); }
    // First-run extras and the update check off, so that no alert takes the
    // focus and nothing goes to the network; then `extra`.
    void writeQuietConfig(const QByteArray& extra = {}) {
        writeConfig("[General]\nmoveToApplicationsFolderAlertSuppress=true\nFeedbackSuppress=true\n"
                    "CheckForUpdates=false\nSUEnableAutomaticChecks=false\n" +
                    extra);
    }

    void xdotool(const QStringList& args) const { x.run(QStringLiteral("xdotool"), args); }
    // The pointer in a corner, away from where the panel opens.
    void park() const { xdotool({QStringLiteral("mousemove"), "2", "2"}); }
    static void pause(int ms) {
        XSession::waitFor([] { return false; }, ms);
    }

    // Starts Orvix (kept in `orvix`) and waits until the window manager has
    // its panel up; answers the panel's window id. With a tray the icon is a
    // window of the program too: the panel is the widest.
    QString launch() {
        park();
        panel.clear();
        orvix = x.startOrvix();
        if (!orvix->waitForStarted(10000) ||
            x.waitForWindowOfPid(orvix->processId(), XSession::timeLimit(20000)).isEmpty())
            return {};
        int widest = 0;
        for (const QString& window : x.windowsOfPid(orvix->processId())) {
            const int width = x.windowGeometry(window).width;
            if (width > widest) {
                widest = width;
                panel = window;
            }
        }
        // The panel floats above other windows.
        if (!XSession::waitFor(
                [&] {
                    return x.windowProperty(panel, QStringLiteral("_NET_WM_STATE"))
                        .contains(QStringLiteral("_NET_WM_STATE_ABOVE"));
                },
                XSession::timeLimit(10000)))
            ADD_FAILURE() << "the panel is not above other windows";
        return panel;
    }
    // Clicks the gear button at the strip's right end and waits for its menu.
    bool openGearMenu() const {
        const auto g = x.windowGeometry(panel);
        x.click(g.x + g.width - 13, g.y + 11);
        return XSession::waitFor([&] { return x.windowsOfPid(orvix->processId()).size() >= 2; });
    }
    void quitOrvix() {
        if (orvix && orvix->state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(orvix->processId()), SIGTERM);
            orvix->waitForFinished(10000);
        }
    }

    // _NET_WM_WINDOW_OPACITY as a fraction, or -1 when unset.
    double opacity(const QString& window) const {
        const QString out = x.windowProperty(window, QStringLiteral("_NET_WM_WINDOW_OPACITY"));
        const auto m = QRegularExpression(QStringLiteral("= (\\d+)")).match(out);
        return m.hasMatch() ? m.captured(1).toDouble() / 4294967295.0 : -1.0;
    }
    double opacity() const { return opacity(panel); }
    bool waitForOpacity(const QString& window, double value) const {
        return XSession::waitFor([&] { return qAbs(opacity(window) - value) < 0.01; }, 10000);
    }
    bool waitForOpacity(double value) const { return waitForOpacity(panel, value); }

    // Starts the recording client and waits until it holds the focus.
    bool startRecorder() {
        recorder = std::make_unique<XRecorder>(x);
        return recorder->isReady() &&
               XSession::waitFor([&] { return recorder->output().contains("focus-in"); }) &&
               XSession::waitFor([&] { return x.activeWindow() == recorder->window(); });
    }
    const QString& recorderOutput() { return recorder->output(); }
    QList<RecordedKey> keyEvents() { return recorder->keys(); }

    XSession x;
    QProcess* orvix = nullptr;
    QString panel;
    std::unique_ptr<XRecorder> recorder;
};

} // namespace orvix::test
