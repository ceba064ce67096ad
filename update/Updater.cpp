#include "update/Updater.h"

#include "update/BoundedDownloader.h"
#include "update/DownloadProgress.h"
#include "update/SelfUpdater.h"
#include "update/UpdateUi.h"

#include <QCoreApplication>
#include <QUrl>

bool NetworkUpdater::check(const UpdatePaths &paths, QString &zipFile)
{
    UpdateChecker checker(m_settings, paths, UpdateTimeouts(), [] { return updateUi().createDownloadProgress(); });
    return checker.check(zipFile);
}

void NetworkUpdater::runUpdate(const UpdatePaths &paths, const QString &zipFile)
{
    UpdateUi &ui = updateUi();
    ui.showRestartNotice(QStringLiteral("アップデート後システムを再起動します"));
    SelfUpdater::install(m_settings, paths, zipFile, QCoreApplication::applicationPid());
    ui.requestQuit();
}

bool NetworkUpdater::downloadFile(const QString &url, const QString &fileName)
{
    const UpdateTimeouts timeouts;
    return BoundedDownloader::download(QUrl(url), fileName,
                                       downloadLimits(timeouts, QDeadlineTimer(timeouts.checkBudgetMs)));
}
