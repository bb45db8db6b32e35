#include "render/KeyControl.h"

#include "PictureProbe.h"

#include <QImage>
#include <QWidget>
#include <gtest/gtest.h>

using orvix::KeyControl;

namespace {

// The box around every pixel of the key that is not fully transparent.
QRectF drawnBounds(QWidget& key) {
    return orvix::test::inkPoints(key.grab().toImage().convertToFormat(QImage::Format_ARGB32), 1,
                                  0);
}

} // namespace

// A press shows pixels drawn ahead (no picture kept in memory); a new size draws afresh.
TEST(KeyControl, PreparedLooksKeepOnlyPixelsAndAreDrawnAgainAtANewSize) {
    QWidget window;
    window.setAttribute(Qt::WA_TranslucentBackground);
    window.resize(200, 200);
    KeyControl key(QRect(0, 0, 40, 40), 0, 1, &window);
    key.prepareLook(KeyControl::Normal);
    key.prepareLook(KeyControl::Pressed);
    EXPECT_TRUE(key.hasCachedImage(KeyControl::Pressed));
    EXPECT_FALSE(key.holdsPicture(KeyControl::Pressed));
    key.setPressed(true);
    EXPECT_FALSE(key.holdsPicture(KeyControl::Pressed));
    key.setPressed(false);
    EXPECT_FALSE(key.holdsPicture(KeyControl::Normal));

    const QRectF small = drawnBounds(key);
    ASSERT_FALSE(small.isEmpty());
    key.resize(80, 80);
    const QRectF large = drawnBounds(key);
    EXPECT_NEAR(large.width(), 2 * small.width(), 3);
    EXPECT_NEAR(large.height(), 2 * small.height(), 3);
    // Pressing after the resize shows the pressed look at the new size.
    const QImage normal = key.grab().toImage();
    key.setPressed(true);
    EXPECT_NE(normal, key.grab().toImage());
    EXPECT_NEAR(drawnBounds(key).width(), large.width(), 3);
    // And the picture itself can still be asked for.
    EXPECT_FALSE(key.pressedImg().isNull());
    // A look never drawn still gets its picture at once.
    key.setPressed(false);
    key.mouseEntered();
    EXPECT_TRUE(key.holdsPicture(KeyControl::Hover));
}
