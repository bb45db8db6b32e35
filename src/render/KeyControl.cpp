#include "render/KeyControl.h"

#include "render/KeyView.h"
#include "render/KeyboardTheme.h"

#include <QMouseEvent>
#include <QPainter>

namespace orvix {

KeyControl::KeyControl(const QRect& frame, int64_t tag, QWidget* parent)
    : KeyControl(frame, tag, 0, parent) {}

KeyControl::KeyControl(const QRect& frame, int64_t tag, int32_t theme, QWidget* parent)
    : QWidget(parent), _tag(tag), _theme(theme),
      _keyView(std::make_unique<KeyView>(tag, KeyView::Normal)) {
    setGeometry(frame);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    _updateTheme();
}

KeyControl::~KeyControl() = default;

void KeyControl::setPressed(bool pressed) {
    if (pressed == _pressed)
        return;
    _pressed = pressed;
    emit pressedChanged(pressed);
    _updateImage();
}

void KeyControl::setTag(int64_t tag) {
    if (tag == _tag)
        return;
    _tag = tag;
    emit tagChanged(tag);
    dropImages();
    _updateImage();
}

void KeyControl::setTheme(int32_t theme) {
    if (theme == _theme)
        return;
    _theme = theme;
    _updateTheme();
    emit themeChanged(theme);
}

const KeyPicture& KeyControl::image(Look look) {
    std::optional<KeyPicture>& cached = _images[look];
    if (!cached) {
        std::lock_guard lock(_keyView->lock());
        _keyView->setState(look);
        cached = _keyView->keyImage();
        _pictureSize = cached->size();
    }
    return *cached;
}

void KeyControl::dropImages() {
    for (auto& image : _images)
        image.reset();
    _pictureSize = QSizeF();
    for (QPixmap& raster : _rasters)
        raster = QPixmap();
}

void KeyControl::_updateImage() {
    _shown = _pressed ? Pressed : (_mouseInside ? Hover : Normal);
    // A look without pixels gets its picture now; one with pixels just shows them.
    if (!hasCachedImage(_shown))
        image(_shown);
    update();
}

void KeyControl::_updateTheme() {
    _keyView->setTheme(KeyboardTheme::themeForIndex(_theme).themeForKeyCode(_tag));
    dropImages();
    _updateImage();
}

void KeyControl::mouseEntered() {
    _mouseInside = true;
    _updateImage();
}

void KeyControl::mouseExited() {
    _mouseInside = false;
    _updateImage();
}

void KeyControl::mouseDown() {
    if (_toggles && _pressed)
        sReleasePending = true;
    else
        setPressed(true);
    if (_pressed && !sReleasePending && _delegate)
        _delegate->keyPressed(this);
}

void KeyControl::mouseUp() {
    if (!_toggles) {
        setPressed(false);
    } else if (sReleasePending) {
        setPressed(false);
        sReleasePending = false;
    }
    if (!_pressed && _delegate)
        _delegate->keyReleased(this);
}

QRectF KeyControl::fittedRect() {
    if (_pictureSize.isEmpty())
        image(Normal);
    const QSizeF fitted = _pictureSize.scaled(QSizeF(size()), Qt::KeepAspectRatio);
    return {QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted};
}

const QPixmap& KeyControl::raster(Look look) {
    const qreal dpr = devicePixelRatioF();
    const QSize pixels = (fittedRect().size() * dpr).toSize();
    QPixmap& pixmap = _rasters[look];
    if (pixmap.isNull() || pixmap.size() != pixels) {
        const KeyPicture& picture = image(look);
        if (!picture.isNull() && !pixels.isEmpty()) {
            pixmap = QPixmap::fromImage(picture.toImage(pixels));
            pixmap.setDevicePixelRatio(dpr);
            // The pixels are what is shown; holding the vector picture as
            // well would keep every outline of every look in memory.
            _images[look].reset();
        }
    }
    return pixmap;
}

void KeyControl::prepareLook(Look look) {
    if (!size().isEmpty())
        raster(look);
}

void KeyControl::paintEvent(QPaintEvent*) {
    // Scaled proportionally into the control, centred.
    const QPixmap& pixels = raster(_shown);
    if (pixels.isNull())
        return;
    QPainter painter(this);
    painter.drawPixmap(fittedRect().topLeft(), pixels);
}

void KeyControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The vector pictures stay; only their pixels are made again at the new size.
    for (QPixmap& raster : _rasters)
        raster = QPixmap();
}

void KeyControl::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    mouseEntered();
}

void KeyControl::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    mouseExited();
}

void KeyControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    _dragging = true;
    _dragHover = this;
    mouseDown();
}

void KeyControl::mouseMoveEvent(QMouseEvent* event) {
    if (!_dragging) {
        event->ignore();
        return;
    }
    dragOver(keyAt(event->position()));
}

void KeyControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // The release belongs to the key the press began on, wherever it ends.
    _dragging = false;
    mouseUp();
    // The key under the pointer keeps its hover look; the window system's
    // own enter and leave events take over from here.
    _dragHover = nullptr;
}

KeyControl* KeyControl::keyAt(const QPointF& position) const {
    // Within the panel alone: the toolkit's frame geometry of the undecorated
    // panel has been seen one pixel square for a while after a click, which
    // left a drag lighting nothing.
    QWidget* parent = parentWidget();
    if (!parent)
        return nullptr;
    const QPoint inParent = mapToParent(position).toPoint();
    if (!parent->rect().contains(inParent))
        return nullptr;
    return qobject_cast<KeyControl*>(parent->childAt(inParent));
}

void KeyControl::dragOver(KeyControl* key) {
    if (key == _dragHover)
        return;
    if (_dragHover)
        _dragHover->mouseExited();
    _dragHover = key;
    if (key)
        key->mouseEntered();
}

} // namespace orvix
