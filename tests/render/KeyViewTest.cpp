#include "render/KeyView.h"

#include "PictureProbe.h"
#include "render/KeyboardTheme.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

using namespace orvix;
using namespace orvix::test;

// A switch and a bit mask over 96..126: one row per mask range, and codes around it.
TEST(KeyViewSize, FollowsTheKeySizeTable) {
    const struct {
        int64_t code;
        QSizeF size;
    } cases[] = {{53, {52, 32}},  {123, {51, 32}}, {116, {51, 32}}, {126, {52, 32}},
                 {122, {52, 32}}, {49, {276, 59}}, {56, {121, 52}}, {36, {93, 52}},
                 {51, {79, 52}},  {55, {65, 59}},  {63, {52, 59}}};
    for (const auto& c : cases)
        EXPECT_EQ(KeyView::sizeForCode(c.code), c.size) << c.code;
    for (int64_t code : {62, 64, 95, 102, 104, 106, 110, 114, 117, 127, 128, -1, 1000})
        EXPECT_EQ(KeyView::sizeForCode(code), QSizeF(52, 52)) << code;
}

TEST(KeyView, NothingIsDrawnWithoutATheme_ForSpace_OrForCodesWithoutKeys) {
    const KeyPicture bare = KeyView(36, KeyView::Hover).keyImage();
    EXPECT_EQ(bare.size(), QSizeF(93, 52));
    EXPECT_TRUE(bare.ops().empty());
    const ThemeDictionary glyphsOnly = onlyLayers({"Glyphs"});
    for (int64_t code : {49, 10, 117, 127, 200, -3})
        EXPECT_TRUE(keyPicture(code, KeyView::Normal, &glyphsOnly).ops().empty()) << code;
    // The full theme still draws Space's body.
    EXPECT_FALSE(keyPicture(49, KeyView::Normal, &WhiteKeyboardTheme::theme()).ops().empty());
}

TEST(KeyView, UnknownDrawingStatesDrawTheNormalLook) {
    const ThemeDictionary& white = WhiteKeyboardTheme::theme();
    const QImage normal = renderKey(0, KeyView::Normal, &white, 2);
    for (int64_t state : {3, -1, 99})
        EXPECT_TRUE(normal == renderKey(0, state, &white, 2)) << state;
}

TEST(KeyView, HoverChangesOnlyTheWellAroundTheKey) {
    const qreal scale = 4;
    for (const auto* theme : {&WhiteKeyboardTheme::theme(), &VexmorKeyboardTheme::theme()}) {
        for (int64_t code : {0, 36, 125, 126}) {
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
                    EXPECT_FALSE(px > 5 && px < size.width() - 5 && py > 10 &&
                                 py < size.height() - 4.5)
                        << "code " << code << " at " << px << "," << py;
                    ++wellChanges;
                }
            }
            EXPECT_GT(wellChanges, 100) << code;
        }
    }
}

// Legend and bump keep their place on hover and sink three points when pressed.
TEST(KeyView, PressedLegendAndBumpSitThreePointsLower) {
    const qreal scale = 8;
    const struct {
        const char* layer;
        std::vector<int64_t> codes;
    } cases[] = {{"Glyphs", {0, 18, 36, 56, 123, 122}}, {"Bump", {3, 38}}};
    for (const auto& c : cases) {
        const ThemeDictionary only = onlyLayers({c.layer});
        for (int64_t code : c.codes) {
            auto ink = [&](int64_t state) {
                return inkPoints(renderKey(code, state, &only, scale), scale);
            };
            const QRectF normal = ink(KeyView::Normal), pressed = ink(KeyView::Pressed);
            ASSERT_FALSE(normal.isEmpty()) << code;
            EXPECT_EQ(normal, ink(KeyView::Hover)) << code;
            EXPECT_NEAR(normal.top() - pressed.top(), 3.0, 1.0 / scale) << code;
            EXPECT_NEAR(normal.bottom() - pressed.bottom(), 3.0, 1.0 / scale) << code;
            EXPECT_NEAR(normal.left(), pressed.left(), 1.0 / scale) << code;
        }
    }
}

TEST(KeyView, OnlyFAndJHaveTheBumpCentredAndShadedUpward) {
    const ThemeDictionary bumpOnly = onlyLayers({"Bump"});
    const qreal scale = 8;
    for (int64_t code = 0; code < 128; ++code) {
        const QRectF ink = inkPoints(renderKey(code, KeyView::Normal, &bumpOnly, scale), scale);
        if (code == 57) // the Caps Lock light is drawn in any theme
            EXPECT_EQ(ink.size(), QSizeF(4, 4));
        else
            EXPECT_EQ(!ink.isEmpty(), code == 3 || code == 38) << code;
        if (code == 3 || code == 38) {
            EXPECT_NEAR(ink.center().x(), 26.0, 0.2) << code;
        }
    }
    // Its gradient runs from the bottom (start) to the top (end).
    ThemeDictionary dict;
    dict.insert("normalBump", Gradient{Qt::blue, Qt::red});
    const QImage image = renderKey(3, KeyView::Normal, &dict, 16);
    const QRectF bump = inkPoints(image, 16);
    const QColor low = colorAt(image, 16, 26, bump.top() + 0.3);
    const QColor high = colorAt(image, 16, 26, bump.bottom() - 0.3);
    EXPECT_GT(low.blue(), low.red());
    EXPECT_GT(high.red(), high.blue());
    // Drawn after the legend, so it lies on top of it.
    const KeyPicture f = keyPicture(3, KeyView::Normal, &WhiteKeyboardTheme::theme());
    ASSERT_FALSE(f.ops().empty());
    EXPECT_EQ(f.ops().back().paint, PictureOp::Paint::AxialGradient);
}

