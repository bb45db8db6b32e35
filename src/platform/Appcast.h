#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

namespace orvix {

// One release offered by an update feed.
struct AppcastItem {
    QString title;
    QString version;            // the build number the release carries
    QString shortVersionString; // the version shown to people
    QUrl fileUrl;               // the enclosure
    QUrl releasePage;           // the item's link, or the enclosure when it has none
};

// Reads an RSS update feed. Items without a version are left out; nothing
// comes back when the document is not a well-formed RSS feed.
std::optional<QList<AppcastItem>> parseAppcast(const QByteArray& document,
                                               QString* error = nullptr);

// Orders version strings the way people read them: runs of digits compare as
// numbers, other runs as text, and "1.0" is newer than "1.0b2" but older than
// "1.0.1". Answers <0, 0 or >0.
int compareVersions(const QString& a, const QString& b);

// The newest item newer than the given build, or nothing.
std::optional<AppcastItem> bestUpdate(const QList<AppcastItem>& items, const QString& hostVersion);

} // namespace orvix
