#include "update/UpdateScript.h"

#include "update/PackageSignature.h"
#include "update/PendingUpdate.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace UpdateScript {

namespace {

// Inside a batch file "%" starts a variable even between quotes.
QString batEscape(QString text)
{
    return text.replace(QLatin1Char('%'), QLatin1String("%%"));
}

QString batQuote(const QString &text)
{
    return QLatin1Char('"') + batEscape(text) + QLatin1Char('"');
}

// A folder argument for a program that splits its command line the C
// runtime's way: a backslash right before the closing quote would escape it,
// so a trailing one is doubled.
QString batQuoteFolderArg(const QString &folder)
{
    QString quoted = batEscape(folder);
    if (quoted.endsWith(QLatin1Char('\\')))
        quoted += QLatin1Char('\\');
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QStringList batLines(const Names &n)
{
    const QString zip = batQuote(n.zipFile);
    return {
        QStringLiteral(":------------------------------"),
        QStringLiteral(":セルフ・アップデート・バッチ"),
        QStringLiteral(":------------------------------"),
        QStringLiteral("@echo off"),
        QStringLiteral("cls"),
        QString(),
        QStringLiteral(":INITIALIZE"),
        QStringLiteral("cd \"%~dp0\""),
        // Wait (at most a minute) for the program, passed as %2, to end.
        // A goto leaves the loop at once.
        QStringLiteral("for /l %%i in (1,1,60) do (tasklist /nh /fi \"PID eq %2\" 2>nul | find \" %2 \" >nul"
                       " || goto ZIPFILECHECK & timeout /t 1 /nobreak >nul)"),
        QStringLiteral(":ZIPFILECHECK"),
        QStringLiteral("if exist ") + zip + QStringLiteral(" goto UNZIP"),
        QStringLiteral("goto EXIT"),
        QString(),
        QStringLiteral(":UNZIP"),
        QStringLiteral("EXPAND -r -F:* ") + zip + QLatin1Char(' ') + batQuoteFolderArg(n.folderName),
        QStringLiteral("timeout /t 1"),
        QString(),
        QStringLiteral(":DIRECTORY CHECK"),
        QString(),
        QStringLiteral(":EXIT"),
        QStringLiteral("if exist ") + zip + QStringLiteral(" del ") + zip,
        QStringLiteral("timeout /t 1"),
        QString(),
        QStringLiteral("if exist readme.txt goto README"),
        QStringLiteral("goto FINALY"),
        QString(),
        QStringLiteral(":README"),
        QStringLiteral("notepad.exe readme.txt"),
        QStringLiteral("del readme.txt"),
        QString(),
        QStringLiteral(":FINALY"),
        QStringLiteral("call ") + batQuote(n.folderName + n.exeFile),
        QStringLiteral("del \"%~f0\""),
    };
}

std::optional<QByteArray> batBytes(const Names &names, QStringEncoder &ansi)
{
    // The names must come through exactly or the script would name other
    // files; code pages substitute silently, so only a round trip tells.
    // The fixed heading is a comment and may lose its Japanese letters.
    QStringDecoder back(ansi.name());
    if (!ansi.isValid() || !back.isValid())
        return std::nullopt;
    for (const QString &name : {names.zipFile, names.folderName, names.exeFile}) {
        const QByteArray bytes = ansi.encode(name);
        if (ansi.hasError() || QString(back.decode(bytes)) != name || back.hasError())
            return std::nullopt;
    }
    const QString text = batLines(names).join(QLatin1String("\r\n")) + QLatin1String("\r\n");
    return QByteArray(ansi.encode(text));
}

QString shellQuote(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString defaultReadmeCommand()
{
    // Each of these blocks until the user closes it, like Notepad does for
    // the batch file.
    return QStringLiteral("zenity --text-info --title=readme.txt --filename=readme.txt"
                          " || kdialog --textbox readme.txt"
                          " || xmessage -file readme.txt");
}

QString shText(const Names &n, const QString &readmeCommand)
{
    const QString zip = shellQuote(n.zipFile);
    const QStringList lines = {
        QStringLiteral("#------------------------------"),
        QStringLiteral("#セルフ・アップデート・スクリプト"),
        QStringLiteral("#------------------------------"),
        QStringLiteral("# run as: /bin/sh update.sh <work folder> <program pid>"),
        QString(),
        QStringLiteral("# INITIALIZE"),
        QStringLiteral("cd \"$(dirname -- \"$0\")\" || exit 1"),
        // The program's files must not be replaced while it still runs.
        // Only a positive number: "kill -0 0" would test the whole process group.
        QStringLiteral("while [ \"${2:-0}\" -gt 0 ] 2>/dev/null && kill -0 \"$2\" 2>/dev/null; do sleep 1; done"),
        QString(),
        QStringLiteral("# ZIPFILECHECK"),
        QStringLiteral("if [ -f ") + zip + QStringLiteral(" ]; then"),
        QStringLiteral("# UNZIP"),
        // What tar reports is kept for the next start, which tells the user
        // why a replacement failed.
        QStringLiteral("tar -xf ") + zip + QStringLiteral(" -C ") + shellQuote(n.folderName)
            + QStringLiteral(" 2>") + shellQuote(PendingUpdate::logName()),
        QStringLiteral("sleep 1"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("# DIRECTORY CHECK"),
        QString(),
        QStringLiteral("# EXIT"),
        QStringLiteral("if [ -e ") + zip + QStringLiteral(" ]; then rm -f -- ") + zip + QStringLiteral("; fi"),
        QStringLiteral("rm -f -- ") + shellQuote(PackageSignature::signatureName(n.zipFile)),
        QStringLiteral("sleep 1"),
        QString(),
        QStringLiteral("if [ -f readme.txt ]; then"),
        QStringLiteral("# README"),
        QStringLiteral("{ ") + readmeCommand + QStringLiteral("; } </dev/null >/dev/null 2>&1"),
        QStringLiteral("rm -f readme.txt"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("# FINALY"),
        shellQuote(n.folderName + n.exeFile) + QStringLiteral(" </dev/null"),
        QStringLiteral("rm -f -- \"$0\""),
    };
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace UpdateScript
