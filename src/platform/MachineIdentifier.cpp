#include "platform/MachineIdentifier.h"

#include <QFile>
#include <QMessageAuthenticationCode>
#include <cctype>

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
        // "uninitialized" on a first boot: the D-Bus copy may still hold one.
        const QByteArray id = file.read(256).trimmed();
        if (!digest(id).isEmpty())
            return id;
    }
    return std::nullopt;
}

const QByteArray& MachineIdentifier::applicationId() {
    // Fixed for good: changing it changes every machine's identifier.
    static const QByteArray id = QByteArray::fromHex("ac146f2132b740f7a355ea79858660c6");
    return id;
}

QString MachineIdentifier::digest(const QByteArray& machineId) {
    const QByteArray text = machineId.trimmed();
    if (text.size() != 32)
        return {};
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
    const QByteArray key = QByteArray::fromHex(text);
    if (key.count('\0') == key.size())
        return {}; // an uninitialised machine id identifies nothing
    QByteArray id =
        QMessageAuthenticationCode::hash(applicationId(), key, QCryptographicHash::Sha256).left(16);
    // Version 4, variant 1, as other application-specific machine ids are.
    id[6] = static_cast<char>((id[6] & 0x0F) | 0x40);
    id[8] = static_cast<char>((id[8] & 0x3F) | 0x80);
    return QString::fromLatin1(id.toHex());
}

QString MachineIdentifier::uuid() {
    std::lock_guard lock(_lock);
    if (!_cache) {
        const std::optional<QByteArray> id = _reader();
        const QString value = id ? digest(*id) : QString();
        if (!value.isEmpty())
            _cache = value;
    }
    return _cache.value_or(QString());
}

} // namespace orvix
