#include "render/KeyboardTheme.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>

using namespace orvix;

// 28 layers of the right kinds (pressed: no side wall or key shadow); hover changes the well.
TEST(KeyboardTheme, EveryOwnSetHasEachLayerOfEachLookAndHoverLightsOnlyTheWell) {
    const char* const layers[] = {"Glyphs",       "KeyFace",        "KeyFaceStroke", "KeySide",
                                  "Bump",         "OuterHole",      "InnerHole",     "ShadowKey",
                                  "ShadowGlyphs", "ShadowInnerHole"};
    for (const ThemeDictionary* dict :
         {&WhiteKeyboardTheme::theme(), &BlackKeyboardTheme::theme(),
          &BlackIlluminatedKeyboardTheme::theme(), &VexmorKeyboardTheme::theme()}) {
        EXPECT_EQ(dict->count(), 28u);
        for (const std::string layer : layers) {
            const bool shadow = layer.rfind("Shadow", 0) == 0;
            for (const std::string look : {"normal", "hover", "pressed"}) {
                const std::string key = look + layer;
                const bool absent =
                    look == "pressed" && (layer == "KeySide" || layer == "ShadowKey");
                // Kinds are not interchangeable.
                EXPECT_EQ(dict->shadow(key) != nullptr, shadow && !absent) << key;
                EXPECT_EQ(dict->gradient(key) != nullptr, !shadow && !absent) << key;
            }
            const std::string n = "normal" + layer, h = "hover" + layer;
            bool same = false;
            if (const Shadow* s = dict->shadow(n), *t = dict->shadow(h); shadow && s && t)
                same = s->color == t->color && s->offset == t->offset &&
                       s->blurRadius == t->blurRadius;
            if (const Gradient* g = dict->gradient(n), *k = dict->gradient(h); g && k)
                same = g->start == k->start && g->end == k->end;
            const bool well =
                layer == "OuterHole" || layer == "InnerHole" || layer == "ShadowInnerHole";
            EXPECT_EQ(!same, well) << layer;
        }
    }
}

TEST(KeyboardTheme, DictionariesAreSharedAndIndexOutsideZeroToFiveIsWhite) {
    EXPECT_EQ(&BlackKeyboardTheme::theme(), &BlackKeyboardTheme::theme());
    for (int64_t code : {0, 49, 126, 300, -5})
        EXPECT_EQ(BlackKeyboardTheme::shared().themeForKeyCode(code), &BlackKeyboardTheme::theme());
    EXPECT_NE(&BlackKeyboardTheme::theme(), &WhiteKeyboardTheme::theme());
    EXPECT_EQ(VexmorKeyboardTheme::shared().themeForKeyCode(3), &VexmorKeyboardTheme::theme());
    EXPECT_EQ(KeyboardTheme::shared().themeForKeyCode(0), nullptr); // the abstract base
    for (int32_t index : {0, 6, -1, 100, INT32_MIN, INT32_MAX})
        EXPECT_EQ(&KeyboardTheme::themeForIndex(index), &WhiteKeyboardTheme::shared()) << index;
}

// The two mixed themes hand each key the white or the black set.
TEST(KeyboardTheme, MixedThemesChooseWhiteOrBlackByKey) {
    const auto *white = &WhiteKeyboardTheme::theme(), *black = &BlackKeyboardTheme::theme();
    const KeyboardTheme &checkered = CheckeredKeyboardTheme::shared(),
                        &leftRight = LeftRightKeyboardTheme::shared();
    const struct {
        const KeyboardTheme& theme;
        int64_t code;
        const ThemeDictionary* dict;
    } cases[] = {
        {checkered, 0, white},    {checkered, 1, black}, // A, S
        {checkered, 110, black},                         // no key has it
        {checkered, 126, white},                         // last of the white list
        {checkered, 127, black},  {checkered, -1, black}, {leftRight, 49, black}, // Space
        {leftRight, 54, white},                                                   // right Command
        {leftRight, 23, black},   {leftRight, 22, white},                         // 5, 6
        {leftRight, 122, black},  {leftRight, 97, white},                         // F1, F6
        {leftRight, 1000, white},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.theme.themeForKeyCode(c.code), c.dict)
            << c.theme.themeName().toStdString() << " " << c.code;
    // Neighbours on a row alternate in the checkered theme.
    const int64_t row[] = {12, 13, 14, 15, 17, 16}; // Q W E R T Y
    for (std::size_t i = 0; i + 1 < std::size(row); ++i)
        EXPECT_NE(checkered.themeForKeyCode(row[i]), checkered.themeForKeyCode(row[i + 1]));
}
