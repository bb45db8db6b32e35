#pragma once

#include <QString>

namespace orvix {

class Defaults;

// Keys of the user's settings.
namespace settings {
inline const QString kActiveTransparency = QStringLiteral("ActiveTransparency");
inline const QString kInactiveTransparency = QStringLiteral("InactiveTransparency");
inline const QString kSoundTheme = QStringLiteral("SoundTheme");
inline const QString kTheme = QStringLiteral("Theme");
inline const QString kShowInMenuBar = QStringLiteral("ShowInMenuBar");
inline const QString kModifyKeyEvents =
    QStringLiteral("ModifyKeyEventsWithVirtualKeyboardStateKey");
inline const QString kModifyMouseEvents =
    QStringLiteral("ModifyMouseEventsWithVirtualKeyboardStateKey");
// auto, evdev, wayland or x11: how keys are posted and watched (read at launch).
inline const QString kInputBackend = QStringLiteral("InputBackend");
// The last limit of the input backend the user was told of, so it is told once.
inline const QString kInputLimitationNoticed = QStringLiteral("InputLimitationNoticed");
inline const QString kCheckForUpdates = QStringLiteral("CheckForUpdates");
inline const QString kSendProfileInfo = QStringLiteral("SUSendProfileInfo");
inline const QString kEnableAutomaticChecks = QStringLiteral("SUEnableAutomaticChecks");

inline const QString kMoveAlertSuppress = QStringLiteral("moveToApplicationsFolderAlertSuppress");
inline const QString kFeedbackFirstUsed = QStringLiteral("FeedbackFirstUsed");
inline const QString kFeedbackLastVersionUsed = QStringLiteral("FeedbackLastVersionUsed");
inline const QString kFeedbackPrompted = QStringLiteral("FeedbackPrompted");
inline const QString kFeedbackSuppress = QStringLiteral("FeedbackSuppress");

// Where the panel's frame is kept.
inline const QString kKeyboardFrame = QStringLiteral("keyboard");

// Registers the program's defaults, then forces the updater's own schedule
// off: the program alone decides when update checks happen.
void registerDefaults(Defaults& defaults);

// The lowest "ActiveTransparency": the panel under the pointer always stays
// visible, whatever was stored.
inline constexpr double kMinimumActiveTransparency = 0.2;

// A transparency as the panel uses it: an alpha value from 0.0 to 1.0, and
// for "ActiveTransparency" from kMinimumActiveTransparency. A stored value
// outside that range is clamped rather than trusted.
double transparency(const Defaults& defaults, const QString& key);
} // namespace settings

} // namespace orvix
