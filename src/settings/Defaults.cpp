#include "settings/Defaults.h"

#include "os/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <cmath>

namespace orvix {

Defaults& Defaults::standardUserDefaults() {
    static Defaults* defaults = new Defaults(standardFilePath());
    return *defaults;
}

QString Defaults::standardFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Orvix/Orvix.conf");
}

bool Defaults::isReadableSettingsText(const QByteArray& text) {
    if (text.contains('\0'))
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder.decode(text);
    if (decoder.hasError())
        return false;
    for (QStringView line : QStringView(decoded).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']'))
            continue;
        if (line.indexOf(u'=') > 0)
            continue;
        return false;
    }
    return true;
}

Defaults::Defaults(const QString& filePath, QObject* parent) : QObject(parent) {
    QFile file(filePath);
    const bool unreadable =
        file.open(QIODevice::ReadOnly) && !isReadableSettingsText(file.read(1 << 20));
    file.close();
    if (unreadable)
        preserveUnreadableFile(filePath);
    _settings = std::make_unique<QSettings>(filePath, QSettings::IniFormat);
    if (_settings->status() == QSettings::FormatError) {
        // Keep the user's file: QSettings would otherwise replace it with
        // what it understood on the next write.
        preserveUnreadableFile(filePath);
        _settings = std::make_unique<QSettings>(filePath, QSettings::IniFormat);
    }
}

Defaults::~Defaults() {
    _settings->sync();
}

void Defaults::preserveUnreadableFile(const QString& filePath) {
    const QString backup =
        filePath + QStringLiteral(".unreadable-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmss"));
    if (QFile::rename(filePath, backup))
        Log::write("Settings file %s could not be read; kept it as %s and started from defaults",
                   qUtf8Printable(filePath), qUtf8Printable(backup));
    else
        Log::write("Settings file %s could not be read and could not be set aside",
                   qUtf8Printable(filePath));
}

void Defaults::registerDefaults(const QVariantMap& defaults) {
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        _registered.insert(it.key(), it.value());
}

void Defaults::setArgumentValue(const QVariant& value, const QString& key) {
    _arguments.insert(key, value);
}

QVariant Defaults::objectForKey(const QString& key) const {
    if (auto it = _arguments.constFind(key); it != _arguments.constEnd())
        return *it;
    QVariant stored = _settings->value(key);
    if (stored.isValid())
        return stored;
    return _registered.value(key);
}

bool Defaults::hasStoredValue(const QString& key) const {
    return _settings->contains(key);
}

QString Defaults::stringForKey(const QString& key) const {
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    const QVariant fallback = _registered.value(key);
    return fallback.typeId() == QMetaType::QString ? fallback.toString() : QString();
}

std::optional<bool> Defaults::parseBool(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toLongLong() != 0;
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble() != 0.0;
    case QMetaType::QString: {
        const QString s = value.toString().trimmed().toLower();
        if (s == u"true" || s == u"yes")
            return true;
        if (s == u"false" || s == u"no")
            return false;
        if (auto number = parseFloat(value))
            return *number != 0.0;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<qint64> Defaults::parseInteger(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
        return value.toLongLong();
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QString: {
        bool ok = false;
        const QString text = value.toString().trimmed();
        const qint64 asInteger = text.toLongLong(&ok);
        if (ok)
            return asInteger;
        // A stored "2.0" is still the integer 2; anything not finite or out of
        // range is unreadable.
        const double asDouble = text.toDouble(&ok);
        if (ok && std::isfinite(asDouble) && std::fabs(asDouble) < 9.0e18)
            return static_cast<qint64>(asDouble);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> Defaults::parseFloat(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1.0 : 0.0;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QString: {
        bool ok = false;
        const double d = value.toString().trimmed().toDouble(&ok);
        if (ok && std::isfinite(d))
            return d;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

bool Defaults::boolForKey(const QString& key) const {
    if (auto v = parseBool(objectForKey(key)))
        return *v;
    return parseBool(_registered.value(key)).value_or(false);
}

qint64 Defaults::integerForKey(const QString& key) const {
    if (auto v = parseInteger(objectForKey(key)))
        return *v;
    return parseInteger(_registered.value(key)).value_or(0);
}

double Defaults::floatForKey(const QString& key) const {
    if (auto v = parseFloat(objectForKey(key)))
        return *v;
    return parseFloat(_registered.value(key)).value_or(0.0);
}

void Defaults::setObject(const QVariant& value, const QString& key) {
    if (!value.isValid()) {
        removeObject(key);
        return;
    }
    _settings->setValue(key, value);
    emit changed(key);
}

void Defaults::removeObject(const QString& key) {
    _settings->remove(key);
    emit changed(key);
}

void Defaults::synchronize() {
    _settings->sync();
    if (_settings->status() == QSettings::AccessError)
        Log::write("Could not write settings to %s", qUtf8Printable(_settings->fileName()));
}

QString Defaults::filePath() const {
    return _settings->fileName();
}

} // namespace orvix
