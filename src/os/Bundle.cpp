#include "os/Bundle.h"

#include "BuildInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace orvix {

QStringList Bundle::resourceSearchPaths(const QString& executableDir) {
    QStringList paths;
    const QByteArray overridePath = qgetenv("ORVIX_RESOURCES");
    if (!overridePath.isEmpty())
        paths << QString::fromLocal8Bit(overridePath);
    if (!executableDir.isEmpty())
        paths << QDir::cleanPath(executableDir + QStringLiteral("/../share/orvix"));
    paths << QStringLiteral(ORVIX_INSTALL_DATADIR);
    return paths;
}

const Bundle& Bundle::mainBundle() {
    static const Bundle bundle = [] {
        Bundle b;
        const QString exeDir =
            QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
        for (const QString& candidate : resourceSearchPaths(exeDir)) {
            if (QFileInfo(candidate).isDir()) {
                b._resourcePath = candidate;
                break;
            }
        }
        return b;
    }();
    return bundle;
}

QString Bundle::pathForResource(const QString& name, const QString& type,
                                const QString& subdirectory) const {
    if (_resourcePath.isEmpty() || name.isEmpty())
        return {};
    QString path = _resourcePath;
    if (!subdirectory.isEmpty())
        path += QLatin1Char('/') + subdirectory;
    path += QLatin1Char('/') + name;
    if (!type.isEmpty())
        path += QLatin1Char('.') + type;
    return QFileInfo(path).isFile() ? path : QString();
}

QStringList Bundle::pathsForResourcesOfType(const QString& type,
                                            const QString& subdirectory) const {
    if (_resourcePath.isEmpty())
        return {};
    QDir dir(_resourcePath + QLatin1Char('/') + subdirectory);
    QStringList result;
    for (const QFileInfo& info :
         dir.entryInfoList({QStringLiteral("*.") + type}, QDir::Files, QDir::Name))
        result << info.absoluteFilePath();
    return result;
}

QStringList Bundle::auxiliarySearchPaths(const QString& executableDir) {
    QStringList paths;
    if (!executableDir.isEmpty()) {
        paths << executableDir;
        paths << QDir::cleanPath(executableDir + QStringLiteral("/../libexec/orvix"));
    }
    paths << QStringLiteral(ORVIX_INSTALL_LIBEXECDIR);
    return paths;
}

QString Bundle::pathForAuxiliaryExecutable(const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return {};
    const QString exeDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    for (const QString& dir : auxiliarySearchPaths(exeDir)) {
        const QFileInfo info(dir + QLatin1Char('/') + name);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return {};
}

QString Bundle::executablePath() const {
    return QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
}

QString Bundle::bundlePath() const {
    const QByteArray appImage = qgetenv("APPIMAGE");
    if (!appImage.isEmpty())
        return QString::fromLocal8Bit(appImage);
    return executablePath();
}

QString Bundle::name() {
    return QString::fromUtf8(buildinfo::kName);
}
QString Bundle::identifier() {
    return QString::fromUtf8(buildinfo::kIdentifier);
}
QString Bundle::shortVersion() {
    return QString::fromUtf8(buildinfo::kShortVersion);
}
QString Bundle::buildVersion() {
    return QString::fromUtf8(buildinfo::kBuildVersion);
}
QString Bundle::copyright() {
    return QString::fromUtf8(buildinfo::kCopyright);
}

} // namespace orvix
