#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <map>
#include <optional>

namespace orvix::test {

// Reads the panel's on-screen keys from the X server's pixels, the way a user
// sees them: a key is lit when its pixels have gone clearly darker than the
// same key's pixels captured while nothing pressed it.
class TapPanelPixels {
public:
    // Opens its own connection to `display`; `window` is the panel's X window.
    TapPanelPixels(const QString& display, unsigned long window);
    ~TapPanelPixels();
    TapPanelPixels(const TapPanelPixels&) = delete;
    TapPanelPixels& operator=(const TapPanelPixels&) = delete;

    bool isOpen() const { return _display != nullptr; }
    void* display() const { return _display; }

    // The key's rectangle in window pixels: the title strip on top, the key
    // frames scaled from layout points to the rest of the window.
    std::optional<QRect> keyRect(int code) const;
    QImage grabKey(int code) const;

    // Keeps the current pixels of `code` as its unlit reference.
    bool rememberUnlit(int code);
    // The same, once the key is drawn (not one flat colour) and settled (two
    // grabs in a row agree).
    bool rememberUnlitOnceSettled(int code, int timeoutMs);
    // How far the key is from its unlit pixels: mean absolute channel
    // difference (0-255).
    double differenceFromUnlit(int code) const;
    bool isLit(int code) const;
    bool isUnlit(int code) const;

    static double meanDifference(const QImage& a, const QImage& b);
    static double meanLuminance(const QImage& image);

    // A pressed key is darker with its legend lower: well past these.
    static constexpr double kLitDifference = 6.0;
    static constexpr double kLitDarkening = 4.0;
    // Pixels within this of the reference count as the unlit look.
    static constexpr double kUnlitDifference = 1.0;

private:
    void* _display = nullptr;
    unsigned long _window = 0;
    std::map<int, QImage> _unlit;
};

} // namespace orvix::test
