#include "platform/LoginItems.h"

#include "os/Bundle.h"
#include "os/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace orvix {

namespace {

// Undoes the string escapes of a desktop entry value (\s \n \t \r \\).
QString unescapeValue(const QString& raw) {
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != QLatin1Char('\\') || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar n = raw[++i];
        switch (n.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        default:
            out += n;
        }
    }
    return out;
}

struct DesktopEntry {
    QString exec;
    // Turned off by the desktop: Hidden=true, or X-GNOME-Autostart-enabled=false
    // as GNOME writes it when the user switches the entry off.
    bool disabled = false;
};

std::optional<DesktopEntry> readEntry(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QTextStream in(&file);
    DesktopEntry entry;
    bool inMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Exec"))
            entry.exec = unescapeValue(value);
        else if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            entry.disabled = true;
        else if (key == QLatin1String("X-GNOME-Autostart-enabled") &&
                 value == QLatin1String("false"))
            entry.disabled = true;
    }
    return entry;
}

QString resolveProgram(const QString& program) {
    QString path = program;
    if (!program.contains(QLatin1Char('/')))
        path = QStandardPaths::findExecutable(program);
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return {};
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

QString LoginItems::autostartFolder() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(config + QStringLiteral("/autostart"));
}

QStringList LoginItems::entryFiles() {
    QDir dir(autostartFolder());
    QStringList files;
    for (const QFileInfo& info :
         dir.entryInfoList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name))
        files << info.absoluteFilePath();
    return files;
}

std::optional<QString> LoginItems::programOfExecValue(const QString& exec) {
    const QString text = exec.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    QString word;
    if (text.startsWith(QLatin1Char('"'))) {
        // Inside quotes a backslash escapes ", `, $ and itself.
        for (qsizetype i = 1; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c == QLatin1Char('\\') && i + 1 < text.size()) {
                word += text[++i];
                continue;
            }
            if (c == QLatin1Char('"'))
                return word.replace(QStringLiteral("%%"), QStringLiteral("%"));
            word += c;
        }
        return std::nullopt; // unterminated
    }
    const qsizetype end = text.indexOf(QLatin1Char(' '));
    word = end < 0 ? text : text.left(end);
    word.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return word;
}

QString LoginItems::execValueForProgram(const QString& path) {
    QString quoted;
    for (QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString LoginItems::entryTextForProgram(const QString& path, const QString& displayName) {
    // The value escapes of the file format come on top of the Exec quoting.
    QString exec = execValueForProgram(path);
    exec.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    exec.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    QString name = displayName;
    name.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(name, exec);
}

std::optional<QString> LoginItems::resolvedProgramOfEntry(const QString& entryFile,
                                                          bool includeDisabled) {
    const std::optional<DesktopEntry> entry = readEntry(entryFile);
    if (!entry || (entry->disabled && !includeDisabled))
        return std::nullopt;
    const std::optional<QString> program = programOfExecValue(entry->exec);
    if (!program || program->isEmpty())
        return std::nullopt;
    const QString resolved = resolveProgram(*program);
    if (resolved.isEmpty())
        return std::nullopt;
    return resolved;
}

bool LoginItems::findAnyReferenceTo(const QString& name) {
    for (const QString& file : entryFiles()) {
        const std::optional<QString> program = resolvedProgramOfEntry(file);
        if (program && program->endsWith(name))
            return true;
    }
    return false;
}

bool LoginItems::isDisabledEntry(const QString& entryFile) {
    const std::optional<DesktopEntry> entry = readEntry(entryFile);
    return entry && entry->disabled;
}

void LoginItems::removeAllReferencesTo(const QString& name) {
    // Switched-off entries go too: they would otherwise stay beside the new one.
    for (const QString& file : entryFiles()) {
        const std::optional<QString> program = resolvedProgramOfEntry(file, true);
        if (program && program->endsWith(name) && !QFile::remove(file))
            Log::write("Could not remove the login item %s", qPrintable(file));
    }
}

void LoginItems::changeBundleStatus(const QString& bundlePath, bool add) {
    removeAllReferencesTo(QFileInfo(bundlePath).fileName());
    if (!add)
        return;
    const QString folder = autostartFolder();
    if (!QDir().mkpath(folder)) {
        Log::write("Could not create the autostart folder %s", qPrintable(folder));
        return;
    }
    // A fresh file name, so an unrelated entry of the same name is left alone;
    // our own name's entry, switched off by the desktop (it may only hide a
    // machine-wide entry of ours), is switched back on in place.
    const QString base = Bundle::identifier();
    QString path = folder + QLatin1Char('/') + base + QStringLiteral(".desktop");
    for (int n = 2; QFileInfo::exists(path) && !(n == 2 && isDisabledEntry(path)); ++n)
        path = folder + QLatin1Char('/') + base + QStringLiteral("-%1.desktop").arg(n);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        Log::write("Could not write the login item %s", qPrintable(path));
        return;
    }
    file.write(
        entryTextForProgram(QFileInfo(bundlePath).absoluteFilePath(), Bundle::name()).toUtf8());
    if (!file.commit())
        Log::write("Could not write the login item %s", qPrintable(path));
}

void LoginItems::addBundle(const QString& bundlePath) {
    changeBundleStatus(bundlePath, true);
}

void LoginItems::removeBundle(const QString& bundlePath) {
    changeBundleStatus(bundlePath, false);
}

bool LoginItems::isLoginItem(const QString& bundlePath) {
    return findAnyReferenceTo(QFileInfo(bundlePath).fileName());
}

} // namespace orvix
