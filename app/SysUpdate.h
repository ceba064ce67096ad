#pragma once

#include "base/SettingsStore.h"
#include "update/UpdateUi.h"
#include "update/Updater.h"

#include <QObject>
#include <QString>

#include <memory>

// The settings store with the program paths and the update operations (the
// main window's `SysUpdateModule`, created first at start-up and freed last).
//
// The Registry* operations read and write named values of the settings store
// (base/SettingsStore.h); failures are thrown as AppError with the message
// the user sees.  UpdateChk and RunUpdate hand the program paths to the
// updater (update/Updater.h).
//
// UI thread only.  Widget-free: lives in the core library.
class TSysUpdateModule : public QObject
{
    Q_OBJECT
public:
    // The user's own settings and the program's updater.
    TSysUpdateModule();
    // Settings kept in `store`; the update operations of `updater` (not
    // owned, must outlive the module), or the program's own over `store`
    // when null (packages verified with the built-in key, newer than this
    // program's version).  Computes FolderName, ExeFile, webPath and RunPath
    // (reading "updatepath" with its default) and creates the update work
    // folder.  The updater shows its dialogs through `ui` (not owned, must
    // outlive the module), or shows none when null.
    explicit TSysUpdateModule(const SettingsStore &store, Updater *updater = nullptr, UpdateUi *ui = nullptr);
    ~TSysUpdateModule() override;

    QString RegistryReadString(const QString &Name, const QString &Def);
    int RegistryReadInteger(const QString &Name, int Def);
    bool RegistryReadBoolean(const QString &Name, bool Def);
    bool RegistryWriteString(const QString &Name, const QString &Def);
    bool RegistryWriteInteger(const QString &Name, int Def);
    bool RegistryWriteBoolean(const QString &Name, bool Def);

    // The store the Registry* operations use, for typed access by the
    // settings table.
    const SettingsStore &store() const { return m_store; }

    // Update check and self-update (the updater's, with this module's paths).
    // UpdateChk is true when a newer release exists; LastCheck then says
    // whether it can be installed here and what stands in the way.  RunUpdate
    // verifies the package again and hands it to the script; when it cannot,
    // the program goes on and the result says why.
    bool UpdateChk();
    UpdateStart RunUpdate();

    QString FolderName; // folder of the executable, trailing delimiter
    QString ExeFile;    // file name of the executable
    QString webPath;    // "updatepath" + ExeFile
    QString RunPath;    // update work folder, trailing delimiter
    QString ZipFile;    // newest package name, set by UpdateChk
    UpdateCheck LastCheck; // the outcome of the last UpdateChk

private:
    UpdatePaths updatePaths() const;

    SettingsStore m_store;
    StoreUpdateSettings m_updateSettings;
    std::unique_ptr<Updater> m_ownUpdater;
    Updater *m_updater = nullptr;
    std::unique_ptr<UpdateUi> m_ownUi;
    UpdateUi *m_ui = nullptr;
};

