#pragma once

#include "base/SettingsStore.h"
#include "update/UpdateChecker.h"
#include "update/UpdateSettings.h"

#include <QString>

class UpdateUi;

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

// How handing a release to the update script went.
struct UpdateStart
{
    bool started = false; // the script runs and the program has been asked to end
    QString failure;      // otherwise, what to tell the user
};

// The update operations the program runs: the check (at start-up and from the
// Help menu) and the self-update.  The main window is handed one, so that a
// window can be made that never reaches the network.  UI thread only.
class Updater
{
public:
    virtual ~Updater() = default;
    // Looks for a newer release (see UpdateChecker::check); `zipFile`
    // receives the package name.
    // `ui` shows the download's progress.
    virtual UpdateCheck check(const UpdatePaths &paths, QString &zipFile, UpdateUi &ui) = 0;
    // Verifies the package `zipFile` in the work folder once more, shows the
    // restart notice, starts the update script and asks the program to end;
    // the script restarts it.  When any of that fails, the program goes on
    // and the result says why.
    // `ui` shows the notice and asks the program to end.
    virtual UpdateStart runUpdate(const UpdatePaths &paths, const QString &zipFile, UpdateUi &ui) = 0;
};

// The updater of the program: over HTTP to the update server, packages
// verified with `trust`'s key, with the dialogs of the UpdateUi each call is given.
// Holds a reference to `settings`, which must outlive it.
class NetworkUpdater final : public Updater
{
public:
    NetworkUpdater(UpdateSettings &settings, UpdateTrust trust) : m_settings(settings), m_trust(std::move(trust)) {}

    UpdateCheck check(const UpdatePaths &paths, QString &zipFile, UpdateUi &ui) override;
    UpdateStart runUpdate(const UpdatePaths &paths, const QString &zipFile, UpdateUi &ui) override;

private:
    UpdateSettings &m_settings;
    UpdateTrust m_trust;
};
