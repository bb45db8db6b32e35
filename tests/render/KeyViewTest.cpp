#include "render/KeyView.h"

#include "PictureProbe.h"
#include "render/KeyboardTheme.h"

#include <cmath>
#include <gtest/gtest.h>
#include <optional>

using namespace orvix;
using namespace orvix::test;

TEST(KeyViewSize, FollowsTheKeySizeTable) {
    const struct {
        int64_t code;
        QSizeF size;
    } cases[] = {{53, {52, 32}},  {123, {51, 32}}, {116, {51, 32}}, {126, {52, 32}},
                 {122, {52, 32}}, {49, {276, 59}}, {56, {121, 52}}, {36, {93, 52}},
                 {51, {79, 52}},  {55, {65, 59}},  {63, {52, 59}}};
    for (const auto& c : cases)
        EXPECT_EQ(KeyView::sizeForCode(c.code), c.size) << c.code;
    // Codes without an entry, inside and around the bit-mask range.
    for (int64_t code : {62, 64, 95, 102, 104, 106, 110, 114, 117, 127, 128, -1, 1000})
        EXPECT_EQ(KeyView::sizeForCode(code), QSizeF(52, 52)) << code;
}

TEST(KeyView, WithoutAThemeDrawsNothingAtTheKeysSize) {
    const KeyPicture picture = KeyView(36, KeyView::Hover).keyImage();
    EXPECT_EQ(picture.size(), QSizeF(93, 52));
    EXPECT_TRUE(picture.ops().empty());
}

TEST(KeyView, UnknownDrawingStatesDrawTheNormalLook) {
    const ThemeDictionary& white = WhiteKeyboardTheme::theme();
    const QImage normal = renderKey(0, KeyView::Normal, &white, 2);
    for (int64_t state : {3, -1, 99})
        EXPECT_EQ(differingPixels(normal, renderKey(0, state, &white, 2)), 0) << state;
    EXPECT_GT(differingPixels(normal, renderKey(0, KeyView::Hover, &white, 2)), 0);
    EXPECT_GT(differingPixels(normal, renderKey(0, KeyView::Pressed, &white, 2)), 0);
}

TEST(KeyView, HoverChangesOnlyTheWellAroundTheKey) {
    for (const auto* theme : {&WhiteKeyboardTheme::theme(), &VexmorKeyboardTheme::theme()}) {
        for (int64_t code : {0, 36, 125, 126}) {
            const qreal scale = 4;
            const QImage normal = renderKey(code, KeyView::Normal, theme, scale);
            const QImage hover = renderKey(code, KeyView::Hover, theme, scale);
            const QSizeF size = KeyView::sizeForCode(code);
            int wellChanges = 0;
            for (int y = 0; y < normal.height(); ++y) {
                for (int x = 0; x < normal.width(); ++x) {
                    if (normal.pixel(x, y) == hover.pixel(x, y))
                        continue;
                    const qreal px = (x + 0.5) / scale;
                    const qreal py = size.height() - (y + 0.5) / scale;
                    // Everything well inside the key face stays as it was.
                    const bool onFace =
                        px > 5 && px < size.width() - 5 && py > 10 && py < size.height() - 4.5;
                    EXPECT_FALSE(onFace) << "code " << code << " at " << px << "," << py;
                    ++wellChanges;
                }
            }
            EXPECT_GT(wellChanges, 100) << code;
        }
    }
}

TEST(KeyView, PressedLegendSitsThreePointsLower) {
    const ThemeDictionary glyphsOnly = onlyLayers({"Glyphs"});
    const qreal scale = 8;
    for (int64_t code : {0, 18, 36, 56, 123, 122}) {
        const QRectF normal =
            inkPoints(renderKey(code, KeyView::Normal, &glyphsOnly, scale), scale);
        const QRectF hover = inkPoints(renderKey(code, KeyView::Hover, &glyphsOnly, scale), scale);
        const QRectF pressed =
            inkPoints(renderKey(code, KeyView::Pressed, &glyphsOnly, scale), scale);
        ASSERT_FALSE(normal.isEmpty()) << code;
        EXPECT_EQ(normal, hover) << code;
        EXPECT_NEAR(normal.top() - pressed.top(), 3.0, 1.0 / scale) << code;
        EXPECT_NEAR(normal.bottom() - pressed.bottom(), 3.0, 1.0 / scale) << code;
        EXPECT_NEAR(normal.left(), pressed.left(), 1.0 / scale) << code;
    }
}

