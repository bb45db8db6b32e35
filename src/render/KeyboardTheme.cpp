#include "render/KeyboardTheme.h"

#include <algorithm>
#include <array>
#include <optional>

namespace orvix {

namespace {

QColor grey(double g) {
    return QColor::fromRgbF(g, g, g, 1.0);
}
QColor rgba(double r, double g, double b, double a) {
    return QColor::fromRgbF(r, g, b, a);
}
Gradient solid(const QColor& c) {
    return {c, c};
}
Gradient greys(double from, double to) {
    return {grey(from), grey(to)};
}

// The colours of one look; the side wall and the key shadow exist only while
// the key stands up (normal and hover).
struct LookColours {
    Gradient glyphs;
    Gradient keyFace;
    Gradient keyFaceStroke;
    std::optional<Gradient> keySide;
    Gradient bump;
    Gradient outerHole;
    Gradient innerHole;
    QColor shadowGlyphs; // alpha included
    QColor shadowInnerHole;
};

struct ColourSet {
    LookColours normal;
    LookColours hover;
    LookColours pressed;
};

QColor withAlpha(QColor c, double alpha) {
    c.setAlphaF(static_cast<float>(alpha));
    return c;
}

void addLook(ThemeDictionary& dict, const std::string& look, const LookColours& c) {
    const Shadow smallShadow{{}, {0.1, 0.1}, 2.0};
    dict.insert(look + "Glyphs", c.glyphs);
    dict.insert(look + "KeyFace", c.keyFace);
    dict.insert(look + "KeyFaceStroke", c.keyFaceStroke);
    if (c.keySide)
        dict.insert(look + "KeySide", *c.keySide);
    dict.insert(look + "Bump", c.bump);
    dict.insert(look + "OuterHole", c.outerHole);
    dict.insert(look + "InnerHole", c.innerHole);
    if (c.keySide)
        dict.insert(look + "ShadowKey", Shadow{rgba(0, 0, 0, 0.7), {0.1, -1.1}, 3.0});
    Shadow glyphs = smallShadow;
    glyphs.color = c.shadowGlyphs;
    dict.insert(look + "ShadowGlyphs", glyphs);
    Shadow inner = smallShadow;
    inner.color = c.shadowInnerHole;
    dict.insert(look + "ShadowInnerHole", inner);
}

ThemeDictionary build(const ColourSet& set) {
    ThemeDictionary dict;
    addLook(dict, "normal", set.normal);
    addLook(dict, "hover", set.hover);
    addLook(dict, "pressed", set.pressed);
    return dict;
}

// Hovering lights only the well around the key; everything else of the
// hover look is the normal look.
LookColours hoverOf(LookColours normal, const Gradient& outer, const Gradient& inner,
                    const QColor& innerGlow) {
    normal.outerHole = outer;
    normal.innerHole = inner;
    normal.shadowInnerHole = innerGlow;
    return normal;
}

// Functions, not globals: a dictionary may be built while other translation
// units are still being initialised.
QColor hoverBlueOuter() {
    return rgba(0.137, 0.537, 0.816, 1);
}
QColor hoverBlueInner() {
    return rgba(0.11, 0.596, 0.898, 0.843);
}

// The dark body shared by Black, Black (Illuminated) and Vexmor.
LookColours darkNormal() {
    LookColours c;
    c.keyFace = greys(0.078, 0.157);
    c.keyFaceStroke = greys(0, 0.235);
    c.keySide = greys(0, 0.196);
    c.bump = greys(0.235, 0.157);
    return c;
}

LookColours darkPressed() {
    LookColours c;
    c.keyFace = greys(0.039, 0.118);
    c.keyFaceStroke = solid(grey(0.157));
    c.bump = greys(0.196, 0.118);
    return c;
}

ColourSet blackSet() {
    LookColours n = darkNormal();
    n.glyphs = solid(grey(0.608));
    n.outerHole = solid(grey(0.333));
    n.innerHole = solid(grey(0.251));
    n.shadowGlyphs = withAlpha(Qt::white, 0);
    n.shadowInnerHole = withAlpha(Qt::black, 0.4);
    LookColours p = darkPressed();
    p.glyphs = n.glyphs;
    p.outerHole = solid(grey(0.333));
    p.innerHole = solid(grey(0.251));
    p.shadowGlyphs = withAlpha(Qt::white, 0);
    p.shadowInnerHole = withAlpha(Qt::white, 0);
    return {n,
            hoverOf(n, solid(hoverBlueOuter()), solid(hoverBlueInner()),
                    withAlpha(hoverBlueOuter(), 0.5)),
            p};
}

ColourSet whiteSet() {
    LookColours n;
    n.glyphs = solid(rgba(0.435, 0.439, 0.451, 1));
    n.keyFace = greys(0.988, 0.973);
    n.keyFaceStroke = greys(1, 0.878);
    n.keySide = greys(0.667, 0.784);
    n.bump = greys(0.863, 0.98);
    n.outerHole = solid(grey(0.333));
    n.innerHole = solid(grey(0.251));
    n.shadowGlyphs = withAlpha(Qt::black, 0);
    n.shadowInnerHole = withAlpha(Qt::black, 0.4);
    LookColours p;
    p.glyphs = n.glyphs;
    p.keyFace = greys(0.871, 0.98);
    p.keyFaceStroke = greys(0.706, 0.878);
    p.bump = greys(0.863, 0.98);
    p.outerHole = solid(grey(0.333));
    p.innerHole = solid(grey(0.251));
    p.shadowGlyphs = withAlpha(Qt::black, 0);
    p.shadowInnerHole = withAlpha(Qt::black, 0);
    return {n,
            hoverOf(n, solid(hoverBlueOuter()), solid(hoverBlueInner()),
                    withAlpha(hoverBlueOuter(), 0.77)),
            p};
}

ColourSet blackIlluminatedSet() {
    LookColours n = darkNormal();
    n.glyphs = solid(grey(0.945));
    n.outerHole = solid(grey(0.231));
    n.innerHole = solid(rgba(1, 1, 1, 0.764));
    n.shadowGlyphs = withAlpha(Qt::white, 0.5);
    n.shadowInnerHole = withAlpha(Qt::white, 0.5);
    LookColours p = darkPressed();
    p.glyphs = n.glyphs;
    p.outerHole = solid(grey(0.333));
    p.innerHole = solid(rgba(1, 1, 1, 0.765));
    p.shadowGlyphs = withAlpha(Qt::white, 0.7);
    p.shadowInnerHole = withAlpha(Qt::white, 0);
    return {n,
            hoverOf(n, solid(hoverBlueOuter()), solid(hoverBlueInner()),
                    withAlpha(hoverBlueOuter(), 0.5)),
            p};
}

ColourSet vexmorSet() {
    const QColor lime = rgba(0.6, 0.8, 0, 1);
    const QColor purple = rgba(0.557, 0.078, 0.659, 1);
    LookColours n = darkNormal();
    n.glyphs = solid(lime);
    n.outerHole = solid(grey(0.231));
    n.innerHole = solid(rgba(0.6, 0.8, 0, 0.816));
    n.shadowGlyphs = withAlpha(lime, 0.5);
    n.shadowInnerHole = withAlpha(lime, 0.5);
    LookColours p = darkPressed();
    p.glyphs = n.glyphs;
    p.outerHole = solid(grey(0.333));
    p.innerHole = solid(rgba(0.6, 0.8, 0, 0.765));
    p.shadowGlyphs = withAlpha(lime, 0.7);
    p.shadowInnerHole = rgba(0.596, 0.8, 0, 0);
    return {
        n,
        hoverOf(n, solid(purple), solid(rgba(0.619, 0.095, 0.73, 0.843)), withAlpha(purple, 0.5)),
        p};
}

template <std::size_t N> bool contains(const std::array<int64_t, N>& codes, int64_t code) {
    return std::binary_search(codes.begin(), codes.end(), code);
}

// Sorted, for binary search.
constexpr auto kCheckeredWhite = std::to_array<int64_t>(
    {0,  2,  5,  7,  9,  13, 15, 16, 18, 20, 23, 25, 26,  27,  30,  34,  35,  37,  38,
     39, 43, 44, 45, 48, 51, 53, 55, 56, 59, 61, 97, 100, 109, 111, 118, 120, 125, 126});

constexpr auto kLeftBlack = std::to_array<int64_t>(
    {0,  1,  2,  3,  5,  6,  7,  8,  9,  11, 12, 13, 14, 15, 17,  18,  19, 20,
     21, 23, 48, 49, 50, 53, 55, 56, 57, 58, 59, 63, 96, 99, 118, 120, 122});

} // namespace

QString KeyboardTheme::themeName() const {
    return QStringLiteral("Abstract Keyboard Theme");
}
const ThemeDictionary* KeyboardTheme::themeForKeyCode(int64_t) const {
    return nullptr;
}
const KeyboardTheme& KeyboardTheme::shared() {
    static const KeyboardTheme instance{};
    return instance;
}

const KeyboardTheme& KeyboardTheme::themeForIndex(int32_t index) {
    switch (index) {
    case 1:
        return BlackKeyboardTheme::shared();
    case 2:
        return BlackIlluminatedKeyboardTheme::shared();
    case 3:
        return CheckeredKeyboardTheme::shared();
    case 4:
        return LeftRightKeyboardTheme::shared();
    case 5:
        return VexmorKeyboardTheme::shared();
    default:
        return WhiteKeyboardTheme::shared();
    }
}

#define ORVIX_OWN_THEME(Class, name, set)                                                          \
    QString Class::themeName() const {                                                             \
        return QStringLiteral(name);                                                               \
    }                                                                                              \
    const ThemeDictionary* Class::themeForKeyCode(int64_t) const {                                 \
        return &theme();                                                                           \
    }                                                                                              \
    const ThemeDictionary& Class::theme() {                                                        \
        static const ThemeDictionary dict = build(set());                                          \
        return dict;                                                                               \
    }                                                                                              \
    const Class& Class::shared() {                                                                 \
        static const Class instance{};                                                             \
        return instance;                                                                           \
    }

ORVIX_OWN_THEME(WhiteKeyboardTheme, "White", whiteSet)
ORVIX_OWN_THEME(BlackKeyboardTheme, "Black", blackSet)
ORVIX_OWN_THEME(BlackIlluminatedKeyboardTheme, "Black (Illuminated)", blackIlluminatedSet)
ORVIX_OWN_THEME(VexmorKeyboardTheme, "Vexmor", vexmorSet)
#undef ORVIX_OWN_THEME

QString CheckeredKeyboardTheme::themeName() const {
    return QStringLiteral("Checkered");
}
const ThemeDictionary* CheckeredKeyboardTheme::themeForKeyCode(int64_t code) const {
    return contains(kCheckeredWhite, code) ? WhiteKeyboardTheme::shared().themeForKeyCode(code)
                                           : BlackKeyboardTheme::shared().themeForKeyCode(code);
}
const CheckeredKeyboardTheme& CheckeredKeyboardTheme::shared() {
    static const CheckeredKeyboardTheme instance{};
    return instance;
}

QString LeftRightKeyboardTheme::themeName() const {
    return QStringLiteral("Left/Right");
}
const ThemeDictionary* LeftRightKeyboardTheme::themeForKeyCode(int64_t code) const {
    return contains(kLeftBlack, code) ? BlackKeyboardTheme::shared().themeForKeyCode(code)
                                      : WhiteKeyboardTheme::shared().themeForKeyCode(code);
}
const LeftRightKeyboardTheme& LeftRightKeyboardTheme::shared() {
    static const LeftRightKeyboardTheme instance{};
    return instance;
}

} // namespace orvix
