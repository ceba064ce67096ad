#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What the command line selects for one run.  Widget-free, no state.
struct CommandLine
{
    int pdfMode = 0;    // 1 when any argument is "-b" or "/b" in any letter case
    QString rootFolder; // first argument naming an existing folder, with a trailing
                        // delimiter; empty otherwise.  Never stored in the settings.
};

// `args` exclude the program name.  `isFolder` tells whether a path names an
// existing folder (following links).
CommandLine parseCommandLine(const QStringList &args,
                             const std::function<bool(const QString &)> &isFolder);

// The real folder test: QFileInfo::isDir.
bool folderExists(const QString &path);
