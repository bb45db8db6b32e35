#pragma once

#include "platform/Alert.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

class QMessageBox;

namespace orvix {

// Leaves a short report when the program crashes and offers it at the next
// launch. A report holds the signal, the time, the versions and a backtrace:
// never anything the user typed.
class CrashReporter {
public:
    // Where reports are kept: $XDG_STATE_HOME/Orvix/CrashReports.
    static QString defaultReportFolder();

    // Installs the handler for the fatal signals. Everything the handler needs
    // is prepared here, so that at crash time it only calls functions that are
    // safe inside a signal handler. Answers no when the folder cannot be made.
    static bool install(const QString& reportFolder = defaultReportFolder());

    struct CheckEnvironment {
        QString reportFolder;                     // default: defaultReportFolder()
        AlertRunner runAlert;                     // default: modal
        std::function<bool(const QUrl&)> openUrl; // default: the desktop's handlers
        QString supportMailDomain;                // default: the build's
    };

    // At launch: offers the newest report not offered before (by mail or by
    // showing the file). Yes when it showed the offer.
    static bool check();
    static bool check(CheckEnvironment environment);

    // Reports not yet offered, newest first.
    static QStringList pendingReports(const QString& reportFolder);
    static std::unique_ptr<QMessageBox> buildOfferAlert();
    static QUrl mailAddressForReport(const QString& reportText, const QString& domain);
};

} // namespace orvix
