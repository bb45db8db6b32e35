#pragma once

#include "render/KeyPicture.h"

#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace orvix {

class KeyControl;
class KeyView;

// Receives the presses and releases of key controls. Both messages are
// optional: the defaults ignore them.
class KeyDelegate {
public:
    virtual ~KeyDelegate() = default;
    virtual void keyPressed(KeyControl*) {}
    virtual void keyReleased(KeyControl*) {}
};

// One clickable key of the on-screen keyboard. It renders its three looks
// once each through an off-screen KeyView, caches them, and shows the look of
// the moment: pressed over hover over normal. Clicks become keyPressed /
// keyReleased messages to the delegate; a toggling key latches on one click
// and releases on the next.
class KeyControl : public QWidget {
    Q_OBJECT
public:
    // The drawing states, which index the cached looks.
    enum Look { Normal = 0, Pressed = 1, Hover = 2 };

    KeyControl(const QRect& frame, int64_t tag, QWidget* parent = nullptr);
    KeyControl(const QRect& frame, int64_t tag, int32_t theme, QWidget* parent = nullptr);
    ~KeyControl() override;

    KeyDelegate* delegate() const { return _delegate; }
    void setDelegate(KeyDelegate* delegate) { _delegate = delegate; }

    bool isPressed() const { return _pressed; }
    void setPressed(bool pressed);
    bool toggles() const { return _toggles; }
    // Stores only; the picture is not refreshed.
    void setToggles(bool toggles) { _toggles = toggles; }
    int64_t tag() const { return _tag; }
    void setTag(int64_t tag);
    int32_t theme() const { return _theme; }
    void setTheme(int32_t theme);
    bool isMouseInside() const { return _mouseInside; }

    // The pictures, made on first use. Once a look has its pixels at the
    // current size, only the pixels are kept: the picture is made again from
    // the key's description when the size changes.
    const KeyPicture& normalImg() { return image(Normal); }
    const KeyPicture& pressedImg() { return image(Pressed); }
    const KeyPicture& hoverImg() { return image(Hover); }
    // The vector picture of a look is held now (it is released once drawn).
    bool holdsPicture(Look look) const { return _images[look].has_value(); }
    // The look can be shown without drawing its picture first.
    bool hasCachedImage(Look look) const {
        return _images[look].has_value() || !_rasters[look].isNull();
    }
    // The look shown now.
    Look currentLook() const { return _shown; }
    // Renders a look and its pixels at the current size ahead of use, so the
    // first press or hover shows at once.
    void prepareLook(Look look);

    // Shared by every key control: the mouse went down on a latched toggling
    // key, so the coming mouse-up releases it.
    static bool releasePending() { return sReleasePending; }

    // Mouse handling, public so tests can drive it without a window system.
    void mouseDown();
    void mouseUp();
    void mouseEntered();
    void mouseExited();

signals:
    void pressedChanged(bool pressed);
    void tagChanged(qint64 tag);
    void themeChanged(int theme);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // While the button is down every mouse event comes to the key it went
    // down on, so that key follows the pointer over its neighbours itself.
    void dragOver(KeyControl* key);
    // The key under `position`, given in this key's coordinates.
    KeyControl* keyAt(const QPointF& position) const;
    const KeyPicture& image(Look look);
    const QPixmap& raster(Look look);
    QRectF fittedRect();
    void _updateImage();
    void _updateTheme();
    void dropImages();

    static inline bool sReleasePending = false;

    KeyDelegate* _delegate = nullptr;
    bool _mouseInside = false;
    bool _pressed = false;
    bool _toggles = false;
    int64_t _tag;
    int32_t _theme;
    std::unique_ptr<KeyView> _keyView;
    std::array<std::optional<KeyPicture>, 3> _images;
    // Every look's picture has the key's size; known once one has been made.
    QSizeF _pictureSize;
    // Pixels of each look at the current size, made when first shown.
    std::array<QPixmap, 3> _rasters;
    Look _shown = Normal;
    // The key under the pointer while a press that began here is dragged.
    QPointer<KeyControl> _dragHover;
    bool _dragging = false;
};

} // namespace orvix
