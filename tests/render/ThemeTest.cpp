#include "render/KeyboardTheme.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>

using namespace orvix;

namespace {

const ThemeDictionary* ownThemes[] = {&WhiteKeyboardTheme::theme(), &BlackKeyboardTheme::theme(),
                                      &BlackIlluminatedKeyboardTheme::theme(),
                                      &VexmorKeyboardTheme::theme()};

const char* const kLayers[] = {"Glyphs",       "KeyFace",        "KeyFaceStroke", "KeySide",
                               "Bump",         "OuterHole",      "InnerHole",     "ShadowKey",
                               "ShadowGlyphs", "ShadowInnerHole"};

bool isShadow(const std::string& layer) {
    return layer.rfind("Shadow", 0) == 0;
}

// The normal and hover looks of a layer are painted alike.
bool sameInNormalAndHover(const ThemeDictionary& dict, const std::string& layer) {
    const std::string a = "normal" + layer, b = "hover" + layer;
    if (isShadow(layer)) {
        const Shadow *s = dict.shadow(a), *t = dict.shadow(b);
        return s && t && s->color == t->color && s->offset == t->offset &&
               s->blurRadius == t->blurRadius;
    }
    const Gradient *g = dict.gradient(a), *h = dict.gradient(b);
    return g && h && g->start == h->start && g->end == h->end;
}

} // namespace

// Every look has each of its layers, of the right kind; the pressed look has
// neither side wall nor key shadow, so 28 entries in all.
TEST(KeyboardTheme, EveryOwnSetHasEachLayerOfEachLook) {
    for (const ThemeDictionary* dict : ownThemes) {
        EXPECT_EQ(dict->count(), 28u);
        for (const char* look : {"normal", "hover", "pressed"}) {
            for (const std::string layer : kLayers) {
                const std::string key = look + layer;
                const bool absent =
                    std::string(look) == "pressed" && (layer == "KeySide" || layer == "ShadowKey");
                const bool found =
                    isShadow(layer) ? dict->shadow(key) != nullptr : dict->gradient(key) != nullptr;
                EXPECT_EQ(found, !absent) << key;
                // Kinds are not interchangeable.
                EXPECT_FALSE(isShadow(layer) ? dict->gradient(key) != nullptr
                                             : dict->shadow(key) != nullptr)
                    << key;
            }
        }
    }
}

TEST(KeyboardTheme, HoverLightsOnlyTheWell) {
    for (const ThemeDictionary* dict : ownThemes) {
        for (const std::string layer : kLayers) {
            const bool well =
                layer == "OuterHole" || layer == "InnerHole" || layer == "ShadowInnerHole";
            EXPECT_EQ(!sameInNormalAndHover(*dict, layer), well) << layer;
        }
    }
}

TEST(KeyboardTheme, DictionariesAreBuiltOnceAndSharedByEveryKey) {
    EXPECT_EQ(&BlackKeyboardTheme::theme(), &BlackKeyboardTheme::theme());
    for (int64_t code : {0, 49, 126, 300, -5})
        EXPECT_EQ(BlackKeyboardTheme::shared().themeForKeyCode(code), &BlackKeyboardTheme::theme());
    EXPECT_NE(&BlackKeyboardTheme::theme(), &WhiteKeyboardTheme::theme());
    EXPECT_EQ(VexmorKeyboardTheme::shared().themeForKeyCode(3), &VexmorKeyboardTheme::theme());
    EXPECT_EQ(KeyboardTheme::shared().themeForKeyCode(0), nullptr); // the abstract base
}

TEST(KeyboardTheme, IndexOutsideOneToFiveIsWhite) {
    for (int32_t index : {0, 6, -1, 100, INT32_MIN, INT32_MAX})
        EXPECT_EQ(&KeyboardTheme::themeForIndex(index), &WhiteKeyboardTheme::shared()) << index;
    const char* names[] = {"White",     "Black",      "Black (Illuminated)",
                           "Checkered", "Left/Right", "Vexmor"};
    for (int32_t index = 0; index <= 5; ++index)
        EXPECT_EQ(KeyboardTheme::themeForIndex(index).themeName(), names[index]);
}

// The two mixed themes hand each key the white or the black set.
TEST(KeyboardTheme, MixedThemesChooseWhiteOrBlackByKey) {
    const auto* white = &WhiteKeyboardTheme::theme();
    const auto* black = &BlackKeyboardTheme::theme();
    const struct {
        const KeyboardTheme& theme;
        int64_t code;
        const ThemeDictionary* dict;
    } cases[] = {
        {CheckeredKeyboardTheme::shared(), 0, white},   // A
        {CheckeredKeyboardTheme::shared(), 1, black},   // S
        {CheckeredKeyboardTheme::shared(), 110, black}, // no key has it
        {CheckeredKeyboardTheme::shared(), 126, white}, // last of the white list
        {CheckeredKeyboardTheme::shared(), 127, black},
        {CheckeredKeyboardTheme::shared(), -1, black},
        {LeftRightKeyboardTheme::shared(), 49, black},  // Space
        {LeftRightKeyboardTheme::shared(), 54, white},  // right Command
        {LeftRightKeyboardTheme::shared(), 23, black},  // 5
        {LeftRightKeyboardTheme::shared(), 22, white},  // 6
        {LeftRightKeyboardTheme::shared(), 122, black}, // F1
        {LeftRightKeyboardTheme::shared(), 97, white},  // F6
        {LeftRightKeyboardTheme::shared(), 1000, white},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.theme.themeForKeyCode(c.code), c.dict)
            << c.theme.themeName().toStdString() << " " << c.code;
    // Neighbours on a row alternate in the checkered theme.
    const int64_t row[] = {12, 13, 14, 15, 17, 16}; // Q W E R T Y
    for (std::size_t i = 0; i + 1 < std::size(row); ++i)
        EXPECT_NE(CheckeredKeyboardTheme::shared().themeForKeyCode(row[i]),
                  CheckeredKeyboardTheme::shared().themeForKeyCode(row[i + 1]));
}
