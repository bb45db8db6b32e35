#include "platform/SUUpdater.h"

#include "BuildInfo.h"
#include "os/Log.h"
#include "platform/AppAdditions.h"
#include "platform/SettingsStore.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

namespace orvix {

namespace {
constexpr qint64 kMaxFeedBytes = 4 * 1024 * 1024;
const QString kSendProfile = QStringLiteral("SUSendProfileInfo");
const QString kSkippedVersion = QStringLiteral("SUSkippedVersion");
} // namespace

SUUpdater::SUUpdater(QObject* parent)
    : QObject(parent), _feedUrl(QString::fromUtf8(buildinfo::kFeedUrl)),
      _hostVersion(AppAdditions::applicationVersion()), _network(new QNetworkAccessManager(this)) {
    _network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

// A check under way ends with the network manager, a child of this object.
SUUpdater::~SUUpdater() = default;

SUUpdater* SUUpdater::sharedUpdater() {
    static SUUpdater* updater = new SUUpdater();
    return updater;
}

bool SUUpdater::isAllowedFeedURL(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (url.scheme() != QLatin1String("http"))
        return false;
    if (url.host() == QLatin1String("localhost"))
        return true;
    const QHostAddress address(url.host());
    return !address.isNull() && address.isLoopback();
}

QUrl SUUpdater::feedURLWithParameters(const QUrl& feed, const QList<ProfileEntry>& entries) {
    if (entries.isEmpty())
        return feed;
    QUrl url = feed;
    QUrlQuery query(url);
    for (const ProfileEntry& entry : entries) {
        // Encoded fully so '&', '=' and '+' in a value cannot split it.
        query.addQueryItem(QString::fromLatin1(QUrl::toPercentEncoding(entry.key)),
                           QString::fromLatin1(QUrl::toPercentEncoding(entry.value.toString())));
    }
    url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    return url;
}

void SUUpdater::checkForUpdateInformation() {
    if (_reply)
        return;
    const bool sendProfile = _settings && _settings->boolForKey(kSendProfile);
    QList<ProfileEntry> entries;
    if (_delegate)
        entries = _delegate->feedParametersForUpdater(this, sendProfile);
    const QUrl url = feedURLWithParameters(_feedUrl, entries);
    if (!isAllowedFeedURL(url)) {
        Log::write("Update check refused: the feed address is not HTTPS");
        // Reported after returning, like every other outcome.
        QMetaObject::invokeMethod(
            this, [this] { finish(Outcome::Refused); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(_timeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("%1/%2").arg(AppAdditions::applicationName(), _hostVersion));
    _reply = _network->get(request);
    connect(_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > kMaxFeedBytes && _reply)
            _reply->abort();
    });
    connect(_reply, &QNetworkReply::finished, this, &SUUpdater::handleReply);
}

void SUUpdater::handleReply() {
    QNetworkReply* reply = _reply;
    _reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || (status != 0 && status != 200)) {
        Log::write("Update check failed: %s", qPrintable(reply->errorString()));
        finish(Outcome::NetworkError);
        return;
    }
    QString error;
    const std::optional<QList<AppcastItem>> items = parseAppcast(reply->readAll(), &error);
    if (!items) {
        Log::write("Update check failed: the feed is malformed (%s)", qPrintable(error));
        finish(Outcome::Malformed);
        return;
    }
    const std::optional<AppcastItem> update = bestUpdate(*items, _hostVersion);
    if (!update) {
        if (_delegate)
            _delegate->updaterDidNotFindUpdate(this);
        finish(Outcome::NotFound);
        return;
    }
    const QVariant skipped = _settings ? _settings->objectForKey(kSkippedVersion) : QVariant();
    if (skipped.isValid() && skipped.toString() == update->version) {
        if (_delegate)
            _delegate->updaterWillSkipThisUpdate(this);
        finish(Outcome::Skipped);
        return;
    }
    if (_delegate)
        _delegate->updaterDidFindValidUpdate(this, *update);
    finish(Outcome::Found);
}

void SUUpdater::skipVersion(const QString& version) {
    if (_settings) {
        _settings->setObject(version, kSkippedVersion);
        _settings->synchronize();
    }
}

void SUUpdater::finish(Outcome outcome) {
    emit checkFinished(outcome);
}

} // namespace orvix
