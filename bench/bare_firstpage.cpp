// sheafline-bare-firstpage FILE.pdf [WIDTH HEIGHT]: the least a viewer does
// to show a PDF, as the start-up benchmark's baseline: a window, page 1 of
// FILE loaded and drawn by the program's engine (the confined render helper,
// or the in-process one under $SHEAFLINE_RENDER_ENGINE=inprocess) fitted into
// WIDTH x HEIGHT (508 x 562, the program's viewer area as designed), and, once
// that page is painted, "shown <CLOCK_MONOTONIC ns> FILE" on standard output.
#include "viewer/PdfEngine.h"
#include "viewer/isolated/PdfEngines.h"

#include <QApplication>
#include <QPainter>
#include <QWidget>

#include <cstdio>
#include <time.h>

namespace {

class PageWindow : public QWidget
{
public:
    PageWindow(QImage page, QString path) : m_page(std::move(page)), m_path(std::move(path)) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::gray);
        painter.drawImage(QPoint((width() - m_page.width()) / 2, 0), m_page);
        if (m_reported)
            return;
        m_reported = true;
        timespec now = {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("shown %lld %s\n", qint64(now.tv_sec) * 1000000000 + now.tv_nsec, qPrintable(m_path));
        std::fflush(stdout);
    }

private:
    QImage m_page;
    QString m_path;
    bool m_reported = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: sheafline-bare-firstpage FILE.pdf [WIDTH HEIGHT]\n");
        return 2;
    }
    const QSize area(args.value(1, QStringLiteral("508")).toInt(), args.value(2, QStringLiteral("562")).toInt());
    PdfEngines engines(PdfEngines::kindFromEnvironment());
    std::unique_ptr<PdfEngine> engine = engines.create();
    if (engine->open(args.first(), QString()) != PdfOpenStatus::Ok) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(args.first()));
        return 1;
    }
    const QSizeF pt = usablePageSize(engine->pageSize(0));
    // Fitted to the width, as the program shows a page at first.
    const QSize pixels = (pt * (area.width() / pt.width())).toSize();
    const QImage page = engine->render(0, pixels, 0);
    PageWindow window(page, args.first());
    window.resize(area);
    window.show();
    const int rc = app.exec();
    engine->close();
    return rc;
}
