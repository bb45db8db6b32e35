#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <mutex>
#include <optional>

namespace orvix {

// A stable, anonymous identifier of this machine: the SHA-1 of the system's
// machine id. Computed once under a lock and kept; a failed attempt is
// retried on the next call.
class MachineIdentifier {
public:
    // Reads the machine's stable identifier; nothing when it cannot.
    using Reader = std::function<std::optional<QByteArray>()>;

    explicit MachineIdentifier(Reader reader = {});

    // The identifier, or an empty string when it cannot be computed.
    QString uuid();

    // The process's identifier.
    static MachineIdentifier& shared();
    // /etc/machine-id, else the D-Bus copy of it.
    static std::optional<QByteArray> readSystemMachineId();
    static QString digest(const QByteArray& machineId);

private:
    Reader _reader;
    std::recursive_mutex _lock;
    std::optional<QString> _cache;
};

} // namespace orvix
