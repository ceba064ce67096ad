#include "app/ProgramPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace sheafline {

QString withTrailingDelimiter(const QString &path)
{
    if (path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

QString userTempFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return withTrailingDelimiter(runtime);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty())
        return withTrailingDelimiter(cache);
    return QString();
}

ProgramPaths computeProgramPaths(const QString &exePath, const QString &tempFolder)
{
    ProgramPaths p;
    const QFileInfo exe(exePath);
    p.FolderName = withTrailingDelimiter(exe.path());
    p.ExeFile = exe.fileName();
    p.RunPath = tempFolder + p.ExeFile + QLatin1Char('/');
    return p;
}

bool createWorkFolder(const QString &runPath)
{
    QString folder = runPath;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    if (folder.isEmpty())
        return false;
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    const QString parent = info.absolutePath();
    if (!QDir().mkpath(parent))
        return false;
    return QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
        || QFileInfo(folder).isDir();
}

} // namespace sheafline
