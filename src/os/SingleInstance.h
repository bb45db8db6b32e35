#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <map>

class QSocketNotifier;

namespace orvix {

// Makes sure only one copy of the program runs per user. The first copy listens
// on a private local socket; a later copy connects, asks it to reopen and quits.
// Plain Unix sockets, so the keyboard needs no network library.
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
    struct Client {
        QSocketNotifier* notifier = nullptr;
        QByteArray request;
        quint64 serial = 0; // order of acceptance
    };

    bool askOtherCopyToReopen();
    bool listen();
    void acceptConnections();
    void readRequest(int fd);
    void closeClient(int fd);

    QString _endpoint;
    int _listener = -1;
    QSocketNotifier* _listenNotifier = nullptr;
    std::map<int, Client> _clients;
    quint64 _accepted = 0;
    int _replyTimeoutMs = 2000;
};

} // namespace orvix
