#include "platform/UniversalAccess.h"

#include "BuildInfo.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

namespace orvix {

namespace {

constexpr const char* kHelpAnchorProperty = "orvixHelpAnchor";

QString fill(QString format, const QString& name) {
    return format.replace(QStringLiteral("%1"), name);
}

} // namespace

UniversalAccess::UniversalAccess(Hooks hooks, QObject* parent)
    : QObject(parent), _hooks(std::move(hooks)) {
    if (!_hooks.runAlert)
        _hooks.runAlert = runAlertModally;
    if (!_hooks.openUrl)
        _hooks.openUrl = [](const QUrl& url) {
            return QDesktopServices::openUrl(url);
        };
    if (!_hooks.terminate)
        _hooks.terminate = [] {
            // Queued, so whatever the caller does after the check still runs first.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { QCoreApplication::exit(0); },
                Qt::QueuedConnection);
        };
}

void UniversalAccess::_checkUniversalAccess(QTimer* timer) {
    const InputAccessLack lack = _hooks.probe ? _hooks.probe() : InputAccessLack::Nothing;
    if (lack == InputAccessLack::Nothing)
        return;
    if (timer)
        timer->stop();
    if (QThread::currentThread() == thread())
        _showUniversalAccessDialog(lack);
    else
        QMetaObject::invokeMethod(
            this, [this, lack] { _showUniversalAccessDialog(lack); }, Qt::BlockingQueuedConnection);
}

QTimer* UniversalAccess::scheduleRepeatingCheck(int intervalMs) {
    auto* timer = new QTimer(this);
    timer->setInterval(intervalMs);
    connect(timer, &QTimer::timeout, this, [this, timer] { _checkUniversalAccess(timer); });
    timer->start();
    return timer;
}

void UniversalAccess::_showUniversalAccessDialog(InputAccessLack lack) {
    if (_hooks.hidePanel)
        _hooks.hidePanel();
    if (_hooks.activate)
        _hooks.activate();
    std::unique_ptr<QMessageBox> alert = buildAlert(lack);
    const AlertResult result = _hooks.runAlert(*alert);
    if (result.answer == AlertAnswer::First)
        _hooks.openUrl(helpPageUrl(helpPageForLack(lack)));
    _hooks.terminate();
}

std::unique_ptr<QMessageBox> UniversalAccess::buildAlert(InputAccessLack lack) const {
    AlertContent content;
    content.messageText = QStringLiteral("Accessibility Required");
    content.informativeText = informativeTextForLack(lack, AppAdditions::applicationName());
    content.firstButton = QStringLiteral("Open Help and Quit");
    content.secondButton = QStringLiteral("Quit");
    content.style = AlertStyle::Critical;
    content.showsHelp = true;
    return withHelp(makeAlert(content), helpPageUrl(helpPageForLack(lack)));
}

void UniversalAccess::showInputLimitation(InputLimitation limitation) {
    if (limitation == InputLimitation::None)
        return;
    std::unique_ptr<QMessageBox> alert = buildLimitationAlert(limitation);
    if (_hooks.runAlert(*alert).answer == AlertAnswer::First)
        _hooks.openUrl(helpPageUrl(AccessHelpPage::Wayland));
}

std::unique_ptr<QMessageBox>
UniversalAccess::buildLimitationAlert(InputLimitation limitation) const {
    AlertContent content;
    content.messageText = QStringLiteral("Accessibility Limited");
    content.informativeText =
        informativeTextForLimitation(limitation, AppAdditions::applicationName());
    content.firstButton = QStringLiteral("Open Help");
    content.secondButton = QStringLiteral("Continue");
    content.style = AlertStyle::Warning;
    content.showsHelp = true;
    return withHelp(makeAlert(content), helpPageUrl(AccessHelpPage::Wayland));
}

std::unique_ptr<QMessageBox> UniversalAccess::withHelp(std::unique_ptr<QMessageBox> box,
                                                       const QUrl& page) const {
    box->setProperty(kHelpAnchorProperty, page);

    // The help button shows the page and leaves the alert up, so it must not
    // reach the box's own handling, which would close it.
    if (QAbstractButton* help = alertHelpButton(*box)) {
        QObject::disconnect(help, &QAbstractButton::clicked, nullptr, nullptr);
        QMessageBox* raw = box.get();
        auto* self = const_cast<UniversalAccess*>(this);
        QObject::connect(help, &QAbstractButton::clicked, raw,
                         [self, raw] { self->alertShowHelp(raw); });
    }
    return box;
}

