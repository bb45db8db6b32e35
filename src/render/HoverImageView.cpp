#include "render/HoverImageView.h"

#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>

namespace orvix {

HoverImageView::HoverImageView(QWidget* parent)
    : QLabel(parent), _opacity(new QGraphicsOpacityEffect(this)),
      _fade(new QPropertyAnimation(_opacity, "opacity", this)) {
    _opacity->setOpacity(1.0);
    setGraphicsEffect(_opacity);
    setAlignment(Qt::AlignCenter);
    _fade->setDuration(kFadeMilliseconds);
}

qreal HoverImageView::alphaValue() const {
    return _opacity->opacity();
}

void HoverImageView::setAlphaValue(qreal alpha) {
    _fade->stop();
    _opacity->setOpacity(alpha);
}

void HoverImageView::mouseEntered() {
    animateTo(1.0);
}
void HoverImageView::mouseExited() {
    animateTo(0.0);
}

void HoverImageView::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    mouseEntered();
}

void HoverImageView::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    mouseExited();
}

void HoverImageView::animateTo(qreal alpha) {
    // A fade that reverses midway starts from where the last one got to.
    _fade->stop();
    _fade->setStartValue(_opacity->opacity());
    _fade->setEndValue(alpha);
    _fade->start();
}

} // namespace orvix
