#include "render/Legend.h"

#include "PictureProbe.h"
#include "render/KeyView.h"
#include "render/KeyboardLayout.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>

using namespace orvix;
using namespace orvix::test;

namespace {

int coordinateCount(std::string_view ops) {
    int n = 0;
    for (char op : ops)
        n += op == 'C' ? 6 : (op == 'M' || op == 'L') ? 2 : 0;
    return n;
}

int contours(int64_t code) {
    const LegendData* l = legendForCode(code);
    int n = 0;
    for (const LegendPathData& p : l->paths)
        n += legendContourCount(p);
    return n;
}

QRectF legendBounds(const LegendData& l, const QRectF& key) {
    QRectF r;
    for (std::size_t i = 0; i < l.paths.size(); ++i)
        r = r.united(legendPath(l, i, key).boundingRect());
    return r;
}

} // namespace

// Every key but Space has a legend, sorted for lookup, well formed, inside its frame.
TEST(LegendData, TableHasEveryKeyButSpaceSortedWellFormedAndInsideItsForm) {
    std::set<int64_t> expected, stored;
    for (const KeyPlacement& key : keyboardLayout())
        if (key.code != 49)
            expected.insert(key.code);
    const auto table = allLegends();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const LegendData& l = table[i];
        stored.insert(l.code);
        EXPECT_LT(i > 0 ? table[i - 1].code : INT64_MIN, l.code);
        ASSERT_GE(l.paths.size(), 1u);
        ASSERT_LE(l.paths.size(), 3u);
        const QSizeF key = KeyView::sizeForCode(l.code);
        for (const LegendPathData& p : l.paths) {
            ASSERT_FALSE(p.ops.empty());
            EXPECT_EQ(p.ops.front(), 'M') << l.code;
            EXPECT_EQ(p.ops.back(), 'Z') << l.code;
            EXPECT_EQ(p.ops.find_first_not_of("MLCZ"), std::string_view::npos);
            // Every contour is closed before the next begins.
            for (std::size_t k = 1; k < p.ops.size(); ++k)
                EXPECT_TRUE(p.ops[k] != 'M' || p.ops[k - 1] == 'Z') << l.code;
            const int n = coordinateCount(p.ops);
            for (int c = 0; c < n; c += 2) {
                const double x = p.coords[c], y = p.coords[c + 1];
                switch (l.form) {
                case LegendForm::KeyRelative:
                    EXPECT_TRUE(x >= 0 && x <= 1 && y >= 0 && y <= 1) << l.code;
                    break;
                case LegendForm::Box:
                    // Narrow boxes let their characters spill a little sideways
                    // rather than shrink them.
                    EXPECT_TRUE(x >= -1.5 && x <= l.bw + 1.5 && y >= -0.01 && y <= l.bh + 0.01)
                        << l.code << " " << x << "," << y;
                    break;
                case LegendForm::EdgeAnchored:
                    EXPECT_TRUE(x >= 0 && x <= key.width() && y >= 0 && y <= key.height())
                        << l.code;
                    break;
                }
            }
        }
    }
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(legendForCode(49), nullptr);
    EXPECT_EQ(legendForCode(127), nullptr);
    EXPECT_EQ(legendForCode(-1), nullptr);
    EXPECT_EQ(legendForCode(INT64_MAX), nullptr);
}

