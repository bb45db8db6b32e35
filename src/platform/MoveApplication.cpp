#include "platform/MoveApplication.h"

#include "os/Bundle.h"
#include "os/Log.h"
#include "platform/SettingsStore.h"
#include "platform/SymlinksAndAliases.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <cstdlib>
#include <unistd.h>

namespace orvix {

namespace {

const QString kSuppress = QStringLiteral("moveToApplicationsFolderAlertSuppress");

// pkexec's exit status when the user dismissed the authentication dialog.
constexpr int kPkexecDismissed = 126;
// The replacement script's status when the destination is not an earlier copy.
constexpr int kNotAnAppImage = 3;

bool pathBeginsWithFolder(const QString& path, const QString& folder) {
    if (folder.isEmpty())
        return false;
    const QString f = QDir::cleanPath(stringByStandardizingPath(folder));
    // Whole components only: "/opt" holds "/opt/x", not "/optional/x".
    return path == f || path.startsWith(f.endsWith(QLatin1Char('/')) ? f : f + QLatin1Char('/'));
}

int runAndWait(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(-1))
        return -1;
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit)
        return -2;
    return process.exitCode();
}

} // namespace

MoveApplication::MoveApplication(Environment environment) : _env(std::move(environment)) {
    if (_env.bundlePath.isNull())
        _env.bundlePath = Bundle::mainBundle().appImagePath();
    if (_env.homePath.isEmpty())
        _env.homePath = QDir::homePath();
    if (_env.localApplicationsFolders.isEmpty())
        _env.localApplicationsFolders = {QStringLiteral("/usr/local/bin"), QStringLiteral("/opt")};
    if (_env.systemApplicationsFolders.isEmpty())
        _env.systemApplicationsFolders = {QStringLiteral("/usr/bin"), QStringLiteral("/bin"),
                                          QStringLiteral("/usr/lib"), QStringLiteral("/usr/share"),
                                          QStringLiteral("/usr/games")};
    if (_env.downloadsFolders.isEmpty()) {
        const QString downloads =
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        if (!downloads.isEmpty())
            _env.downloadsFolders = {downloads};
    }
    if (_env.readOnlyMediaRoots.isEmpty())
        _env.readOnlyMediaRoots = {QStringLiteral("/media/"), QStringLiteral("/run/media/")};
    if (!_env.isWritable)
        _env.isWritable = [](const QString& path) {
            return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
        };
    if (!_env.runAlert)
        _env.runAlert = runAlertModally;
    if (!_env.run)
        _env.run = runAndWait;
    if (!_env.startDetached)
        _env.startDetached = [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        };
    if (!_env.trash)
        _env.trash = trashItemAtPath;
    if (!_env.exit)
        _env.exit = [](int status) {
            std::exit(status);
        };
    if (_env.pid == 0)
        _env.pid = QCoreApplication::applicationPid();
}

std::optional<MoveApplication::Plan> MoveApplication::plan() const {
    const QString bundlePath = QDir::cleanPath(_env.bundlePath);
    if (_env.bundlePath.isEmpty())
        return std::nullopt; // not running from an AppImage: nothing to move

    if (_env.settings && _env.settings->boolForKey(kSuppress))
        return std::nullopt;

    const QString userApplications = _env.homePath + QStringLiteral("/Applications");
    QStringList allFolders{userApplications};
    allFolders << _env.localApplicationsFolders << _env.systemApplicationsFolders;
    for (const QString& folder : allFolders)
        if (pathBeginsWithFolder(bundlePath, folder))
            return std::nullopt;
    if (bundlePath.split(QLatin1Char('/')).contains(QLatin1String("Applications")))
        return std::nullopt;

    // Removing the AppImage takes write access to it and to its folder.
    const QString bundleFolder = QFileInfo(bundlePath).absolutePath();
    const bool writable = _env.isWritable(bundlePath) && _env.isWritable(bundleFolder);
    bool onMedia = false;
    for (const QString& root : _env.readOnlyMediaRoots)
        onMedia = onMedia || bundlePath.startsWith(root);
    Plan p;
    p.readOnlyVolume = onMedia && !writable;
    if (!writable && !p.readOnlyVolume) {
        Log::write("INFO -- No access to delete the app. Not offering to move it.");
        return std::nullopt;
    }

    const QFileInfo userInfo(userApplications);
    QString folder;
    if (userInfo.exists() && userInfo.isDir()) {
        folder = userApplications;
        p.inHomeFolder = true;
    } else {
        folder = _env.localApplicationsFolders.isEmpty() ? QString()
                                                         : _env.localApplicationsFolders.last();
    }
    p.destinationFolder = stringByResolvingSymlinksAndAliases(folder).value_or(folder);
    p.destinationPath = p.destinationFolder + QLatin1Char('/') + QFileInfo(bundlePath).fileName();
    p.needsAuthorization = !_env.isWritable(p.destinationFolder);
    for (const QString& downloads : _env.downloadsFolders)
        p.inDownloads = p.inDownloads || pathBeginsWithFolder(bundlePath, downloads);
    return p;
}

