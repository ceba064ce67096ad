#pragma once

// This process and every process it started (a browser engine's zygote,
// renderers and utilities), read from /proc: who started whom, with what
// arguments, and which files they hold open.  Header-only, for the tests and
// the benchmarks alike.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <unistd.h>

namespace ProcessTree {

// Parent pid of every process on the machine, read from /proc.
inline QHash<qint64, qint64> parentPids()
{
    QHash<qint64, qint64> parentOf;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // The command name may hold spaces and parentheses; the fields
        // after its closing parenthesis are state, then the parent's pid.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            parentOf.insert(pid, fields.at(1).toLongLong());
    }
    return parentOf;
}

// Pids of this process and of all its descendants, this process first.
inline QList<qint64> ownPids()
{
    const QHash<qint64, qint64> parentOf = parentPids();
    QList<qint64> tree{::getpid()};
    for (qsizetype i = 0; i < tree.size(); ++i) {
        for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
            if (it.value() == tree.at(i) && !tree.contains(it.key()))
                tree.append(it.key());
        }
    }
    return tree;
}

// The arguments a process was started with (empty once it has ended).
inline QStringList commandLine(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList args;
    for (const QByteArray &arg : f.readAll().split('\0'))
        args << QFile::decodeName(arg);
    if (!args.isEmpty() && args.last().isEmpty())
        args.removeLast();
    return args;
}

// The open descriptors of the given processes (this one alone by default)
// that refer to `path`, as /proc/<pid>/fd/<n>.
inline QStringList openDescriptors(const QString &path, const QList<qint64> &pids = {::getpid()})
{
    const QString target = QFileInfo(path).canonicalFilePath();
    QStringList found;
    for (qint64 pid : pids) {
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            const QString link = QFile::symLinkTarget(fdDir + QLatin1Char('/') + fd);
            if (link == path || (!target.isEmpty() && link == target))
                found << fdDir + QLatin1Char('/') + fd;
        }
    }
    return found;
}

// Resident memory of the given processes together, in kB (a process that
// ended meanwhile counts nothing).
inline qint64 rssKb(const QList<qint64> &pids)
{
    qint64 total = 0;
    for (qint64 pid : pids) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                total += line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return total;
}

} // namespace ProcessTree