TEST(LegendData, ShapesHaveTheContoursAndFormsOfTheirCharacters) {
    using F = LegendForm;
    const struct {
        int64_t code;
        int contours;
        std::size_t paths;
        LegendForm form;
    } cases[] = {
        {0, 2, 1, F::KeyRelative},   {11, 3, 1, F::KeyRelative},   {1, 1, 1, F::KeyRelative},
        {18, 3, 2, F::Box},          {23, 6, 2, F::Box},           {27, 2, 2, F::Box},
        {39, 3, 3, F::Box},          {36, 14, 2, F::Box},          {48, 5, 1, F::KeyRelative},
        {51, 10, 1, F::KeyRelative}, {53, 4, 1, F::KeyRelative},   {54, 16, 2, F::Box},
        {56, 6, 1, F::EdgeAnchored}, {57, 11, 1, F::Box},          {58, 14, 2, F::Box},
        {59, 9, 1, F::EdgeAnchored}, {63, 2, 1, F::EdgeAnchored},  {105, 3, 1, F::KeyRelative},
        {122, 2, 1, F::KeyRelative}, {123, 1, 1, F::EdgeAnchored}, {126, 1, 1, F::EdgeAnchored},
    };
    for (const auto& c : cases) {
        const LegendData* l = legendForCode(c.code);
        ASSERT_NE(l, nullptr) << c.code;
        EXPECT_EQ(contours(c.code), c.contours) << c.code;
        EXPECT_EQ(l->paths.size(), c.paths) << c.code;
        EXPECT_EQ(l->form, c.form) << c.code;
    }
    EXPECT_DOUBLE_EQ(legendForCode(61)->px + legendForCode(58)->px, 1.0);
}

// Word labels measured where drawn: their pixels (half a point each) against their box.
TEST(LegendPictures, WordLabelsFillTheirBoxes) {
    const ThemeDictionary glyphsOnly = onlyLayers({"Glyphs"});
    constexpr qreal kScale = 2;
    constexpr qreal kPixel = 1 / kScale;
    auto drawn = [&](int64_t code) {
        return inkPoints(renderKey(code, KeyView::Normal, &glyphsOnly, kScale), kScale);
    };
    auto fractions = [](int64_t code, qreal x0, qreal x1, qreal y0, qreal y1) {
        const QSizeF k = KeyView::sizeForCode(code);
        return QRectF(QPointF(x0 * k.width(), y0 * k.height()),
                      QPointF(x1 * k.width(), y1 * k.height()));
    };
    auto expectFills = [&](int64_t code, const QRectF& want) {
        const QRectF got = drawn(code);
        EXPECT_NEAR(got.left(), want.left(), kPixel) << code;
        EXPECT_NEAR(got.right(), want.right(), kPixel) << code;
        EXPECT_NEAR(got.top(), want.top(), kPixel) << code;       // y up: the lower edge
        EXPECT_NEAR(got.bottom(), want.bottom(), kPixel) << code; // ... and the upper
    };
    expectFills(48, fractions(48, 0.096, 0.223, 0.239, 0.384)); // tab
    expectFills(51, fractions(51, 0.608, 0.901, 0.245, 0.368)); // delete
    for (int64_t code : {36, 54, 55, 57, 58, 61}) { // return, command, caps lock, option
        const LegendData& l = *legendForCode(code);
        const QRectF key(QPointF(), KeyView::sizeForCode(code));
        expectFills(code, QRectF(legendBoxOrigin(l, key), QSizeF(l.bw, l.bh)));
    }

    // esc fills its band across; the band is far too flat for a word, so its
    // letters are as tall as those of the other labels, centred on the band.
    const QRectF esc = drawn(53), escBand = fractions(53, 0.389, 0.556, 0.573, 0.621);
    EXPECT_NEAR(esc.left(), escBand.left(), kPixel);
    EXPECT_NEAR(esc.right(), escBand.right(), kPixel);
    EXPECT_NEAR(esc.center().y(), escBand.center().y(), kPixel);
    EXPECT_NEAR(esc.height(), 4.9, 2 * kPixel);

    // The F labels share one size: each is as tall as the band, right-aligned
    // in it, and the widest spans it.
    qreal widest = 0;
    for (int64_t code : {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111, 105}) {
        const QRectF band = fractions(code, 0.72, 0.88, 0.32, 0.48);
        const QRectF label = drawn(code);
        EXPECT_NEAR(label.right(), band.right(), kPixel) << code;
        EXPECT_NEAR(label.top(), band.top(), kPixel) << code;
        EXPECT_NEAR(label.bottom(), band.bottom(), kPixel) << code;
        EXPECT_GE(label.left(), band.left() - kPixel) << code;
        widest = std::max(widest, label.width());
    }
    EXPECT_NEAR(widest, 0.16 * 52, kPixel);
}

