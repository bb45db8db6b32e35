#pragma once

#include <QString>
#include <QStringList>

namespace orvix {

// The program's bundle: where its resources live and its information values.
// Resources are looked up, in order, under $ORVIX_RESOURCES (tests), beside the
// executable (bin/../share/orvix, the build tree and relocated installs) and in
// the install prefix.
class Bundle {
public:
    static const Bundle& mainBundle();

    // Resource folder candidates, most specific first; exposed for tests.
    static QStringList resourceSearchPaths(const QString& executableDir);

    QString resourcePath() const { return _resourcePath; }
    // Full path of "name.type" in the resource folder (or its subfolder), or an
    // empty string when there is no such file.
    QString pathForResource(const QString& name, const QString& type,
                            const QString& subdirectory = {}) const;
    QStringList pathsForResourcesOfType(const QString& type, const QString& subdirectory) const;

    // Full path of a helper program that ships with Orvix: beside the
    // executable (the build tree), in bin/../libexec/orvix (relocated
    // installs), then in the install prefix; empty when there is none.
    static QString pathForAuxiliaryExecutable(const QString& name);
    // Helper folder candidates, most specific first; exposed for tests.
    static QStringList auxiliarySearchPaths(const QString& executableDir);

    // The file the user launched: the AppImage when running from one, else the executable.
    QString bundlePath() const;
    // The AppImage this process runs from; empty when it runs from none.
    QString appImagePath() const;
    // AppImage runtimes export $APPIMAGE and $APPDIR to every child, so a
    // program started from another AppImage inherits both: $APPIMAGE is ours
    // only when $APPDIR (the mounted image) holds the running executable.
    // Answers the AppImage, or empty when it is not to be trusted.
    static QString trustedAppImage(const QString& appImage, const QString& appDir,
                                   const QString& executable);
    QString executablePath() const;

    static QString name();
    static QString identifier();
    static QString shortVersion();
    static QString buildVersion();
    static QString copyright();

private:
    QString _resourcePath;
};

} // namespace orvix
