#include "render/HoverImageView.h"

#include <QApplication>
#include <QEnterEvent>
#include <QTest>
#include <gtest/gtest.h>

using namespace orvix;

// Events go straight to a hidden view: a shown one gets the platform's own enter and
// leave events. The real pointer is HoverImageViewXTest's.
TEST(HoverImageView, FadeIsAnimatedReversesFromWhereItIsAndStopsWhenAlphaIsSet) {
    QEvent leave(QEvent::Leave);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    HoverImageView view;
    view.resize(40, 40);
    QApplication::sendEvent(&view, &leave);
    // Right after the leave the view is still opaque: it fades, it does not jump.
    EXPECT_DOUBLE_EQ(view.alphaValue(), 1.0);
    // Caught midway (set by hand, so no clock is involved), a new fade starts
    // from where the view is, not from 0 or 1.
    view.setAlphaValue(0.4);
    QApplication::sendEvent(&view, &enter);
    EXPECT_NEAR(view.alphaValue(), 0.4, 1e-9);
    // Generous, not a speed goal.
    EXPECT_TRUE(QTest::qWaitFor([&] { return qFuzzyCompare(view.alphaValue(), 1.0); }, 5000));

    // Setting the alpha stops a running fade.
    QApplication::sendEvent(&view, &leave);
    view.setAlphaValue(0.3);
    QTest::qWait(HoverImageView::kFadeMilliseconds + 100);
    EXPECT_DOUBLE_EQ(view.alphaValue(), 0.3);
}
