#pragma once

#include <QString>

// The update work folder holds the downloaded package and the script that
// runs it, so it must be the user's own: nobody else may be able to plant or
// swap a file there.
namespace WorkFolder {

// Creates `path` (and missing parents) with mode 0700 when it does not exist.
// Returns isPrivate(path).
bool prepare(const QString &path);

// True when `path` is a real folder (not a symbolic link) owned by the
// effective user and writable by nobody else.
bool isPrivate(const QString &path);

} // namespace WorkFolder
