#include "render/KeyboardTheme.h"

#include <algorithm>
#include <climits>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace orvix;

namespace {

const std::vector<std::string> kOrder = {
    "normalGlyphs",          "normalKeyFace",        "normalKeyFaceStroke",
    "normalKeySide",         "normalBump",           "normalOuterHole",
    "normalInnerHole",       "normalShadowKey",      "normalShadowGlyphs",
    "normalShadowInnerHole", "hoverGlyphs",          "hoverKeyFace",
    "hoverKeyFaceStroke",    "hoverKeySide",         "hoverBump",
    "hoverOuterHole",        "hoverInnerHole",       "hoverShadowKey",
    "hoverShadowGlyphs",     "hoverShadowInnerHole", "pressedGlyphs",
    "pressedKeyFace",        "pressedKeyFaceStroke", "pressedBump",
    "pressedOuterHole",      "pressedInnerHole",     "pressedShadowGlyphs",
    "pressedShadowInnerHole"};

const ThemeDictionary* ownThemes[] = {&WhiteKeyboardTheme::theme(), &BlackKeyboardTheme::theme(),
                                      &BlackIlluminatedKeyboardTheme::theme(),
                                      &VexmorKeyboardTheme::theme()};

void expectColor(const QColor& c, double r, double g, double b, double a) {
    EXPECT_NEAR(c.redF(), r, 1e-4);
    EXPECT_NEAR(c.greenF(), g, 1e-4);
    EXPECT_NEAR(c.blueF(), b, 1e-4);
    EXPECT_NEAR(c.alphaF(), a, 1e-4);
}

bool sameValue(const ThemeDictionary::Value& a, const ThemeDictionary::Value& b) {
    if (a.index() != b.index())
        return false;
    if (const auto* g = std::get_if<Gradient>(&a)) {
        const auto& h = std::get<Gradient>(b);
        return g->start == h.start && g->end == h.end;
    }
    const auto& s = std::get<Shadow>(a);
    const auto& t = std::get<Shadow>(b);
    return s.color == t.color && s.offset == t.offset && s.blurRadius == t.blurRadius;
}

} // namespace

TEST(KeyboardTheme, EveryOwnSetHasTheTwentyEightEntriesInBuildOrder) {
    for (const ThemeDictionary* dict : ownThemes) {
        ASSERT_EQ(dict->count(), 28u);
        for (std::size_t i = 0; i < kOrder.size(); ++i)
            EXPECT_EQ(dict->entries()[i].first, kOrder[i]);
        // The pressed look has neither side wall nor key shadow.
        EXPECT_EQ(dict->gradient("pressedKeySide"), nullptr);
        EXPECT_EQ(dict->shadow("pressedShadowKey"), nullptr);
        // Kinds are not interchangeable.
        EXPECT_EQ(dict->shadow("normalKeyFace"), nullptr);
        EXPECT_EQ(dict->gradient("normalShadowKey"), nullptr);
    }
}

TEST(KeyboardTheme, DictionariesAreBuiltOnceAndSharedByEveryKey) {
    EXPECT_EQ(&BlackKeyboardTheme::theme(), &BlackKeyboardTheme::theme());
    for (int64_t code : {0, 49, 126, 300, -5})
        EXPECT_EQ(BlackKeyboardTheme::shared().themeForKeyCode(code), &BlackKeyboardTheme::theme());
    EXPECT_NE(&BlackKeyboardTheme::theme(), &WhiteKeyboardTheme::theme());
    EXPECT_EQ(VexmorKeyboardTheme::shared().themeForKeyCode(3), &VexmorKeyboardTheme::theme());
}

TEST(KeyboardTheme, HoverLightsOnlyTheWell) {
    const std::vector<std::string> wellLayers = {"OuterHole", "InnerHole", "ShadowInnerHole"};
    for (const ThemeDictionary* dict : ownThemes) {
        for (std::size_t i = 0; i < 10; ++i) {
            const auto& [normalKey, normalValue] = dict->entries()[i];
            const auto& [hoverKey, hoverValue] = dict->entries()[i + 10];
            const std::string layer = normalKey.substr(6);
            ASSERT_EQ(hoverKey, "hover" + layer);
            const bool well =
                std::find(wellLayers.begin(), wellLayers.end(), layer) != wellLayers.end();
            EXPECT_EQ(!sameValue(normalValue, hoverValue), well) << layer;
        }
    }
}

