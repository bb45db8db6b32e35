#pragma once

#include "XSession.h"

#include <QList>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <signal.h>

namespace orvix::test {

// One key event as the recording client (xrecorder) saw it.
struct RecordedKey {
    bool press = false;
    int keycode = 0;
    QString sym;
    unsigned state = 0;
    // "press A 0x1": pointer-button bits are dropped, they depend on how
    // fast the button came up again.
    QString text() const {
        return QStringLiteral("%1 %2 0x%3")
            .arg(press ? u"press" : u"release", sym, QString::number(state & 0xff, 16));
    }
    bool isModifier() const {
        return sym.endsWith(QStringLiteral("_L")) || sym.endsWith(QStringLiteral("_R")) ||
               sym == QStringLiteral("Caps_Lock") || sym == QStringLiteral("ISO_Level3_Shift");
    }
};

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
        XSession::waitFor(
            [&] {
                return x.windowProperty(panel, QStringLiteral("_NET_WM_STATE"))
                    .contains(QStringLiteral("_NET_WM_STATE_ABOVE"));
            },
            XSession::timeLimit(10000));
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
        recorder = x.start(QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/xrecorder"));
        if (!recorder->waitForStarted(5000) ||
            !XSession::waitFor([&] { return recorderOutput().contains("focus-in"); }))
            return false;
        const auto m = QRegularExpression(QStringLiteral("ready (\\d+)")).match(recorderOutput());
        if (!m.hasMatch())
            return false;
        recorderWindow = m.captured(1);
        return XSession::waitFor([&] { return x.activeWindow() == recorderWindow; });
    }
    const QString& recorderOutput() {
        if (recorder)
            recorded += QString::fromUtf8(recorder->readAll());
        return recorded;
    }
    QList<RecordedKey> keyEvents() {
        QList<RecordedKey> events;
        static const QRegularExpression line(
            QStringLiteral("^(press|release) (\\d+) (\\S+) 0x([0-9a-f]+)$"));
        for (const QString& l : recorderOutput().split(u'\n', Qt::SkipEmptyParts)) {
            const auto m = line.match(l.trimmed());
            if (m.hasMatch())
                events.append({m.captured(1) == u"press", m.captured(2).toInt(), m.captured(3),
                               m.captured(4).toUInt(nullptr, 16)});
        }
        return events;
    }

    XSession x;
    QProcess* orvix = nullptr;
    QString panel;
    QProcess* recorder = nullptr;
    QString recorded;
    QString recorderWindow;
};

} // namespace orvix::test
