#include "browse/FileMove.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace FileMove {

namespace {

int renameNoReplace(const char *from, const char *to)
{
#ifdef SYS_renameat2
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
#else
    errno = ENOSYS;
    return -1;
#endif
}

bool fail(QString *errorText, int err)
{
    if (errorText)
        *errorText = QString::fromLocal8Bit(std::strerror(err));
    return false;
}

} // namespace

bool moveNoReplace(const QString &from, const QString &to, QString *errorText)
{
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    if (renameNoReplace(src.constData(), dst.constData()) == 0)
        return true;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP)
        return fail(errorText, err);
    return moveByLink(from, to, errorText);
}

bool moveByLink(const QString &from, const QString &to, QString *errorText)
{
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    // link refuses an existing target atomically, which rename would replace.
    if (::link(src.constData(), dst.constData()) != 0)
        return fail(errorText, errno);
    struct stat a, b;
    if (::lstat(src.constData(), &a) == 0 && ::lstat(dst.constData(), &b) == 0
        && a.st_dev == b.st_dev && a.st_ino == b.st_ino && ::unlink(src.constData()) == 0)
        return true;
    const int unlinkErr = errno;
    ::unlink(dst.constData()); // leave things as they were
    return fail(errorText, unlinkErr ? unlinkErr : EIO);
}

} // namespace FileMove
