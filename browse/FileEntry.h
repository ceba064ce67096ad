#pragma once

#include <QString>

// One row of the file list: the texts the user sees and sorts by, and whether
// the entry is a folder (a folder named like a PDF file).  Nothing else is
// kept: sizes and dates are compared as the texts shown.
struct FileEntry
{
    QString name;     // caption: the entry's name, no path
    QString sizeText; // "%dkb", empty for a folder
    QString dateText; // last-write time, "yyyy/mm/dd hh:nn" with the locale's separators
    bool isDir = false;
};
