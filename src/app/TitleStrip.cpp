#include "app/TitleStrip.h"

#include "app/MyPanel.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QWindow>
#include <cmath>

namespace orvix {
namespace {
constexpr int kButton = 14;
constexpr int kMargin = 6;
constexpr int kSpacing = 6;
constexpr int kFadeMs = 250;

QPainterPath gearPath(QRectF box) {
    const QPointF c = box.center();
    const double outer = box.width() * 0.46;
    const double inner = box.width() * 0.33;
    QPainterPath teeth;
    constexpr int kTeeth = 8;
    for (int i = 0; i < kTeeth * 2; ++i) {
        const double r = (i % 2 == 0) ? outer : inner;
        const double a0 = (i - 0.5) * M_PI / kTeeth;
        const double a1 = (i + 0.5) * M_PI / kTeeth;
        const QPointF p0(c.x() + r * std::cos(a0), c.y() + r * std::sin(a0));
        const QPointF p1(c.x() + r * std::cos(a1), c.y() + r * std::sin(a1));
        if (i == 0)
            teeth.moveTo(p0);
        else
            teeth.lineTo(p0);
        teeth.lineTo(p1);
    }
    teeth.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, box.width() * 0.14, box.width() * 0.14);
    return teeth.subtracted(hole);
}
} // namespace

TitleButton::TitleButton(Kind kind, QWidget* parent) : QAbstractButton(parent), _kind(kind) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setFixedSize(kButton, kButton);
    setAttribute(Qt::WA_Hover);
}

void TitleButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    const bool hot = underMouse() || isDown();
    switch (_kind) {
    case Kind::Close:
    case Kind::Miniaturize: {
        const QColor base =
            _kind == Kind::Close ? QColor(0xfc, 0x5f, 0x57) : QColor(0xfe, 0xbc, 0x2e);
        p.setPen(QPen(base.darker(140), 0.8));
        p.setBrush(isDown() ? base.darker(120) : base);
        p.drawEllipse(box);
        if (hot) {
            p.setPen(QPen(QColor(0, 0, 0, 150), 1.3, Qt::SolidLine, Qt::RoundCap));
            const QPointF c = box.center();
            if (_kind == Kind::Close) {
                p.drawLine(c + QPointF(-3, -3), c + QPointF(3, 3));
                p.drawLine(c + QPointF(-3, 3), c + QPointF(3, -3));
            } else {
                p.drawLine(c + QPointF(-3.5, 0), c + QPointF(3.5, 0));
            }
        }
        break;
    }
    case Kind::Gear:
        p.setPen(Qt::NoPen);
        p.setBrush(isDown() ? QColor(30, 30, 30) : QColor(70, 70, 74, hot ? 255 : 210));
        p.drawPath(gearPath(box));
        break;
    case Kind::Update: {
        // A download arrow in a green disc: "a new version is ready".
        p.setPen(QPen(QColor(0x1e, 0x8e, 0x3e).darker(130), 0.8));
        p.setBrush(isDown() ? QColor(0x1e, 0x8e, 0x3e).darker(120) : QColor(0x34, 0xc7, 0x59));
        p.drawEllipse(box);
        p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF c = box.center();
        p.drawLine(c + QPointF(0, -3.5), c + QPointF(0, 3));
        p.drawLine(c + QPointF(-3, 0.5), c + QPointF(0, 3.5));
        p.drawLine(c + QPointF(3, 0.5), c + QPointF(0, 3.5));
        break;
    }
    }
}

TitleStrip::TitleStrip(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    _close = new TitleButton(TitleButton::Kind::Close, this);
    _close->setToolTip(tr("Close"));
    _miniaturize = new TitleButton(TitleButton::Kind::Miniaturize, this);
    _miniaturize->setToolTip(tr("Minimise"));
    _gear = new TitleButton(TitleButton::Kind::Gear, this);
    _gear->setToolTip(tr("Settings"));
    _update = new TitleButton(TitleButton::Kind::Update, this);
    _update->setToolTip(tr("Update available"));
    _update->hide(); // shown only when an update is found

    connect(_close, &QAbstractButton::clicked, this, &TitleStrip::closeClicked);
    connect(_miniaturize, &QAbstractButton::clicked, this, &TitleStrip::miniaturizeClicked);
    connect(_gear, &QAbstractButton::clicked, this, &TitleStrip::gearClicked);
    connect(_update, &QAbstractButton::clicked, this, &TitleStrip::updateClicked);

    // The pointer is assumed to start inside, so the controls show at launch
    // and fade at the first exit.
    for (QWidget* control : titleBarControls()) {
        auto* effect = new QGraphicsOpacityEffect(control);
        effect->setOpacity(1.0);
        control->setGraphicsEffect(effect);
        _effects << effect;
    }
}

QList<QWidget*> TitleStrip::titleBarControls() const {
    return {_close, _miniaturize, _gear, _update};
}

double TitleStrip::controlsOpacity() const {
    return _effects.isEmpty() ? 1.0 : _effects.first()->opacity();
}

void TitleStrip::fadeControls(double opacity) {
    for (QGraphicsOpacityEffect* effect : _effects) {
        auto* animation = new QPropertyAnimation(effect, "opacity", effect);
        animation->setDuration(kFadeMs);
        animation->setEndValue(opacity);
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void TitleStrip::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    fadeControls(1.0);
}

void TitleStrip::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    fadeControls(0.0);
}

void TitleStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        _pressPosition = event->globalPosition().toPoint();
        _pressed = true;
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void TitleStrip::mouseMoveEvent(QMouseEvent* event) {
    // The window manager takes the move over only once the pointer really
    // drags: handed a plain click, it would stay in its move mode after the
    // button is already up, holding the pointer and the keyboard.
    if (_pressed && (event->buttons() & Qt::LeftButton) &&
        (event->globalPosition().toPoint() - _pressPosition).manhattanLength() >=
            QApplication::startDragDistance()) {
        _pressed = false;
        auto* panel = qobject_cast<MyPanel*>(window());
        if (panel && panel->bypassesWindowManager())
            _dragOffset = _pressPosition - window()->pos();
        else if (QWindow* handle = window()->windowHandle())
            handle->startSystemMove();
    }
    // No manager to move the panel: it follows the pointer itself.
    if (_dragOffset && (event->buttons() & Qt::LeftButton))
        window()->move(event->globalPosition().toPoint() - *_dragOffset);
    event->accept();
}

void TitleStrip::mouseReleaseEvent(QMouseEvent* event) {
    _pressed = false;
    _dragOffset.reset();
    QWidget::mouseReleaseEvent(event);
}

void TitleStrip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int y = (height() - kButton) / 2;
    _close->move(kMargin, y);
    _miniaturize->move(kMargin + kButton + kSpacing, y);
    // The extras sit with their top-right corner at the strip's top-right corner.
    _gear->move(width() - kMargin - kButton, y);
    _update->move(width() - kMargin - 2 * kButton - kSpacing, y);
}

} // namespace orvix
