#pragma once

#include "base/SettingsTable.h"

#include <QString>

// The two settings the updater reads and writes ("updatepath" and
// "lastupdate", rows of the settings table), so that its logic does not
// depend on where settings live.  A read stores the default when the value is
// missing, like the settings store does.  UI thread only.
class UpdateSettings
{
public:
    virtual ~UpdateSettings() = default;
    virtual QString readString(const QString &name, const QString &def) = 0;
    virtual void writeString(const QString &name, const QString &value) = 0;

    // Base address of the update server; empty switches the updater off.
    QString updatePath() { return readFixed(sheafline::Setting::UpdatePath); }
    // The package installed last; empty before the first update.
    QString lastUpdate() { return readFixed(sheafline::Setting::LastUpdate); }
    void setLastUpdate(const QString &zipFile)
    {
        writeString(sheafline::settingName(sheafline::Setting::LastUpdate), zipFile);
    }

private:
    QString readFixed(sheafline::Setting setting)
    {
        const sheafline::SettingRow &row = sheafline::settingRow(setting);
        return readString(row.key(), QString::fromUtf16(row.defaultText));
    }
};
