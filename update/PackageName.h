#pragma once

#include <QString>

// Whether a name from the update server may be used as a package file name
// in the work folder and inside the update script: ASCII letters, digits,
// blanks and . _ - + ~ only, starting with a letter or digit, no "..", at
// most 255 bytes.  Blanks (trailing ones too) are part of the name.
// Pure; any thread.
bool isPackageName(const QString &name);
