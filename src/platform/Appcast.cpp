#include "platform/Appcast.h"

#include <QXmlStreamReader>

namespace orvix {

namespace {

QString sparkleAttribute(const QXmlStreamAttributes& attributes, QLatin1String name) {
    for (const QXmlStreamAttribute& a : attributes)
        if (a.name() == name &&
            (a.prefix() == QLatin1String("sparkle") || !a.namespaceUri().isEmpty()))
            return a.value().toString().trimmed();
    return {};
}

enum class Part { Number, Text, Separator };

struct Chunk {
    Part part;
    QString text;
};

Part partOf(QChar c) {
    if (c.isDigit())
        return Part::Number;
    if (c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_') ||
        c == QLatin1Char('+') || c.isSpace())
        return Part::Separator;
    return Part::Text;
}

QList<Chunk> chunks(const QString& v) {
    QList<Chunk> out;
    for (QChar c : v) {
        const Part p = partOf(c);
        if (!out.isEmpty() && out.last().part == p && p != Part::Separator)
            out.last().text += c;
        else
            out.append({p, QString(c)});
    }
    return out;
}

int compareNumbers(const QString& a, const QString& b) {
    // Digit runs of any length: strip leading zeros, then longer is larger.
    QString x = a, y = b;
    while (x.size() > 1 && x.startsWith(QLatin1Char('0')))
        x.remove(0, 1);
    while (y.size() > 1 && y.startsWith(QLatin1Char('0')))
        y.remove(0, 1);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    return x.compare(y);
}

} // namespace

int compareVersions(const QString& a, const QString& b) {
    const QList<Chunk> x = chunks(a.trimmed()), y = chunks(b.trimmed());
    const qsizetype n = std::min(x.size(), y.size());
    for (qsizetype i = 0; i < n; ++i) {
        const Chunk& p = x[i];
        const Chunk& q = y[i];
        if (p.part == q.part) {
            if (p.part == Part::Number) {
                if (const int c = compareNumbers(p.text, q.text))
                    return c;
            } else if (p.part == Part::Text) {
                if (const int c = p.text.compare(q.text))
                    return c < 0 ? -1 : 1;
            }
            continue;
        }
        // Different kinds at the same place: a number outranks a separator,
        // which outranks text ("1.0.1" is newer than "1.0a").
        auto rank = [](Part part) {
            return part == Part::Number ? 2 : part == Part::Separator ? 1 : 0;
        };
        return rank(p.part) < rank(q.part) ? -1 : 1;
    }
    if (x.size() == y.size())
        return 0;
    // The longer one is newer unless what it adds starts with text ("1.0b1" < "1.0").
    const bool aLonger = x.size() > y.size();
    const QList<Chunk>& longer = aLonger ? x : y;
    qsizetype i = n;
    while (i < longer.size() && longer[i].part == Part::Separator)
        ++i;
    const bool addsText = i < longer.size() && longer[i].part == Part::Text;
    if (i == longer.size())
        return 0; // only trailing separators
    return (aLonger != addsText) ? 1 : -1;
}

std::optional<QList<AppcastItem>> parseAppcast(const QByteArray& document, QString* error) {
    QXmlStreamReader xml(document);
    QList<AppcastItem> items;
    bool sawRss = false, sawChannel = false;
    std::optional<AppcastItem> current;
    QString currentElement;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = xml.name();
            if (!sawRss) {
                if (name != QLatin1String("rss")) {
                    xml.raiseError(QStringLiteral("not an RSS document"));
                    break;
                }
                sawRss = true;
            } else if (name == QLatin1String("channel")) {
                sawChannel = true;
            } else if (name == QLatin1String("item") && sawChannel) {
                current = AppcastItem{};
            } else if (current && name == QLatin1String("enclosure")) {
                const QXmlStreamAttributes attributes = xml.attributes();
                current->fileUrl =
                    QUrl(attributes.value(QLatin1String("url")).toString().trimmed());
                const QString version = sparkleAttribute(attributes, QLatin1String("version"));
                if (!version.isEmpty())
                    current->version = version;
                const QString shortVersion =
                    sparkleAttribute(attributes, QLatin1String("shortVersionString"));
                if (!shortVersion.isEmpty())
                    current->shortVersionString = shortVersion;
            }
            currentElement = current ? xml.qualifiedName().toString() : QString();
            if (current && (currentElement == QLatin1String("title") ||
                            currentElement == QLatin1String("link") ||
                            currentElement == QLatin1String("sparkle:version") ||
                            currentElement == QLatin1String("sparkle:shortVersionString"))) {
                const QString text = xml.readElementText().trimmed();
                if (currentElement == QLatin1String("title"))
                    current->title = text;
                else if (currentElement == QLatin1String("link"))
                    current->releasePage = QUrl(text);
                else if (currentElement == QLatin1String("sparkle:version"))
                    current->version = text;
                else
                    current->shortVersionString = text;
            }
        } else if (token == QXmlStreamReader::EndElement && current &&
                   xml.name() == QLatin1String("item")) {
            if (!current->version.isEmpty()) {
                if (!current->releasePage.isValid() || current->releasePage.isEmpty())
                    current->releasePage = current->fileUrl;
                if (current->shortVersionString.isEmpty())
                    current->shortVersionString = current->version;
                items.append(*current);
            }
            current.reset();
        }
    }
    if (!xml.hasError() && (!sawRss || !sawChannel))
        xml.raiseError(QStringLiteral("no RSS channel"));
    if (xml.hasError()) {
        if (error)
            *error = xml.errorString();
        return std::nullopt;
    }
    return items;
}

std::optional<AppcastItem> bestUpdate(const QList<AppcastItem>& items, const QString& hostVersion) {
    std::optional<AppcastItem> best;
    for (const AppcastItem& item : items)
        if (!best || compareVersions(item.version, best->version) > 0)
            best = item;
    if (best && compareVersions(best->version, hostVersion) > 0)
        return best;
    return std::nullopt;
}

} // namespace orvix
