#include "app/MyPanel.h"

#include "app/TitleStrip.h"
#include "os/Bundle.h"
#include "os/X11Window.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>

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
    _resizeGrip = new ResizeGrip(this);
    _contentView = new QWidget(this);
    _contentView->setFocusPolicy(Qt::NoFocus);
    _releaseWatch.setInterval(50);
    connect(&_releaseWatch, &QTimer::timeout, this, [this] {
        if (x11::pointerButtonDown())
            return;
        _releaseWatch.stop();
        // The manager ends its resize on the same release: let it finish
        // before asking for a size of our own.
        QTimer::singleShot(200, this, [this] {
            _interactive = false;
            _keepProportions();
        });
    });
    _fitCheck.setSingleShot(true);
    _fitCheck.setInterval(300);
    connect(&_fitCheck, &QTimer::timeout, this, &MyPanel::_keepProportions);
    connect(_titleStrip, &TitleStrip::closeClicked, this, &MyPanel::closeRequested);
    connect(_titleStrip, &TitleStrip::miniaturizeClicked, this, &MyPanel::miniaturizeRequested);
}

int MyPanel::titleBarHeight() {
    return 22;
}

void MyPanel::setContentAspectRatio(QSizeF ratio) {
    _aspect = ratio;
    // Told to the window manager too, so an interactive resize stops there.
    if (!_aspect.isEmpty())
        setMinimumSize(sizeForWidth(kMinimumContentWidth));
}

void MyPanel::setKeyboardView(QWidget* view) {
    _keyboardView = view;
    view->setGeometry(_contentView->rect());
}

void MyPanel::applyWorkspaceStates() {
    if (_bypassesWindowManager)
        return; // nobody to read them; such a window stays above by itself
    winId();    // the native window must exist to carry the states
    x11::setNetWmStates(windowHandle(), {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY"});
}

void MyPanel::setBypassesWindowManager(bool bypass) {
    _bypassesWindowManager = bypass;
    // Still a utility window by type: compositors that would focus an
    // override-redirect window leave those alone.
    setWindowFlag(Qt::BypassWindowManagerHint, bypass);
}

void MyPanel::miniaturize() {
    if (!_bypassesWindowManager) {
        showMinimized();
        return;
    }
    _hiddenAsMiniaturized = true;
    hide();
}

void MyPanel::deminiaturize() {
    if (!_bypassesWindowManager) {
        if (isMinimized())
            showNormal();
        return;
    }
    if (!_hiddenAsMiniaturized)
        return;
    _hiddenAsMiniaturized = false;
    show();
    emit deminiaturized();
}

bool MyPanel::isMiniaturized() const {
    return _bypassesWindowManager ? _hiddenAsMiniaturized : isMinimized();
}

void MyPanel::paintEvent(QPaintEvent*) {
    if (!_framePainted) {
        _framePainted = true;
        // Queued: it runs once this paint, the keys' and the flush are done.
        QMetaObject::invokeMethod(this, &MyPanel::firstFramePainted, Qt::QueuedConnection);
    }
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

QSize MyPanel::sizeForWidth(int width) const {
    if (_aspect.isEmpty())
        return {width, height()};
    return {width, titleBarHeight() + qRound(width * _aspect.height() / _aspect.width())};
}

QSize MyPanel::sizeForHeight(int height) const {
    if (_aspect.isEmpty())
        return {width(), height};
    return {qRound((height - titleBarHeight()) * _aspect.width() / _aspect.height()), height};
}

QRect MyPanel::availableArea(const QRect& frame) const {
    const QScreen* on = QGuiApplication::screenAt(frame.center());
    if (!on)
        on = screen();
    return on ? on->availableGeometry() : QRect();
}

QRect MyPanel::fittedFrame(const QRect& frame, bool heightLeads) const {
    if (_aspect.isEmpty())
        return frame;
    QSize size = heightLeads ? sizeForHeight(frame.height()) : sizeForWidth(frame.width());
    if (size.width() < kMinimumContentWidth)
        size = sizeForWidth(kMinimumContentWidth);
    const QRect area = availableArea(frame);
    if (!area.isEmpty() && size.width() > area.width())
        size = sizeForWidth(area.width());
    if (!area.isEmpty() && size.height() > area.height())
        size = sizeForHeight(area.height());
    return keptOnScreen(QRect(frame.topLeft(), size));
}

bool MyPanel::heightLeads(QSize from, QSize to) {
    const qreal across = qAbs(to.width() - from.width()) / qreal(qMax(1, from.width()));
    const qreal down =
        qAbs(to.height() - from.height()) / qreal(qMax(1, from.height() - titleBarHeight()));
    return down > across;
}

QRect MyPanel::keptOnScreen(const QRect& frame) const {
    const QRect area = availableArea(frame);
    if (area.isEmpty())
        return frame;
    const int left =
        std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width()));
    const int top = std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height()));
    return {QPoint(left, top), frame.size()};
}

void MyPanel::beginInteractiveResize() {
    if (!x11::isX11())
        return;
    _interactive = true;
    _releaseWatch.start();
}