std::unique_ptr<QMessageBox> MoveApplication::buildOfferAlert(const Plan& plan) const {
    AlertContent content;
    content.messageText =
        plan.inHomeFolder
            ? localized(QStringLiteral("Move to Applications folder in your Home folder?"))
            : localized(QStringLiteral("Move to Applications folder?"));
    content.informativeText = localized(
        QStringLiteral("Orvix can move itself to the Applications folder if you'd like."));
    if (plan.needsAuthorization)
        content.informativeText +=
            QLatin1Char(' ') +
            localized(QStringLiteral("Note that this will require an administrator password."));
    else if (plan.inDownloads)
        content.informativeText +=
            QLatin1Char(' ') +
            localized(QStringLiteral("This will keep your Downloads folder uncluttered."));
    content.firstButton = localized(QStringLiteral("Move to Applications Folder"));
    content.secondButton = localized(QStringLiteral("Do Not Move"));
    content.style = AlertStyle::Warning;
    content.showsSuppressionButton = true;
    return makeAlert(content);
}

std::unique_ptr<QMessageBox> MoveApplication::buildFailureAlert() {
    AlertContent content;
    content.messageText = localized(QStringLiteral("Could not move to Applications folder"));
    return makeAlert(content);
}

bool MoveApplication::offerMoveToApplicationsFolder() {
    const std::optional<Plan> p = plan();
    if (!p)
        return false;

    std::unique_ptr<QMessageBox> alert = buildOfferAlert(*p);
    if (_env.activate && !(_env.isActive && _env.isActive()))
        _env.activate();
    const AlertResult answer = _env.runAlert(*alert);
    if (answer.answer != AlertAnswer::First) {
        if (answer.suppressed && _env.settings) {
            _env.settings->setObject(true, kSuppress);
            _env.settings->synchronize();
        }
        return true;
    }

    Log::write("INFO -- Moving myself to the Applications folder");
    if (p->needsAuthorization) {
        if (!copyWithAuthorization(*p))
            return true; // cancelled, or the failure alert was shown
    } else {
        bool switched = false;
        if (!copyWithoutAuthorization(*p, &switched))
            return true;
        if (switched) {
            _env.exit(0);
            return true;
        }
    }

    // After the copy.
    const QString bundlePath = QDir::cleanPath(_env.bundlePath);
    if (!p->readOnlyVolume && !_env.trash(bundlePath))
        Log::write("WARNING -- Could not delete application after moving it to Applications "
                   "folder");
    _env.startDetached(_env.shell,
                       {QStringLiteral("-c"), relaunchLine(_env.pid, p->destinationPath)});
    if (p->readOnlyVolume)
        _env.startDetached(
            _env.shell, {QStringLiteral("-c"), unmountLine(QFileInfo(bundlePath).absolutePath())});
    _env.exit(0);
    return true;
}

bool MoveApplication::copyWithAuthorization(const Plan& plan) {
    const QString bundlePath = QDir::cleanPath(_env.bundlePath);
    const QString name = QFileInfo(bundlePath).fileName();
    // These guards protect the privileged removal below.
    const bool safe =
        !plan.destinationPath.trimmed().isEmpty() && !bundlePath.trimmed().isEmpty() &&
        !name.isEmpty() && name != QLatin1String("..") &&
        plan.destinationPath.endsWith(QLatin1Char('/') + name) &&
        QDir::isAbsolutePath(plan.destinationPath) &&
        QDir::cleanPath(plan.destinationPath) != QDir::cleanPath(plan.destinationFolder);
    if (!safe) {
        Log::write("ERROR -- Could not copy myself to /Applications with authorization");
        return fail();
    }
    // One authorization for the removal and the copy together.
    const int status = _env.run(
        _env.pkexec, {QStringLiteral("/bin/sh"), QStringLiteral("-c"), privilegedReplaceScript(),
                      QStringLiteral("orvix-move"), plan.destinationPath, bundlePath});
    if (status == kPkexecDismissed) {
        Log::write("INFO -- Not moving because user canceled authorization");
        return false;
    }
    if (status == kNotAnAppImage)
        Log::write("ERROR -- Will not replace '%s': it is not an earlier Orvix AppImage",
                   qPrintable(plan.destinationPath));
    if (status != 0) {
        Log::write("ERROR -- Could not copy myself to /Applications with authorization");
        return fail();
    }
    return true;
}

