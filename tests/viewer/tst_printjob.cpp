// Printing through the real print path: QPrinter writing PDF, pages drawn by
// the render helper, the printed file read back and compared with the
// source drawn the same way.
#include "ViewerFixtures.h"
#include "viewer/DocumentPrinter.h"
#include "viewer/PrintJob.h"
#include "viewer/isolated/PdfEngines.h"

#include <QFile>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfDocumentRenderOptions>
#include <QPdfWriter>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {

const QSizeF letter(612, 792);

// Pages of big coloured blocks and a large page number, each page unlike
// the others and unlike itself turned: a wrong page, turn or place shows.
bool writeSource(const QString &path, const QList<QSizeF> &pagesPt)
{
    QPdfWriter w(path);
    w.setResolution(72);
    QPainter painter;
    for (int i = 0; i < pagesPt.size(); ++i) {
        const QPageSize size(pagesPt.at(i), QPageSize::Point);
        w.setPageLayout(QPageLayout(size, QPageLayout::Portrait, QMarginsF()));
        if (i > 0 ? !w.newPage() : !painter.begin(&w))
            return false;
        const QSizeF s = pagesPt.at(i);
        painter.fillRect(QRectF(0, 0, s.width(), s.height()), Qt::white);
        painter.fillRect(QRectF(0, 0, s.width() / 2, s.height() / 3), QColor::fromHsv((i * 97) % 360, 220, 230));
        painter.fillRect(QRectF(s.width() * 0.6, s.height() * 0.5, s.width() * 0.35, s.height() * 0.45), Qt::black);
        painter.fillRect(QRectF(s.width() * 0.1, s.height() * 0.8, s.width() * 0.2, s.height() * 0.15),
                         QColor::fromHsv((i * 53 + 180) % 360, 255, 200));
        QFont f = painter.font();
        f.setPixelSize(int(s.height() / 6));
        painter.setFont(f);
        painter.setPen(Qt::darkBlue);
        painter.drawText(QRectF(s.width() * 0.05, s.height() * 0.35, s.width() * 0.5, s.height() * 0.3),
                         Qt::AlignCenter, QString::number(i + 1));
    }
    return painter.end();
}

QImage renderPage(QPdfDocument &doc, int page, const QSize &size, QPdfDocumentRenderOptions::Rotation turn = {})
{
    QPdfDocumentRenderOptions options;
    options.setRotation(turn);
    QImage ink = doc.render(page, size, options);
    QImage out(size, QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter(&out).drawImage(0, 0, ink);
    return out;
}

// Mean absolute difference per channel (0 ... 255).
double meanDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 255;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            sum += qAbs(qRed(pa[x]) - qRed(pb[x])) + qAbs(qGreen(pa[x]) - qGreen(pb[x]))
                   + qAbs(qBlue(pa[x]) - qBlue(pb[x]));
    }
    return sum / (3.0 * a.width() * a.height());
}

std::unique_ptr<QPrinter> pdfPrinter(const QString &file, QPageLayout::Orientation orientation)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(file);
    printer->setResolution(150);
    printer->setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), orientation, QMarginsF()));
    return printer;
}

// The helper's engine, held before it draws any page past the first until
// the test lets it go: the run is surely under way when it is cancelled.
class GatedEngine final : public PdfEngine
{
public:
    GatedEngine(std::unique_ptr<PdfEngine> engine, QSemaphore *gate) : m_engine(std::move(engine)), m_gate(gate) {}
    PdfOpenStatus open(const QString &path, const QString &password) override { return m_engine->open(path, password); }
    void close() override { m_engine->close(); }
    QList<QSizeF> pageSizes() const override { return m_engine->pageSizes(); }
    int pageCount() const override { return m_engine->pageCount(); }
    QSizeF pageSize(int page) const override { return m_engine->pageSize(page); }
    QImage render(int page, const QSize &pixelSize, int rotation) override
    {
        if (page > 0)
            m_gate->acquire();
        return m_engine->render(page, pixelSize, rotation);
    }
    QImage renderBand(int page, const QSize &pixelSize, int top, int rows) override
    {
        if (page > 0 && top == 0)
            m_gate->acquire();
        return m_engine->renderBand(page, pixelSize, top, rows);
    }

private:
    std::unique_ptr<PdfEngine> m_engine;
    QSemaphore *m_gate;
};

} // namespace

