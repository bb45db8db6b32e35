#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace orvix {

// The user's login items: the XDG autostart entries in
// $XDG_CONFIG_HOME/autostart. An entry refers to a program when the path its
// command resolves to ends with the program's name (a plain suffix test).
class LoginItems {
public:
    // The folder the entries live in (not created).
    static QString autostartFolder();

    static bool findAnyReferenceTo(const QString& name);
    static void removeAllReferencesTo(const QString& name);
    // Removes the bundle's entries, then, when add is set, adds one for the bundle.
    static void changeBundleStatus(const QString& bundlePath, bool add);
    static void addBundle(const QString& bundlePath);
    static void removeBundle(const QString& bundlePath);
    static bool isLoginItem(const QString& bundlePath);

    // Entry files in list order (file name order), and what an entry's
    // command resolves to: nothing when the entry is switched off (unless
    // asked for), has no command or the program does not exist.
    static QStringList entryFiles();
    static std::optional<QString> resolvedProgramOfEntry(const QString& entryFile,
                                                         bool includeDisabled = false);
    // Hidden=true or X-GNOME-Autostart-enabled=false.
    static bool isDisabledEntry(const QString& entryFile);

    // The first word of a desktop entry's Exec value, unquoted; nothing when
    // the quoting is broken.
    static std::optional<QString> programOfExecValue(const QString& exec);
    // The Exec value that runs the program with no arguments, quoted so that
    // any character in the path survives (blanks, quotes, $, `, \, %).
    static QString execValueForProgram(const QString& path);
    // The complete text of the entry written for a program.
    static QString entryTextForProgram(const QString& path, const QString& displayName);
};

} // namespace orvix
