#include "platform/SymlinksAndAliases.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace orvix {

namespace {

std::optional<struct stat> linkStatus(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return st;
}

} // namespace

QString stringByStandardizingPath(const QString& path) {
    QString p = path;
    if (p == QLatin1String("~") || p.startsWith(QLatin1String("~/")))
        p = QDir::homePath() + p.mid(1);
    return p.isEmpty() ? p : QDir::cleanPath(p);
}

std::optional<QString> stringByConditionallyResolvingSymlink(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    QByteArray target(4096, '\0');
    const ssize_t n = ::readlink(encoded.constData(), target.data(), target.size());
    if (n <= 0 || n >= target.size())
        return std::nullopt;
    target.truncate(n);
    const QString destination = QFile::decodeName(target);
    if (destination.startsWith(QLatin1Char('/')))
        return destination;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString parent = slash <= 0 ? QStringLiteral("/") : path.left(slash);
    return QDir::cleanPath(parent + QLatin1Char('/') + destination);
}

QString stringByResolvingSymlink(const QString& path) {
    return stringByConditionallyResolvingSymlink(path).value_or(path);
}

std::optional<QString> stringByIterativelyResolvingSymlinkOrAlias(const QString& path) {
    QString current = path;
    std::optional<struct stat> st = linkStatus(current);
    if (!st)
        return std::nullopt;
    for (int step = 0; step <= kMaxLinkSteps; ++step) {
        if (S_ISDIR(st->st_mode) || !S_ISLNK(st->st_mode))
            return current;
        const std::optional<QString> next = stringByConditionallyResolvingSymlink(current);
        if (!next)
            return std::nullopt;
        current = *next;
        st = linkStatus(current);
        if (!st)
            return std::nullopt;
    }
    return std::nullopt; // a cycle, or a chain too long to be meant
}

std::optional<QString> stringByResolvingSymlinksAndAliases(const QString& path) {
    const QString standardized = stringByStandardizingPath(path);
    if (!standardized.startsWith(QLatin1Char('/')))
        return std::nullopt;
    QString accumulated = QStringLiteral("/");
    const QStringList components = standardized.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& component : components) {
        // A resolved target may itself hold "..", so clean after each append.
        accumulated = QDir::cleanPath(accumulated + QLatin1Char('/') + component);
        const std::optional<QString> resolved =
            stringByIterativelyResolvingSymlinkOrAlias(accumulated);
        if (!resolved)
            return std::nullopt;
        accumulated = *resolved;
    }
    return accumulated;
}

QString shellQuote(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace orvix