QString MoveApplication::privilegedReplaceScript() {
    // Runs as root with the destination and the source as $1 and $2, never
    // pasted into the text. Whatever sits at the destination is removed only
    // when it is a regular file (not a link, folder or device) that starts
    // like an AppImage: an ELF file with the AppImage mark "AI" and type 1 or
    // 2 at byte 8. Its name is already ours, so it is an earlier copy of
    // Orvix; anything else stays and the move fails.
    return QStringLiteral(
        "set -u\n"
        "dest=$1\n"
        "src=$2\n"
        "if [ -L \"$dest\" ] || { [ -e \"$dest\" ] && [ ! -f \"$dest\" ]; }; then exit 3; fi\n"
        "if [ -e \"$dest\" ]; then\n"
        "  case $(od -An -tx1 -N11 -- \"$dest\" | tr -d ' \\n') in\n"
        "    7f454c46????????414901|7f454c46????????414902) ;;\n"
        "    *) exit 3 ;;\n"
        "  esac\n"
        "  rm -f -- \"$dest\" || exit 4\n"
        "fi\n"
        "cp -p -- \"$src\" \"$dest\" || exit 5\n");
}

bool MoveApplication::copyWithoutAuthorization(const Plan& plan, bool* switched) {
    const QString bundlePath = QDir::cleanPath(_env.bundlePath);
    if (QFileInfo(plan.destinationPath).exists() || QFileInfo(plan.destinationPath).isSymLink()) {
        const int running =
            _env.run(_env.shell, {QStringLiteral("-c"), runningCheckLine(plan.destinationPath)});
        if (running == 0) {
            Log::write("INFO -- Switching to an already running version");
            // Started again, the copy hands over to the one already running.
            _env.startDetached(plan.destinationPath, {});
            *switched = true;
            return true;
        }
        if (!_env.trash(plan.destinationPath))
            return fail();
    }
    QFile source(bundlePath);
    if (!source.copy(plan.destinationPath)) {
        Log::write("ERROR -- Could not copy '%s' to '%s' (%s)", qPrintable(bundlePath),
                   qPrintable(plan.destinationPath), qPrintable(source.errorString()));
        Log::write("ERROR -- Could not copy myself to %s", qPrintable(plan.destinationPath));
        return fail();
    }
    return true;
}

bool MoveApplication::fail() {
    std::unique_ptr<QMessageBox> alert = buildFailureAlert();
    _env.runAlert(*alert);
    return false;
}

QString MoveApplication::runningCheckLine(const QString& destinationPath) {
    return QStringLiteral("ps ax -o args= | grep -F -- %1 | grep -v grep >/dev/null")
        .arg(shellQuote(destinationPath));
}

QString MoveApplication::relaunchLine(qint64 pid, const QString& destinationPath) {
    return QStringLiteral("(while [ `ps -p %1 | wc -l` -gt 1 ]; do sleep 0.1; done; exec %2) "
                          ">/dev/null 2>&1 &")
        .arg(pid)
        .arg(shellQuote(destinationPath));
}

QString MoveApplication::unmountLine(const QString& folder) {
    const QString q = shellQuote(folder);
    return QStringLiteral("(sleep 5 && (gio mount -u %1 || udisksctl unmount -b \"$(findmnt -n -o "
                          "SOURCE --target %1)\" || umount %1)) >/dev/null 2>&1 &")
        .arg(q);
}

bool MoveApplication::trashItemAtPath(const QString& path) {
    // The home trash lives in the data folder; Qt cannot set it up when that
    // folder is missing, and then falls back to a folder relative to the
    // working directory. Make sure it exists, and undo any such fallback.
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    if (!QFileInfo(dataHome).isDir() && QDir().mkpath(dataHome))
        QFile::setPermissions(dataHome, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner);
    QString inTrash;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (QFile::moveToTrash(absolute, &inTrash)) {
        if (QDir::isAbsolutePath(inTrash))
            return true;
        const QFileInfo stray(inTrash);
        if (!QFile::rename(stray.absoluteFilePath(), absolute)) {
            Log::write("ERROR -- Could not put '%s' back from '%s'", qPrintable(absolute),
                       qPrintable(stray.absoluteFilePath()));
        } else {
            const QString infoFolder = stray.absolutePath() + QStringLiteral("/../info");
            QFile::remove(infoFolder + QLatin1Char('/') + stray.fileName() +
                          QStringLiteral(".trashinfo"));
            QDir().rmdir(infoFolder);
            QDir().rmdir(stray.absolutePath());
        }
    }
    Log::write("ERROR -- Could not trash '%s'", qPrintable(path));
    return false;
}

QString MoveApplication::localized(const QString& english) {
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> t;
        const QString path = Bundle::mainBundle().pathForResource(QStringLiteral("MoveApplication"),
                                                                  QStringLiteral("strings"));
        QFile file(path);
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
            return t;
        // Lines of the form "key" = "value";
        static const QRegularExpression line(
            QStringLiteral(R"re(^\s*"((?:[^"\\]|\\.)*)"\s*=\s*"((?:[^"\\]|\\.)*)"\s*;)re"));
        auto unescape = [](QString s) {
            s.replace(QStringLiteral("\\\""), QStringLiteral("\""));
            s.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
            s.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
            return s;
        };
        for (const QString& text : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = line.match(text);
            if (m.hasMatch())
                t.insert(unescape(m.captured(1)), unescape(m.captured(2)));
        }
        return t;
    }();
    const QString value = table.value(english);
    return value.isEmpty() ? english : value;
}

} // namespace orvix
