#pragma once

#include <QString>

// Whether the program may replace its own files.  A copy that the system's
// package manager installed belongs to the package manager (it would
// otherwise list files that are no longer its own), and a folder the user
// cannot write is the administrator's; neither is touched by the updater,
// which then only says that a newer version exists.
namespace InstallPlace {

enum class Kind {
    SelfUpdating,  // the updater replaces the program's files
    ReadOnlyFolder, // the program's folder cannot be written
    SystemPackage, // installed by the system's package manager
};

// File that the Debian package installs beside the program (and nothing
// else does): the copy is the package manager's.  It decides even where
// the folder can be written, as it can when the program runs as root.
inline QString systemPackageMarker() { return QStringLiteral("system-package"); }

// The decision over what was found.  Pure; any thread.
Kind kind(bool folderWritable, bool systemPackageMarkerPresent);

// Whether the updater could write `folder`: the user has write access and
// its mode gives someone write permission (root has access everywhere, so
// the mode is what says a folder is not to be written).  False when it does
// not exist.  Any thread.
bool isWritableFolder(const QString &folder);

// kind() for the program in `programFolder` (trailing delimiter), as found
// on disk now.  Any thread.
Kind probe(const QString &programFolder);

} // namespace InstallPlace
