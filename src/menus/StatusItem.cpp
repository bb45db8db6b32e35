#include "menus/StatusItem.h"

#include "os/Bundle.h"
#include "os/X11Window.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

namespace orvix {

StatusItem::StatusItem(QObject* parent) : QObject(parent) {}

StatusItem::~StatusItem() {
    if (_tray)
        _tray->hide();
}

void StatusItem::appear() {
    if (_tray)
        return;
    _tray = new QSystemTrayIcon(this);
    _tray->setToolTip(Bundle::name());
    const QPalette palette = QGuiApplication::palette();
    _tray->setIcon(menubarIcon(_highlighted ? palette.color(QPalette::Highlight)
                                            : palette.color(QPalette::WindowText)));
    connect(
        _tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            handleActivation(reason, QGuiApplication::queryKeyboardModifiers(), x11::capsLockOn());
        });
    _tray->show();
}

bool StatusItem::isVisible() const {
    return _tray && _tray->isVisible();
}

StatusItem::ClickAction StatusItem::actionForClick(Qt::KeyboardModifiers modifiers,
                                                   bool capsLockOn) {
    // Control alone: with any other modifier, or Caps Lock on, it is a plain click.
    const Qt::KeyboardModifiers relevant =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (relevant == Qt::ControlModifier && !capsLockOn)
        return ClickAction::ShowMenu;
    return ClickAction::Toggle;
}

void StatusItem::handleActivation(QSystemTrayIcon::ActivationReason reason,
                                  Qt::KeyboardModifiers modifiers, bool capsLockOn) {
    switch (reason) {
    case QSystemTrayIcon::Context:
        emit showStatusItemMenu(QCursor::pos());
        break;
    case QSystemTrayIcon::Trigger:
        if (actionForClick(modifiers, capsLockOn) == ClickAction::ShowMenu)
            emit showStatusItemMenu(QCursor::pos());
        else
            emit menuItemClicked();
        break;
    default:
        break;
    }
}

void StatusItem::setHighlighted(bool highlighted) {
    if (highlighted == _highlighted)
        return;
    _highlighted = highlighted;
    if (!_tray)
        return;
    const QPalette palette = QGuiApplication::palette();
    _tray->setIcon(menubarIcon(highlighted ? palette.color(QPalette::Highlight)
                                           : palette.color(QPalette::WindowText)));
}

QIcon StatusItem::menubarIcon(const QColor& foreground) {
    QIcon icon;
    const QString path =
        Bundle::mainBundle().pathForResource(QStringLiteral("menubar"), QStringLiteral("svg"));
    QSvgRenderer renderer;
    if (!path.isEmpty())
        renderer.load(path);
    for (int size : {16, 22, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        if (renderer.isValid()) {
            // A template image: only its shape counts, the colour is ours.
            renderer.render(&painter);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), foreground);
        } else {
            painter.setPen(QPen(foreground, size / 10.0));
            painter.drawRoundedRect(QRectF(1, size * 0.25, size - 2, size * 0.5), 2, 2);
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace orvix
