#pragma once

#include "render/KeyPicture.h"
#include "render/ThemeDictionary.h"

#include <QRectF>
#include <QSizeF>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace orvix {

// Draws one key of the on-screen keyboard in one look, entirely as vector
// paths painted with the gradients and shadows of a theme dictionary. It is
// never shown itself: its owner sets the drawing state and asks for
// keyImage(), a resolution-independent picture that it caches and shows.
//
// Coordinates are points in the key's bounds, origin at the bottom left and y
// growing upward.
class KeyView {
public:
    // Drawing states: looks, not key states. Any other value draws normal.
    enum : int64_t { Normal = 0, Pressed = 1, Hover = 2 };

    // Frame origin (0, 0), size sizeForCode(code); no theme.
    KeyView(int64_t code, int64_t state);
    KeyView(const KeyView&) = delete;
    KeyView& operator=(const KeyView&) = delete;

    // Width and height of each key in points, by key code.
    static QSizeF sizeForCode(int64_t code);

    int64_t code() const { return _code; }
    int64_t state() const { return _state; }
    // Takes effect in the next keyImage(); the whole key is drawn again.
    void setState(int64_t state) { _state = state; }

    // Themes live for the life of the process, so the view only points at one.
    const ThemeDictionary* theme() const { return _theme.load(); }
    void setTheme(const ThemeDictionary* theme) { _theme.store(theme); }

    QRectF bounds() const { return {QPointF(0, 0), sizeForCode(_code)}; }

    // Held by the owner from setState() until it has taken the picture.
    std::mutex& lock() { return _lock; }

    // A new picture of the key in the current look.
    KeyPicture keyImage() const;

    // drawKey() then drawGlyphs(), into the picture.
    void drawRect(KeyPicture& picture) const;
    // The key body.
    void drawKey(KeyPicture& picture) const;
    // The legend; for F and J also the bump, after the legend.
    void drawGlyphs(KeyPicture& picture) const;
    // The tactile bump.
    void drawBump(KeyPicture& picture) const;

private:
    const int64_t _code;
    int64_t _state;
    std::atomic<const ThemeDictionary*> _theme{nullptr};
    std::mutex _lock;
};

} // namespace orvix
