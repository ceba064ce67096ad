#pragma once

#include <QString>
#include <QVersionNumber>

// Whether a name from the update server may be used as a package file name
// in the work folder and inside the update script: ASCII letters, digits,
// blanks and . _ - + ~ only, starting with a letter or digit, no "..", at
// most 255 bytes.  Blanks (trailing ones too) are part of the name.
// Pure; any thread.
bool isPackageName(const QString &name);

// The release version a package name carries: the first group of digits in
// the name, with the groups of digits that follow it each after one dot
// ("sheafline_1.21.0_amd64.tar.gz" 1.21.0, "v2.tar" 2, "pkg 2.0.tar" 2.0).
// Null when the name has no digit.  Pure; any thread.
QVersionNumber packageVersion(const QString &name);
