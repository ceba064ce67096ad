#include "update/InstallPlace.h"

#include "base/PathRules.h"

#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace InstallPlace {

Kind kind(bool folderWritable, bool systemPackageMarkerPresent)
{
    if (systemPackageMarkerPresent)
        return Kind::SystemPackage;
    return folderWritable ? Kind::SelfUpdating : Kind::ReadOnlyFolder;
}

bool isWritableFolder(const QString &folder)
{
#ifdef Q_OS_WIN
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
#else
    const QByteArray native = QFile::encodeName(sheafline::withoutTrailingDelimiters(folder));
    struct stat st;
    if (native.isEmpty() || ::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    // access() also answers for read-only mounts and access lists.
    return ::access(native.constData(), W_OK) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
#endif
}

Kind probe(const QString &programFolder)
{
    const QFileInfo marker(sheafline::withTrailingDelimiter(programFolder) + systemPackageMarker());
    return kind(isWritableFolder(programFolder), marker.exists() || marker.isSymLink());
}

} // namespace InstallPlace
