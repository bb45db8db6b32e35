#include "sound/SoundController.h"

#include "os/Bundle.h"
#include "os/Log.h"
#include "sound/AudioKeepAlive.h"
#include "sound/TemporaryFolder.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace orvix {
namespace {

const QString kThemeFolder = QStringLiteral("SoundThemes");
const QString kThemeType = QStringLiteral("snth");

} // namespace

SoundController* SoundController::sharedInstance() {
    // Created on first use and kept until the process ends.
    static SoundController* instance = new SoundController;
    return instance;
}

SoundController::SoundController() : _theme(std::make_shared<SoundTheme>()) {
    _name = _theme->name();
    // Sound files a crashed or killed run left behind; a run that quits
    // takes its own away.
    TemporaryFolder::removeLeftovers();
}

void SoundController::playSoundForKeyCode(uint64_t keyCode, uint64_t keyState) {
    _theme->playSoundForKeyCode(keyCode, keyState);
}

QString SoundController::userThemeDirectory() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/orvix/") + kThemeFolder;
}

QString SoundController::pathForThemeNamed(const QString& name) {
    // A name is a file name, never a path into another folder.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QStringLiteral(".") ||
        name == QStringLiteral(".."))
        return {};
    const QString shipped = Bundle::mainBundle().pathForResource(name, kThemeType, kThemeFolder);
    if (!shipped.isEmpty())
        return shipped;
    const QString user =
        userThemeDirectory() + QLatin1Char('/') + name + QLatin1Char('.') + kThemeType;
    return QFileInfo(user).isFile() ? user : QString();
}

QStringList SoundController::themeNames() const {
    QStringList names;
    auto collect = [&names](const QStringList& paths) {
        for (const QString& path : paths) {
            const QString name = QFileInfo(path).completeBaseName();
            if (!names.contains(name))
                names << name;
        }
    };
    collect(Bundle::mainBundle().pathsForResourcesOfType(kThemeType, kThemeFolder));
    QStringList userPaths;
    const QDir userDir(userThemeDirectory());
    for (const QFileInfo& info :
         userDir.entryInfoList({QStringLiteral("*.") + kThemeType}, QDir::Files))
        userPaths << info.absoluteFilePath();
    collect(userPaths);
    // A stable order for the menu: by name, ignoring case first.
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    names.prepend(QStringLiteral("Off"));
    return names;
}

bool SoundController::setThemeByName(const QString& name) {
    if (name == _name)
        return true;
    _theme.reset();
    std::shared_ptr<SoundTheme> theme;
    const QString path = pathForThemeNamed(name);
    if (!path.isEmpty()) {
        QString error;
        theme = SoundTheme::unarchiveObjectWithFile(path, error);
        if (!theme)
            Log::write("Cannot read sound theme %s: %s", qUtf8Printable(path),
                       qUtf8Printable(error));
    }
    const bool result = static_cast<bool>(theme);
    if (!theme)
        theme = std::make_shared<SoundTheme>();
    _theme = theme;
    _name = _theme->name();
    if (_name == QStringLiteral("Off"))
        AudioKeepAlive::sharedInstance()->stop();
    else
        AudioKeepAlive::sharedInstance()->start();
    return result;
}

} // namespace orvix
