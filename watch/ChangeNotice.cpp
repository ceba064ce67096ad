#include "watch/ChangeNotice.h"

#include <QFile>
#include <QStringList>

#include <array>
#include <cstdlib>
#include <sys/vfs.h>

namespace sheafline {

namespace {

// Mount points escape space, tab, newline and backslash as three octal digits.
QString unescapeMountField(QStringView field)
{
    QString out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == u'\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool isAtOrUnder(const QString &path, const QString &mountPoint)
{
    if (mountPoint == QLatin1String("/"))
        return path.startsWith(u'/');
    return path == mountPoint
        || (path.startsWith(mountPoint) && path.size() > mountPoint.size() && path[mountPoint.size()] == u'/');
}

// Types whose servers (or other nodes) change files without this kernel
// knowing.  "fuseblk" is missing on purpose: a FUSE driver of a local block
// device (ntfs-3g, exfat) is the only writer of its disk, and every change it
// makes passes through this kernel, so inotify sees it.
constexpr std::array kLocalOnlyTypes = {
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "smb", "9p", "afs", "ceph", "lustre", "glusterfs", "gfs2",
    "ocfs2", "virtiofs", "vboxsf", "vmhgfs", "davfs", "coda", "ncpfs", "beegfs", "gpfs", "pvfs2",
    "orangefs", "panfs", "fuse",
};

// statfs magic numbers of the same, for when the mount table cannot be read.
// FUSE cannot be told apart from fuseblk by its number and counts as remote.
constexpr std::array<unsigned long, 12> kLocalOnlyMagic = {
    0x6969ul,     // NFS
    0xff534d42ul, // CIFS
    0xfe534d42ul, // SMB2
    0x517bul,     // SMB
    0x01021997ul, // 9p
    0x5346414ful, // AFS
    0x6b414653ul, // kAFS
    0x00c36400ul, // Ceph
    0x0bd00bd0ul, // Lustre
    0x01161970ul, // GFS2
    0x7461636ful, // OCFS2
    0x65735546ul, // FUSE
};

} // namespace

MountEntry parseMountInfoLine(QStringView line)
{
    // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue":
    // the mount point is the fifth field, the type follows the " - " separator.
    const QList<QStringView> fields = line.trimmed().split(u' ', Qt::SkipEmptyParts);
    if (fields.size() < 7)
        return {};
    qsizetype dash = -1;
    for (qsizetype i = 6; i < fields.size(); ++i) {
        if (fields[i] == u"-") {
            dash = i;
            break;
        }
    }
    if (dash < 0 || dash + 1 >= fields.size() || !fields[4].startsWith(u'/'))
        return {};
    return {unescapeMountField(fields[4]), fields[dash + 1].toString()};
}

QString fileSystemTypeOf(const QString &path, const QString &mountInfo)
{
    QString best;
    qsizetype bestLength = -1;
    for (QStringView line : QStringView(mountInfo).split(u'\n', Qt::SkipEmptyParts)) {
        const MountEntry entry = parseMountInfoLine(line);
        if (entry.mountPoint.isEmpty() || !isAtOrUnder(path, entry.mountPoint))
            continue;
        // Later lines are mounted later and cover earlier ones at the same place.
        if (entry.mountPoint.size() >= bestLength) {
            bestLength = entry.mountPoint.size();
            best = entry.type;
        }
    }
    return best;
}

ChangeNotice changeNoticeForType(const QString &type)
{
    if (type == QLatin1String("fuseblk"))
        return ChangeNotice::Complete;
    // "fuse.sshfs", "fuse.glusterfs", "fuse.rclone": every FUSE file system
    // but fuseblk gets its contents from a process that may change them
    // behind the kernel's back.
    const QString base = type.startsWith(QLatin1String("fuse.")) ? QStringLiteral("fuse") : type;
    for (const char *remote : kLocalOnlyTypes) {
        if (base == QLatin1String(remote))
            return ChangeNotice::LocalOnly;
    }
    return ChangeNotice::Complete;
}

ChangeNotice changeNoticeByName(const QString &path)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return ChangeNotice::Complete;
    const QString type = fileSystemTypeOf(path, QString::fromUtf8(table.readAll()));
    return type.isEmpty() ? ChangeNotice::Complete : changeNoticeForType(type);
}

ChangeNotice changeNoticeOf(const QString &folder)
{
    QString resolved = folder;
    if (char *real = ::realpath(QFile::encodeName(folder).constData(), nullptr)) {
        resolved = QFile::decodeName(real);
        std::free(real);
    }
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (table.open(QIODevice::ReadOnly)) {
        // procfs reports a size of 0: read to the end.
        const QString type = fileSystemTypeOf(resolved, QString::fromUtf8(table.readAll()));
        if (!type.isEmpty())
            return changeNoticeForType(type);
    }
    struct statfs info {};
    if (::statfs(QFile::encodeName(resolved).constData(), &info) == 0) {
        for (unsigned long magic : kLocalOnlyMagic) {
            if ((static_cast<unsigned long>(info.f_type) & 0xfffffffful) == magic)
                return ChangeNotice::LocalOnly;
        }
    }
    return ChangeNotice::Complete;
}

} // namespace sheafline
