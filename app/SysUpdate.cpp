// The settings store's Registry* operations, the program paths and the update
// operations of the main window: each a thin call into base/ or update/.
#include "app/SysUpdate.h"

#include "base/ProgramPaths.h"
#include "base/VersionInfo.h"
#include "update/BuiltInKey.h"
#include "update/WorkFolder.h"

#include <QCoreApplication>

using sheafline::Setting;

TSysUpdateModule::TSysUpdateModule() : TSysUpdateModule(SettingsStore()) {}

TSysUpdateModule::TSysUpdateModule(const SettingsStore &store, Updater *updater, UpdateUi *ui)
    : m_store(store), m_updateSettings(store), m_updater(updater), m_ui(ui)
{
    if (!m_ui) {
        m_ownUi = createHeadlessUpdateUi();
        m_ui = m_ownUi.get();
    }
    if (!m_updater) {
        const UpdateTrust trust{builtInUpdateKey(),
                                QVersionNumber::fromString(GetVersionInfoItem(VersionItem::FileVersion))};
        m_ownUpdater = std::make_unique<NetworkUpdater>(m_updateSettings, trust);
        m_updater = m_ownUpdater.get();
    }
    const sheafline::ProgramPaths paths = sheafline::computeProgramPaths(
        QCoreApplication::applicationFilePath(), sheafline::userTempFolder());
    FolderName = paths.FolderName;
    ExeFile = paths.ExeFile;
    webPath = m_store.readText(Setting::UpdatePath) + ExeFile;
    RunPath = paths.RunPath;
    // Not examined: the updater checks the folder before it uses it.
    WorkFolder::prepare(RunPath);
}

TSysUpdateModule::~TSysUpdateModule() = default;

QString TSysUpdateModule::RegistryReadString(const QString &Name, const QString &Def)
{
    return m_store.readString(Name, Def);
}

int TSysUpdateModule::RegistryReadInteger(const QString &Name, int Def)
{
    return m_store.readInteger(Name, Def);
}

bool TSysUpdateModule::RegistryReadBoolean(const QString &Name, bool Def)
{
    return m_store.readBoolean(Name, Def);
}

bool TSysUpdateModule::RegistryWriteString(const QString &Name, const QString &Def)
{
    m_store.writeString(Name, Def);
    return true;
}

bool TSysUpdateModule::RegistryWriteInteger(const QString &Name, int Def)
{
    m_store.writeInteger(Name, Def);
    return true;
}

bool TSysUpdateModule::RegistryWriteBoolean(const QString &Name, bool Def)
{
    m_store.writeBoolean(Name, Def);
    return true;
}

UpdatePaths TSysUpdateModule::updatePaths() const
{
    return {webPath, RunPath, FolderName, ExeFile};
}

bool TSysUpdateModule::UpdateChk()
{
    LastCheck = m_updater->check(updatePaths(), ZipFile, *m_ui);
    return LastCheck.newerRelease();
}

UpdateStart TSysUpdateModule::RunUpdate()
{
    return m_updater->runUpdate(updatePaths(), ZipFile, *m_ui);
}
