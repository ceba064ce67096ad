#include "viewer/Prefetch.h"

QStringList prefetchPaths(int previousRow, int currentRow, int rowCount,
                          const std::function<QString(int row)> &pathOfRow)
{
    QStringList out;
    if (currentRow < 0 || currentRow >= rowCount)
        return out;
    const QString current = pathOfRow(currentRow);
    if (!current.isEmpty())
        out << current;
    const int step = (previousRow >= 0 && previousRow > currentRow) ? -1 : 1;
    const int next = currentRow + step;
    if (next >= 0 && next < rowCount) {
        const QString path = pathOfRow(next);
        if (!path.isEmpty())
            out << path;
    }
    return out;
}
