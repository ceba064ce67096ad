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
    QString document;   // first argument naming a readable PDF file, as an absolute,
                        // cleaned path; empty otherwise
    QString unusable;   // first argument, as written, when it names neither (a switch
                        // or an empty argument is none); empty otherwise
};

// `args` exclude the program name.  `isFolder` tells whether a path names an
// existing folder (following links); `isReadablePdf` whether it names a PDF
// file that can be read (no documents are recognised without it).  A folder
// named like a PDF is a folder.  A relative document is made absolute against
// the current directory.
CommandLine parseCommandLine(const QStringList &args,
                             const std::function<bool(const QString &)> &isFolder,
                             const std::function<bool(const QString &)> &isReadablePdf = {});

// Whether `arg` is the web-view switch ("-b" or "/b", ASCII letters in any case).
bool isWebViewSwitch(const QString &arg);

// The real folder test: QFileInfo::isDir.
bool folderExists(const QString &path);
// The real document test: a regular file (following links) that this user
// can open for reading, named ".pdf" in any letter case as the file list
// shows them.
bool readablePdfExists(const QString &path);

// Where a document handed to the program is shown.
struct DocumentPlace
{
    QString root;     // the tree's root folder, trailing delimiter
    QString folder;   // the document's folder, at or below root, trailing delimiter
    QString document; // folder + the document's name
    // The folders from root down to `folder`, by name (empty when they are the same).
    QStringList path() const;
};

// The first of `roots` (each with a trailing delimiter; empty ones are
// skipped) that `document` (absolute) lies at or below becomes the root and
// keeps its own spelling; otherwise the document's folder is the root.  A
// root and a document that meet only once links are resolved are matched
// through `canonical` (a path with links resolved, empty when it does not
// exist; none: names are compared as written).
DocumentPlace placeDocument(const QString &document, const QStringList &roots,
                            const std::function<QString(const QString &)> &canonical = {});

// The real link resolution: QFileInfo::canonicalFilePath.
QString canonicalPath(const QString &path);

// The message for a first argument or a hand-over that names neither a
// folder nor a readable PDF.
QString unusablePathMessage(const QString &path);
