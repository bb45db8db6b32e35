#include "app/MyPanel.h"

#include "app/TitleStrip.h"
#include "os/Bundle.h"
#include "os/X11Window.h"

#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <QWindow>

namespace orvix {

MyPanel::MyPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(Bundle::name());
    setMouseTracking(true);

    const QString metalPath =
        Bundle::mainBundle().pathForResource(QStringLiteral("metal"), QStringLiteral("png"));
    if (!metalPath.isEmpty())
        _metal.load(metalPath);

    _titleStrip = new TitleStrip(this);
    _contentView = new QWidget(this);
    _contentView->setFocusPolicy(Qt::NoFocus);
    connect(_titleStrip, &TitleStrip::closeClicked, this, &MyPanel::closeRequested);
    connect(_titleStrip, &TitleStrip::miniaturizeClicked, this, &MyPanel::miniaturizeRequested);
}

int MyPanel::titleBarHeight() {
    return 22;
}

void MyPanel::setContentAspectRatio(QSizeF ratio) {
    _aspect = ratio;
}

void MyPanel::applyWorkspaceStates() {
    winId(); // the native window must exist to carry the states
    x11::setNetWmStates(windowHandle(), {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY"});
}

void MyPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!_metal.isNull()) {
        painter.fillRect(rect(), QBrush(_metal));
    } else {
        QLinearGradient fallback(0, 0, 0, height());
        fallback.setColorAt(0, QColor(0xd6, 0xd8, 0xdc));
        fallback.setColorAt(1, QColor(0xa9, 0xad, 0xb3));
        painter.fillRect(rect(), fallback);
    }
    // A hairline edge so the panel reads as a window on any background.
    painter.setPen(QColor(0, 0, 0, 90));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void MyPanel::resizeEvent(QResizeEvent* event) {
    const int strip = titleBarHeight();
    _titleStrip->setGeometry(0, 0, width(), strip);
    _contentView->setGeometry(0, strip, width(), height() - strip);
    QWidget::resizeEvent(event);
    emit frameChanged();
}

void MyPanel::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    emit frameChanged();
}

void MyPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Managers that rewrite the states at map time get the request again once
    // the window is mapped.
    QTimer::singleShot(100, this, &MyPanel::applyWorkspaceStates);
}

void MyPanel::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    emit pointerEntered();
}

void MyPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        if ((change->oldState() & Qt::WindowMinimized) && !(windowState() & Qt::WindowMinimized))
            emit deminiaturized();
    }
}

void MyPanel::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    // Going to the dock is not the pointer leaving: the panel keeps the
    // opaque look it took for miniaturising until the pointer next moves.
    if (!isMinimized())
        emit pointerExited();
}

} // namespace orvix
