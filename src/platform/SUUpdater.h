#pragma once

#include "platform/Appcast.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariant>

class QProcess;

namespace orvix {

class SettingsStore;
class SUUpdater;

// One entry of the profile sent with a feed request.
struct ProfileEntry {
    QString key;
    QString displayKey;
    QVariant value;
    QVariant displayValue;
};

// The questions the updater asks and the outcomes it reports.
class SUUpdaterDelegate {
public:
    virtual ~SUUpdaterDelegate() = default;
    virtual void updaterDidFindValidUpdate(SUUpdater* updater, const AppcastItem& update) = 0;
    virtual void updaterDidNotFindUpdate(SUUpdater* updater) = 0;
    virtual void updaterWillSkipThisUpdate(SUUpdater* updater) = 0;
    // The updater never asks the user whether it may check; the program decides.
    virtual bool updaterShouldPromptForPermissionToCheckForUpdates(SUUpdater* updater) = 0;
    virtual QList<ProfileEntry> feedParametersForUpdater(SUUpdater* updater,
                                                         bool sendingSystemProfile) = 0;
};

// Fetches the update feed and compares its newest release with this build.
// The download runs in a child process (orvix-fetch), so the network and TLS
// stack never live in the keyboard's own memory; its end is read on the
// event loop, so a slow or failing server never blocks the caller. Any
// outcome other than the three delegate reports leaves the delegate untouched.
class SUUpdater : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Found, NotFound, Skipped, NetworkError, Malformed, Refused };
    Q_ENUM(Outcome)

    explicit SUUpdater(QObject* parent = nullptr);
    ~SUUpdater() override;

    // The process's updater, made on first use and kept until the process ends.
    static SUUpdater* sharedUpdater();

    void setDelegate(SUUpdaterDelegate* delegate) { _delegate = delegate; }
    SUUpdaterDelegate* delegate() const { return _delegate; }
    void setSettings(SettingsStore* settings) { _settings = settings; }
    void setFeedURL(const QUrl& url) { _feedUrl = url; }
    QUrl feedURL() const { return _feedUrl; }
    void setHostVersion(const QString& version) { _hostVersion = version; }
    void setTimeoutMs(int ms) { _timeoutMs = ms; }
    bool isChecking() const { return _fetch != nullptr; }

    // Starts a check unless one is under way.
    void checkForUpdateInformation();
    // Remembers a release the user does not want; later checks skip it.
    void skipVersion(const QString& version);

    // HTTPS only; plain HTTP only to this machine.
    static bool isAllowedFeedURL(const QUrl& url);
    // The feed address with the profile entries as parameters.
    static QUrl feedURLWithParameters(const QUrl& feed, const QList<ProfileEntry>& entries);

signals:
    void checkFinished(orvix::SUUpdater::Outcome outcome);

private:
    void finish(Outcome outcome);
    void handleFetchEnd();

    SUUpdaterDelegate* _delegate = nullptr;
    SettingsStore* _settings = nullptr;
    QUrl _feedUrl;
    QString _hostVersion;
    int _timeoutMs = 30000;
    QProcess* _fetch = nullptr; // the check under way
};

} // namespace orvix
