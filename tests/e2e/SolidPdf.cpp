#include "SolidPdf.h"

#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <functional>

namespace SolidPdf {

namespace {

bool drawPages(const QString &path, int pages, const std::function<void(QPainter &, const QRect &, int)> &draw)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    const QRect page = writer.pageLayout().fullRectPixels(writer.resolution());
    for (int i = 0; i < pages; ++i) {
        if (i > 0 && !writer.newPage())
            return false;
        draw(painter, page, i);
    }
    return painter.end();
}

} // namespace

bool writeSolid(const QString &path, const QColor &colour, int pages)
{
    return drawPages(path, pages, [&](QPainter &p, const QRect &page, int) { p.fillRect(page, colour); });
}

bool writePages(const QString &path, const QList<QColor> &colours)
{
    return drawPages(path, int(colours.size()),
                     [&](QPainter &p, const QRect &page, int i) { p.fillRect(page, colours.at(i)); });
}

bool writeSample(const QString &path, const QColor &accent, const QString &title)
{
    return drawPages(path, 1, [&](QPainter &p, const QRect &page, int) {
        p.fillRect(page, Qt::white);
        const QRect band(0, 0, page.width(), page.height() / 7);
        p.fillRect(band, accent);
        QFont heading(QStringLiteral("IPAPGothic"));
        heading.setPixelSize(30);
        heading.setBold(true);
        p.setFont(heading);
        p.setPen(Qt::white);
        p.drawText(band.adjusted(40, 0, -40, 0), Qt::AlignVCenter | Qt::AlignLeft, title);
        // Lines of "text" in grey, paragraphs of uneven length.
        const int left = 40;
        const int width = page.width() - 2 * left;
        int y = band.bottom() + 40;
        int line = 0;
        while (y < page.height() - 80) {
            const bool paragraphEnd = line % 6 == 5;
            const int w = paragraphEnd ? width * (40 + (line * 13) % 40) / 100 : width - (line * 7) % 30;
            p.fillRect(QRect(left, y, w, 7), QColor(150, 150, 150));
            y += paragraphEnd ? 28 : 16;
            ++line;
            if (line == 14) { // a figure in the accent colour
                p.fillRect(QRect(left, y, width / 2, 120), accent.lighter(150));
                p.setPen(QPen(accent, 3));
                p.drawRect(QRect(left, y, width / 2, 120));
                y += 150;
            }
        }
    });
}

} // namespace SolidPdf
