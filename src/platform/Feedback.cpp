#include "platform/Feedback.h"

#include "BuildInfo.h"
#include "platform/AppAdditions.h"
#include "platform/UrlEncode.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QSysInfo>

namespace orvix {

namespace {
const QString kLastVersionUsed = QStringLiteral("FeedbackLastVersionUsed");
const QString kFirstUsed = QStringLiteral("FeedbackFirstUsed");
const QString kPrompted = QStringLiteral("FeedbackPrompted");
const QString kSuppress = QStringLiteral("FeedbackSuppress");
} // namespace

Feedback& Feedback::sharedInstance(SettingsStore& settings) {
    // Made once and kept for the life of the process.
    static Feedback* instance = new Feedback(Environment{&settings, {}, {}, {}, {}, {}, {}});
    return *instance;
}

Feedback::Feedback(Environment environment) : _env(std::move(environment)) {
    if (!_env.now)
        _env.now = [] {
            return QDateTime::currentDateTimeUtc();
        };
    if (!_env.runAlert)
        _env.runAlert = runAlertModally;
    if (!_env.openUrl)
        _env.openUrl = [](const QUrl& url) {
            return QDesktopServices::openUrl(url);
        };
    if (_env.supportMailDomain.isEmpty())
        _env.supportMailDomain = QString::fromUtf8(buildinfo::kSupportMailDomain);
    if (_env.osVersion.isEmpty())
        _env.osVersion = QSysInfo::prettyProductName();
    if (_env.settings)
        decide();
}

void Feedback::decide() {
    SettingsStore& settings = *_env.settings;
    const QVariant lastVersion = settings.objectForKey(kLastVersionUsed);
    if (!lastVersion.isValid() || lastVersion.toString() != applicationVersion()) {
        // A build not seen before: its week starts now.
        settings.setObject(_env.now(), kFirstUsed);
        settings.setObject(applicationVersion(), kLastVersionUsed);
        settings.setObject(false, kPrompted);
        settings.synchronize();
        return;
    }
    const QDateTime firstUsed = settings.objectForKey(kFirstUsed).toDateTime();
    if (settings.boolForKey(kPrompted) || settings.boolForKey(kSuppress) || !firstUsed.isValid())
        return;
    if (firstUsed.secsTo(_env.now()) < kPromptInterval)
        return;
    promptForFeedback(nullptr);
}

std::unique_ptr<QMessageBox> Feedback::buildPromptAlert() const {
    const QString name = applicationName();
    AlertContent content;
    content.messageText = QStringLiteral("Tell Us What You Think of %1").arg(name);
    content.informativeText =
        QStringLiteral("Thank you for using %1!  Have you had any issues to "
                       "report or ideas for improvement?\n\nJust a quick email "
                       "would be greatly appreciated.")
            .arg(name);
    content.firstButton = QStringLiteral("Send Feedback");
    content.secondButton = QStringLiteral("Not Now");
    content.style = AlertStyle::Informational;
    content.showsSuppressionButton = true;
    return makeAlert(content);
}

void Feedback::promptForFeedback(QObject*) {
    if (_env.activate)
        _env.activate();
    std::unique_ptr<QMessageBox> alert = buildPromptAlert();
    const AlertResult result = _env.runAlert(*alert);
    SettingsStore* settings = _env.settings;
    if (result.answer == AlertAnswer::First) {
        sendFeedback(nullptr);
        if (settings)
            settings->setObject(true, kPrompted);
    } else if (settings) {
        settings->setObject(_env.now(), kFirstUsed);
    }
    if (settings) {
        if (result.suppressed)
            settings->setObject(true, kSuppress);
        settings->synchronize();
    }
}

QString Feedback::feedbackAddressText() const {
    const QString name = applicationName();
    const QString subject = urlEncode(
        QStringLiteral("Feedback for %1 %2 (%3) on %4")
            .arg(name, applicationShortVersionString(), applicationVersion(), osVersion()));
    const QString body = urlEncode(QStringLiteral("What do you like about %1?\n\nWhat could be "
                                                  "added/removed?\n\nHave you had any issues?")
                                       .arg(name));
    const QString mailbox = urlEncode(name.toLower());
    return QStringLiteral("mailto:%1@%2?").arg(mailbox, _env.supportMailDomain) +
           QStringLiteral("subject=%1").arg(subject) + QStringLiteral("&body=%1").arg(body);
}

QUrl Feedback::feedbackAddress() const {
    return QUrl(feedbackAddressText(), QUrl::StrictMode);
}

void Feedback::sendFeedback(QObject*) {
    const QUrl address = feedbackAddress();
    if (address.isValid())
        _env.openUrl(address);
}

QVariant Feedback::infoValueForKey(const QString& key) {
    return AppAdditions::infoValueForKey(key);
}

QString Feedback::applicationName() {
    for (const char* key : {"CFBundleName", "CFBundleDisplayName"}) {
        const QVariant value = infoValueForKey(QLatin1String(key));
        if (value.isValid())
            return value.toString();
    }
    return QStringLiteral("this application");
}

QString Feedback::applicationShortVersionString() {
    return infoValueForKey(QStringLiteral("CFBundleShortVersionString")).toString();
}

QString Feedback::applicationVersion() {
    return infoValueForKey(QStringLiteral("CFBundleVersion")).toString();
}

QString Feedback::applicationIdentifier() {
    return infoValueForKey(QStringLiteral("CFBundleIdentifier")).toString();
}

QString Feedback::osVersion() const {
    return _env.osVersion;
}

} // namespace orvix
