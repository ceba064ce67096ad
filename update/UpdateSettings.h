#pragma once

#include <QString>

// The two settings the updater reads and writes ("updatepath",
// "lastupdate"), so that its logic does not depend on where settings live.
// A read stores the default when the value is missing, like the settings
// store does.  UI thread only.
class UpdateSettings
{
public:
    virtual ~UpdateSettings() = default;
    virtual QString readString(const QString &name, const QString &def) = 0;
    virtual void writeString(const QString &name, const QString &value) = 0;
};
