#include "app/CommandLine.h"

#include "base/ProgramPaths.h"

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

} // namespace

CommandLine parseCommandLine(const QStringList &args,
                             const std::function<bool(const QString &)> &isFolder)
{
    CommandLine cl;
    for (const QString &arg : args) {
        const QString lower = asciiLower(arg);
        if (lower == QLatin1String("-b") || lower == QLatin1String("/b"))
            cl.pdfMode = 1;
    }
    if (!args.isEmpty() && !args.first().isEmpty() && isFolder(args.first()))
        cl.rootFolder = sheafline::withTrailingDelimiter(args.first());
    return cl;
}

bool folderExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}
