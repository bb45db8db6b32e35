// HoverImageView under a real pointer: Xvfb, openbox and xdotool.
#include "XSession.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using orvix::test::XSession;

TEST(HoverImageViewX, FadesWithTheRealPointer) {
    XSession x;
    ASSERT_TRUE(x.isRunning()) << "Xvfb or openbox did not start";
    x.setEnv(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // Relative to `window` when one is given: the window manager places the
    // window in its own time, so only the window itself knows where the view is.
    QString window;
    auto moveTo = [&](int px, int py) {
        QStringList args{QStringLiteral("mousemove")};
        if (!window.isEmpty())
            args << QStringLiteral("--window") << window;
        x.run(QStringLiteral("xdotool"), args << QString::number(px) << QString::number(py));
    };
    moveTo(5, 5);
    QProcess* probe = x.start(QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/render_hover_probe"));
    ASSERT_TRUE(probe->waitForStarted(10000));
    // Reads the probe's lines until one matches; answers its captures.
    auto waitForLine = [&](const QString& pattern) {
        const QRegularExpression re(QStringLiteral("^") + pattern + QStringLiteral("$"));
        QStringList found;
        XSession::waitFor([&] {
            while (found.isEmpty() && probe->canReadLine()) {
                const auto m = re.match(QString::fromUtf8(probe->readLine()).trimmed());
                if (m.hasMatch())
                    found = m.capturedTexts();
            }
            return !found.isEmpty();
        });
        return found;
    };

    const QStringList view =
        waitForLine(QStringLiteral("view (\\d+) (\\d+) (\\d+) (\\d+) window (\\d+)"));
    ASSERT_EQ(view.size(), 6) << "the probe window was not mapped";
    const int left = view[1].toInt(), top = view[2].toInt();
    const int width = view[3].toInt(), height = view[4].toInt();
    // Opaque at first, as if the pointer had started inside.
    ASSERT_FALSE(waitForLine(QStringLiteral("alpha 1")).isEmpty());
    window = view[5];

    moveTo(left + width / 2, top + height / 2);
    moveTo(left + width + 30, top + height / 2); // out, still over the window
    EXPECT_FALSE(waitForLine(QStringLiteral("alpha 0")).isEmpty()) << "no fade out on leave";
    moveTo(left + 10, top + 10);
    EXPECT_FALSE(waitForLine(QStringLiteral("alpha 1")).isEmpty()) << "no fade in on entry";
    window.clear();
    moveTo(2, 2); // off the view, at the screen's corner
    EXPECT_FALSE(waitForLine(QStringLiteral("alpha 0")).isEmpty());
}
