#include "viewer/PageLayout.h"

#include <QtMath>

namespace PageLayout {

Mode modeFromString(const QString &name)
{
    if (name == QLatin1String("SinglePage"))
        return Mode::SinglePage;
    if (name == QLatin1String("OneColumn"))
        return Mode::OneColumn;
    if (name == QLatin1String("TwoColumnLeft"))
        return Mode::TwoColumnLeft;
    if (name == QLatin1String("TwoColumnRight"))
        return Mode::TwoColumnRight;
    return Mode::DontCare;
}


int columnsFor(Mode mode)
{
    return (mode == Mode::TwoColumnLeft || mode == Mode::TwoColumnRight) ? 2 : 1;
}

// Two-column modes follow the PDF page-layout names: "left" puts odd-numbered
// pages (the first one included) on the left, so that pages 1 and 2 face each
// other; "right" puts them on the right, so that the first page stands alone
// like a book cover.
int columnOf(Mode mode, int page)
{
    if (mode == Mode::TwoColumnLeft)
        return page % 2;
    if (mode == Mode::TwoColumnRight)
        return (page + 1) % 2;
    return 0;
}

static QSizeF rotated(const QSizeF &s, int rotation)
{
    return (rotation % 2) ? s.transposed() : s;
}

qreal scaleFor(const QList<QSizeF> &pageSizesPt, const Params &params)
{
    if (params.zoom == Zoom::Custom || pageSizesPt.isEmpty() || params.viewport.isEmpty())
        return qBound(0.05, params.customZoom, 16.0) * 96.0 / 72.0;
    qreal maxW = 1, maxH = 1;
    if (params.mode == Mode::SinglePage) {
        const QSizeF s = rotated(pageSizesPt.value(qBound(0, params.currentPage, int(pageSizesPt.size()) - 1)),
                                 params.rotation);
        maxW = qMax<qreal>(1, s.width());
        maxH = qMax<qreal>(1, s.height());
    } else {
        for (const QSizeF &p : pageSizesPt) {
            const QSizeF s = rotated(p, params.rotation);
            maxW = qMax(maxW, s.width());
            maxH = qMax(maxH, s.height());
        }
    }
    const int cols = columnsFor(params.mode);
    const qreal availW = params.viewport.width() - 2 * margin - (cols - 1) * gap;
    // Half a pixel less, so that rounding never makes the widest page overflow
    // (and bring up a horizontal scroll bar for nothing).
    qreal scale = (availW / cols - 0.5) / maxW;
    if (params.zoom == Zoom::FitPage)
        scale = qMin(scale, (params.viewport.height() - 2.0 * margin) / maxH);
    return qMax(0.02, scale);
}

Result compute(const QList<QSizeF> &pageSizesPt, const Params &params)
{
    Result r;
    const int n = int(pageSizesPt.size());
    r.rects.resize(n);
    if (n == 0) {
        r.contentSize = QSize(0, 0);
        return r;
    }
    r.scale = scaleFor(pageSizesPt, params);
    QList<QSize> sizes(n);
    int maxW = 0;
    for (int i = 0; i < n; ++i) {
        const QSizeF s = rotated(pageSizesPt.at(i), params.rotation) * r.scale;
        sizes[i] = QSize(qMax(1, qRound(s.width())), qMax(1, qRound(s.height())));
        maxW = qMax(maxW, sizes[i].width());
    }

    if (params.mode == Mode::SinglePage) {
        const int p = qBound(0, params.currentPage, n - 1);
        const int w = qMax(params.viewport.width(), sizes[p].width() + 2 * margin);
        r.rects[p] = QRect(QPoint((w - sizes[p].width()) / 2, margin), sizes[p]);
        r.contentSize = QSize(w, sizes[p].height() + 2 * margin);
        return r;
    }

    const int cols = columnsFor(params.mode);
    const int rowW = cols * maxW + (cols - 1) * gap;
    const int width = qMax(params.viewport.width(), rowW + 2 * margin);
    const int left = (width - rowW) / 2;
    int y = margin;
    if (cols == 1) {
        for (int i = 0; i < n; ++i) {
            r.rects[i] = QRect(QPoint((width - sizes[i].width()) / 2, y), sizes[i]);
            y += sizes[i].height() + gap;
        }
    } else {
        int i = 0;
        while (i < n) {
            // A row holds the page in slot 0 and, when it exists, the next one in slot 1.
            int rowPages[2] = {-1, -1};
            rowPages[columnOf(params.mode, i)] = i;
            int next = i + 1;
            if (columnOf(params.mode, i) == 0 && next < n) {
                rowPages[1] = next;
                ++next;
            }
            int rowH = 0;
            for (int p : rowPages)
                if (p >= 0)
                    rowH = qMax(rowH, sizes[p].height());
            for (int c = 0; c < 2; ++c) {
                const int p = rowPages[c];
                if (p < 0)
                    continue;
                // Facing pages meet at the gap, like an open book.
                const int x = c == 0 ? left + maxW - sizes[p].width() : left + maxW + gap;
                r.rects[p] = QRect(QPoint(x, y + (rowH - sizes[p].height()) / 2), sizes[p]);
            }
            y += rowH + gap;
            i = next;
        }
    }
    r.contentSize = QSize(width, y - gap + margin);
    return r;
}

} // namespace PageLayout
