#pragma once

#include "base/PathRules.h"

#include <QString>

// The program's own folders.  Widget-free, no state.
namespace sheafline {

// The user's temporary folder with a trailing delimiter: $XDG_RUNTIME_DIR when
// set, otherwise the user's cache folder; empty when neither is known.  Both
// are private to the user, unlike the shared /tmp.
QString userTempFolder();

struct ProgramPaths
{
    QString FolderName; // folder of the executable, trailing delimiter
    QString ExeFile;    // file name of the executable
    QString RunPath;    // tempFolder + ExeFile + delimiter
};

// Splits the executable's full path and builds the work folder path below
// `tempFolder` (which ends with a delimiter or is empty).
ProgramPaths computeProgramPaths(const QString &exePath, const QString &tempFolder);

} // namespace sheafline
