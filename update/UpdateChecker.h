#pragma once

#include "base/SettingsTable.h"
#include "update/BoundedDownloader.h"
#include "update/PackageSignature.h"
#include "update/UpdateCheck.h"

#include <QDeadlineTimer>
#include <QString>

#include <functional>
#include <memory>

class DownloadProgress;
class UpdateSettings;

using sheafline::kDefaultUpdatePath;

// Where the updater works.
struct UpdatePaths
{
    QString webPath;    // "updatepath" + executable file name (no separator)
    QString runPath;    // work folder, trailing "/"
    QString folderName; // program folder, trailing "/"
    QString exeFile;    // program file name
};

// Time limits of one check.  Together they bound how long a server that is
// unreachable, silent or trickling can hold up the caller.
struct UpdateTimeouts
{
    int connectMs = 4000;
    int inactivityMs = 4000;
    int listDeadlineMs = 8000; // fetching "lastupdate"
    int checkBudgetMs = 15000; // the whole check, signature and package included
    qint64 maxPackageBytes = qint64(512) * 1024 * 1024; // larger packages fail
};

// Download limits with the connection and silence limits of `timeouts`, ending
// at `deadline`; the size limits are left to the caller.
DownloadLimits downloadLimits(const UpdateTimeouts &timeouts, QDeadlineTimer deadline);

// The refusal for a signature that is not Good (an unreadable package counts
// as a wrong signature).
UpdateCheck::Refusal signatureRefusal(PackageSignature::Verdict verdict);

// The update check: reads the newest package name from the server's
// "lastupdate" file and, when it is newer than the setting "lastupdate" and
// than the running program, fetches its signature and the package into the
// work folder.  A package is kept there under its name only once its
// signature is verified; one that fails is deleted, and a package already
// there is verified again before it counts.  Before anything else the check
// settles a replacement handed to the script earlier (PendingUpdate).
// Nothing is fetched for a copy the updater must not replace
// (InstallPlace) or when there is no key.  Synchronous (see
// BoundedDownloader).  UI thread only; holds a reference to `settings`,
// which must outlive it.
class UpdateChecker
{
public:
    using ProgressFactory = std::function<std::unique_ptr<DownloadProgress>()>;

    UpdateChecker(UpdateSettings &settings, UpdatePaths paths, UpdateTrust trust, UpdateTimeouts timeouts = {},
                  ProgressFactory progress = {});

    // The outcome (see UpdateCheck).  `zipFile` receives the server's package
    // name when its first line is one, is emptied when it is not, and is
    // left as it was when there is no list to read.
    UpdateCheck check(QString &zipFile);

private:
    // Fetches `name` (a package or its signature) from the server folder into
    // a file of this process's own in the work folder; returns its path, or
    // an empty string when the download failed (nothing is left then).
    QString fetchIncoming(const QString &name, const DownloadLimits &limits, DownloadProgress *progress = nullptr);

    UpdateSettings &m_settings;
    UpdatePaths m_paths;
    UpdateTrust m_trust;
    UpdateTimeouts m_timeouts;
    ProgressFactory m_progress;
};
