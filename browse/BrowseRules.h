#pragma once

#include "base/PathRules.h"
#include "browse/FileEntry.h"

#include <QCollator>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

// The widget-free rules of folder and file browsing: the size and date texts
// of the list, the two orders of the list and the rename target rule.  The
// folder path rules are the program's own (base/PathRules.h).  Pure
// functions; any thread.
namespace BrowseRules {

using sheafline::Delimiter;

// Size in bytes rounded up to whole KiB, as "%dkb" (64-bit: 5 GiB -> 5242880kb).
QString sizeText(qint64 bytes);

// The locale's date and time separators as its short formats use them
// ("/" and ":" when the formats have none).
QString dateSeparator(const QLocale &locale);
QString timeSeparator(const QLocale &locale);

// The separators of one locale, looked up once for a whole fill.
struct DateSeparators
{
    QString date;
    QString time;
    explicit DateSeparators(const QLocale &locale)
        : date(dateSeparator(locale)), time(timeSeparator(locale)) {}
};

// "yyyy/mm/dd hh:nn" from broken-down local time fields.
QString dateText(int year, int month, int day, int hour, int minute, const DateSeparators &seps);

// The collator of a fill: ascending, case-sensitive, in the locale's order.
QCollator fillCollator(const QLocale &locale);
// The collator of a column sort: case-insensitive, in the locale's order.
QCollator columnCollator(const QLocale &locale);

// Sorts entries in ascending caption order with `collator` (the fill order).
void sortForFill(QList<FileEntry> &entries, const QCollator &collator);

// The order of a folder's sub-folders in the tree: by name ignoring letter
// case, names that differ only in case by their characters' codes
// ("folder3" < "Folder14" < "folder14" < "folder25").  The same whatever
// order the file system lists them in.
void sortFolderNames(QStringList &names);

// A name as one line of text: each line-break character in it (a file name
// may hold one) is shown as "↵", so the name keeps to one line and none of
// it is hidden.
QString oneLineName(const QString &name);

// The comparison of a column sort: the negated case-insensitive comparison of
// the captions (column 0), size texts (1) or date texts (2): -1, 0 or +1, so
// that rows come out in descending text order.  `collator` must be
// columnCollator().
int CompareFileItems(const FileEntry &item1, const FileEntry &item2, int column,
                     const QCollator &collator);

// A tree node's folder (base/PathRules.h).
using sheafline::nodePath;

// The rename target rule: the typed text with its extension replaced by
// ".pdf" (report.txt -> report.pdf, a.b.PDF -> a.b.pdf, "" -> ".pdf").  Only
// a "." after the last delimiter starts an extension.
QString renameTarget(const QString &typed);

} // namespace BrowseRules
