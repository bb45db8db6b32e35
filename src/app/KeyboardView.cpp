#include "app/KeyboardView.h"

#include "render/KeyControl.h"

#include <QResizeEvent>

namespace orvix {

KeyboardView::KeyboardView(const QList<Placeholder>& layout, QSizeF layoutSize, int32_t theme,
                           KeyDelegate* delegate, QWidget* parent)
    : QWidget(parent), _layoutSize(layoutSize), _layout(layout) {
    setFocusPolicy(Qt::NoFocus);
    _resizeSettle.setSingleShot(true);
    _resizeSettle.setInterval(kResizeSettleMs);
    connect(&_resizeSettle, &QTimer::timeout, this, &KeyboardView::resizeSettled);
    for (const Placeholder& placeholder : layout) {
        auto* key = new KeyControl(scaledFrame(placeholder.frame), placeholder.tag, theme, this);
        key->setDelegate(delegate);
        _keys << key;
        // The first control with a tag answers for it, as a view search would.
        if (!_byTag.contains(placeholder.tag))
            _byTag.insert(placeholder.tag, key);
    }
}

QRect KeyboardView::scaledFrame(const QRectF& frame) const {
    if (_layoutSize.isEmpty() || size().isEmpty())
        return frame.toRect();
    const qreal sx = width() / _layoutSize.width();
    const qreal sy = height() / _layoutSize.height();
    // Edges are rounded, not sizes, so neighbouring keys keep equal gaps.
    const int left = qRound(frame.left() * sx);
    const int top = qRound(frame.top() * sy);
    const int right = qRound(frame.right() * sx);
    const int bottom = qRound(frame.bottom() * sy);
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

void KeyboardView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    for (int i = 0; i < _keys.size(); ++i)
        _keys[i]->setGeometry(scaledFrame(_layout[i].frame));
    // A live resize sends many sizes in a row; only the last one counts.
    _resizeSettle.start();
}

void KeyboardView::setKeyPressed(int code, bool pressed) {
    if (KeyControl* key = viewWithTag(code))
        key->setPressed(pressed);
}

void KeyboardView::setKeyToggles(int code, bool toggles) {
    if (KeyControl* key = viewWithTag(code))
        key->setToggles(toggles);
}

} // namespace orvix
