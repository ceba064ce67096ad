#include "watch/FolderWatchRules.h"

#include "base/PathRules.h"
#include "base/ShellChangeCodes.h"

quint32 plEventBits(TplFolderEventOption option)
{
    using namespace ShellChange;
    // In the order of TplFolderEventOption.
    static constexpr quint32 bits[plFolderEventOptionCount] = {
        RenameItem,   Create,      Delete,        Mkdir,        Rmdir,      MediaInserted,
        MediaRemoved, DriveRemoved, DriveAdd,     NetShare,     NetUnshare, Attributes,
        UpdateDir,    UpdateItem,  ServerDisconnect, UpdateImage, DriveAddGui, RenameFolder,
        FreeSpace,    AssocChanged, DiskEvents,   GlobalEvents, AllEvents,
    };
    const int i = int(option);
    return i >= 0 && i < plFolderEventOptionCount ? bits[i] : 0;
}

quint32 plEventMask(TplFolderEventOptions options)
{
    quint32 mask = 0;
    for (int i = 0; i < plFolderEventOptionCount; ++i) {
        if (options.contains(TplFolderEventOption(i)))
            mask |= plEventBits(TplFolderEventOption(i));
    }
    return mask;
}

QString plWatchPath(const QString &directory, const QString &desktopFolder)
{
    if (directory.isEmpty())
        return desktopFolder;
    // The root keeps its delimiter; any other folder is watched without a
    // trailing one.
    return sheafline::withoutTrailingDelimiter(directory);
}

QString plFileNamePart(const QString &fullPath)
{
    return sheafline::fileNamePart(fullPath);
}
