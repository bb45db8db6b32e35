#include "render/HoverImageView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QTest>
#include <gtest/gtest.h>

using namespace orvix;

namespace {

// Runs the event loop until the fade settles; generous, not a speed goal.
bool settlesAt(const HoverImageView& view, qreal alpha) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (qFuzzyCompare(view.alphaValue() + 1, alpha + 1))
            return true;
    }
    return false;
}

void sendEnter(QWidget& w) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&w, &enter);
}

void sendLeave(QWidget& w) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&w, &leave);
}

} // namespace

// The events are sent straight to hidden views: on a shown one the platform
// adds enter and leave events of its own, wherever its pointer happens to be.
// The fade itself under a real pointer is tested in HoverImageViewXTest.
TEST(HoverImageView, FadeIsAnimatedAndReversesFromWhereItIs) {
    HoverImageView view;
    view.resize(40, 40);
    sendLeave(view);
    // Right after the leave the view is still opaque: it fades, it does not jump.
    EXPECT_DOUBLE_EQ(view.alphaValue(), 1.0);
    // Caught midway (set by hand, so no clock is involved), a new fade starts
    // from where the view is, not from 0 or 1.
    view.setAlphaValue(0.4);
    sendEnter(view);
    EXPECT_NEAR(view.alphaValue(), 0.4, 1e-9);
    EXPECT_TRUE(settlesAt(view, 1.0));
}

TEST(HoverImageView, SettingAlphaStopsARunningFade) {
    HoverImageView view;
    sendLeave(view);
    view.setAlphaValue(0.3);
    QTest::qWait(HoverImageView::kFadeMilliseconds + 100);
    EXPECT_DOUBLE_EQ(view.alphaValue(), 0.3);
}
