#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace orvix {

// Makes sure only one copy of the program runs per user. The first copy listens
// on a private local socket; a later copy connects, asks it to reopen and quits.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Primary,   // no other copy: this one now listens for reopen requests
        Duplicate, // another copy was found and asked to reopen
    };

    explicit SingleInstance(const QString& identifier, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Socket path for an identifier. Identifiers that differ only in case name
    // the same program, so they share one endpoint.
    static QString endpointFor(const QString& identifier);

    // How long a later copy waits for the first to answer before it gives up
    // and quits anyway.
    void setReplyTimeout(int milliseconds) { _replyTimeoutMs = milliseconds; }

    Outcome claim();

signals:
    void reopenRequested();

private:
    bool askOtherCopyToReopen();
    void acceptConnection();

    QString _endpoint;
    QLocalServer _server;
    int _replyTimeoutMs = 2000;
};

} // namespace orvix
