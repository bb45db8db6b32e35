#include "render/KeyboardLayout.h"

#include "render/KeyView.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace orvix;

TEST(KeyboardLayout, HasTheSeventyEightKeysOnceEachAtTheirSizesWithoutOverlap) {
    const auto keys = keyboardLayout();
    ASSERT_EQ(keys.size(), 78u);
    const QRectF all(QPointF(0, 0), keyboardLayoutSize());
    std::set<int64_t> codes;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        codes.insert(keys[i].code);
        EXPECT_EQ(keys[i].frame.size(), KeyView::sizeForCode(keys[i].code)) << keys[i].code;
        EXPECT_TRUE(all.contains(keys[i].frame)) << keys[i].code;
        for (std::size_t j = i + 1; j < keys.size(); ++j) {
            const QRectF overlap = keys[i].frame.intersected(keys[j].frame);
            EXPECT_TRUE(overlap.isEmpty() || overlap.width() < 1e-9 || overlap.height() < 1e-9)
                << keys[i].code << " and " << keys[j].code;
        }
    }
    EXPECT_EQ(codes.size(), 78u);
    // No navigation keys of their own: Function makes the arrows send them.
    for (int64_t absent : {115, 116, 117, 119, 121, 76})
        EXPECT_EQ(codes.count(absent), 0u) << absent;
}

TEST(KeyboardLayout, RowsRunTopToBottomAndLeftToRight) {
    std::map<int64_t, QRectF> frame;
    for (const KeyPlacement& k : keyboardLayout())
        frame[k.code] = k.frame;
    // Escape, grave, Tab, Caps Lock, Shift, Function: one per row, downward.
    const int64_t firstOfRow[] = {53, 50, 48, 57, 56, 63};
    for (std::size_t i = 0; i + 1 < std::size(firstOfRow); ++i)
        EXPECT_LT(frame[firstOfRow[i]].bottom(), frame[firstOfRow[i + 1]].top() + 1e-9);
    // Left to right within a row.
    EXPECT_LT(frame[12].left(), frame[13].left()); // Q W
    EXPECT_LT(frame[49].left(), frame[54].left()); // Space, right Command
    // The up arrow sits right above the down arrow, between left and right.
    EXPECT_DOUBLE_EQ(frame[126].bottom(), frame[125].top());
    EXPECT_DOUBLE_EQ(frame[126].left(), frame[125].left());
    EXPECT_LT(frame[123].right(), frame[125].left());
    EXPECT_GT(frame[124].left(), frame[125].right());
    // Rows are justified: the right edges of the long rows line up.
    const qreal right = frame[51].right(); // Delete
    for (int64_t lastOfRow : {105, 42, 36, 60, 124})
        EXPECT_NEAR(frame[lastOfRow].right(), right, 1e-6) << lastOfRow;
}
