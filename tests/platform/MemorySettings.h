#pragma once

#include "platform/SettingsStore.h"

#include <QMap>

namespace orvix::test {

// Settings kept in memory; counts writes to disk.
class MemorySettings : public SettingsStore {
public:
    bool boolForKey(const QString& key) const override { return _values.value(key).toBool(); }
    QVariant objectForKey(const QString& key) const override { return _values.value(key); }
    void setObject(const QVariant& value, const QString& key) override {
        if (value.isValid())
            _values.insert(key, value);
        else
            _values.remove(key);
    }
    void synchronize() override { ++synchronizeCount; }

    QMap<QString, QVariant> _values;
    int synchronizeCount = 0;
};

} // namespace orvix::test
