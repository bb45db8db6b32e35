#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace orvix {

// What opens the desktop's list of start-up programs: a settings program
// with its arguments, or, where none is known, the autostart folder itself.
struct LoginItemsTarget {
    QString program; // empty: open folder
    QStringList arguments;
    QString folder;
};

// The start-at-login state the controller exposes. The truth is the user's
// autostart entries; the property mirrors the last value read or requested.
class StartAtLogin : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool startAtLogin READ startAtLogin WRITE setStartAtLogin NOTIFY startAtLoginChanged)
public:
    // bundlePath: the file the user launched (default: the main bundle's).
    explicit StartAtLogin(QString bundlePath = {}, QObject* parent = nullptr);

    bool startAtLogin() const { return _startAtLogin; }
    void setStartAtLogin(bool on);
    // The launch read: no, then yes when an entry refers to the bundle.
    void readAtLaunch();

    // Defers the opening to a later pass of the event loop.
    void showLoginItems(QObject* sender = nullptr);
    void _showLoginItems();

    // XDG_CURRENT_DESKTOP decides; isInstalled answers whether a program is on PATH.
    static LoginItemsTarget loginItemsTarget(const QString& currentDesktop,
                                             const std::function<bool(const QString&)>& isInstalled,
                                             const QString& autostartFolder);

    // How the target is opened; replaceable so the choice can be observed.
    std::function<bool(const LoginItemsTarget&)> openTarget;

signals:
    void startAtLoginWillChange();
    void startAtLoginChanged(bool startAtLogin);

private:
    QString _bundlePath;
    bool _startAtLogin = false;
};

} // namespace orvix
