#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace orvix {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread, so a
// polite kill ends the program through its normal quit path.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> _notifier;
};

} // namespace orvix