TEST(KeyboardTheme, ColourSetsMatchTheirTables) {
    const auto& black = BlackKeyboardTheme::theme();
    expectColor(black.gradient("normalOuterHole")->start, 0.333, 0.333, 0.333, 1);
    expectColor(black.gradient("hoverOuterHole")->end, 0.137, 0.537, 0.816, 1);
    expectColor(black.gradient("hoverInnerHole")->start, 0.11, 0.596, 0.898, 0.843);
    expectColor(black.gradient("pressedKeyFace")->start, 0.039, 0.039, 0.039, 1);
    expectColor(black.gradient("pressedKeyFace")->end, 0.118, 0.118, 0.118, 1);
    expectColor(black.shadow("hoverShadowInnerHole")->color, 0.137, 0.537, 0.816, 0.5);

    const auto& white = WhiteKeyboardTheme::theme();
    expectColor(white.gradient("pressedGlyphs")->start, 0.435, 0.439, 0.451, 1);
    expectColor(white.gradient("normalKeyFaceStroke")->start, 1, 1, 1, 1);
    expectColor(white.gradient("normalKeyFaceStroke")->end, 0.878, 0.878, 0.878, 1);
    expectColor(white.shadow("hoverShadowInnerHole")->color, 0.137, 0.537, 0.816, 0.77);

    const auto& lit = BlackIlluminatedKeyboardTheme::theme();
    expectColor(lit.gradient("normalInnerHole")->start, 1, 1, 1, 0.764);
    expectColor(lit.gradient("pressedInnerHole")->start, 1, 1, 1, 0.765);
    expectColor(lit.shadow("pressedShadowGlyphs")->color, 1, 1, 1, 0.7);

    const auto& vexmor = VexmorKeyboardTheme::theme();
    expectColor(vexmor.gradient("hoverOuterHole")->start, 0.557, 0.078, 0.659, 1);
    expectColor(vexmor.gradient("hoverInnerHole")->start, 0.619, 0.095, 0.73, 0.843);
    expectColor(vexmor.shadow("pressedShadowInnerHole")->color, 0.596, 0.8, 0, 0);
    expectColor(vexmor.shadow("normalShadowGlyphs")->color, 0.6, 0.8, 0, 0.5);

    for (const ThemeDictionary* dict : ownThemes) {
        for (const char* look : {"normal", "hover"}) {
            const Shadow* key = dict->shadow(std::string(look) + "ShadowKey");
            ASSERT_NE(key, nullptr);
            EXPECT_DOUBLE_EQ(key->offset.x(), 0.1);
            EXPECT_DOUBLE_EQ(key->offset.y(), -1.1);
            EXPECT_DOUBLE_EQ(key->blurRadius, 3.0);
            expectColor(key->color, 0, 0, 0, 0.7);
        }
        const Shadow* glyphs = dict->shadow("pressedShadowGlyphs");
        EXPECT_EQ(glyphs->offset, QPointF(0.1, 0.1));
        EXPECT_DOUBLE_EQ(glyphs->blurRadius, 2.0);
    }
}

TEST(KeyboardTheme, AbstractBaseGivesNoDictionary) {
    EXPECT_EQ(KeyboardTheme::shared().themeForKeyCode(0), nullptr);
    EXPECT_EQ(KeyboardTheme::shared().themeName(), "Abstract Keyboard Theme");
}

TEST(KeyboardTheme, IndexOutsideOneToFiveIsWhite) {
    for (int32_t index : {0, 6, -1, 100, INT32_MIN, INT32_MAX})
        EXPECT_EQ(&KeyboardTheme::themeForIndex(index), &WhiteKeyboardTheme::shared()) << index;
    const char* names[] = {"White",     "Black",      "Black (Illuminated)",
                           "Checkered", "Left/Right", "Vexmor"};
    for (int32_t index = 0; index <= 5; ++index)
        EXPECT_EQ(KeyboardTheme::themeForIndex(index).themeName(), names[index]);
}

TEST(KeyboardTheme, CheckeredAlternatesWhiteAndBlack) {
    const auto& checkered = CheckeredKeyboardTheme::shared();
    const auto* white = &WhiteKeyboardTheme::theme();
    const auto* black = &BlackKeyboardTheme::theme();
    EXPECT_EQ(checkered.themeForKeyCode(0), white);   // A
    EXPECT_EQ(checkered.themeForKeyCode(1), black);   // S
    EXPECT_EQ(checkered.themeForKeyCode(110), black); // no key has it
    EXPECT_EQ(checkered.themeForKeyCode(126), white); // last of the white list
    EXPECT_EQ(checkered.themeForKeyCode(127), black);
    EXPECT_EQ(checkered.themeForKeyCode(-1), black);
    // Neighbours on a row alternate.
    const int64_t row[] = {12, 13, 14, 15, 17, 16}; // Q W E R T Y
    for (std::size_t i = 0; i + 1 < std::size(row); ++i)
        EXPECT_NE(checkered.themeForKeyCode(row[i]), checkered.themeForKeyCode(row[i + 1]));
}

TEST(KeyboardTheme, LeftRightSplitsTheKeyboard) {
    const auto& split = LeftRightKeyboardTheme::shared();
    const auto* white = &WhiteKeyboardTheme::theme();
    const auto* black = &BlackKeyboardTheme::theme();
    EXPECT_EQ(split.themeForKeyCode(49), black);  // Space
    EXPECT_EQ(split.themeForKeyCode(54), white);  // right Command
    EXPECT_EQ(split.themeForKeyCode(23), black);  // 5
    EXPECT_EQ(split.themeForKeyCode(22), white);  // 6
    EXPECT_EQ(split.themeForKeyCode(4), white);   // H
    EXPECT_EQ(split.themeForKeyCode(122), black); // F1
    EXPECT_EQ(split.themeForKeyCode(97), white);  // F6
    EXPECT_EQ(split.themeForKeyCode(1000), white);
}