bool UniversalAccess::alertShowHelp(QMessageBox* alert) {
    const QUrl url = alert ? alert->property(kHelpAnchorProperty).toUrl() : QUrl();
    if (url.isValid() && !url.isRelative())
        _hooks.openUrl(url);
    return true;
}

QString UniversalAccess::informativeTextForSystem(const QString& applicationName) {
    if (AppAdditions::systemIsMavericksOrHigher())
        return fill(QStringLiteral("%1 uses the Accessibility feature in Mac OS X, which is "
                                   "currently restricted.\n\nPlease grant access to %1 in System "
                                   "Preferences > Security & Privacy > Privacy tab > "
                                   "Accessibility, then restart %1.\n\nClick the Help button for "
                                   "more information."),
                    applicationName);
    if (AppAdditions::systemIsMountainLion())
        return fill(QStringLiteral("%1 uses the Accessibility feature in Mac OS X, which is "
                                   "currently disabled.\n\nPlease enable Accessibility by "
                                   "selecting the checkbox \"Enable access for assistive "
                                   "devices\" in the Accessibility pane of System Preferences, "
                                   "then restart %1.\n\nClick the Help button for more "
                                   "information."),
                    applicationName);
    return fill(QStringLiteral("%1 uses the Accessibility feature in Mac OS X, which is currently "
                               "disabled.\n\nPlease enable Accessibility by selecting the "
                               "checkbox \"Enable access for assistive devices\" in the Universal "
                               "Access pane of System Preferences, then restart %1.\n\nClick the "
                               "Help button for more information."),
                applicationName);
}

AccessHelpPage UniversalAccess::helpPageForSystem() {
    if (AppAdditions::systemIsYosemite())
        return AccessHelpPage::Yosemite;
    if (AppAdditions::systemIsMavericks())
        return AccessHelpPage::Mavericks;
    if (AppAdditions::systemIsMountainLion())
        return AccessHelpPage::MountainLion;
    if (AppAdditions::systemIsLion())
        return AccessHelpPage::Lion;
    if (AppAdditions::systemIsSnowLeopard())
        return AccessHelpPage::SnowLeopard;
    if (AppAdditions::systemIsLeopard())
        return AccessHelpPage::Leopard;
    return AccessHelpPage::General;
}

QString UniversalAccess::informativeTextForLack(InputAccessLack lack,
                                                const QString& applicationName) {
    switch (lack) {
    case InputAccessLack::X11Display:
        return fill(QStringLiteral("%1 uses the X11 display to type and to watch the keyboard, "
                                   "which is currently unavailable.\n\nPlease start %1 in an X11 "
                                   "session (the DISPLAY variable names the display), then "
                                   "restart %1.\n\nClick the Help button for more information."),
                    applicationName);
    case InputAccessLack::X11Xtest:
        return fill(QStringLiteral("%1 uses the XTEST extension of the X server, which is "
                                   "currently disabled.\n\nPlease enable the XTEST extension in "
                                   "the configuration of your X server, then restart %1.\n\nClick "
                                   "the Help button for more information."),
                    applicationName);
    case InputAccessLack::X11XInput2:
        return fill(QStringLiteral("%1 uses the XInput 2 extension of the X server, which is "
                                   "currently disabled.\n\nPlease enable the XInput extension "
                                   "(version 2.0 or later) in the configuration of your X server, "
                                   "then restart %1.\n\nClick the Help button for more "
                                   "information."),
                    applicationName);
    case InputAccessLack::UinputNotWritable:
        return fill(QStringLiteral("%1 uses the uinput device of the Linux kernel, which is "
                                   "currently restricted.\n\nPlease grant write access to "
                                   "/dev/uinput to %1, for example with a udev rule for the input "
                                   "group, then restart %1.\n\nClick the Help button for more "
                                   "information."),
                    applicationName);
    case InputAccessLack::KeyboardsNotReadable:
        return fill(QStringLiteral("%1 reads the keyboard devices of the Linux kernel, which are "
                                   "currently restricted.\n\nPlease grant access to %1 by adding "
                                   "your user to the input group, log in again, then restart "
                                   "%1.\n\nClick the Help button for more information."),
                    applicationName);
    case InputAccessLack::WaylandVirtualKeyboard:
        return fill(QStringLiteral("%1 uses the virtual keyboard of the Wayland compositor, which "
                                   "this compositor does not offer.\n\nPlease set the input "
                                   "backend to \"auto\", then restart %1.\n\nClick the Help "
                                   "button for more information."),
                    applicationName);
    case InputAccessLack::Nothing:
        break;
    }
    return {};
}

