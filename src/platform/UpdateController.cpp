#include "platform/UpdateController.h"

#include "os/Log.h"
#include "platform/FeedAddress.h"
#include "platform/MachineIdentifier.h"
#include "platform/SettingsStore.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QWidget>

namespace orvix {

UpdateController::UpdateController(Sources sources, SUUpdater* updater, QWidget* updateButton,
                                   QObject* parent)
    : QObject(parent), _sources(std::move(sources)), _updater(updater),
      _updateButton(updateButton) {
    _updater->setDelegate(this);
    _updater->setSettings(_sources.settings);
    if (!_sources.uuid)
        _sources.uuid = [] {
            return MachineIdentifier::shared().uuid();
        };
    if (!_sources.openUrl)
        _sources.openUrl = [](const QUrl& url) {
            return QDesktopServices::openUrl(url);
        };
    if (auto* button = qobject_cast<QAbstractButton*>(updateButton))
        connect(button, &QAbstractButton::clicked, this, &UpdateController::openReleasePage);
    // The button starts hidden and appears only when an update is found.
    if (_updateButton)
        _updateButton->hide();
}

UpdateController::~UpdateController() {
    if (_updater->delegate() == this) {
        _updater->setDelegate(nullptr);
        _updater->setSettings(nullptr);
    }
}

void UpdateController::checkAtLaunch() {
    if (_sources.settings && _sources.settings->boolForKey(QStringLiteral("CheckForUpdates")))
        _updater->checkForUpdateInformation();
}

void UpdateController::checkForUpdatesChanged() {
    if (!_sources.settings)
        return;
    if (_sources.settings->boolForKey(QStringLiteral("CheckForUpdates")))
        _updater->checkForUpdateInformation();
    else if (_updateButton)
        _updateButton->hide();
}

void UpdateController::openReleasePage() {
    if (!_found)
        return;
    // The feed names the page; a file: or any other scheme would have the
    // desktop open whatever the feed's author chose.
    if (!isAllowedReleasePage(_found->releasePage)) {
        Log::write("Update page refused: the address is not HTTPS");
        return;
    }
    _sources.openUrl(_found->releasePage);
}

void UpdateController::updaterDidFindValidUpdate(SUUpdater*, const AppcastItem& update) {
    Log::write("Update check found version %s", qUtf8Printable(update.version));
    _found = update;
    if (_updateButton)
        _updateButton->show();
}

void UpdateController::updaterDidNotFindUpdate(SUUpdater*) {
    Log::write("Update check found no newer version");
    if (_updateButton)
        _updateButton->hide();
}

void UpdateController::updaterWillSkipThisUpdate(SUUpdater*) {
    Log::write("Update check found only the version the user skipped");
    if (_updateButton)
        _updateButton->hide();
}

bool UpdateController::updaterShouldPromptForPermissionToCheckForUpdates(SUUpdater*) {
    return false;
}

QList<ProfileEntry> UpdateController::feedParametersForUpdater(SUUpdater*,
                                                               bool sendingSystemProfile) {
    QList<ProfileEntry> entries;
    if (!sendingSystemProfile)
        return entries;
    SettingsStore* settings = _sources.settings;
    const QString uuid = _sources.uuid();
    const QVariant soundTheme =
        settings ? settings->objectForKey(QStringLiteral("SoundTheme")) : QVariant();
    std::optional<QString> themeTitle;
    if (_sources.themeTitle && settings)
        themeTitle = _sources.themeTitle(settings->objectForKey(QStringLiteral("Theme")).toInt());
    const QVariant active =
        settings ? settings->objectForKey(QStringLiteral("ActiveTransparency")) : QVariant();
    const QVariant inactive =
        settings ? settings->objectForKey(QStringLiteral("InactiveTransparency")) : QVariant();

    // An entry without a value is left out rather than sent empty.
    auto add = [&entries](const char* key, const char* displayKey, const QVariant& value) {
        if (!value.isValid() ||
            (value.typeId() == QMetaType::QString && value.toString().isEmpty()))
            return;
        entries.append({QString::fromLatin1(key), QString::fromLatin1(displayKey), value, value});
    };
    add("uuid", "UUID", uuid.isEmpty() ? QVariant() : QVariant(uuid));
    add("soundTheme", "Sound Theme", soundTheme);
    add("keyboardTheme", "Keyboard Theme", themeTitle ? QVariant(*themeTitle) : QVariant());
    add("activeTransparency", "Active Transparency", active);
    add("inactiveTransparency", "Inactive Transparency", inactive);
    return entries;
}

} // namespace orvix
