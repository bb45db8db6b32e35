#include "platform/SUUpdater.h"

#include "BuildInfo.h"
#include "os/Bundle.h"
#include "os/Log.h"
#include "platform/AppAdditions.h"
#include "platform/FeedAddress.h"
#include "platform/SettingsStore.h"

#include <QProcess>
#include <QTimer>
#include <QUrlQuery>
#include <csignal>
#include <sys/prctl.h>

namespace orvix {

namespace {
constexpr qint64 kMaxFeedBytes = 4 * 1024 * 1024;
// Beyond its own transfer timeout, the time the helper gets to start and end.
constexpr int kHelperGraceMs = 5000;
const QString kFetchHelper = QStringLiteral("orvix-fetch");
const QString kSendProfile = QStringLiteral("SUSendProfileInfo");
const QString kSkippedVersion = QStringLiteral("SUSkippedVersion");
} // namespace

SUUpdater::SUUpdater(QObject* parent)
    : QObject(parent), _hostVersion(AppAdditions::applicationVersion()) {
    const QByteArray override = qgetenv("ORVIX_UPDATE_FEED");
    _feedUrl = feedAddress(buildinfo::kFeedUrl, override);
    if (!override.isEmpty() && _feedUrl == QUrl(QString::fromUtf8(buildinfo::kFeedUrl)))
        Log::write("Ignoring ORVIX_UPDATE_FEED: only a feed on this machine can replace the "
                   "update feed");
}

SUUpdater::~SUUpdater() {
    // A check under way ends with its helper, which must not outlive us.
    if (_fetch) {
        _fetch->disconnect(this);
        _fetch->kill();
        _fetch->waitForFinished(1000);
    }
}

SUUpdater* SUUpdater::sharedUpdater() {
    static SUUpdater* updater = new SUUpdater();
    return updater;
}

bool SUUpdater::isAllowedFeedURL(const QUrl& url) {
    return isAllowedFeedAddress(url);
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
    if (_fetch)
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
    const QString helper = Bundle::pathForAuxiliaryExecutable(kFetchHelper);
    if (helper.isEmpty()) {
        Log::write("Update check failed: %s is not installed", qUtf8Printable(kFetchHelper));
        QMetaObject::invokeMethod(
            this, [this] { finish(Outcome::NetworkError); }, Qt::QueuedConnection);
        return;
    }
    _fetch = new QProcess(this);
    // Arguments go to the helper as they are, never through a shell.
    _fetch->setProgram(helper);
    _fetch->setArguments(
        {QStringLiteral("--timeout-ms"), QString::number(_timeoutMs), QStringLiteral("--max-bytes"),
         QString::number(kMaxFeedBytes), QStringLiteral("--user-agent"),
         QStringLiteral("%1/%2").arg(AppAdditions::applicationName(), _hostVersion),
         url.toString(QUrl::FullyEncoded)});
    _fetch->setProcessChannelMode(QProcess::SeparateChannels);
    // The helper ends with us even when we are killed outright.
    _fetch->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    connect(_fetch, &QProcess::readyReadStandardOutput, this, [this] {
        // The helper caps the download itself; this guards against it misbehaving.
        if (_fetch && _fetch->bytesAvailable() > kMaxFeedBytes)
            _fetch->kill();
    });
    connect(_fetch, &QProcess::finished, this, &SUUpdater::handleFetchEnd);
    connect(_fetch, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            handleFetchEnd();
    });
    auto* deadline = new QTimer(_fetch);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, _fetch, [fetch = _fetch] {
        fetch->setProperty("timedOut", true);
        fetch->kill();
    });
    deadline->start(_timeoutMs + kHelperGraceMs);
    _fetch->start(QIODevice::ReadOnly);
}

void SUUpdater::handleFetchEnd() {
    QProcess* fetch = _fetch;
    _fetch = nullptr;
    if (!fetch)
        return;
    fetch->deleteLater();
    const QByteArray body = fetch->readAllStandardOutput();
    if (fetch->error() == QProcess::FailedToStart || fetch->exitStatus() != QProcess::NormalExit ||
        fetch->exitCode() != 0 || body.size() > kMaxFeedBytes) {
        QString why = QString::fromUtf8(fetch->readAllStandardError()).simplified().left(200);
        if (why.isEmpty() && fetch->property("timedOut").toBool())
            why = QStringLiteral("the server did not answer in time");
        else if (why.isEmpty())
            why = fetch->error() == QProcess::FailedToStart
                      ? QStringLiteral("cannot start %1").arg(kFetchHelper)
                      : QStringLiteral("the download was stopped");
        Log::write("Update check failed: %s", qUtf8Printable(why));
        finish(Outcome::NetworkError);
        return;
    }
    QString error;
    const std::optional<QList<AppcastItem>> items = parseAppcast(body, &error);
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
