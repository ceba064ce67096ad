#include "viewer/PdfFileEnd.h"

#include <QFile>

namespace {
// Readers look for the marker this far from the end.
constexpr qint64 markerReach = 1024;
} // namespace

bool endsLikeWholePdf(const QByteArray &tail)
{
    return tail.right(markerReach).contains("%%EOF");
}

bool fileEndsLikeWholePdf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (!file.seek(qMax<qint64>(0, file.size() - markerReach)))
        return false;
    return endsLikeWholePdf(file.read(markerReach));
}
