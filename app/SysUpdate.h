#pragma once

#include <QObject>
#include <QString>

// The settings store and the update operations (one instance,
// `SysUpdateModule`, created first at start-up and freed last).
//
// Settings are kept through QSettings (native format, organisation
// "MOSSGATE", application "Sheafline").  Every operation opens a fresh store,
// syncs it and closes it again; nothing is cached between calls.  Failures
// are thrown as SettingsError with the user-facing message.
//
// UI thread only.  Widget-free: lives in the core library.
class TSysUpdateModule : public QObject
{
    Q_OBJECT
public:
    // Computes FolderName, ExeFile, webPath and RunPath (reading "updatepath"
    // with its default) and creates the update work folder.
    TSysUpdateModule();
    ~TSysUpdateModule() override;

    QString RegistryReadString(const QString &Name, const QString &Def);
    int RegistryReadInteger(const QString &Name, int Def);
    bool RegistryReadBoolean(const QString &Name, bool Def);
    bool RegistryWriteString(const QString &Name, const QString &Def);
    bool RegistryWriteInteger(const QString &Name, int Def);
    bool RegistryWriteBoolean(const QString &Name, bool Def);

    // Update check and self-update (implemented in update/).
    bool UpdateChk();
    void RunUpdate();
    bool DownloadFile(const QString &URL, const QString &FileName);

    QString FolderName; // folder of the executable, trailing delimiter
    QString ExeFile;    // file name of the executable
    QString webPath;    // "updatepath" + ExeFile
    QString RunPath;    // update work folder, trailing delimiter
    QString ZipFile;    // newest package name, set by UpdateChk
};

// The one instance; null before start-up step 1 and after the shutdown.
extern TSysUpdateModule *SysUpdateModule;
