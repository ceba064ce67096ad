#include "update/UpdateChecker.h"

#include "update/BoundedDownloader.h"
#include "update/DownloadProgress.h"
#include "update/LastUpdateFile.h"
#include "update/PackageName.h"
#include "update/ReleaseOrder.h"
#include "update/UpdateSettings.h"
#include "update/WorkFolder.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

UpdateChecker::UpdateChecker(UpdateSettings &settings, UpdatePaths paths, UpdateTimeouts timeouts,
                             ProgressFactory progress)
    : m_settings(settings), m_paths(std::move(paths)), m_timeouts(timeouts), m_progress(std::move(progress))
{
}

DownloadLimits downloadLimits(const UpdateTimeouts &timeouts, QDeadlineTimer deadline)
{
    DownloadLimits limits;
    limits.connectMs = timeouts.connectMs;
    limits.inactivityMs = timeouts.inactivityMs;
    limits.deadline = deadline;
    return limits;
}

bool UpdateChecker::check(QString &zipFile)
{
    // The value read here only switches the check on or off; the addresses
    // come from webPath, fixed at start-up.
    if (m_settings.updatePath().isEmpty())
        return false;
    if (!WorkFolder::prepare(m_paths.runPath))
        return false;

    const QDeadlineTimer budget(m_timeouts.checkBudgetMs);
    DownloadLimits list = downloadLimits(m_timeouts, qMin(budget, QDeadlineTimer(m_timeouts.listDeadlineMs)));
    list.maxBytes = LastUpdateFile::kMaxBytes;
    const QString listFile = m_paths.runPath + LastUpdateFile::fileName();
    // A failed download leaves the copy of an earlier check, which is used.
    BoundedDownloader::download(QUrl(m_paths.webPath + QLatin1Char('/') + LastUpdateFile::fileName()), listFile,
                                list);

    QFile file(listFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString firstLine = LastUpdateFile::firstLine(file.read(LastUpdateFile::kMaxBytes));
    file.close();
    if (!isPackageName(firstLine)) {
        zipFile.clear();
        return false;
    }
    zipFile = firstLine;

    if (!isNewerRelease(zipFile, m_settings.lastUpdate()))
        return false;

    const QString package = m_paths.runPath + zipFile;
    if (!QFileInfo::exists(package)) {
        DownloadLimits limits = downloadLimits(m_timeouts, budget);
        limits.failAboveBytes = m_timeouts.maxPackageBytes;
        std::unique_ptr<DownloadProgress> progress = m_progress ? m_progress() : nullptr;
        // Its result does not matter: a missing package only makes the
        // script skip the unpacking.
        BoundedDownloader::download(QUrl(m_paths.webPath + QLatin1Char('/') + zipFile), package, limits,
                                    progress.get());
    }
    return true;
}
