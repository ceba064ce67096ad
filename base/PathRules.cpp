#include "base/PathRules.h"

namespace sheafline {

QString withTrailingDelimiter(const QString &path)
{
    if (path.endsWith(Delimiter))
        return path;
    return path + Delimiter;
}

QString withoutTrailingDelimiter(const QString &path)
{
    if (path.size() > 1 && path.endsWith(Delimiter))
        return path.chopped(1);
    return path;
}

QString withoutTrailingDelimiters(const QString &path)
{
    QString used = path;
    while (used.size() > 1 && used.endsWith(Delimiter))
        used.chop(1);
    return used;
}

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.endsWith(Delimiter))
        return folder + name;
    return folder + Delimiter + name;
}

QString parentOf(const QString &path)
{
    const qsizetype last = path.lastIndexOf(Delimiter);
    if (last < 0)
        return {};
    if (last == 0)
        return path.size() > 1 ? QString(Delimiter) : QString();
    return path.left(last);
}

bool isUnder(const QString &path, const QString &root)
{
    if (root.size() == 1 && root.at(0) == Delimiter)
        return path.size() > 1 && path.startsWith(Delimiter);
    return path.size() > root.size() && path.startsWith(root) && path.at(root.size()) == Delimiter;
}

QString fileNamePart(const QString &fullPath)
{
    return fullPath.mid(fullPath.lastIndexOf(Delimiter) + 1);
}

QString nodePath(const QString &root, const QStringList &textsTopDown)
{
    QString path = root;
    for (const QString &text : textsTopDown) {
        path += text;
        path += Delimiter;
    }
    return withTrailingDelimiter(path);
}

} // namespace sheafline