TEST(KeyView, SpaceAndCodesWithoutKeysHaveNoLegend) {
    const ThemeDictionary glyphsOnly = onlyLayers({"Glyphs"});
    for (int64_t code : {49, 10, 117, 127, 200, -3}) {
        KeyView view(code, KeyView::Normal);
        view.setTheme(&glyphsOnly);
        EXPECT_TRUE(view.keyImage().ops().empty()) << code;
    }
    // The full theme still draws Space's body.
    KeyView space(49, KeyView::Normal);
    space.setTheme(&WhiteKeyboardTheme::theme());
    EXPECT_FALSE(space.keyImage().ops().empty());
}

TEST(KeyView, OnlyFAndJHaveTheBumpAndItSinksWhenPressed) {
    const ThemeDictionary bumpOnly = onlyLayers({"Bump"});
    const qreal scale = 8;
    for (int64_t code = 0; code < 128; ++code) {
        const bool bump = code == 3 || code == 38;
        const QRectF ink = inkPoints(renderKey(code, KeyView::Normal, &bumpOnly, scale), scale);
        if (code == 57) // the Caps Lock light is drawn in any theme
            EXPECT_EQ(ink.size(), QSizeF(4, 4));
        else
            EXPECT_EQ(!ink.isEmpty(), bump) << code;
    }
    for (int64_t code : {3, 38}) {
        const QRectF normal = inkPoints(renderKey(code, KeyView::Normal, &bumpOnly, scale), scale);
        const QRectF hover = inkPoints(renderKey(code, KeyView::Hover, &bumpOnly, scale), scale);
        const QRectF pressed =
            inkPoints(renderKey(code, KeyView::Pressed, &bumpOnly, scale), scale);
        // A 12 by 3 point bar, 13 points above the bottom edge, centred.
        EXPECT_NEAR(normal.width(), 12.0, 0.3);
        EXPECT_NEAR(normal.height(), 3.0, 0.3);
        EXPECT_NEAR(normal.top(), 13.0, 0.2);
        EXPECT_NEAR(normal.center().x(), 26.0, 0.2);
        EXPECT_EQ(normal, hover);
        EXPECT_NEAR(normal.top() - pressed.top(), 3.0, 1.0 / scale);
    }
    // Drawn after the legend, so it lies on top of it.
    KeyView f(3, KeyView::Normal);
    f.setTheme(&WhiteKeyboardTheme::theme());
    const KeyPicture picture = f.keyImage();
    ASSERT_FALSE(picture.ops().empty());
    EXPECT_EQ(picture.ops().back().paint, PictureOp::Paint::AxialGradient);
}

TEST(KeyView, BumpGradientRunsFromBottomToTop) {
    ThemeDictionary dict;
    dict.insert("normalBump", Gradient{Qt::blue, Qt::red});
    const qreal scale = 16;
    const QImage image = renderKey(3, KeyView::Normal, &dict, scale);
    const QColor low = image.pixelColor(26 * scale, image.height() - 13.3 * scale);
    const QColor high = image.pixelColor(26 * scale, image.height() - 15.7 * scale);
    EXPECT_GT(low.blue(), low.red());
    EXPECT_GT(high.red(), high.blue());
}

TEST(KeyView, ArrowHalvesAreRoundedOnTheirOuterEdgeOnly) {
    const ThemeDictionary faceOnly = onlyLayers({"KeyFace"});
    // Probes 0.4 points inside a corner of the face (x+3..x+w-3; y+7.5..y+h-1,
    // pressed y+4.5..y+h-4): empty where the corner is rounded.
    const struct {
        int64_t code;
        int64_t state;
        qreal y;
        bool rounded;
    } cases[] = {
        {126, KeyView::Normal, 30.6, true},  {126, KeyView::Normal, 7.9, false},
        {125, KeyView::Normal, 7.9, true},   {125, KeyView::Normal, 30.6, false},
        {126, KeyView::Hover, 30.6, true},   {126, KeyView::Hover, 7.9, false},
        {125, KeyView::Hover, 7.9, true},    {125, KeyView::Hover, 30.6, false},
        {126, KeyView::Pressed, 27.6, true}, {126, KeyView::Pressed, 4.9, false},
        {125, KeyView::Pressed, 4.9, true},  {125, KeyView::Pressed, 27.6, false},
        {53, KeyView::Normal, 7.9, true},    {53, KeyView::Normal, 30.6, true}, // standard key
    };
    for (const auto& c : cases) {
        const QImage image = renderKey(c.code, c.state, &faceOnly, 8);
        for (qreal x : {3.4, 52 - 3.4})
            EXPECT_EQ(alphaAt(image, 8, x, c.y), c.rounded ? 0 : 255)
                << c.code << " look " << c.state << " at " << x << "," << c.y;
    }
}

