#include "render/KeyView.h"

#include "render/KeyShapes.h"
#include "render/Legend.h"

#include <string>

namespace orvix {

namespace {

constexpr int64_t kCodeF = 3;
constexpr int64_t kCodeJ = 38;
constexpr int64_t kCodeCapsLock = 57;
constexpr int64_t kCodeDownArrow = 125;
constexpr int64_t kCodeUpArrow = 126;

// A pressed key sinks this far into its well; legend and bump follow it.
constexpr qreal kPressedDrop = 3.0;

const char* lookPrefix(int64_t state) {
    switch (state) {
    case KeyView::Pressed:
        return "pressed";
    case KeyView::Hover:
        return "hover";
    default:
        return "normal";
    }
}

// The outlines of one key body in one look.
struct Body {
    bool standsUp = true;    // key shadow and side walls (normal and hover)
    bool sideCorners = true; // the shaded lower corners of the side walls
    Contour shadow{};        // standsUp only
    Contour outerRingOuter{};
    Contour outerRingInner{};
    Contour innerRingOuter{};
    Contour innerRingInner{};
    Contour face{};
    Contour rimOuter{};
    Contour rimInner{};
};

Corners round(qreal r) {
    return Corners::all(Corner::round(r));
}

Body standardBody(bool pressed, qreal x, qreal y, qreal w, qreal h) {
    Body b;
    b.outerRingOuter = {x + 1, x + w - 1, y + 2.5, y + h - 2.5, round(6)};
    b.outerRingInner = {x + 3, x + w - 3, y + 4.5, y + h - 4.5, round(4)};
    if (!pressed) {
        b.shadow = {x + 3, x + w - 3, y + 4, y + h - 5, round(4)};
        b.innerRingOuter = {x + 2, x + w - 2, y + 3.5, y + h - 3, round(5.5)};
        b.innerRingInner = {x + 3, x + w - 3, y + 4.5, y + h - 4, round(4.5)};
        b.face = {x + 3, x + w - 3, y + 7.5, y + h - 1, round(5)};
        const Corner bottom{5.1, 5.1, 2.9 / 5.1};
        const Corner top = Corner::round(5.25);
        b.rimOuter = {x + 3, x + w - 3, y + 7.5, y + h - 1.3, {bottom, bottom, top, top}};
        b.rimInner = {x + 3.5, x + w - 3.5, y + 8, y + h - 1.8, round(4.75)};
        return b;
    }
    b.standsUp = false;
    b.sideCorners = false;
    b.face = {x + 3, x + w - 3, y + 4.5, y + h - 4.5, round(5)};
    b.rimOuter = {x + 2.5, x + w - 2.5, y + 4, y + h - 4, round(5.5)};
    b.rimInner = {x + 3.5, x + w - 3.5, y + 5, y + h - 5, round(4.5)};
    b.innerRingOuter = {x + 2, x + w - 2, y + 3.5, y + h - 3.5, round(5.5)};
    b.innerRingInner = {x + 3, x + w - 3, y + 4.5, y + h - 4.5, round(4.5)};
    return b;
}

// The down arrow is the lower half of a stacked pair: rounded at the bottom,
// square at the top where it meets the up arrow.
Body downArrowBody(int64_t state, qreal x, qreal y, qreal w, qreal h) {
    const Corner rimOuter = Corner::flattened(5.1, 3.08);
    const Corner rimInner = Corner::flattened(4.75, 2.87);
    Body b;
    b.outerRingOuter = {x + 1, x + w - 1, y + 2.5, y + h - 2, Corners::bottom(Corner::round(6))};
    b.outerRingInner = {x + 3, x + w - 3, y + 4.5, y + h - 4, Corners::bottom(Corner::round(4))};
    b.innerRingOuter = {x + 2, x + w - 2, y + 3.5, y + h - 3, Corners::bottom(Corner::round(5.5))};
    b.innerRingInner = {x + 3, x + w - 3, y + 4.5, y + h - 4, Corners::bottom(Corner::round(4.5))};
    if (state == KeyView::Pressed) {
        b.standsUp = false;
        b.sideCorners = false;
        b.face = {x + 3, x + w - 3, y + 4.5, y + h - 4, Corners::bottom(Corner::round(5))};
        b.rimOuter = {x + 3, x + w - 3, y + 4.5, y + h - 4, Corners::bottom(rimOuter)};
        b.rimInner = {x + 3.5, x + w - 3.5, y + 4.8, y + h - 4.5, Corners::bottom(rimInner)};
        return b;
    }
    const bool hover = state == KeyView::Hover;
    b.shadow = {x + 3, x + w - 3, y + 4, y + h - 5, Corners::bottom(Corner::round(4))};
    b.face = {x + 3, x + w - 3, y + 7.5, y + h - 1, Corners::bottom(Corner::round(5))};
    b.rimOuter = {x + 3, x + w - 3, y + 7.5, y + h - (hover ? 1 : 1.5), Corners::bottom(rimOuter)};
    b.rimInner = {x + 3.5, x + w - 3.5, y + 7.8, y + h - (hover ? 1.5 : 2),
                  Corners::bottom(rimInner)};
    return b;
}

// The up arrow: rounded at the top, square at the bottom, no side corners.
// Its edges mix offsets from the bottom with offsets from the top; on its
// 32-point height both land the top 1 to 4 points below the view's top.
Body upArrowBody(int64_t state, qreal x, qreal y, qreal w, qreal h) {
    const Corner rimOuter = Corner::flattened(5.1, 3.08);
    const Corner rimInner = Corner::flattened(4.75, 2.87);
    Body b;
    b.sideCorners = false;
    b.outerRingOuter = {x + 1, x + w - 1, y + h - 29.5, y + 30, Corners::top(Corner::round(6))};
    b.outerRingInner = {x + 3, x + w - 3, y + h - 27.5, y + 28, Corners::top(Corner::round(4))};
    b.innerRingOuter = {x + 2, x + w - 2, y + h - 28.5, y + 30, Corners::top(Corner::round(5.5))};
    b.innerRingInner = {x + 3, x + w - 3, y + h - 27.5, y + 29, Corners::top(Corner::round(4.5))};
    if (state == KeyView::Pressed) {
        b.standsUp = false;
        b.face = {x + 3, x + w - 3, y + 4.5, y + h - 4, Corners::top(Corner::round(4))};
        b.rimOuter = {x + 3, x + w - 3, y + h - 27.5, y + 28, Corners::top(rimOuter)};
        b.rimInner = {x + 3.5, x + w - 3.5, y + h - 27, y + 27.7, Corners::top(rimInner)};
        return b;
    }
    if (state == KeyView::Hover) {
        // The lit well sits half a point lower.
        b.outerRingOuter.y0 = y + h - 30;
        b.outerRingOuter.y1 = y + 29.5;
        b.outerRingInner.y0 = y + h - 28;
        b.outerRingInner.y1 = y + 27.5;
        b.innerRingOuter.y0 = y + h - 29;
        b.innerRingOuter.y1 = y + 29.5;
        b.innerRingInner.y0 = y + h - 28;
        b.innerRingInner.y1 = y + 28.5;
    }
    b.shadow = {x + 3, x + w - 3, y + 4, y + h - 5, Corners::top(Corner::round(4))};
    b.face = {x + 3, x + w - 3, y + 7.5, y + h - 1, Corners::top(Corner::round(4))};
    b.rimOuter = {x + 3, x + w - 3, y + h - 24.5, y + 31, Corners::top(rimOuter)};
    b.rimInner = {x + 3.5, x + w - 3.5, y + h - 24, y + 30.7, Corners::top(rimInner)};
    return b;
}

// Looks up the layer's paint of the current look; a theme without the entry
// leaves the layer out.
class LayerPainter {
public:
    LayerPainter(KeyPicture& picture, const ThemeDictionary* theme, const char* prefix)
        : _picture(picture), _theme(theme), _prefix(prefix) {}

