#pragma once

#include "platform/Alert.h"
#include "platform/AppAdditions.h"
#include "platform/InputAccess.h"

#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>

class QMessageBox;
class QTimer;

namespace orvix {

// The situations that have a help page of their own.
enum class AccessHelpPage {
    Yosemite,
    Mavericks,
    MountainLion,
    Lion,
    SnowLeopard,
    Leopard,
    General,
    X11Display,
    X11Xtest,
    X11XInput2,
    Uinput,
    Keyboards,
    Wayland,
};

// Without the right to post and watch input the program cannot work: this
// checks for it, and when it is missing hides the panel, explains what is
// missing and quits.
class UniversalAccess : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // What the active input backend lacks (None when it can post and watch).
        std::function<InputAccessLack()> probe;
        std::function<void()> hidePanel;
        std::function<void()> activate;
        AlertRunner runAlert = runAlertModally;
        std::function<bool(const QUrl&)> openUrl; // default: the desktop's browser
        std::function<void()> terminate;          // default: queued exit of the application
    };

    explicit UniversalAccess(Hooks hooks, QObject* parent = nullptr);

    // Checks once; a timer that fired the check is stopped when access is missing.
    void _checkUniversalAccess(QTimer* timer);
    // The launch check followed by the repeating one (every 30 seconds).
    QTimer* scheduleRepeatingCheck(int intervalMs = 30000);
    void _showUniversalAccessDialog(InputAccessLack lack);

    std::unique_ptr<QMessageBox> buildAlert(InputAccessLack lack) const;
    // Tells the user, without quitting, what the working backend still
    // cannot do on this session; the help button shows how to lift it.
    void showInputLimitation(InputLimitation limitation);
    std::unique_ptr<QMessageBox> buildLimitationAlert(InputLimitation limitation) const;
    static QString informativeTextForLimitation(InputLimitation limitation,
                                                const QString& applicationName);

    // The help button's action: opens the page and leaves the alert up.
    bool alertShowHelp(QMessageBox* alert);

    // The rules of the macOS build, by system version.
    static QString informativeTextForSystem(const QString& applicationName);
    static AccessHelpPage helpPageForSystem();
    // What the Linux alert says and shows for a backend's lack.
    static QString informativeTextForLack(InputAccessLack lack, const QString& applicationName);
    static AccessHelpPage helpPageForLack(InputAccessLack lack);
    static QUrl helpPageUrl(AccessHelpPage page);

private:
    // Stores the help page the alert's help button opens.
    std::unique_ptr<QMessageBox> withHelp(std::unique_ptr<QMessageBox> box, const QUrl& page) const;

    Hooks _hooks;
};

} // namespace orvix
