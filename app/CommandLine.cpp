#include "app/CommandLine.h"

#include "base/ProgramPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Only ASCII letters are folded, so e.g. a full-width "Ｂ" is not a switch.
QString asciiLower(const QString &s)
{
    QString out = s;
    for (QChar &c : out) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return out;
}

QString absoluteClean(const QString &path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

// `path` lies at or below `root` (trailing delimiter): the part after it.
bool below(const QString &path, const QString &root, QString *rest)
{
    if (root.isEmpty() || !path.startsWith(root))
        return false;
    *rest = path.mid(root.size());
    return true;
}

} // namespace

bool isWebViewSwitch(const QString &arg)
{
    const QString lower = asciiLower(arg);
    return lower == QLatin1String("-b") || lower == QLatin1String("/b");
}

CommandLine parseCommandLine(const QStringList &args,
                             const std::function<bool(const QString &)> &isFolder,
                             const std::function<bool(const QString &)> &isReadablePdf)
{
    CommandLine cl;
    for (const QString &arg : args) {
        if (isWebViewSwitch(arg))
            cl.pdfMode = 1;
    }
    if (args.isEmpty() || args.first().isEmpty())
        return cl;
    const QString &first = args.first();
    if (isFolder(first))
        cl.rootFolder = sheafline::withTrailingDelimiter(first);
    else if (isReadablePdf && isReadablePdf(first))
        cl.document = absoluteClean(first);
    else if (!isWebViewSwitch(first))
        cl.unusable = first;
    return cl;
}

bool folderExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool readablePdfExists(const QString &path)
{
    if (path.isEmpty() || !path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return false;
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    // Permission bits do not tell everything (access lists, a file that
    // vanished): an actual open does.
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

QStringList DocumentPlace::path() const
{
    return folder.mid(root.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

DocumentPlace placeDocument(const QString &document, const QStringList &roots,
                            const std::function<QString(const QString &)> &canonical)
{
    DocumentPlace place;
    const QFileInfo info(document);
    const QString folder = sheafline::withTrailingDelimiter(info.path());
    const QString name = info.fileName();
    QString rest;
    for (const QString &root : roots) {
        if (below(folder, root, &rest)) {
            place.root = root;
            place.folder = folder;
            break;
        }
    }
    if (place.root.isEmpty() && canonical) {
        // A root reached through a link: the document's folder is spelt
        // below the root as the user knows it.
        const QString realFolder = canonical(folder);
        for (const QString &root : roots) {
            const QString realRoot = root.isEmpty() ? QString() : canonical(root);
            if (!realFolder.isEmpty() && !realRoot.isEmpty()
                && below(sheafline::withTrailingDelimiter(realFolder), sheafline::withTrailingDelimiter(realRoot), &rest)) {
                place.root = root;
                place.folder = rest.isEmpty() ? root : sheafline::withTrailingDelimiter(root + rest);
                break;
            }
        }
    }
    if (place.root.isEmpty()) {
        place.root = folder;
        place.folder = folder;
    }
    place.document = place.folder + name;
    return place;
}

QString canonicalPath(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

QString unusablePathMessage(const QString &path)
{
    return QStringLiteral("'%1' はフォルダでも読み込めるPDFファイルでもありません").arg(path);
}
