#pragma once

#include <QString>
#include <QVariant>

namespace orvix {

// The narrow view of the user's settings that the platform services need. The
// application's defaults object implements it; tests use an in-memory one.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    virtual bool boolForKey(const QString& key) const = 0;
    // An invalid QVariant when nothing is stored and no default is registered.
    virtual QVariant objectForKey(const QString& key) const = 0;
    virtual void setObject(const QVariant& value, const QString& key) = 0;
    // Writes pending changes to disk.
    virtual void synchronize() = 0;
};

} // namespace orvix
