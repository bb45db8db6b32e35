#include "platform/MachineIdentifier.h"

#include <QCryptographicHash>
#include <QFile>

namespace orvix {

MachineIdentifier::MachineIdentifier(Reader reader) : _reader(std::move(reader)) {
    if (!_reader)
        _reader = readSystemMachineId;
}

MachineIdentifier& MachineIdentifier::shared() {
    static MachineIdentifier* identifier = new MachineIdentifier();
    return *identifier;
}

std::optional<QByteArray> MachineIdentifier::readSystemMachineId() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        QFile file(QString::fromLatin1(path));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray id = file.read(256).trimmed();
        if (!id.isEmpty())
            return id;
    }
    return std::nullopt;
}

QString MachineIdentifier::digest(const QByteArray& machineId) {
    return QString::fromLatin1(
        QCryptographicHash::hash(machineId, QCryptographicHash::Sha1).toHex());
}

QString MachineIdentifier::uuid() {
    std::lock_guard lock(_lock);
    if (!_cache) {
        const std::optional<QByteArray> id = _reader();
        if (id && !id->trimmed().isEmpty())
            _cache = digest(id->trimmed());
    }
    return _cache.value_or(QString());
}

} // namespace orvix