void MyPanel::_keepProportions() {
    _fitPending = false;
    if (_interactive)
        return;
    if (_settledSize.isValid())
        _heightLeads = heightLeads(_settledSize, size());
    const QRect frame = geometry();
    const QRect fitted = fittedFrame(frame, _heightLeads);
    // A pixel of rounding either way is not worth another round with the
    // window manager.
    if (qAbs(fitted.width() - frame.width()) > 1 || qAbs(fitted.height() - frame.height()) > 1) {
        // Only what must change: a position set again can come back a pixel
        // off through the window manager's border bookkeeping.
        if (fitted.topLeft() == frame.topLeft())
            resize(fitted.size());
        else
            setGeometry(fitted);
        return;
    }
    _settledSize = frame.size();
    // Placed by the size it has, not by the rounded one it would be given.
    const QRect placed = keptOnScreen(frame);
    if (placed.topLeft() != frame.topLeft())
        move(placed.topLeft());
}

void MyPanel::resizeEvent(QResizeEvent* event) {
    // The keys keep their proportions. The edge the user moved leads: the
    // dimension that changed more since the last proportional size, relative
    // to its length, decides the other (_keepProportions). Measured from that
    // size, not from the previous event, so our own corrections never take
    // the lead back.
    if (!_aspect.isEmpty() && !_interactive) {
        const QSize old = event->oldSize();
        if (!_settledSize.isValid() && old.width() > 0 && old.height() > titleBarHeight())
            _heightLeads = heightLeads(old, size());
        if (!_fitPending) {
            _fitPending = true;
            QTimer::singleShot(0, this, &MyPanel::_keepProportions);
        }
        // A window manager may set a correction aside: look again once the
        // size holds still.
        _fitCheck.start();
    }
    const int strip = titleBarHeight();
    _titleStrip->setGeometry(0, 0, width(), strip);
    _contentView->setGeometry(0, strip, width(), height() - strip);
    if (_keyboardView)
        _keyboardView->setGeometry(_contentView->rect());
    _resizeGrip->move(width() - _resizeGrip->width(), height() - _resizeGrip->height());
    _resizeGrip->raise();
    QWidget::resizeEvent(event);
    emit frameChanged();
}

ResizeGrip::ResizeGrip(QWidget* parent) : QWidget(parent) {
    setFixedSize(12, 12);
    setCursor(Qt::SizeFDiagCursor);
    setFocusPolicy(Qt::NoFocus);
}

void ResizeGrip::mousePressEvent(QMouseEvent* event) {
    auto* panel = qobject_cast<MyPanel*>(window());
    if (event->button() == Qt::LeftButton && panel && panel->bypassesWindowManager()) {
        _resizing = true;
        _pressPosition = event->globalPosition().toPoint();
        _pressSize = panel->size();
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton && window()->windowHandle()) {
        if (window()->windowHandle()->startSystemResize(Qt::BottomEdge | Qt::RightEdge))
            if (auto* panel = qobject_cast<MyPanel*>(window()))
                panel->beginInteractiveResize();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void ResizeGrip::mouseMoveEvent(QMouseEvent* event) {
    auto* panel = qobject_cast<MyPanel*>(window());
    if (!_resizing || !panel || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint moved = event->globalPosition().toPoint() - _pressPosition;
    const QSize wanted(_pressSize.width() + moved.x(), _pressSize.height() + moved.y());
    // The edge moved further leads, as in the manager's resize.
    const QRect fitted =
        panel->fittedFrame(QRect(panel->pos(), wanted), MyPanel::heightLeads(_pressSize, wanted));
    if (fitted.size() != panel->size())
        panel->resize(fitted.size());
    event->accept();
}

void ResizeGrip::mouseReleaseEvent(QMouseEvent* event) {
    _resizing = false;
    QWidget::mouseReleaseEvent(event);
}

void ResizeGrip::wheelEvent(QWheelEvent* event) {
    auto* panel = qobject_cast<MyPanel*>(window());
    if (!panel) {
        QWidget::wheelEvent(event);
        return;
    }
    // Touchpads and smooth wheels send parts of a notch: count them up.
    _wheelTravel += event->angleDelta().y();
    const int notches = _wheelTravel / 120;
    _wheelTravel -= notches * 120;
    event->accept();
    if (notches == 0)
        return;
    // A twentieth of the width a notch. The corner under the pointer stays
    // put, so the next notch lands on the grip again.
    const QRect old = panel->geometry();
    const int wanted = old.width() + notches * qMax(1, old.width() / 20);
    const QSize size =
        panel->fittedFrame(QRect(old.topLeft(), panel->sizeForWidth(wanted)), false).size();
    QRect frame(QPoint(), size);
    frame.moveBottomRight(old.bottomRight());
    frame = panel->keptOnScreen(frame);
    if (frame != old)
        panel->setGeometry(frame);
}

void ResizeGrip::paintEvent(QPaintEvent*) {
    // Three short diagonal ridges, as resize corners have long looked.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 3; ++i) {
        const qreal o = 3.5 + i * 3.0;
        p.setPen(QPen(QColor(255, 255, 255, 150), 1.0));
        p.drawLine(QPointF(width() - 1, o + 1), QPointF(o + 1, height() - 1));
        p.setPen(QPen(QColor(0, 0, 0, 90), 1.0));
        p.drawLine(QPointF(width() - 1, o), QPointF(o, height() - 1));
    }
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
    if (!isMiniaturized())
        emit pointerExited();
}

} // namespace orvix
