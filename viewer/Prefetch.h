#pragma once

#include <QStringList>

#include <functional>

// Which files to prepare when the list's selection moves from `previousRow`
// to `currentRow`: the selected file, then its neighbour in the direction of
// travel (down when there is no previous row).  `pathOfRow` gives a row's
// file path, or "" for a row that is no file; such rows are skipped.
QStringList prefetchPaths(int previousRow, int currentRow, int rowCount,
                          const std::function<QString(int row)> &pathOfRow);
