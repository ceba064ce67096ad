#include "browse/FileActions.h"

#include <QDesktopServices>
#include <QFileInfo>

namespace FileActions {

UrlOpener desktopOpener()
{
    return [](const QUrl &url) { return QDesktopServices::openUrl(url); };
}

bool openWithAssociatedApp(const QString &path, const UrlOpener &opener)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    return opener && opener(QUrl::fromLocalFile(path));
}

} // namespace FileActions
