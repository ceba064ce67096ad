#include "update/PendingUpdate.h"

#include "update/PackageName.h"
#include "update/UpdateSettings.h"
#include "update/WorkFolder.h"

#include <QFile>
#include <QSaveFile>

namespace PendingUpdate {

namespace {

constexpr qint64 kMaxNoteBytes = 16 * 1024;

QByteArray readNote(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(kMaxNoteBytes);
}

bool writeNote(const QString &path, const QByteArray &bytes)
{
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
}

// The last lines the unpacking reported, short enough for a message box.
QString logTail(const QString &runPath)
{
    const QStringList lines =
        QString::fromUtf8(readNote(runPath + logName())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString tail = lines.mid(qMax<qsizetype>(0, lines.size() - 4)).join(QLatin1Char('\n')).trimmed();
    if (tail.size() > 600)
        tail = QStringLiteral("…") + tail.right(600);
    return tail;
}

} // namespace

bool record(const QString &runPath, const QString &zipFile)
{
    QFile::remove(runPath + failedName());
    QFile::remove(runPath + logName());
    return writeNote(runPath + pendingName(), zipFile.toUtf8() + '\n');
}

void forget(const QString &runPath)
{
    QFile::remove(runPath + pendingName());
}

Settled settle(UpdateSettings &settings, const QString &runPath, const QVersionNumber &running)
{
    Settled settled;
    if (!WorkFolder::isPrivate(runPath) || !QFile::exists(runPath + pendingName()))
        return settled;
    const QByteArray note = readNote(runPath + pendingName());
    const QString zipFile = QString::fromUtf8(note.left(note.indexOf('\n')));
    const QVersionNumber version = packageVersion(zipFile);
    const QString reason = logTail(runPath);
    QFile::remove(runPath + pendingName());
    QFile::remove(runPath + logName());
    // Only names the updater itself would have handed over count.
    if (!isPackageName(zipFile) || version.isNull())
        return settled;

    settled.zipFile = zipFile;
    if (QVersionNumber::compare(running.normalized(), version.normalized()) >= 0) {
        settings.setLastUpdate(zipFile);
        QFile::remove(runPath + failedName());
        settled.result = Settled::Result::Installed;
        return settled;
    }
    settled.result = Settled::Result::Failed;
    settled.reason = QStringLiteral("新しいバージョンが起動しませんでした（実行中のバージョンは %1 のままです）")
                         .arg(running.toString());
    if (!reason.isEmpty())
        settled.reason += QLatin1Char('\n') + reason;
    writeNote(runPath + failedName(), zipFile.toUtf8() + '\n' + settled.reason.toUtf8());
    return settled;
}

QString failureOf(const QString &runPath, const QString &zipFile)
{
    const QByteArray note = readNote(runPath + failedName());
    const qsizetype end = note.indexOf('\n');
    if (end < 0 || QString::fromUtf8(note.left(end)) != zipFile)
        return QString();
    return QString::fromUtf8(note.mid(end + 1));
}

} // namespace PendingUpdate
