// The gear menu as a user drives it: a real click on the gear button, then
// the keyboard inside the open menu, checked in the settings file and on screen.
#include "OrvixSessionTest.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <gtest/gtest.h>

using orvix::test::XSession;

namespace {

class MenuTest : public orvix::test::OrvixSessionTest {
protected:
    QVariant stored(const QString& key) const {
        return QSettings(x.orvixConfigPath(), QSettings::IniFormat).value(key);
    }
    // Mean brightness of the panel's key area, from a screenshot.
    double keyBrightness(const QString& window) const {
        const QString path = x.home() + QStringLiteral("/shot.png");
        if (!x.screenshot(path))
            return -1;
        const auto g = x.windowGeometry(window);
        const QImage shot = QImage(path).copy(g.x + 10, g.y + 40, g.width - 20, g.height - 50);
        double sum = 0;
        for (int y = 0; y < shot.height(); y += 3)
            for (int x = 0; x < shot.width(); x += 3)
                sum += qGray(shot.pixel(x, y));
        return sum / ((shot.height() / 3 + 1) * (shot.width() / 3 + 1));
    }
    void key(const char* name) const {
        xdotool({"key", name});
        pause(250);
    }
};

TEST_F(MenuTest, GearMenuChoosesAKeyboardThemeAndQuits) {
    const QString panel = launch();
    ASSERT_FALSE(panel.isEmpty());
    // The white keyboard once drawn: bright, and the same in two looks.
    double before = -1;
    ASSERT_TRUE(XSession::waitFor([&] {
        const double now = keyBrightness(panel);
        const bool settled = now > 128 && now == before;
        before = now;
        return settled;
    })) << before;
    ASSERT_TRUE(openGearMenu());
    key("Down");  // "Keyboard Theme"
    key("Right"); // into it: White
    key("Up");    // wraps to its last item, Vexmor
    key("Return");
    EXPECT_TRUE(XSession::waitFor([&] { return stored(QStringLiteral("Theme")).toInt() == 5; }));
    // Every key is drawn again, darker than the white keyboard.
    EXPECT_TRUE(XSession::waitFor([&] { return keyBrightness(panel) < before - 40; })) << before;
    EXPECT_EQ(orvix->state(), QProcess::Running);

    // Its last item quits the program.
    ASSERT_TRUE(openGearMenu());
    key("Up");
    key("Return");
    ASSERT_TRUE(XSession::waitFor([&] { return orvix->state() == QProcess::NotRunning; }));
    EXPECT_EQ(orvix->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(orvix->exitCode(), 0);
}

} // namespace
