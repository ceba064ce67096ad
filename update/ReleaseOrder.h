#pragma once

#include <QString>

// Release order of package names: `offered` is newer than `installed`
// exactly when it compares greater in ordinal order of UTF-16 code units
// (case-sensitive; a proper prefix is the smaller).  So "r100" is not newer
// than "r99" and "a..." is newer than "B...".  Pure; any thread.
bool isNewerRelease(const QString &offered, const QString &installed);
