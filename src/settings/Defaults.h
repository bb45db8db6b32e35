#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace orvix {

// The user's settings: stored values over registered defaults, in an INI file
// under the XDG config folder. Typed reads never fail: a stored value that
// cannot be read as the asked type reads as the registered default. Every write
// announces the key through `changed`, so observers follow settings live.
class Defaults : public QObject {
    Q_OBJECT
public:
    // The process's defaults: $XDG_CONFIG_HOME/Orvix/Orvix.conf.
    static Defaults& standardUserDefaults();
    static QString standardFilePath();

    explicit Defaults(const QString& filePath, QObject* parent = nullptr);
    ~Defaults() override;

    void registerDefaults(const QVariantMap& defaults);
    // A value given on the command line: it wins over the stored value for
    // this run only and is never written to the file.
    void setArgumentValue(const QVariant& value, const QString& key);
    QVariant registeredDefault(const QString& key) const { return _registered.value(key); }

    // The stored value, else the registered default, else an invalid variant.
    QVariant objectForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;
    bool boolForKey(const QString& key) const;
    qint64 integerForKey(const QString& key) const;
    double floatForKey(const QString& key) const;
    bool hasStoredValue(const QString& key) const;

    void setObject(const QVariant& value, const QString& key);
    void setBool(bool value, const QString& key) { setObject(value, key); }
    void setInteger(qint64 value, const QString& key) { setObject(value, key); }
    void setFloat(double value, const QString& key) { setObject(value, key); }
    void removeObject(const QString& key);

    // Writes pending changes to disk now (they are otherwise written lazily).
    void synchronize();
    QString filePath() const;

    // Parsers shared by the typed reads; exposed so their edge cases are testable.
    static std::optional<bool> parseBool(const QVariant& value);
    static std::optional<qint64> parseInteger(const QVariant& value);
    static std::optional<double> parseFloat(const QVariant& value);
    // Whether a settings file is text this store can read back faithfully.
    static bool isReadableSettingsText(const QByteArray& text);

signals:
    void changed(const QString& key);

private:
    void preserveUnreadableFile(const QString& filePath);

    std::unique_ptr<QSettings> _settings;
    QVariantMap _registered;
    QVariantMap _arguments;
};

} // namespace orvix
