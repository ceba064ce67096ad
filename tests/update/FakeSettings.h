#pragma once

#include "update/UpdateSettings.h"

#include <QHash>

// Settings in memory with the store's rule: a read stores the default when
// the value is missing.
class FakeSettings final : public UpdateSettings
{
public:
    QString readString(const QString &name, const QString &def) override
    {
        if (!values.contains(name))
            values.insert(name, def);
        return values.value(name);
    }
    void writeString(const QString &name, const QString &value) override
    {
        values.insert(name, value);
        ++writes;
    }
    QHash<QString, QString> values;
    int writes = 0;
};
