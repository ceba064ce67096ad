#include "update/BuiltInKey.h"

#include "update/PackageSignature.h"

#ifndef SHEAFLINE_UPDATE_PUBLIC_KEY
#define SHEAFLINE_UPDATE_PUBLIC_KEY ""
#endif

QByteArray builtInUpdateKey()
{
    // CMake checked its form already; a key that does not decode is no key.
    return PackageSignature::publicKeyFromText(QStringLiteral(SHEAFLINE_UPDATE_PUBLIC_KEY)).value_or(QByteArray());
}
