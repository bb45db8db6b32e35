#include "os/Bundle.h"

#include "BuildInfo.h"
#include "os/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <mutex>

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

QString Bundle::trustedAppImage(const QString& appImage, const QString& appDir,
                                const QString& executable) {
    if (appImage.isEmpty() || appDir.isEmpty() || executable.isEmpty() ||
        !QDir::isAbsolutePath(appImage) || !QFileInfo(appImage).isFile())
        return {};
    const QString dir = QFileInfo(appDir).canonicalFilePath();
    const QString exe = QFileInfo(executable).canonicalFilePath();
    if (dir.isEmpty() || dir == QLatin1String("/") || exe.isEmpty() ||
        !exe.startsWith(dir + QLatin1Char('/')))
        return {};
    return appImage;
}

QString Bundle::appImagePath() const {
    const QString appImage = qEnvironmentVariable("APPIMAGE");
    if (appImage.isEmpty())
        return {};
    const QString trusted =
        trustedAppImage(appImage, qEnvironmentVariable("APPDIR"), executablePath());
    static std::once_flag reported;
    if (trusted.isEmpty())
        std::call_once(reported, [] {
            Log::write("Ignoring $APPIMAGE: this program does not run from that AppImage");
        });
    return trusted;
}

QString Bundle::bundlePath() const {
    const QString appImage = appImagePath();
    return appImage.isEmpty() ? executablePath() : appImage;
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
