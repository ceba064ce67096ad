#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

// The path rules every area shares.  A folder path that the program keeps or
// passes on ends with the delimiter; a file's full path is its folder
// followed directly by its name.  Pure functions on texts (the file system is
// never asked); any thread.
namespace sheafline {

// The path delimiter of every path the program keeps.
inline constexpr QChar Delimiter = u'/';

// `path` with a trailing delimiter unless it already ends with one; "" gives "/".
QString withTrailingDelimiter(const QString &path);

// `path` with one trailing delimiter removed ("/a/b//" -> "/a/b/"); the
// file-system root stays as it is ("/" and "//" give "/").  The folder a
// watch is registered for.
QString withoutTrailingDelimiter(const QString &path);

// `path` with every trailing delimiter removed, the root still kept: the form
// in which a system call sees the folder itself and not what a link there
// points to.
QString withoutTrailingDelimiters(const QString &path);

// `name` below `folder`, with one delimiter between them whether or not the
// folder ends with one.
QString joinPath(const QString &folder, const QString &name);

// The folder that holds `path` (without a trailing delimiter): "/a/b" -> "/a",
// "/a" -> "/", and "" for "/" or a path without a delimiter.
QString parentOf(const QString &path);

// True when `path` lies strictly below the folder `root` (given without a
// trailing delimiter, or as "/").
bool isUnder(const QString &path, const QString &root);

// The file-name part of a full path: everything after the last delimiter
// (empty for a root or an empty path).
QString fileNamePart(const QString &fullPath);

// A folder tree node's folder: `root` followed by each text from the
// top-level ancestor down to the node, each followed by the delimiter.
QString nodePath(const QString &root, const QStringList &textsTopDown);

} // namespace sheafline
