#pragma once

#include <QString>
#include <QStringView>

// Does the system's change notification see every change of a folder, or
// only the changes made through this machine?  On a network or user-space
// file system (NFS, SMB, FUSE, 9p, AFS, Ceph, ...) another client's change
// reaches the server without passing this kernel, so inotify never hears of
// it: such folders must be polled.
//
// Widget-free and thread-safe.  Only changeNoticeOf() touches the file
// system (and may block on a hung share): call it off the UI thread.
namespace sheafline {

enum class ChangeNotice {
    Complete,  // every change is reported (local disks)
    LocalOnly, // changes made by other machines are not reported
};

// One line of /proc/self/mountinfo: where the file system is mounted (its
// escapes such as "\040" undone) and its type ("nfs4", "fuse.sshfs").
// Both are empty for a line that is not in that format.
struct MountEntry
{
    QString mountPoint;
    QString type;
};
MountEntry parseMountInfoLine(QStringView line);

// The type of the file system holding `path` (absolute, links already
// resolved) by the mount table text `mountInfo`: the entry with the longest
// mount point above it, the last one mounted when several share it.  Empty
// when no entry holds the path.
QString fileSystemTypeOf(const QString &path, const QString &mountInfo);

// What the notification sees on a file system of the type named as in the
// mount table.  Unknown types count as local.
ChangeNotice changeNoticeForType(const QString &type);

// The same by the path as written (absolute and clean), from the mount table
// alone: nothing on the folder's file system is touched, so it never blocks.
// A path that reaches a share through a link counts as local.
ChangeNotice changeNoticeByName(const QString &path);

// What the notification sees for `folder`: its links resolved, its file
// system looked up in this process's mount table (by statfs when that table
// cannot be read).  Blocks while the folder's file system does.
ChangeNotice changeNoticeOf(const QString &folder);

} // namespace sheafline
