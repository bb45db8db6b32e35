#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>

class QMenu;

namespace orvix {

// The program's icon in the system tray (StatusNotifierItem where the desktop
// has a host for it, the XEmbed tray otherwise). A plain click hides or shows
// the application; a right click, or a click with Control alone held, opens
// the gear menu.
class StatusItem : public QObject {
    Q_OBJECT
public:
    explicit StatusItem(QObject* parent = nullptr);
    ~StatusItem() override;

    // Puts the icon in the tray. Registering with the tray host costs a
    // session-bus connection and a blocking call, so the program does it once
    // its panel is on screen rather than in the item's constructor.
    void appear();

    // What a click does, decided from the modifier keys held during it.
    enum class ClickAction { Toggle, ShowMenu };
    static ClickAction actionForClick(Qt::KeyboardModifiers modifiers, bool capsLockOn);

    // The "menubar" image drawn in the tray's foreground colour, so it reads
    // on light and dark panels alike.
    static QIcon menubarIcon(const QColor& foreground);

    bool isVisible() const;
    QSystemTrayIcon* trayIcon() const { return _tray; }
    // Highlighted while the gear menu is open from the tray, where the tray
    // can show it (our icon is drawn emphasised).
    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return _highlighted; }

    // Handles one activation of the tray icon; public for tests.
    void handleActivation(QSystemTrayIcon::ActivationReason reason, Qt::KeyboardModifiers modifiers,
                          bool capsLockOn);

signals:
    void menuItemClicked();
    void showStatusItemMenu(QPoint at);

private:
    QSystemTrayIcon* _tray = nullptr;
    bool _highlighted = false;
};

} // namespace orvix
