#include "app/ProgramPaths.h"

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

} // namespace sheafline
