#pragma once

#include <QObject>
#include <QPointer>

class QPropertyAnimation;
class QWidget;

namespace orvix {

class Defaults;

// Follows the pointer over the panel: fades the panel to "ActiveTransparency"
// when the pointer enters and to "InactiveTransparency" when it leaves, and
// shows a changed transparency setting at once as a preview.
class TrackingView : public QObject {
    Q_OBJECT
public:
    TrackingView(QWidget* window, Defaults& defaults, QObject* parent = nullptr);

    // Animates the window's alpha to a value (the panel's animator).
    void animateAlphaTo(double alpha);
    void setAlphaNow(double alpha);

    void mouseEntered();
    void mouseExited();

    static constexpr int kFadeMs = 250;

private:
    void observeValueForKeyPath(const QString& key);

    QPointer<QWidget> _window;
    Defaults& _defaults;
    QPointer<QPropertyAnimation> _animation;
    bool _pointerInside = false;
};

} // namespace orvix