TEST(KeyView, UpArrowHasNoSideCornersAndDownArrowHasBoth) {
    const ThemeDictionary sideOnly = onlyLayers({"KeySide"});
    auto sideFills = [&](int64_t code) {
        KeyView view(code, KeyView::Normal);
        view.setTheme(&sideOnly);
        int count = 0;
        const KeyPicture picture = view.keyImage();
        for (const PictureOp& op : picture.ops())
            count += op.paint == PictureOp::Paint::AngledGradient;
        return count;
    };
    EXPECT_EQ(sideFills(126), 0);
    EXPECT_EQ(sideFills(125), 2);
    EXPECT_EQ(sideFills(0), 2);
    KeyView pressed(0, KeyView::Pressed);
    pressed.setTheme(&WhiteKeyboardTheme::theme());
    const KeyPicture picture = pressed.keyImage();
    for (const PictureOp& op : picture.ops())
        EXPECT_NE(op.paint, PictureOp::Paint::Solid) << "a pressed key casts no key shadow";
}

TEST(KeyView, StandardKeyLayersLieWhereTheGeometrySaysAtAnySize) {
    // The face of a 52-point key spans x 3..49 and y 7.5..51.
    const ThemeDictionary faceOnly = onlyLayers({"KeyFace"});
    for (qreal scale : {1.0, 3.0}) {
        const QRectF ink = inkPoints(renderKey(0, KeyView::Normal, &faceOnly, scale), scale);
        EXPECT_NEAR(ink.left(), 3, 0.5 / scale + 0.01);
        EXPECT_NEAR(ink.right(), 49, 0.5 / scale + 0.01);
        EXPECT_NEAR(ink.top(), 7.5, 0.5 / scale + 0.01);
        EXPECT_NEAR(ink.bottom(), 51, 0.5 / scale + 0.01);
    }
    // The outer well ring is the outermost layer: x 1..w-1, y 2.5..h-2.5.
    const ThemeDictionary ringOnly = onlyLayers({"OuterHole"});
    const QImage ring = renderKey(36, KeyView::Normal, &ringOnly, 4);
    const QRectF ringInk = inkPoints(ring, 4);
    EXPECT_NEAR(ringInk.left(), 1, 0.15);
    EXPECT_NEAR(ringInk.right(), 92, 0.15);
    EXPECT_NEAR(ringInk.top(), 2.5, 0.15);
    EXPECT_NEAR(ringInk.bottom(), 49.5, 0.15);
    // ... and hollow.
    EXPECT_EQ(alphaAt(ring, 4, 46, 26), 0);
}

TEST(KeyView, CapsLockLightIsTheSameDarkDotInEveryThemeAndLook) {
    std::optional<QColor> colour;
    for (int32_t index = 0; index <= 5; ++index) {
        for (int64_t state : {KeyView::Normal, KeyView::Hover, KeyView::Pressed}) {
            KeyView view(57, state);
            view.setTheme(KeyboardTheme::themeForIndex(index).themeForKeyCode(57));
            const KeyPicture picture = view.keyImage();
            int lights = 0;
            for (const PictureOp& op : picture.ops()) {
                if (op.paint != PictureOp::Paint::Solid || op.shadow)
                    continue;
                ++lights;
                EXPECT_EQ(op.color, colour.value_or(op.color));
                EXPECT_LT(op.color.lightness(), 64);
                colour = op.color;
                const QRectF r = op.path.boundingRect();
                EXPECT_NEAR(r.width(), 4, 1e-6);
                // Box 43 x 36 at px 0.14, py 0.5625 on a 93 x 52 key: origin (7, 9).
                EXPECT_NEAR(r.left(), 8, 1e-6);
                EXPECT_NEAR(r.top(), state == KeyView::Pressed ? 38 : 41, 1e-6);
            }
            EXPECT_EQ(lights, 1);
        }
    }
}

TEST(KeyView, TwoTimesRenderingIsAsSharpAsOneTimes) {
    const ThemeDictionary faceOnly = onlyLayers({"KeyFace"});
    // Partly covered pixels down the middle column, below the face's centre:
    // they measure the face's bottom edge at y 7.5 in pixels.
    auto edgeWidth = [](const QImage& image) {
        const int x = image.width() / 2;
        int partial = 0;
        for (int y = image.height() / 2; y < image.height(); ++y) {
            const int a = qAlpha(image.pixel(x, y));
            partial += a > 25 && a < 230;
        }
        return partial;
    };
    const QImage one = renderKey(0, KeyView::Normal, &faceOnly, 1);
    EXPECT_LE(edgeWidth(one), 1);
    EXPECT_LE(edgeWidth(renderKey(0, KeyView::Normal, &faceOnly, 2)), 1);
    EXPECT_LE(edgeWidth(renderKey(0, KeyView::Normal, &faceOnly, 8)), 1);
    // The measure tells a bitmap blown up from 1x apart.
    const QImage blownUp =
        one.scaled(one.size() * 8, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_GE(edgeWidth(blownUp), 4);
}
