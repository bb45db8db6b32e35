#pragma once

#include "render/ThemeDictionary.h"

#include <QString>
#include <cstdint>

namespace orvix {

// A keyboard theme hands out, per key code, the dictionary of gradients and
// shadows the keys are painted with. Themes carry no state: each class has one
// constant instance that stands for the class itself, reached through
// `shared()`, so a theme can be chosen at run time by its index.
class KeyboardTheme {
public:
    virtual ~KeyboardTheme() = default;

    virtual QString themeName() const;
    // Nothing for the abstract base.
    virtual const ThemeDictionary* themeForKeyCode(int64_t code) const;

    static const KeyboardTheme& shared();

    // Theme index as stored in the settings: 1 Black, 2 Black (Illuminated),
    // 3 Checkered, 4 Left/Right, 5 Vexmor; every other value White.
    static const KeyboardTheme& themeForIndex(int32_t index);

protected:
    KeyboardTheme() = default;
};

class WhiteKeyboardTheme : public KeyboardTheme {
public:
    QString themeName() const override;
    const ThemeDictionary* themeForKeyCode(int64_t code) const override;
    // Built on the first call and shared for the life of the process.
    static const ThemeDictionary& theme();
    static const WhiteKeyboardTheme& shared();
};

class BlackKeyboardTheme : public KeyboardTheme {
public:
    QString themeName() const override;
    const ThemeDictionary* themeForKeyCode(int64_t code) const override;
    static const ThemeDictionary& theme();
    static const BlackKeyboardTheme& shared();
};

class BlackIlluminatedKeyboardTheme : public KeyboardTheme {
public:
    QString themeName() const override;
    const ThemeDictionary* themeForKeyCode(int64_t code) const override;
    static const ThemeDictionary& theme();
    static const BlackIlluminatedKeyboardTheme& shared();
};

class VexmorKeyboardTheme : public KeyboardTheme {
public:
    QString themeName() const override;
    const ThemeDictionary* themeForKeyCode(int64_t code) const override;
    static const ThemeDictionary& theme();
    static const VexmorKeyboardTheme& shared();
};

// A chequer pattern of White and Black keys.
class CheckeredKeyboardTheme : public KeyboardTheme {
public:
    QString themeName() const override;
    const ThemeDictionary* themeForKeyCode(int64_t code) const override;
    static const CheckeredKeyboardTheme& shared();
};

// Black keys on the left half of the keyboard, White on the right.
class LeftRightKeyboardTheme : public KeyboardTheme {
public:
    QString themeName() const override;
    const ThemeDictionary* themeForKeyCode(int64_t code) const override;
    static const LeftRightKeyboardTheme& shared();
};

} // namespace orvix
