#include "SlowShare.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

QString hangControl(const QTemporaryDir &root) { return root.path() + QStringLiteral("/hang"); }
QString statsFile(const QTemporaryDir &root) { return root.path() + QStringLiteral("/operations"); }

bool runQuietly(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

SlowShare::SlowShare(int delayMs)
{
    if (!m_root.isValid() || !QDir().mkpath(mountPoint()) || !QDir().mkpath(backing())) {
        m_error = QStringLiteral("no temporary folder for the share");
        return;
    }
    if (!QFile::exists(QStringLiteral("/dev/fuse"))) {
        m_error = QStringLiteral("no /dev/fuse: cannot mount a share here");
        return;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("fusermount3")).isEmpty()
        && QStandardPaths::findExecutable(QStringLiteral("fusermount")).isEmpty()) {
        m_error = QStringLiteral("no fusermount: install fuse3");
        return;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(SHEAFLINE_SLOWFS), backing(), mountPoint(), QStringLiteral("--delay-ms"),
                     QString::number(delayMs), QStringLiteral("--hang-while"), hangControl(m_root),
                     QStringLiteral("--stats-file"), statsFile(m_root)});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("slowfs does not start: ") + m_process.errorString();
        return;
    }
    // It says so once the kernel passes it the first request.
    QByteArray said;
    const QDeadlineTimer deadline(15000);
    while (!said.contains("mounted") && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        said += m_process.readAllStandardOutput();
    }
    if (!said.contains("mounted")) {
        m_error = QStringLiteral("the share cannot be mounted (python3-fusepy, /dev/fuse?)");
        unmount();
    }
}

SlowShare::~SlowShare()
{
    unhang();
    unmount();
}

qint64 SlowShare::operationCount() const
{
    QFile stats(statsFile(m_root));
    if (!stats.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const qint64 count = stats.readAll().trimmed().toLongLong(&ok);
    return ok ? count : -1;
}

void SlowShare::hang(const QString &topFolder)
{
    QFile control(hangControl(m_root));
    if (control.open(QIODevice::WriteOnly | QIODevice::Truncate))
        control.write(topFolder.toUtf8() + '\n');
}

void SlowShare::unhang()
{
    QFile::remove(hangControl(m_root));
}

void SlowShare::unmount()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // Lazily: a reader still inside the mount does not keep it.
    if (!runQuietly(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), mountPoint()}))
        runQuietly(QStringLiteral("umount"), {QStringLiteral("-l"), mountPoint()});
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}