// The arrows are one triangle turned, each tip centred on the other axis.
TEST(LegendData, ArrowsAreOneTriangleTurnedToPointTheirWay) {
    const struct {
        int64_t code;
        QPointF direction; // y up
    } ways[] = {{123, {-1, 0}}, {124, {1, 0}}, {125, {0, -1}}, {126, {0, 1}}};
    const QRectF left = legendPath(*legendForCode(123), 0, QRectF(0, 0, 52, 32)).boundingRect();
    for (const auto& way : ways) {
        const QPainterPath path = legendPath(*legendForCode(way.code), 0, QRectF(0, 0, 52, 32));
        const QRectF r = path.boundingRect();
        EXPECT_NEAR(std::max(r.width(), r.height()), std::max(left.width(), left.height()), 0.05);
        QPointF tip = path.elementAt(0);
        for (int i = 1; i < path.elementCount(); ++i) {
            const QPointF e = path.elementAt(i);
            if (QPointF::dotProduct(e, way.direction) > QPointF::dotProduct(tip, way.direction))
                tip = e;
        }
        const QPointF across(way.direction.y(), way.direction.x());
        EXPECT_NEAR(QPointF::dotProduct(tip - r.center(), across), 0, 0.1) << way.code;
    }
}

// Box legends keep size on whole points; key-relative stretch; edge-anchored keep distance.
TEST(LegendPlacement, EachFormFollowsTheKeyItsOwnWay) {
    const LegendData& ret = *legendForCode(36);
    const QRectF normal = legendBounds(ret, QRectF(0, 0, 93, 52));
    const QRectF wide = legendBounds(ret, QRectF(0, 0, 186, 52));
    EXPECT_NEAR(normal.width(), wide.width(), 1e-9);
    EXPECT_NEAR(normal.height(), wide.height(), 1e-9);
    EXPECT_GT(wide.left(), normal.left() + 80); // still at the right
    const QPointF at = legendBoxOrigin(ret, QRectF(0, 0, 93, 52));
    EXPECT_EQ(legendBoxOrigin(ret, QRectF(10, -3, 93, 52)), at + QPointF(10, -3));
    const QPointF odd = legendBoxOrigin(*legendForCode(18), QRectF(0, 0, 52.7, 52.3));
    EXPECT_EQ(odd.x(), std::floor(odd.x()));
    EXPECT_EQ(odd.y(), std::floor(odd.y()));

    const LegendData& a = *legendForCode(0);
    const QRectF letter = legendBounds(a, QRectF(0, 0, 52, 52));
    EXPECT_NEAR(legendBounds(a, QRectF(0, 0, 104, 52)).width(), 2 * letter.width(), 1e-9);
    // Letters sit about the middle of the key.
    EXPECT_GT(letter.left(), 0.3 * 52);
    EXPECT_LT(letter.right(), 0.7 * 52);
    EXPECT_NEAR(letter.top(), 0.42 * 52, 0.3);

    const LegendData& shift = *legendForCode(56);
    const QRectF s1 = legendBounds(shift, QRectF(0, 0, 121, 52));
    const QRectF s2 = legendBounds(shift, QRectF(0, 0, 200, 80));
    EXPECT_NEAR(s1.left(), s2.left(), 1e-9);
    EXPECT_NEAR(52 - s1.bottom(), 80 - s2.bottom(), 1e-9); // distance from the top edge
    EXPECT_NEAR(s1.width(), s2.width(), 1e-9);

    // A path index out of range gives an empty path.
    EXPECT_TRUE(legendPath(a, 1, QRectF(0, 0, 52, 52)).isEmpty());
    EXPECT_TRUE(legendPath(ret, 7, QRectF(0, 0, 93, 52)).isEmpty());
}
