#pragma once

#include "platform/Alert.h"
#include "platform/SettingsStore.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <functional>
#include <memory>

class QMessageBox;
class QObject;

namespace orvix {

// Once a build has been in use for a week, asks for feedback by mail; "Not
// Now" asks again a week later. Making the instance runs the decision.
class Feedback {
public:
    static constexpr qint64 kPromptInterval = 604800; // seconds: 7 days

    struct Environment {
        SettingsStore* settings = nullptr;
        std::function<QDateTime()> now;           // default: the system clock
        AlertRunner runAlert;                     // default: modal
        std::function<bool(const QUrl&)> openUrl; // default: the desktop's handler
        std::function<void()> activate;
        QString supportMailDomain; // default: the build's
        QString osVersion;         // default: the running system's name and version
    };

    // The process's instance, made (and the decision run) on the first call.
    static Feedback& sharedInstance(SettingsStore& settings);

    explicit Feedback(Environment environment);
    Feedback(const Feedback&) = delete;
    Feedback& operator=(const Feedback&) = delete;

    void promptForFeedback(QObject* sender = nullptr);
    void sendFeedback(QObject* sender = nullptr);

    std::unique_ptr<QMessageBox> buildPromptAlert() const;
    // The mail message as an address text, and as the address that is opened
    // (invalid when the text does not make one).
    QString feedbackAddressText() const;
    QUrl feedbackAddress() const;

    static QVariant infoValueForKey(const QString& key);
    static QString applicationName();
    static QString applicationShortVersionString();
    static QString applicationVersion();
    static QString applicationIdentifier();
    QString osVersion() const;

private:
    void decide();

    Environment _env;
};

} // namespace orvix
