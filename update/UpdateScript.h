#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class QStringEncoder;

// Text of the self-update script that unpacks a package over the program's
// folder and starts the program again.  Pure functions; any thread.
namespace UpdateScript {

struct Names
{
    QString zipFile;    // package file name, already checked by isPackageName
    QString folderName; // program folder, with its trailing delimiter
    QString exeFile;    // program file name
};

// The 33 lines of "update.bat" (Windows).  The script is run with the work
// folder as its first argument and the program's process id as its second,
// and waits for that process to end before unpacking.  Names are quoted.
QStringList batLines(const Names &names);

// "update.bat" as it is written: every line followed by CR LF, encoded with
// `ansi` (the ANSI code page).  Empty when a character of the inserted names
// has no form in that code page, since the script would then name another
// file.
std::optional<QByteArray> batBytes(const Names &names, QStringEncoder &ansi);

// Shell command that shows "readme.txt" in the current folder and returns
// once the user has closed it.
QString defaultReadmeCommand();

// "update.sh" (POSIX sh), the same steps: run as
//   /bin/sh update.sh <work folder> <pid of the program>
// it changes to its own folder, waits for the process to end, unpacks the
// package (a tar archive) into the program's folder (what tar reports goes
// to "update.log" there), deletes the package and its signature
// ("<package>.sig"), shows and deletes readme.txt, starts the program and
// deletes itself.
// `readmeCommand` must be a complete shell command.
QString shText(const Names &names, const QString &readmeCommand = defaultReadmeCommand());

// `text` as one single-quoted sh word.
QString shellQuote(const QString &text);

} // namespace UpdateScript