TEST(KeyView, ArrowHalvesAreRoundedOnTheirOuterEdgeOnly) {
    const ThemeDictionary faceOnly = onlyLayers({"KeyFace"});
    // Probes 0.4 points inside the lower and upper corners of the face (y 7.5..h-1,
    // pressed 3 lower): empty where the corner is rounded.
    const struct {
        int64_t code;
        bool lowRounded, highRounded;
    } cases[] = {{126, false, true}, {125, true, false}, {53, true, true}}; // Up, Down, Esc
    for (int64_t state : {KeyView::Normal, KeyView::Hover, KeyView::Pressed}) {
        const qreal sink = state == KeyView::Pressed ? 3 : 0;
        for (const auto& c : cases) {
            const QImage image = renderKey(c.code, state, &faceOnly, 8);
            for (qreal x : {3.4, 52 - 3.4}) {
                EXPECT_EQ(alphaAt(image, 8, x, 7.9 - sink), c.lowRounded ? 0 : 255)
                    << c.code << " look " << state << " at " << x;
                EXPECT_EQ(alphaAt(image, 8, x, 30.6 - sink), c.highRounded ? 0 : 255)
                    << c.code << " look " << state << " at " << x;
            }
        }
    }
}

TEST(KeyView, UpArrowHasNoSideCornersAndPressedKeysCastNoShadow) {
    const ThemeDictionary sideOnly = onlyLayers({"KeySide"});
    for (auto [code, corners] :
         std::initializer_list<std::pair<int64_t, int>>{{126, 0}, {125, 2}, {0, 2}}) {
        int count = 0;
        const KeyPicture picture = keyPicture(code, KeyView::Normal, &sideOnly);
        for (const PictureOp& op : picture.ops())
            count += op.paint == PictureOp::Paint::AngledGradient;
        EXPECT_EQ(count, corners) << code;
    }
    const KeyPicture pressed = keyPicture(0, KeyView::Pressed, &WhiteKeyboardTheme::theme());
    for (const PictureOp& op : pressed.ops())
        EXPECT_NE(op.paint, PictureOp::Paint::Solid) << "a pressed key casts no key shadow";
}

TEST(KeyView, LayersKeepTheirPlaceAtAnySizeAndTheWellRingIsOutermostAndHollow) {
    const ThemeDictionary faceOnly = onlyLayers({"KeyFace"});
    const QRectF one = inkPoints(renderKey(0, KeyView::Normal, &faceOnly, 1), 1);
    const QRectF three = inkPoints(renderKey(0, KeyView::Normal, &faceOnly, 3), 3);
    ASSERT_FALSE(one.isEmpty());
    EXPECT_NEAR(one.left(), three.left(), 0.7);
    EXPECT_NEAR(one.right(), three.right(), 0.7);
    EXPECT_NEAR(one.top(), three.top(), 0.7);
    EXPECT_NEAR(one.bottom(), three.bottom(), 0.7);

    const ThemeDictionary ringOnly = onlyLayers({"OuterHole"});
    const QImage ring = renderKey(36, KeyView::Normal, &ringOnly, 4);
    const QRectF ringInk = inkPoints(ring, 4), face = inkPoints(renderKey(36, 0, &faceOnly, 4), 4);
    EXPECT_LT(ringInk.left(), face.left());
    EXPECT_GT(ringInk.right(), face.right());
    EXPECT_LT(ringInk.top(), face.top()); // y up: the lower edge
    EXPECT_EQ(alphaAt(ring, 4, 46, 26), 0);
}

TEST(KeyView, CapsLockLightIsTheSameDarkDotInEveryThemeAndLook) {
    std::optional<QColor> colour;
    for (int32_t index = 0; index <= 5; ++index) {
        std::optional<qreal> normalTop;
        for (int64_t state : {KeyView::Normal, KeyView::Hover, KeyView::Pressed}) {
            const auto* theme = KeyboardTheme::themeForIndex(index).themeForKeyCode(57);
            int lights = 0;
            const KeyPicture picture = keyPicture(57, state, theme);
            for (const PictureOp& op : picture.ops()) {
                if (op.paint != PictureOp::Paint::Solid || op.shadow)
                    continue;
                ++lights;
                EXPECT_EQ(op.color, colour.value_or(op.color));
                EXPECT_LT(op.color.lightness(), 64);
                colour = op.color;
                // Still on hover; sunk with the key when pressed.
                const qreal top =
                    op.path.boundingRect().top() + (state == KeyView::Pressed ? 3 : 0);
                EXPECT_NEAR(top, normalTop.value_or(top), 1e-6);
                normalTop = top;
            }
            EXPECT_EQ(lights, 1);
        }
    }
}

TEST(KeyView, TwoTimesRenderingIsAsSharpAsOneTimes) {
    const ThemeDictionary faceOnly = onlyLayers({"KeyFace"});
    // Partly covered pixels down the middle column, below the face's centre:
    // they measure the face's bottom edge in pixels.
    auto edgeWidth = [](const QImage& image) {
        int partial = 0;
        for (int y = image.height() / 2; y < image.height(); ++y) {
            const int a = qAlpha(image.pixel(image.width() / 2, y));
            partial += a > 25 && a < 230;
        }
        return partial;
    };
    for (qreal scale : {1, 2, 8})
        EXPECT_LE(edgeWidth(renderKey(0, KeyView::Normal, &faceOnly, scale)), 1) << scale;
    // The measure tells a bitmap blown up from 1x apart.
    const QImage one = renderKey(0, KeyView::Normal, &faceOnly, 1);
    EXPECT_GE(
        edgeWidth(one.scaled(one.size() * 8, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)), 4);
}
