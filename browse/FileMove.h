#pragma once

#include <QString>

// Moving a file without ever replacing an existing one.  rename(2) silently
// overwrites its target, so the move uses renameat2(RENAME_NOREPLACE) and,
// on file systems without it, link(2) followed by unlink(2) (link fails when
// the target exists).  Any thread.
namespace FileMove {

// Moves `from` to `to`.  Fails, leaving both untouched, when `to` exists.
// On failure returns false and, when given, sets *errorText to the reason.
bool moveNoReplace(const QString &from, const QString &to, QString *errorText = nullptr);

// The fallback on its own: link(2) then unlink(2).  Files only (folders
// cannot be hard-linked).  Same contract as moveNoReplace.
bool moveByLink(const QString &from, const QString &to, QString *errorText = nullptr);

} // namespace FileMove