    const Gradient* gradient(const char* layer) const {
        return _theme ? _theme->gradient(_prefix + layer) : nullptr;
    }
    std::optional<Shadow> shadow(const char* layer) const {
        const Shadow* s = _theme ? _theme->shadow(_prefix + layer) : nullptr;
        return s ? std::optional<Shadow>(*s) : std::nullopt;
    }
    void fill(QPainterPath path, const char* layer, qreal angle,
              const char* shadowLayer = nullptr) {
        if (const Gradient* g = gradient(layer))
            _picture.fillGradient(std::move(path), *g, angle,
                                  shadowLayer ? shadow(shadowLayer) : std::nullopt);
    }
    KeyPicture& picture() { return _picture; }

private:
    KeyPicture& _picture;
    const ThemeDictionary* _theme;
    std::string _prefix;
};

} // namespace

KeyView::KeyView(int64_t code, int64_t state) : _code(code), _state(state) {}

QSizeF KeyView::sizeForCode(int64_t code) {
    switch (code) {
    case 53: // Escape
        return {52, 32};
    case 48: // Tab
    case 51: // Delete
        return {79, 52};
    case 36: // Return
    case 57: // Caps Lock
        return {93, 52};
    case 56: // Shift
    case 60: // Right Shift
        return {121, 52};
    case 49: // Space
        return {276, 59};
    case 54: // Right Command
    case 55: // Command
        return {65, 59};
    case 58: // Option
    case 59: // Control
    case 61: // Right Option
    case 63: // Function
        return {52, 59};
    default:
        break;
    }
    if (code >= 96 && code <= 126) {
        // Function-key row, navigation and arrow keys: one bit per code from 96.
        const uint32_t bit = uint32_t{1} << (code - 96);
        if (bit & 0x65C8A2BFu)
            return {52, 32};
        if (bit & 0x1A100000u)
            return {51, 32};
    }
    return {52, 52};
}

KeyPicture KeyView::keyImage() const {
    KeyPicture picture(bounds().size());
    drawRect(picture);
    return picture;
}

void KeyView::drawRect(KeyPicture& picture) const {
    drawKey(picture);
    drawGlyphs(picture);
}

void KeyView::drawKey(KeyPicture& picture) const {
    const QRectF r = bounds();
    const qreal x = r.x(), y = r.y(), w = r.width(), h = r.height();
    const int64_t state = _state;
    const bool pressed = state == Pressed;
    LayerPainter paint(picture, theme(), lookPrefix(state));

    Body b;
    if (_code == kCodeDownArrow)
        b = downArrowBody(state, x, y, w, h);
    else if (_code == kCodeUpArrow)
        b = upArrowBody(state, x, y, w, h);
    else
        b = standardBody(pressed, x, y, w, h);

    auto outerRing = [&] {
        paint.fill(ringPath(b.outerRingOuter, b.outerRingInner), "OuterHole", -90);
    };
    auto innerRing = [&] {
        paint.fill(ringPath(b.innerRingOuter, b.innerRingInner), "InnerHole", -90,
                   "ShadowInnerHole");
    };
    auto face = [&] {
        paint.fill(shapePath(b.face), "KeyFace", -90);
    };
    auto rim = [&] {
        paint.fill(ringPath(b.rimOuter, b.rimInner), "KeyFaceStroke", -90);
    };

    if (!b.standsUp) {
        // Sunk into the well: the rings are drawn over the face.
        face();
        rim();
        outerRing();
        innerRing();
        return;
    }
    if (const Gradient* side = paint.gradient("KeySide")) {
        picture.fillSolid(shapePath(b.shadow), side->start, paint.shadow("ShadowKey"));
        if (b.sideCorners) {
            const Corner corner = Corner::round(2.5);
            const Corner sq = Corner::square();
            paint.fill(shapePath({x + w - 8, x + w - 3, y + 4, y + 11, {sq, corner, sq, sq}}),
                       "KeySide", 180);
            paint.fill(shapePath({x + 3, x + 8, y + 4, y + 11, {corner, sq, sq, sq}}), "KeySide",
                       0);
        }
    }
    outerRing();
    innerRing();
    face();
    rim();
}

void KeyView::drawGlyphs(KeyPicture& picture) const {
    QRectF r = bounds();
    const int64_t state = _state;
    if (state == Pressed)
        r.translate(0, -kPressedDrop);
    LayerPainter paint(picture, theme(), lookPrefix(state));

    if (const LegendData* legend = legendForCode(_code)) {
        if (_code == kCodeCapsLock) {
            // The indicator light is the same dark dot in every theme and look.
            const QPointF box = legendBoxOrigin(*legend, r);
            QPainterPath light;
            light.addEllipse(QRectF(box.x() + 1, box.y() + 32, 4, 4));
            picture.fillSolid(light, QColor::fromRgbF(0.167, 0.167, 0.167, 1));
        }
        for (std::size_t i = 0; i < legend->paths.size(); ++i)
            paint.fill(legendPath(*legend, i, r), "Glyphs", -90, "ShadowGlyphs");
    }
    if (_code == kCodeF || _code == kCodeJ)
        drawBump(picture);
}

void KeyView::drawBump(KeyPicture& picture) const {
    const QRectF r = bounds();
    const qreal x = r.x(), w = r.width(), h = r.height();
    const qreal y = r.y() - (_state == Pressed ? kPressedDrop : 0);
    const LayerPainter paint(picture, theme(), lookPrefix(_state));
    const Gradient* gradient = paint.gradient("Bump");
    if (!gradient)
        return;
    auto p = [&](qreal fx, qreal fy) {
        return QPointF(x + fx * w, y + fy * h);
    };
    // A capsule 12 by 3 points on a 52-point key, 13 points above the bottom.
    QPainterPath capsule;
    capsule.moveTo(p(0.41608, 0.30769));
    capsule.lineTo(p(0.58392, 0.30769));
    capsule.cubicTo(p(0.6013, 0.30769), p(0.61538, 0.29478), p(0.61538, 0.27885));
    capsule.cubicTo(p(0.61538, 0.26291), p(0.6013, 0.25), p(0.58392, 0.25));
    capsule.lineTo(p(0.41608, 0.25));
    capsule.cubicTo(p(0.3987, 0.25), p(0.38462, 0.26291), p(0.38462, 0.27885));
    capsule.cubicTo(p(0.38462, 0.29478), p(0.3987, 0.30769), p(0.41608, 0.30769));
    capsule.closeSubpath();
    const QRectF box = capsule.boundingRect();
    // Start colour at the bottom; y grows upward, so that is the rectangle's top().
    picture.fillAxial(capsule, *gradient, {box.center().x(), box.top()},
                      {box.center().x(), box.bottom()});
}

} // namespace orvix
