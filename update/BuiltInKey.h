#pragma once

#include <QByteArray>

// The public key this build verifies update packages with: the CMake option
// SHEAFLINE_UPDATE_PUBLIC_KEY (base64, as "sheafline-sign keygen" prints
// it).  Empty when the build has none; such a build only says that a newer
// version exists.  Only the composition reads it; everything else is handed
// the key.  Any thread.
QByteArray builtInUpdateKey();
