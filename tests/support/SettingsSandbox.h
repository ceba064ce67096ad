#pragma once

#include "support/TestDir.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

// Private per-user folders for a test that uses the real settings store:
// points XDG_CONFIG_HOME and XDG_CACHE_HOME at a temporary folder and unsets
// XDG_RUNTIME_DIR (so the work folder lands in that cache too).  Create it
// before the first QSettings of the process: QSettings fixes its per-user
// folder then.  A test run directly (not under ctest) thus never touches the
// developer's own settings.
class SettingsSandbox
{
public:
    SettingsSandbox();

    bool isValid() const { return m_dir.isValid(); }
    QString configHome() const { return m_dir.path(QStringLiteral("config")); }
    QString cacheHome() const { return m_dir.path(QStringLiteral("cache")); }
    // The program's settings file.
    QString confPath() const;

    // Removes the program's settings folder (or a file in its place).
    void clear();
    // Writes the settings file as given; false when it could not be written.
    bool writeConf(const QByteArray &text);
    // The settings file's bytes ("<missing>" when absent).
    QByteArray readConf() const;
    // One value as the file holds it now.
    QVariant stored(const QString &name) const;

private:
    TestDir m_dir;
};
