#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A slow file share mounted for one test: a FUSE passthrough (slowfs.py next
// to this file) of a backing folder that makes every file-system operation
// through the mount wait `delayMs`, as a round trip to a file server does.
//
// Files written to backing() directly are changes another machine makes to
// the share: inotify on the mount never hears of them.  hang(folder) makes
// every operation under that top-level folder of the mount block until
// unhang() (a server gone behind a hard mount).  The mount is taken down
// (lazily, so that nothing stuck in it holds the test up) when the fixture
// dies.
//
// Mounting needs /dev/fuse, fusermount3 and python3-fusepy; where any is
// missing or the mount fails, mountError() says why and the test skips:
//     SlowShare share(20);
//     if (!share.mountError().isEmpty()) QSKIP(qPrintable(share.mountError()));
class SlowShare
{
public:
    explicit SlowShare(int delayMs);
    ~SlowShare();
    SlowShare(const SlowShare &) = delete;
    SlowShare &operator=(const SlowShare &) = delete;

    // Empty once the mount answers.
    QString mountError() const { return m_error; }
    // The folder as the program sees it, through the mount.
    QString mountPoint() const { return m_root.path() + QStringLiteral("/share"); }
    // The same folder behind the mount, without delay and unseen by inotify.
    QString backing() const { return m_root.path() + QStringLiteral("/backing"); }
    // The file system type the mount shows in /proc/self/mountinfo.
    static QString fileSystemType() { return QStringLiteral("fuse.slowfs"); }

    // Number of file-system operations the share has served so far (each
    // one cost the delay); -1 when it cannot be told.
    qint64 operationCount() const;

    // Every operation under mountPoint()/`topFolder` blocks until unhang().
    void hang(const QString &topFolder);
    void unhang();

private:
    void unmount();

    QTemporaryDir m_root;
    QProcess m_process;
    QString m_error;
};