QString UniversalAccess::informativeTextForLimitation(InputLimitation limitation,
                                                      const QString& applicationName) {
    switch (limitation) {
    case InputLimitation::WaylandWithoutWatching:
        return fill(QStringLiteral("%1 types through the virtual keyboard of the Wayland "
                                   "compositor, but it watches the keyboard through the input "
                                   "devices of the Linux kernel, which are currently restricted. "
                                   "Real key presses do not light the keys, and latched "
                                   "modifiers do not reach them.\n\nPlease grant access to %1 "
                                   "by adding your user to the input group, log in again, then "
                                   "restart %1.\n\nClick the Help button for more information."),
                    applicationName);
    case InputLimitation::WaylandX11Only:
        return fill(QStringLiteral("%1 uses the input devices of the Linux kernel on Wayland, "
                                   "which are currently restricted, and this compositor offers no "
                                   "virtual keyboard. %1 types into X11 applications only, and "
                                   "real key presses do not light the keys.\n\nPlease grant "
                                   "access to %1 by adding your user to the input group, log in "
                                   "again, then restart %1.\n\nClick the Help button for more "
                                   "information."),
                    applicationName);
    case InputLimitation::None:
        break;
    }
    return {};
}

AccessHelpPage UniversalAccess::helpPageForLack(InputAccessLack lack) {
    switch (lack) {
    case InputAccessLack::X11Display:
        return AccessHelpPage::X11Display;
    case InputAccessLack::X11Xtest:
        return AccessHelpPage::X11Xtest;
    case InputAccessLack::X11XInput2:
        return AccessHelpPage::X11XInput2;
    case InputAccessLack::UinputNotWritable:
        return AccessHelpPage::Uinput;
    case InputAccessLack::KeyboardsNotReadable:
        return AccessHelpPage::Keyboards;
    case InputAccessLack::WaylandVirtualKeyboard:
        return AccessHelpPage::Wayland;
    case InputAccessLack::Nothing:
        break;
    }
    return AccessHelpPage::General;
}

QUrl UniversalAccess::helpPageUrl(AccessHelpPage page) {
    const char* name = "accessibility";
    switch (page) {
    case AccessHelpPage::Yosemite:
        name = "accessibility-macos-10.10";
        break;
    case AccessHelpPage::Mavericks:
        name = "accessibility-macos-10.9";
        break;
    case AccessHelpPage::MountainLion:
        name = "accessibility-macos-10.8";
        break;
    case AccessHelpPage::Lion:
        name = "accessibility-macos-10.7";
        break;
    case AccessHelpPage::SnowLeopard:
        name = "accessibility-macos-10.6";
        break;
    case AccessHelpPage::Leopard:
        name = "accessibility-macos-10.5";
        break;
    case AccessHelpPage::General:
        name = "accessibility";
        break;
    case AccessHelpPage::X11Display:
        name = "accessibility-x11-display";
        break;
    case AccessHelpPage::X11Xtest:
        name = "accessibility-x11-xtest";
        break;
    case AccessHelpPage::X11XInput2:
        name = "accessibility-x11-xinput2";
        break;
    case AccessHelpPage::Uinput:
        name = "accessibility-uinput";
        break;
    case AccessHelpPage::Keyboards:
        name = "accessibility-input-group";
        break;
    case AccessHelpPage::Wayland:
        name = "accessibility-wayland";
        break;
    }
    return QUrl(QStringLiteral("https://%1/help/%2.html")
                    .arg(QString::fromUtf8(buildinfo::kSupportMailDomain), QLatin1String(name)));
}

} // namespace orvix
