#include "app/TrackingView.h"

#include "settings/Defaults.h"
#include "settings/Settings.h"

#include <QPropertyAnimation>
#include <QWidget>
#include <algorithm>

namespace orvix {

TrackingView::TrackingView(QWidget* window, Defaults& defaults, QObject* parent)
    : QObject(parent), _window(window), _defaults(defaults) {
    connect(&_defaults, &Defaults::changed, this, &TrackingView::observeValueForKeyPath);
}

void TrackingView::animateAlphaTo(double alpha) {
    if (!_window)
        return;
    if (_animation)
        _animation->stop();
    _animation = new QPropertyAnimation(_window, "windowOpacity", this);
    _animation->setDuration(kFadeMs);
    _animation->setEndValue(alpha);
    _animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void TrackingView::setAlphaNow(double alpha) {
    if (_animation)
        _animation->stop();
    if (_window)
        _window->setWindowOpacity(alpha);
}

void TrackingView::mouseEntered() {
    _pointerInside = true;
    animateAlphaTo(settings::transparency(_defaults, settings::kActiveTransparency));
}

void TrackingView::mouseExited() {
    _pointerInside = false;
    animateAlphaTo(settings::transparency(_defaults, settings::kInactiveTransparency));
}

void TrackingView::observeValueForKeyPath(const QString& key) {
    if (key != settings::kActiveTransparency && key != settings::kInactiveTransparency)
        return;
    double alpha = settings::transparency(_defaults, key);
    // A preview never hides the panel the pointer is over.
    if (_pointerInside)
        alpha = std::max(alpha, settings::kMinimumActiveTransparency);
    setAlphaNow(alpha);
}

} // namespace orvix
