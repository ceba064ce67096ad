#include "watch/FolderWatchRules.h"

quint32 plEventBits(TplFolderEventOption option)
{
    static constexpr quint32 bits[plFolderEventOptionCount] = {
        0x1,     0x2,     0x4,      0x8,       0x10,      0x20,       0x40,      0x80,
        0x100,   0x200,   0x400,    0x800,     0x1000,    0x2000,     0x4000,    0x8000,
        0x10000, 0x20000, 0x40000,  0x8000000, 0x2381F,   0xC0581E0,  0x7FFFFFFF,
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
    if (directory == QLatin1String("/"))
        return directory;
    QString used = directory;
    if (used.endsWith(QLatin1Char('/')))
        used.chop(1);
    return used;
}

QString plFileNamePart(const QString &fullPath)
{
    return fullPath.mid(fullPath.lastIndexOf(QLatin1Char('/')) + 1);
}
