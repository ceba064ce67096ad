#pragma once

#include <QByteArray>
#include <QString>

// Whether a PDF file looks written to its end: its last kilobyte holds the
// end-of-file marker ("%%EOF") that closes every PDF, and every update
// appended to one.  A file still being written (most writers stream the
// pages first and the cross-reference table and trailer last) does not yet;
// a viewer that reads it then may see only some of its pages.
bool endsLikeWholePdf(const QByteArray &tail);
// The same for the file at `path`; false when it cannot be read.
bool fileEndsLikeWholePdf(const QString &path);
