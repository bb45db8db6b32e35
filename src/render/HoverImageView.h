#pragma once

#include <QLabel>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace orvix {

// An image view that fades in while the pointer is over it and fades out when
// the pointer leaves. Enter and leave events follow the visible part of the
// view by themselves, so nothing is recomputed when it moves or resizes.
class HoverImageView : public QLabel {
    Q_OBJECT
public:
    explicit HoverImageView(QWidget* parent = nullptr);

    // Current opacity, 0 to 1.
    qreal alphaValue() const;
    // Sets the opacity at once, stopping a running fade.
    void setAlphaValue(qreal alpha);

    // Fade to fully opaque / fully transparent.
    void mouseEntered();
    void mouseExited();

    // Length of a fade.
    static constexpr int kFadeMilliseconds = 250;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void animateTo(qreal alpha);

    QGraphicsOpacityEffect* _opacity;
    QPropertyAnimation* _fade;
};

} // namespace orvix
