#include "update/WorkFolder.h"

#include "base/PathRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace WorkFolder {

namespace {

[[maybe_unused]] QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(sheafline::withoutTrailingDelimiters(path));
}

} // namespace

#ifdef Q_OS_WIN
// The user's temporary folder on Windows is private to the user already.
bool prepare(const QString &path)
{
    QDir().mkpath(path);
    return isPrivate(path);
}

bool isPrivate(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isDir() && !info.isSymLink() && !info.isJunction();
}
#else
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
#endif

} // namespace WorkFolder
