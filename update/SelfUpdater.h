#pragma once

#include "update/UpdateChecker.h"

#include <QString>

class UpdateSettings;

// Writes the update script into the work folder and starts it detached, so
// that it replaces the program's files once the program has ended.
// UI thread only.
namespace SelfUpdater {

// File name of the script in the work folder ("update.sh"; "update.bat" on
// Windows).
QString scriptFileName();

// Writes the script for package `zipFile` into paths.runPath, replacing an
// earlier one.  Returns the script's path, or an empty string when the name
// is not a package name, the work folder is not the user's own, or the file
// cannot be written.  `readmeCommand` is the sh command that shows
// readme.txt (ignored on Windows).
QString writeScript(const UpdatePaths &paths, const QString &zipFile,
                    const QString &readmeCommand = QString());

// Starts the script written by writeScript, detached, its output discarded;
// it waits for process `pid` to end before it touches the program's files.
// Returns whether the process could be started.
bool startScript(const QString &scriptPath, const QString &runPath, qint64 pid);

// RunUpdate without its user interface: writes the script, stores the
// package name as the setting "lastupdate" (before the script can run, so
// the package then counts as installed) and starts the script.  Nothing is
// stored when the script cannot be written.  Returns whether the script was
// started.  Errors of `settings` propagate.
bool install(UpdateSettings &settings, const UpdatePaths &paths, const QString &zipFile, qint64 pid,
             const QString &readmeCommand = QString());

} // namespace SelfUpdater
