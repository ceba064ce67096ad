#pragma once

#include "browse/BrowseRules.h"
#include "browse/FileEntry.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>

// Reading folders for the file list and the folder tree, straight from the
// file system through the directory reader.  Hidden entries are included; "." and
// ".." never are.  A folder that cannot be read reads as empty.  Any thread.
namespace FolderScan {

// The entries of `folder` whose names match "*.pdf" (letter case ignored),
// files and folders alike, in enumeration order, with their size and date
// texts.  Links are followed; a dangling link is listed as itself.  (The file
// list reads names first and texts per row shown: listPdfNames, readTexts.)
QList<FileEntry> listPdfEntries(const QString &folder, const QLocale &locale);

// The same entries with their names and kinds only: the size and date texts
// are left empty for readTexts().  Looks an entry up only when the listing
// cannot tell whether it is a folder (a link, some file systems), so that a
// list can read texts for the rows it shows rather than for every row.
QList<FileEntry> listPdfNames(const QString &folder);

// Reads the size and date texts of an entry of `folder` (trailing delimiter),
// as listPdfEntries() gives them.  False, texts left empty, when it is gone.
bool readTexts(const QString &folder, FileEntry &entry, const BrowseRules::DateSeparators &separators);

// listPdfNames() and readTexts() for a read on a worker, as the file list
// fills while it reads: the entries go to `names` in batches, each at most
// `batchMs` after the one before (so that a slow share shows its rows as they
// come), an empty batch marking their end, then the texts of every entry whose look-up the listing did not
// already make go to `texts`, batched the same way, by name.  The sort is
// the receiver's.  Either callback returns false to stop the read.  An entry
// gone before its look-up keeps empty texts.  False when it was stopped.
bool readPdfEntries(const QString &folder, const BrowseRules::DateSeparators &separators, int batchMs,
                    const std::function<bool(QList<FileEntry> batch)> &names,
                    const std::function<bool(QList<FileEntry> batch)> &texts);

// The names of the sub-folders of `folder` in enumeration order (links to
// folders included, files never).  With `firstOnly` the read stops at the
// first sub-folder found.
QStringList subFolders(const QString &folder, bool firstOnly = false);

// True when `folder` has at least one sub-folder.
inline bool hasSubFolder(const QString &folder) { return !subFolders(folder, true).isEmpty(); }

} // namespace FolderScan
