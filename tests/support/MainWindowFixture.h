#pragma once

#include "support/OfflineUpdater.h"
#include "support/SettingsSandbox.h"
#include "support/TestDir.h"

#include "base/SettingsStore.h"

#include <QStringList>

#include <memory>

class ProgramServices;
class TForm1;

// The main window on test ground: settings in a private file, an updater
// that stays off the network, a temporary folder tree for the documents, and
// a TForm1 made on them.
//
// Make the fixture a member of the test object, so that its sandbox is in
// place before the process's first QSettings (see SettingsSandbox): whatever
// else a test makes then stays out of the developer's own settings too.
class MainWindowFixture
{
public:
    MainWindowFixture();
    ~MainWindowFixture();

    bool isValid() const { return m_settings.isValid() && m_dir->isValid(); }
    SettingsSandbox &settings() { return m_settings; }
    // The folder tree of the current case.
    TestDir &dir() { return *m_dir; }

    // The store every window of the fixture is given: the sandbox's settings file.
    SettingsStore store() const { return SettingsStore(m_settings.confPath()); }
    // The updater every window is given: the offline one unless a test sets
    // its own (null: the program's own, over the network to "updatepath").
    Updater *updater() const { return m_updater; }
    void setUpdater(Updater *updater);
    // What every window of the fixture is made on, made on first use: the
    // store and updater above, the program's engines, render service and
    // change layer, as main() makes them for the program.
    ProgramServices &services();
    OfflineUpdater &offlineUpdater() { return m_offline; }

    // Makes a window with these command-line arguments (start-up runs), not
    // shown; a window made earlier is closed first.
    TForm1 *create(const QStringList &args = {});
    // Makes a window, shows it and waits until it is exposed and active, as
    // a user sees it; null when it does not become active.
    TForm1 *open(const QStringList &args = {});
    // Shows the window made last and waits the same way.
    TForm1 *show();
    // The window made last; null once closed.
    TForm1 *form() const { return m_form.get(); }
    // Closes the window: the shutdown runs.
    void close();
    // Closes the window and starts a new, empty folder tree.
    void reset();

private:
    SettingsSandbox m_settings;
    std::unique_ptr<TestDir> m_dir;
    OfflineUpdater m_offline;
    Updater *m_updater = &m_offline;
    std::unique_ptr<ProgramServices> m_services;
    std::unique_ptr<TForm1> m_form;
};
