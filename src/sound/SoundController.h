#pragma once

#include "sound/SoundTheme.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

namespace orvix {

// The process-wide owner of the current sound theme. Themes are the "snth"
// files of the resource folder "SoundThemes" and, beyond those, of the user's
// $XDG_DATA_HOME/orvix/SoundThemes. All calls come from the main thread.
class SoundController {
public:
    static SoundController* sharedInstance();

    // Hands both values unchanged to the current theme.
    void playSoundForKeyCode(uint64_t keyCode, uint64_t keyState);
    // "Off" first, then every theme file's name without its extension, sorted
    // by name; a user theme named like a shipped one is listed once.
    QStringList themeNames() const;
    QString currentThemeName() const { return _name; }
    // Switches the current theme; false when no readable theme has that name
    // and the empty theme "Off" took its place.
    bool setThemeByName(const QString& name);

    std::shared_ptr<const SoundTheme> theme() const { return _theme; }
    // The theme file for a list name: the shipped one first, then the user's.
    static QString pathForThemeNamed(const QString& name);
    static QString userThemeDirectory();

private:
    SoundController();

    std::shared_ptr<const SoundTheme> _theme;
    QString _name;
};

} // namespace orvix
