#include "update/SelfUpdater.h"

#include "update/PackageName.h"
#include "update/PendingUpdate.h"
#include "update/UpdateScript.h"
#include "update/WorkFolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStringEncoder>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace SelfUpdater {

QString scriptFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("update.bat");
#else
    return QStringLiteral("update.sh");
#endif
}

QString writeScript(const UpdatePaths &paths, const QString &zipFile, const QString &readmeCommand)
{
    if (!isPackageName(zipFile) || !WorkFolder::isPrivate(paths.runPath))
        return QString();
    UpdateScript::Names names{zipFile, paths.folderName, paths.exeFile};
#ifdef Q_OS_WIN
    names.folderName = QDir::toNativeSeparators(names.folderName);
    QStringEncoder ansi(QStringEncoder::System);
    const std::optional<QByteArray> bytes = UpdateScript::batBytes(names, ansi);
    if (!bytes)
        return QString();
    const QByteArray text = *bytes;
#else
    const QByteArray text = UpdateScript::shText(names, readmeCommand.isEmpty() ? UpdateScript::defaultReadmeCommand()
                                                                                : readmeCommand)
                                .toUtf8();
#endif
    const QString path = paths.runPath + scriptFileName();
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
        return QString();
    return path;
}

bool startScript(const QString &scriptPath, const QString &runPath, qint64 pid)
{
    QProcess process;
#ifdef Q_OS_WIN
    process.setProgram(QStringLiteral("cmd.exe"));
    process.setArguments({QStringLiteral("/c"), QDir::toNativeSeparators(scriptPath),
                          QDir::toNativeSeparators(runPath), QString::number(pid)});
#else
    process.setProgram(QStringLiteral("/bin/sh"));
    process.setArguments({scriptPath, runPath, QString::number(pid)});
#endif
    process.setWorkingDirectory(runPath);
#ifdef Q_OS_WIN
    // A console of its own that is never shown; its input stays the console
    // because "timeout" refuses redirected input.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags = (args->flags & ~CREATE_NEW_CONSOLE) | CREATE_NO_WINDOW;
    });
#else
    process.setStandardInputFile(QProcess::nullDevice());
#endif
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

bool install(const UpdatePaths &paths, const QString &zipFile, qint64 pid, const QString &readmeCommand)
{
    const QString script = writeScript(paths, zipFile, readmeCommand);
    if (script.isEmpty())
        return false;
    // "lastupdate" is left to the next start, which sees whether the new
    // version runs (PendingUpdate::settle).
    if (!PendingUpdate::record(paths.runPath, zipFile)) {
        QFile::remove(script);
        return false;
    }
    if (!startScript(script, paths.runPath, pid)) {
        PendingUpdate::forget(paths.runPath);
        return false;
    }
    return true;
}

} // namespace SelfUpdater
