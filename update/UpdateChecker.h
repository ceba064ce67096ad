#pragma once

#include "base/SettingsTable.h"
#include "update/BoundedDownloader.h"

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
    int checkBudgetMs = 15000; // the whole check, package included
    qint64 maxPackageBytes = qint64(512) * 1024 * 1024; // larger packages fail
};

// Download limits with the connection and silence limits of `timeouts`, ending
// at `deadline`; the size limits are left to the caller.
DownloadLimits downloadLimits(const UpdateTimeouts &timeouts, QDeadlineTimer deadline);

// The update check: reads the newest package name from the server's
// "lastupdate" file and fetches the package into the work folder when it is
// newer than the setting "lastupdate".  Synchronous (see BoundedDownloader).
// UI thread only; holds references to `settings`, which must outlive it.
class UpdateChecker
{
public:
    using ProgressFactory = std::function<std::unique_ptr<DownloadProgress>()>;

    UpdateChecker(UpdateSettings &settings, UpdatePaths paths, UpdateTimeouts timeouts = {},
                  ProgressFactory progress = {});

    // True when the server names a valid package newer than the installed
    // one; the package is then in the work folder or its download was
    // attempted.  `zipFile` receives the package name when the server's first
    // line is one, and is emptied when it is not.
    bool check(QString &zipFile);

private:
    UpdateSettings &m_settings;
    UpdatePaths m_paths;
    UpdateTimeouts m_timeouts;
    ProgressFactory m_progress;
};
