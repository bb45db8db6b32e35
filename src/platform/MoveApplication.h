#pragma once

#include "platform/Alert.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QMessageBox;

namespace orvix {

class SettingsStore;

// The first-run offer to move the AppImage the program runs from into an
// Applications folder (~/Applications when it exists), the copy with or
// without an administrator's authorization, the clean-up and the relaunch.
class MoveApplication {
public:
    struct Environment {
        SettingsStore* settings = nullptr;
        QString bundlePath; // default: the AppImage we run from; empty: nothing to offer
        QString homePath;   // default: the user's home folder
        QStringList localApplicationsFolders;           // machine-wide; the last is the destination
        QStringList systemApplicationsFolders;          // other folders programs live in
        QStringList downloadsFolders;                   // default: the user's download folder
        QStringList readOnlyMediaRoots;                 // default: /media/ and /run/media/
        std::function<bool(const QString&)> isWritable; // default: access(2) for writing
        AlertRunner runAlert;
        std::function<bool()> isActive;
        std::function<void()> activate;
        // Runs a program and waits: its exit code, -1 when it could not start,
        // -2 when a signal ended it.
        std::function<int(const QString&, const QStringList&)> run;
        std::function<bool(const QString&, const QStringList&)> startDetached;
        std::function<bool(const QString&)> trash; // default: trashItemAtPath
        std::function<void(int)> exit;             // default: ends the process at once
        qint64 pid = 0;                            // default: this process
        QString pkexec = QStringLiteral("pkexec");
        QString shell = QStringLiteral("/bin/sh");
    };

    explicit MoveApplication(Environment environment);

    // Yes when an offer was shown and the program goes on; no when there was
    // nothing to offer. Does not return after a move or a switch.
    bool offerMoveToApplicationsFolder();

    // The values the offer is built from.
    struct Plan {
        QString destinationFolder;
        bool inHomeFolder = false;
        QString destinationPath;
        bool needsAuthorization = false;
        bool readOnlyVolume = false;
        bool inDownloads = false;
    };
    std::optional<Plan> plan() const; // nothing when no offer is due (and why is logged)

    std::unique_ptr<QMessageBox> buildOfferAlert(const Plan& plan) const;
    static std::unique_ptr<QMessageBox> buildFailureAlert();

    // The shell lines, every path quoted.
    static QString runningCheckLine(const QString& destinationPath);
    static QString relaunchLine(qint64 pid, const QString& destinationPath);
    static QString unmountLine(const QString& folder);
    // The fixed script pkexec runs to replace an earlier copy: $1 the
    // destination, $2 the source.
    static QString privilegedReplaceScript();

    // Moves an item to the user's trash (the freedesktop trash).
    static bool trashItemAtPath(const QString& path);

    // Looks a text up in the "MoveApplication" string table; the English text
    // is the key and is shown where the table has no entry.
    static QString localized(const QString& english);

    Environment& environment() { return _env; }

private:
    bool copyWithAuthorization(const Plan& plan);
    bool copyWithoutAuthorization(const Plan& plan, bool* switched);
    bool fail();

    Environment _env;
};

} // namespace orvix
