// Update check and self-update of the settings store: thin glue over the
// updater in update/.
#include "app/SysUpdate.h"

#include "update/BoundedDownloader.h"
#include "update/DownloadProgress.h"
#include "update/SelfUpdater.h"
#include "update/UpdateChecker.h"
#include "update/UpdateSettings.h"
#include "update/UpdateUi.h"

#include <QCoreApplication>
#include <QUrl>

namespace {

class ModuleSettings final : public UpdateSettings
{
public:
    explicit ModuleSettings(TSysUpdateModule &module) : m_module(module) {}
    QString readString(const QString &name, const QString &def) override
    {
        return m_module.RegistryReadString(name, def);
    }
    void writeString(const QString &name, const QString &value) override
    {
        m_module.RegistryWriteString(name, value);
    }

private:
    TSysUpdateModule &m_module;
};

UpdatePaths pathsOf(const TSysUpdateModule &module)
{
    return {module.webPath, module.RunPath, module.FolderName, module.ExeFile};
}

} // namespace

bool TSysUpdateModule::UpdateChk()
{
    ModuleSettings settings(*this);
    UpdateChecker checker(settings, pathsOf(*this), UpdateTimeouts(),
                          [] { return updateUi().createDownloadProgress(); });
    return checker.check(ZipFile);
}

void TSysUpdateModule::RunUpdate()
{
    UpdateUi &ui = updateUi();
    ui.showRestartNotice(QStringLiteral("アップデート後システムを再起動します"));
    ModuleSettings settings(*this);
    SelfUpdater::install(settings, pathsOf(*this), ZipFile, QCoreApplication::applicationPid());
    ui.requestQuit();
}

bool TSysUpdateModule::DownloadFile(const QString &URL, const QString &FileName)
{
    const UpdateTimeouts timeouts;
    return BoundedDownloader::download(QUrl(URL), FileName,
                                       downloadLimits(timeouts, QDeadlineTimer(timeouts.checkBudgetMs)));
}
