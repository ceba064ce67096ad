#include "update/WorkFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace WorkFolder {

namespace {

QByteArray nativePath(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return QFile::encodeName(path);
}

} // namespace

QString defaultPath(const QString &exeFile)
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + exeFile + QLatin1Char('/');
}

bool prepare(const QString &path)
{
    const QByteArray native = nativePath(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0 && errno == ENOENT) {
        const QString parent = QFileInfo(QFile::decodeName(native)).path();
        QDir().mkpath(parent);
        // mkdir with the mode itself, so the folder is never briefly open.
        ::mkdir(native.constData(), 0700);
    }
    return isPrivate(path);
}

bool isPrivate(const QString &path)
{
    struct stat st;
    if (path.isEmpty() || ::lstat(nativePath(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace WorkFolder
