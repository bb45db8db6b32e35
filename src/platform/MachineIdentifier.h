#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <mutex>
#include <optional>

namespace orvix {

// A stable, anonymous identifier of this machine for this application: an
// HMAC-SHA256 keyed by the system's machine id over Orvix's own application
// id, shaped as a version 4 id128 and written as 32 lowercase hex digits.
// Someone who knows the machine id cannot recognise the value without also
// computing it for this application, and other programs' values differ.
// Computed once under a lock and kept; a failed attempt is retried on the
// next call.
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
    // The identifier for a machine id as /etc/machine-id holds it (32 hex
    // digits); empty when the id is malformed or all zero.
    static QString digest(const QByteArray& machineId);
    // Orvix's application id, the message of the HMAC.
    static const QByteArray& applicationId();

private:
    Reader _reader;
    std::recursive_mutex _lock;
    std::optional<QString> _cache;
};

} // namespace orvix
