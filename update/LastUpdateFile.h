#pragma once

#include <QByteArray>
#include <QString>

// The server's "lastupdate" file: its first line names the newest package.
namespace LastUpdateFile {

// The file's name on the server, below webPath, and of its copy in the work
// folder.  (The setting of the same name is another thing: the package
// installed last.)
inline QString fileName() { return QStringLiteral("lastupdate"); }

// Bytes of the file that are fetched and read; the rest is ignored.
constexpr qint64 kMaxBytes = 16 * 1024;

// The first line of the file's bytes, unchanged (blanks kept).  UTF-8, or
// UTF-16 LE/BE or UTF-8 as a byte-order mark says; a line ends at CR LF, LF
// or CR.  Empty bytes give an empty name.  Pure; any thread.
QString firstLine(const QByteArray &bytes);

} // namespace LastUpdateFile
