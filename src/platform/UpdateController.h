#pragma once

#include "platform/SUUpdater.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;

namespace orvix {

class SettingsStore;

// The controller's side of update checks: answers the updater, shows and
// hides the update button, opens the release page when it is clicked, and
// builds the profile sent with a feed request.
class UpdateController : public QObject, public SUUpdaterDelegate {
    Q_OBJECT
public:
    struct Sources {
        SettingsStore* settings = nullptr;
        std::function<QString()> uuid;                         // default: this machine's
        std::function<std::optional<QString>(int)> themeTitle; // keyboard-theme menu item by tag
        std::function<bool(const QUrl&)> openUrl;              // default: the desktop's browser
    };

    // Becomes the updater's delegate and hands it the settings; the button's
    // click opens the release page.
    UpdateController(Sources sources, SUUpdater* updater, QWidget* updateButton,
                     QObject* parent = nullptr);
    // The updater lives on; it must not call back into a gone controller.
    ~UpdateController() override;

    // Starts a check at launch when "CheckForUpdates" is on.
    void checkAtLaunch();
    // "CheckForUpdates" changed: off hides the button, on checks at once.
    void checkForUpdatesChanged();
    // The update button's action: opens the found release's page, HTTPS only.
    void openReleasePage();

    void updaterDidFindValidUpdate(SUUpdater* updater, const AppcastItem& update) override;
    void updaterDidNotFindUpdate(SUUpdater* updater) override;
    void updaterWillSkipThisUpdate(SUUpdater* updater) override;
    bool updaterShouldPromptForPermissionToCheckForUpdates(SUUpdater* updater) override;
    QList<ProfileEntry> feedParametersForUpdater(SUUpdater* updater,
                                                 bool sendingSystemProfile) override;

    std::optional<AppcastItem> foundUpdate() const { return _found; }

private:
    Sources _sources;
    SUUpdater* _updater;
    QPointer<QWidget> _updateButton;
    std::optional<AppcastItem> _found;
};

} // namespace orvix
