#pragma once

#include "update/UpdateChecker.h"

#include <QString>

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

// RunUpdate without its user interface: writes the script, notes the
// package as pending (PendingUpdate::record) and starts the script.  The
// setting "lastupdate" is not touched: the next start stores it once the
// new version runs.  Nothing is noted when the script cannot be written, and
// the note is taken back when it cannot be started.  Returns whether the
// script was started.  The package's signature is the caller's to check.
bool install(const UpdatePaths &paths, const QString &zipFile, qint64 pid,
             const QString &readmeCommand = QString());

} // namespace SelfUpdater
