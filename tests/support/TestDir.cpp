#include "TestDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

TestDir::TestDir() : m_dir(QDir::tempPath() + QStringLiteral("/sheafline-test-XXXXXX")) {}

QString TestDir::path(const QString &relative) const
{
    return m_dir.filePath(relative);
}

QString TestDir::mkdir(const QString &relative)
{
    const QString p = path(relative);
    QDir().mkpath(p);
    return p;
}

QString TestDir::writeFile(const QString &relative, const QByteArray &contents)
{
    const QString p = path(relative);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(contents);
    return p;
}

QString TestDir::writeProgram(const QString &relative, const QByteArray &contents)
{
    const QString p = writeFile(relative, contents);
    QFile::setPermissions(p, QFile::permissions(p) | QFile::ExeOwner);
    return p;
}

QByteArray TestDir::readFile(const QString &relative) const
{
    QFile f(QDir::isAbsolutePath(relative) ? relative : path(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool TestDir::setModified(const QString &relative, const QDateTime &when)
{
    // utimensat works on folders too, which QFile::setFileTime cannot open.
    const qint64 ms = when.toMSecsSinceEpoch();
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = ms / 1000;
    times[1].tv_nsec = (ms % 1000) * 1000000;
    return ::utimensat(AT_FDCWD, QFile::encodeName(path(relative)).constData(), times,
                       AT_SYMLINK_NOFOLLOW) == 0;
}

bool TestDir::symlink(const QString &target, const QString &relative)
{
    const QString p = path(relative);
    QDir().mkpath(QFileInfo(p).absolutePath());
    return QFile::link(target, p);
}
