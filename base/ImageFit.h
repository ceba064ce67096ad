#pragma once

#include <QSize>
#include <QSizeF>
#include <QtGlobal>

// Fitting a picture into a square, shared by the file list's thumbnails and
// the viewer's thumbnail renders.  Pure; any thread.
namespace sheafline {

// `size` fitted into a square of `box` pixels, its shape kept (each side at
// least 1); empty for an empty size or box.
inline QSize fitInSquare(const QSizeF &size, int box)
{
    if (size.isEmpty() || box <= 0)
        return {};
    const qreal scale = box / qMax(size.width(), size.height());
    return QSize(qBound(1, qRound(size.width() * scale), box), qBound(1, qRound(size.height() * scale), box));
}

} // namespace sheafline
