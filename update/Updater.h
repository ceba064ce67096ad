#pragma once

#include "base/SettingsStore.h"
#include "update/UpdateChecker.h"
#include "update/UpdateSettings.h"

#include <QString>

// The updater's two settings kept in the settings store.
class StoreUpdateSettings final : public UpdateSettings
{
public:
    explicit StoreUpdateSettings(SettingsStore store) : m_store(std::move(store)) {}
    QString readString(const QString &name, const QString &def) override { return m_store.readString(name, def); }
    void writeString(const QString &name, const QString &value) override { m_store.writeString(name, value); }

private:
    SettingsStore m_store;
};

// The update operations the program runs: the check (at start-up and from the
// Help menu) and the self-update.  The main window is handed one, so that a
// window can be made that never reaches the network.  UI thread only.
class Updater
{
public:
    virtual ~Updater() = default;
    // True when the server names a package newer than the installed one; it
    // is then in the work folder or its download was attempted.  `zipFile`
    // receives the package name (see UpdateChecker::check).
    virtual bool check(const UpdatePaths &paths, QString &zipFile) = 0;
    // Shows the restart notice, starts the update script for `zipFile` and
    // asks the program to end; the script restarts it.
    virtual void runUpdate(const UpdatePaths &paths, const QString &zipFile) = 0;
};

// The updater of the program: over HTTP to the update server, with the
// dialogs of the installed UpdateUi.  Holds a reference to `settings`, which
// must outlive it.
class NetworkUpdater final : public Updater
{
public:
    explicit NetworkUpdater(UpdateSettings &settings) : m_settings(settings) {}

    bool check(const UpdatePaths &paths, QString &zipFile) override;
    void runUpdate(const UpdatePaths &paths, const QString &zipFile) override;

    // Fetches `url` into `fileName` within the check's time limits.
    static bool downloadFile(const QString &url, const QString &fileName);

private:
    UpdateSettings &m_settings;
};
