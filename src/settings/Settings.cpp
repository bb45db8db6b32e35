#include "settings/Settings.h"

#include "settings/Defaults.h"

#include <QVariantMap>
#include <algorithm>

namespace orvix::settings {

void registerDefaults(Defaults& defaults) {
    QVariantMap registration;
    registration.insert(kActiveTransparency, 1.0f);
    registration.insert(kInactiveTransparency, 0.5f);
    registration.insert(kSoundTheme, QStringLiteral("Off"));
    registration.insert(kTheme, 0);
    registration.insert(kShowInMenuBar, true);
    registration.insert(kModifyKeyEvents, true);
    registration.insert(kModifyMouseEvents, false);
    registration.insert(kInputBackend, QStringLiteral("auto"));
    registration.insert(kCheckForUpdates, true);
    registration.insert(kSendProfileInfo, true);
    defaults.registerDefaults(registration);
    defaults.setBool(false, kEnableAutomaticChecks);
}

double transparency(const Defaults& defaults, const QString& key) {
    const double lowest = key == kActiveTransparency ? kMinimumActiveTransparency : 0.0;
    return std::clamp(defaults.floatForKey(key), lowest, 1.0);
}

} // namespace orvix::settings
