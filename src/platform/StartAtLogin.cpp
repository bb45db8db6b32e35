#include "platform/StartAtLogin.h"

#include "os/Bundle.h"
#include "platform/LoginItems.h"

#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace orvix {

StartAtLogin::StartAtLogin(QString bundlePath, QObject* parent)
    : QObject(parent), _bundlePath(std::move(bundlePath)) {
    if (_bundlePath.isEmpty())
        _bundlePath = Bundle::mainBundle().bundlePath();
    openTarget = [](const LoginItemsTarget& target) {
        if (!target.program.isEmpty())
            return QProcess::startDetached(target.program, target.arguments);
        QDir().mkpath(target.folder);
        return QDesktopServices::openUrl(QUrl::fromLocalFile(target.folder));
    };
}

void StartAtLogin::setStartAtLogin(bool on) {
    emit startAtLoginWillChange();
    if (on)
        LoginItems::addBundle(_bundlePath);
    else
        LoginItems::removeBundle(_bundlePath);
    // The request is mirrored whatever the list operations achieved.
    _startAtLogin = on;
    emit startAtLoginChanged(_startAtLogin);
}

void StartAtLogin::readAtLaunch() {
    emit startAtLoginWillChange();
    _startAtLogin = false;
    if (LoginItems::isLoginItem(_bundlePath))
        _startAtLogin = true;
    emit startAtLoginChanged(_startAtLogin);
}

void StartAtLogin::showLoginItems(QObject*) {
    QMetaObject::invokeMethod(this, &StartAtLogin::_showLoginItems, Qt::QueuedConnection);
}

void StartAtLogin::_showLoginItems() {
    const LoginItemsTarget target = loginItemsTarget(
        qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
        [](const QString& program) { return !QStandardPaths::findExecutable(program).isEmpty(); },
        LoginItems::autostartFolder());
    if (openTarget)
        openTarget(target); // failures are silent, like the rest of this action
}

LoginItemsTarget
StartAtLogin::loginItemsTarget(const QString& currentDesktop,
                               const std::function<bool(const QString&)>& isInstalled,
                               const QString& autostartFolder) {
    struct Candidate {
        const char* desktop;
        const char* program;
        QStringList arguments;
    };
    // The desktop's own start-up programs settings, most specific first.
    const Candidate candidates[] = {
        {"KDE", "systemsettings", {QStringLiteral("kcm_autostart")}},
        {"KDE", "systemsettings5", {QStringLiteral("kcm_autostart")}},
        {"XFCE", "xfce4-session-settings", {}},
        {"MATE", "mate-session-properties", {}},
        {"X-Cinnamon", "cinnamon-settings", {QStringLiteral("startup")}},
        {"LXQt", "lxqt-config-session", {}},
        {"Budgie", "gnome-session-properties", {}},
        {"GNOME", "gnome-session-properties", {}},
        {"GNOME", "gnome-tweaks", {}},
        {"Unity", "gnome-session-properties", {}},
    };
    // XDG_CURRENT_DESKTOP is a colon-separated list, checked in its order.
    for (const QString& desktop : currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        for (const Candidate& c : candidates) {
            if (desktop.compare(QLatin1String(c.desktop), Qt::CaseInsensitive) != 0)
                continue;
            const QString program = QString::fromLatin1(c.program);
            if (isInstalled && isInstalled(program))
                return {program, c.arguments, autostartFolder};
        }
    }
    return {{}, {}, autostartFolder};
}

} // namespace orvix
