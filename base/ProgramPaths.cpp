#include "base/ProgramPaths.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace sheafline {

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
    p.RunPath = tempFolder + p.ExeFile + Delimiter;
    return p;
}

} // namespace sheafline