class TestPrintJob : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    PdfEngines m_engines{PdfEngines::Kind::Isolated};
    QString m_source;
    QList<QSizeF> m_sizes{letter, letter.transposed(), letter, QSizeF(420, 595)};

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCOMPARE(m_engines.kind(), PdfEngines::Kind::Isolated);
        m_source = m_dir.filePath(QStringLiteral("source.pdf"));
        QVERIFY(writeSource(m_source, m_sizes));
    }

    // A page drawn in bands is the page drawn whole, in either engine, for
    // page sizes of whole and of broken points.
    void bandsAreTheWholePage_data()
    {
        QTest::addColumn<bool>("isolated");
        QTest::addColumn<QSizeF>("pagePt");
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<int>("rows");
        QTest::newRow("in-process, Letter") << false << letter << QSize(510, 660) << 97;
        QTest::newRow("helper, Letter") << true << letter << QSize(510, 660) << 97;
        QTest::newRow("helper, A4 (broken points)") << true << QSizeF(595.28, 841.89) << QSize(620, 877) << 200;
        QTest::newRow("helper, wide page, one-row bands") << true << QSizeF(842, 300) << QSize(700, 250) << 1;
    }
    void bandsAreTheWholePage()
    {
        QFETCH(bool, isolated);
        QFETCH(QSizeF, pagePt);
        QFETCH(QSize, pixels);
        QFETCH(int, rows);
        const QString path = m_dir.filePath(QStringLiteral("band-%1x%2.pdf").arg(pagePt.width()).arg(pagePt.height()));
        QVERIFY(writeSource(path, {pagePt}));
        std::unique_ptr<PdfEngine> engine = isolated ? m_engines.create() : createQtPdfEngine();
        QCOMPARE(engine->open(path, QString()), PdfOpenStatus::Ok);
        const QImage whole = engine->render(0, pixels, 0);
        QCOMPARE(whole.size(), pixels);
        QImage banded(pixels, QImage::Format_RGB32);
        banded.fill(Qt::red);
        for (int top = 0; top < pixels.height(); top += rows) {
            const int n = qMin(rows, pixels.height() - top);
            const QImage band = engine->renderBand(0, pixels, top, n);
            QCOMPARE(band.size(), QSize(pixels.width(), n));
            QPainter(&banded).drawImage(0, top, band);
        }
        // Edges may round another way; nothing may shift.
        QVERIFY2(meanDifference(whole, banded) < 0.5, qPrintable(QString::number(meanDifference(whole, banded))));
        // A band outside the page is refused.
        QVERIFY(engine->renderBand(0, pixels, pixels.height() - 2, 3).isNull());
    }

    // What lands in the printed file: the chosen pages, in order, each the
    // engine's own page fitted to the paper and turned to its orientation.
    void printedPagesAreTheDocument_data()
    {
        QTest::addColumn<QPageLayout::Orientation>("paper");
        QTest::addColumn<QPrinter::PrintRange>("range");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("collate");
        QTest::addColumn<int>("currentPage");
        QTest::addColumn<qint64>("bandBytes");
        QTest::addColumn<QList<int>>("expected");
        const qint64 whole = 64ll << 20;
        QTest::newRow("all pages, portrait paper")
            << QPageLayout::Portrait << QPrinter::AllPages << 0 << 0 << 1 << true << 0 << whole << QList<int>{0, 1, 2, 3};
        QTest::newRow("all pages, landscape paper")
            << QPageLayout::Landscape << QPrinter::AllPages << 0 << 0 << 1 << true << 0 << whole << QList<int>{0, 1, 2, 3};
        QTest::newRow("range 2-3, two copies collated, in bands")
            << QPageLayout::Portrait << QPrinter::PageRange << 2 << 3 << 2 << true << 0 << 100000ll
            << QList<int>{1, 2, 1, 2};
        QTest::newRow("range 2-3, two copies not collated")
            << QPageLayout::Portrait << QPrinter::PageRange << 2 << 3 << 2 << false << 0 << whole
            << QList<int>{1, 1, 2, 2};
        QTest::newRow("current page") << QPageLayout::Portrait << QPrinter::CurrentPage << 0 << 0 << 1 << true << 2
                                      << whole << QList<int>{2};
    }
    void printedPagesAreTheDocument()
    {
        QFETCH(QPageLayout::Orientation, paper);
        QFETCH(QPrinter::PrintRange, range);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, copies);
        QFETCH(bool, collate);
        QFETCH(int, currentPage);
        QFETCH(qint64, bandBytes);
        QFETCH(QList<int>, expected);

        const QString out = m_dir.filePath(QStringLiteral("printed.pdf"));
        QFile::remove(out);
        auto printer = pdfPrinter(out, paper);
        printer->setPrintRange(range);
        if (range == QPrinter::PageRange)
            printer->setFromTo(from, to);
        printer->setCopyCount(copies);
        printer->setCollateCopies(collate);
        QWidget window;
        DocumentPrinter printing(m_engines.factory(), &window);
        QStringList messages;
        printing.setMessageSink([&](const QString &m) { messages << m; });
        printing.setBandBytes(bandBytes);
        QSignalSpy finished(&printing, &DocumentPrinter::finished);
        QVERIFY(printing.printWith(std::move(printer), {m_source, QString(), currentPage}));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.at(0).at(0).value<PrintJob::Outcome>(), PrintJob::Outcome::Printed);
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'\n')));

        QPdfDocument printed, source;
        QCOMPARE(printed.load(out), QPdfDocument::Error::None);
        QCOMPARE(source.load(m_source), QPdfDocument::Error::None);
        QCOMPARE(printed.pageCount(), int(expected.size()));
        const bool paperWide = paper == QPageLayout::Landscape;
        const QSize sheet = paperWide ? QSize(396, 306) : QSize(306, 396);
        for (int i = 0; i < expected.size(); ++i) {
            const int page = expected.at(i);
            const QSizeF pt = m_sizes.at(page);
            const bool turned = (pt.width() > pt.height()) != paperWide;
            QImage want(sheet, QImage::Format_RGB32);
            want.fill(Qt::white);
            // Fitted with its aspect kept, in the middle of the sheet.
            const QSizeF lying = turned ? pt.transposed() : pt;
            const qreal scale = qMin(sheet.width() / lying.width(), sheet.height() / lying.height());
            const QSize fitted = (lying * scale).toSize();
            QPainter(&want).drawImage((sheet.width() - fitted.width()) / 2, (sheet.height() - fitted.height()) / 2,
                                      renderPage(source, page, fitted,
                                                 turned ? QPdfDocumentRenderOptions::Rotation::Clockwise90
                                                        : QPdfDocumentRenderOptions::Rotation::None));
            const QImage got = renderPage(printed, i, sheet);
            const double diff = meanDifference(want, got);
            QVERIFY2(diff < 4.0, qPrintable(QStringLiteral("sheet %1 (page %2): %3").arg(i).arg(page).arg(diff)));
        }
    }

    // A cancelled run stops: not every page is drawn, the outcome says so
    // and no half-written file stays.
    void cancelStopsTheRun()
    {
        const QString heavy = m_dir.filePath(QStringLiteral("heavy.pdf"));
        QVERIFY(writeSource(heavy, QList<QSizeF>(40, letter)));
        const QString out = m_dir.filePath(QStringLiteral("cancelled.pdf"));
        QWidget window;
        QSemaphore gate;
        DocumentPrinter printing([&] { return std::make_unique<GatedEngine>(m_engines.create(), &gate); }, &window);
        printing.setBandBytes(200000); // many small pieces
        QStringList messages;
        printing.setMessageSink([&](const QString &m) { messages << m; });
        QSignalSpy finished(&printing, &DocumentPrinter::finished);
        QVERIFY(printing.printWith(pdfPrinter(out, QPageLayout::Portrait), {heavy, QString(), 0}));
        QVERIFY(printing.job());
        int done = 0;
        connect(printing.job(), &PrintJob::progress, this, [&](int d, int) { done = d; });
        QTRY_VERIFY_WITH_TIMEOUT(done >= 1, 30000);
        QVERIFY(printing.progressDialog());
        auto *cancel = printing.progressDialog()->findChild<QPushButton *>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QStringLiteral("キャンセル"));
        cancel->click();
        gate.release(1000);
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.at(0).at(0).value<PrintJob::Outcome>(), PrintJob::Outcome::Cancelled);
        QCOMPARE(done, 1);
        QVERIFY(!QFile::exists(out));
        QVERIFY(messages.isEmpty());
        QVERIFY(!printing.isBusy());
    }

    // A locked document prints with the password it was shown with and says
    // why it does not without; a device that cannot be written is told.
    void failuresAreToldAndPasswordsReused_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("writableOutput");
        QTest::addColumn<bool>("printed");
        QTest::addColumn<QString>("told");
        QTest::newRow("locked, with its password") << true << QStringLiteral("user") << true << true << QString();
        QTest::newRow("locked, without") << true << QString() << true << false << QStringLiteral("パスワードで保護");
        QTest::newRow("locked, wrong password") << true << QStringLiteral("x") << true << false
                                                << QStringLiteral("パスワードで保護");
        QTest::newRow("output folder missing") << false << QString() << false << false
                                               << QStringLiteral("に印刷できませんでした");
    }
    void failuresAreToldAndPasswordsReused()
    {
        QFETCH(bool, locked);
        QFETCH(QString, password);
        QFETCH(bool, writableOutput);
        QFETCH(bool, printed);
        QFETCH(QString, told);
        QString source = m_source;
        if (locked) {
            source = m_dir.filePath(QStringLiteral("locked.pdf"));
            if (!QFile::exists(source) && !ViewerFixtures::encryptPdf(m_source, source))
                QSKIP("qpdf cannot encrypt here");
        }
        const QString out = writableOutput ? m_dir.filePath(QStringLiteral("out.pdf"))
                                           : m_dir.filePath(QStringLiteral("no/such/folder/out.pdf"));
        QFile::remove(out);
        QWidget window;
        DocumentPrinter printing(m_engines.factory(), &window);
        QStringList messages;
        printing.setMessageSink([&](const QString &m) { messages << m; });
        QSignalSpy finished(&printing, &DocumentPrinter::finished);
        if (printing.printWith(pdfPrinter(out, QPageLayout::Portrait), {source, password, 0}))
            QVERIFY(finished.wait(60000));
        QCOMPARE(!finished.isEmpty() && finished.at(0).at(0).value<PrintJob::Outcome>() == PrintJob::Outcome::Printed,
                 printed);
        if (printed) {
            QPdfDocument doc;
            QCOMPARE(doc.load(out), QPdfDocument::Error::None);
            QCOMPARE(doc.pageCount(), int(m_sizes.size()));
            QVERIFY(messages.isEmpty());
        } else {
            QCOMPARE(messages.size(), 1);
            QVERIFY2(messages.at(0).contains(told), qPrintable(messages.at(0)));
            QVERIFY(!QFile::exists(out));
        }
    }
};

QTEST_MAIN(TestPrintJob)
#include "tst_printjob.moc"
