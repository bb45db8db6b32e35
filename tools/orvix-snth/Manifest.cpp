#include "Manifest.h"

#include <QDir>
#include <set>

namespace orvix::snth {

QStringList splitWords(const QString& line, bool* ok) {
    QStringList words;
    QString current;
    bool inQuotes = false, hasWord = false;
    for (QChar c : line) {
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            hasWord = true;
        } else if (c.isSpace() && !inQuotes) {
            if (hasWord)
                words << current;
            current.clear();
            hasWord = false;
        } else {
            current += c;
            hasWord = true;
        }
    }
    if (hasWord)
        words << current;
    if (ok)
        *ok = !inQuotes;
    return words;
}

QString quoteWord(const QString& word) {
    for (QChar c : word)
        if (c.isSpace() || c == QLatin1Char('#'))
            return QLatin1Char('"') + word + QLatin1Char('"');
    return word;
}

namespace {

bool parseCodes(const QString& text, std::vector<int>& codes) {
    std::set<int> set;
    if (text == QStringLiteral("*")) {
        for (int c = 0; c < 255; ++c)
            set.insert(c);
    } else {
        for (const QString& part : text.split(QLatin1Char(','))) {
            const QStringList range = part.split(QLatin1Char('-'));
            bool ok1 = false, ok2 = true;
            const int from = range.value(0).toInt(&ok1);
            const int to = range.size() == 2 ? range.value(1).toInt(&ok2) : from;
            if (range.size() > 2 || !ok1 || !ok2 || from < 0 || to > 254 || from > to)
                return false;
            for (int c = from; c <= to; ++c)
                set.insert(c);
        }
    }
    codes.assign(set.begin(), set.end());
    return true;
}

} // namespace

bool parseManifest(const QString& text, const QString& baseDir, Manifest& out, QString& error) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        bool quotesOk = true;
        const QStringList words = splitWords(line, &quotesOk);
        auto fail = [&](const QString& why) {
            error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return false;
        };
        if (!quotesOk)
            return fail(QStringLiteral("unbalanced quotes"));
        if (words.size() < 3)
            return fail(QStringLiteral("expected: STATE CODES FILE..."));
        ManifestEntry entry;
        entry.line = i + 1;
        const QString state = words[0];
        if (state == QStringLiteral("press") || state == QStringLiteral("1"))
            entry.state = 1;
        else if (state == QStringLiteral("release") || state == QStringLiteral("0"))
            entry.state = 0;
        else if (state == QStringLiteral("2"))
            entry.state = 2;
        else
            return fail(QStringLiteral("unknown key state \"%1\"").arg(state));
        if (!parseCodes(words[1], entry.codes))
            return fail(QStringLiteral("bad key codes \"%1\" (0-254)").arg(words[1]));
        for (int w = 2; w < words.size(); ++w) {
            ManifestEntry::File file;
            QString path = words[w];
            if (path.startsWith(QStringLiteral("link:"))) {
                file.embed = false;
                path = path.mid(5);
            }
            if (path.isEmpty())
                return fail(QStringLiteral("empty file name"));
            file.path = QDir::cleanPath(QDir(baseDir).absoluteFilePath(path));
            entry.files.push_back(file);
        }
        out.entries.push_back(std::move(entry));
    }
    if (out.entries.empty()) {
        error = QStringLiteral("the manifest assigns no sounds");
        return false;
    }
    return true;
}

} // namespace orvix::snth
