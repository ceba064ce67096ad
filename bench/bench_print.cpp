// Printing: a 50-page document spooled to a PDF file at 300 dpi through the
// print job, against the bare engine drawing the same pages at the same
// resolution; and how late the UI thread answers while the job runs.
#include "BenchSupport.h"

#include "viewer/PrintJob.h"
#include "viewer/isolated/PdfEngines.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

namespace {

constexpr int kPages = 50;
constexpr int kDpi = 300;

// Text, rules and a filled block on each page: a page of an ordinary report.
bool writeDocument(const QString &path)
{
    QPdfWriter w(path);
    w.setResolution(72);
    w.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF()));
    QPainter p;
    if (!p.begin(&w))
        return false;
    for (int i = 0; i < kPages; ++i) {
        if (i > 0)
            w.newPage();
        QFont f = p.font();
        f.setPixelSize(28);
        p.setFont(f);
        p.drawText(72, 100, QStringLiteral("Page %1").arg(i + 1));
        f.setPixelSize(10);
        p.setFont(f);
        for (int line = 0; line < 50; ++line)
            p.drawText(72, 140 + line * 12, QStringLiteral("Line %1 of page %2: the quick brown fox jumps over the lazy dog.")
                                                 .arg(line + 1).arg(i + 1));
        p.fillRect(QRectF(400, 60, 140, 60), QColor::fromHsv((i * 37) % 360, 160, 230));
        p.drawLine(72, 750, 540, 750);
    }
    return p.end();
}

int run(const QStringList &args)
{
    const int rounds = args.value(0).toInt() > 0 ? args.value(0).toInt() : 3;
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("report.pdf"));
    if (!writeDocument(source)) {
        QTextStream(stderr) << "cannot write the document\n";
        return 1;
    }
    PdfEngines engines(PdfEngines::Kind::Isolated);
    const QSize pixels(612 * kDpi / 72, 792 * kDpi / 72);
    QList<int> all;
    for (int i = 0; i < kPages; ++i)
        all << i;

    QList<double> bare, spooled, answers;
    for (int round = 0; round < rounds; ++round) {
        {
            auto engine = engines.create();
            QElapsedTimer t;
            t.start();
            if (engine->open(source, QString()) != PdfOpenStatus::Ok)
                return 1;
            for (int i = 0; i < kPages; ++i)
                if (engine->render(i, pixels, 0).size() != pixels)
                    return 1;
            engine->close();
            bare << double(t.nsecsElapsed()) / 1e6;
        }
        {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(dir.filePath(QStringLiteral("printed.pdf")));
            printer.setResolution(kDpi);
            printer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF()));
            PrintJob::Options options;
            options.path = source;
            options.pages = all;
            PrintJob job(engines.factory(), &printer, options);
            bool done = false;
            QObject::connect(&job, &PrintJob::finished, [&] { done = true; });
            // The UI thread's answer: how late a 10 ms tick comes.
            QElapsedTimer clock;
            QTimer tick;
            tick.setTimerType(Qt::PreciseTimer);
            tick.setInterval(10);
            qint64 last = 0;
            QObject::connect(&tick, &QTimer::timeout, [&] {
                const qint64 now = clock.nsecsElapsed();
                answers << qMax(0.0, double(now - last) / 1e6 - 10.0);
                last = now;
            });
            QElapsedTimer t;
            t.start();
            clock.start();
            tick.start();
            job.start();
            if (!bench::waitUntil([&] { return done; }, 600000) || job.outcome() != PrintJob::Outcome::Printed) {
                QTextStream(stderr) << "the print job did not finish\n";
                return 1;
            }
            spooled << double(t.nsecsElapsed()) / 1e6;
            tick.stop();
        }
    }
    const double bareMs = bench::median(bare), printMs = bench::median(spooled);
    bench::report("print_bare_ms", bareMs);
    bench::report("print_spool_ms", printMs);
    bench::report("print_ratio", printMs / bareMs);
    bench::report("print_ui_answer_ms_p99", bench::percentile(answers, 99));
    return 0;
}

} // namespace

SHEAFLINE_BENCH("print", "[rounds]  a 50-page document spooled to PDF at 300 dpi against the bare engine drawing it; "
                         "UI answer during the job",
                run);
