// The render seam with the real pdfium engine (and a scripted engine for the
// queue's ordering): open results, first-page rendering, cache keys,
// preparation, file release, outline, links, search and selection.
#include "viewer/PdfRenderService.h"
#include "viewer/isolated/PdfEngines.h"

#include "ViewerFixtures.h"
#include "support/PdfFixtures.h"
#include "support/QueuedSpy.h"
#include "support/TestDir.h"

#include <QSemaphore>

#include <atomic>
#include <thread>

// The service signals from its worker thread: every spy on it is a QueuedSpy,
// which records on this thread, polled with QTRY_*.
#include <QtTest>

Q_DECLARE_METATYPE(PdfOpenStatus)

namespace {

PdfDocumentInfo openAndWait(PdfRenderService &service, const QString &path, const QString &password = {},
                            const PdfFirstPage &first = {})
{
    // Sent from the service's worker thread.
    QueuedSpy spy(&service, &PdfRenderService::opened);
    const quint64 id = service.open(path, password, first);
    PdfDocumentInfo info;
    (void)QTest::qWaitFor(
        [&] {
            for (const auto &args : spy)
                if (args.at(0).value<PdfDocumentInfo>().docId == id)
                    info = args.at(0).value<PdfDocumentInfo>();
            return info.docId == id;
        },
        20000);
    return info;
}

// The first page drawn at a fixed zoom: `width` pixels for a first page
// `pageWidthPt` points wide.
PdfFirstPage drawnAt(int width, qreal pageWidthPt, qreal dpr = 1.0)
{
    PageLayout::Params layout;
    layout.zoom = PageLayout::Zoom::Custom;
    layout.customZoom = width / pageWidthPt * 72.0 / 96.0;
    PdfFirstPage f;
    f.layout = layout;
    f.dpr = dpr;
    return f;
}

// An engine whose opens and renders are logged, and which can hold the
// worker at a gate (`entered` is released when a render reaches it).
struct ScriptedEngine : PdfEngine
{
    static inline QMutex mutex;
    static inline QStringList log;
    static inline QStringList opens;
    static inline QSemaphore *gate = nullptr;
    static inline QSemaphore *entered = nullptr;
    QString path;
    PdfOpenStatus open(const QString &p, const QString &) override
    {
        path = p;
        QMutexLocker lock(&mutex);
        opens << QFileInfo(p).fileName();
        return PdfOpenStatus::Ok;
    }
    void close() override {}
    QList<QSizeF> pageSizes() const override { return QList<QSizeF>(10, QSizeF(100, 100)); }
    QImage render(int page, const QSize &px, int) override
    {
        if (path.endsWith("gate") && gate) {
            if (entered)
                entered->release();
            gate->acquire();
        }
        if (path.endsWith("undrawable"))
            return {};
        QMutexLocker lock(&mutex);
        log << QStringLiteral("%1:%2").arg(QFileInfo(path).fileName()).arg(page);
        QImage img(px, QImage::Format_RGB32);
        img.fill(Qt::white);
        return img;
    }
};

// Holds the worker inside the render of a "gate" file until the test lets
// it go (`entered` tells it got there), with the engine's logs emptied.  The
// engine lets go of the semaphores with it, also when a test fails midway:
// make it before the service.
struct WorkerGate
{
    WorkerGate()
    {
        ScriptedEngine::gate = &gate;
        ScriptedEngine::entered = &entered;
        QMutexLocker lock(&ScriptedEngine::mutex);
        ScriptedEngine::log.clear();
        ScriptedEngine::opens.clear();
    }
    ~WorkerGate()
    {
        ScriptedEngine::gate = nullptr;
        ScriptedEngine::entered = nullptr;
    }
    QSemaphore gate, entered;
};

// A long document whose pages are measured one by one (every tenth page is
// landscape); measurements and renders are logged in the order they happen.
struct MeasuredEngine : PdfEngine
{
    static inline QMutex mutex;
    static inline QStringList log;
    static constexpr int pages = 100;
    static QSizeF sizeOf(int page) { return page % 10 == 9 ? QSizeF(800, 600) : QSizeF(600, 800); }
    PdfOpenStatus open(const QString &, const QString &) override { return PdfOpenStatus::Ok; }
    void close() override {}
    QList<QSizeF> pageSizes() const override
    {
        QList<QSizeF> all;
        for (int i = 0; i < pages; ++i)
            all << pageSize(i);
        return all;
    }
    int pageCount() const override { return pages; }
    QSizeF pageSize(int page) const override
    {
        QMutexLocker lock(&mutex);
        log << QStringLiteral("size:%1").arg(page);
        return sizeOf(page);
    }
    QImage render(int page, const QSize &px, int) override
    {
        QMutexLocker lock(&mutex);
        log << QStringLiteral("render:%1").arg(page);
        QImage img(px, QImage::Format_RGB32);
        img.fill(Qt::white);
        return img;
    }
};

} // namespace

class TestPdfRenderService : public QObject
{
    Q_OBJECT
    TestDir m_dir;
    QString m_simple, m_broken, m_text, m_encrypted, m_outlined, m_linked;

private slots:
    void initTestCase()
    {
        m_simple = m_dir.path("simple.pdf");
        QVERIFY(PdfFixtures::writePdf(m_simple, {QSizeF(595, 842), QSizeF(842, 595), QSizeF(300, 400)}));
        m_broken = m_dir.path("broken.pdf");
        QVERIFY(PdfFixtures::writeBrokenPdf(m_broken));
        m_text = m_dir.writeFile("notes.pdf", "just some text, not a PDF at all\n");
        m_outlined = m_dir.path("outlined.pdf");
        QVERIFY(PdfFixtures::writeOutlinedPdf(m_outlined, 3));
        m_linked = m_dir.path("linked.pdf");
        QVERIFY(ViewerFixtures::writeLinkedPdf(m_linked));
        m_encrypted = m_dir.path("locked.pdf");
        if (!ViewerFixtures::encryptPdf(m_simple, m_encrypted))
            m_encrypted.clear();
    }

    void openStatus_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("password");
        QTest::addColumn<PdfOpenStatus>("status");
        QTest::addColumn<int>("pages");
        QTest::newRow("three pages") << "simple.pdf" << "" << PdfOpenStatus::Ok << 3;
        QTest::newRow("broken") << "broken.pdf" << "" << PdfOpenStatus::InvalidFormat << 0;
        QTest::newRow("not a pdf") << "notes.pdf" << "" << PdfOpenStatus::InvalidFormat << 0;
        QTest::newRow("empty file") << "empty.pdf" << "" << PdfOpenStatus::InvalidFormat << 0;
        QTest::newRow("missing") << "gone.pdf" << "" << PdfOpenStatus::NotFound << 0;
        QTest::newRow("folder") << "folder.pdf" << "" << PdfOpenStatus::Unreadable << 0;
        QTest::newRow("encrypted, no password") << "locked.pdf" << "" << PdfOpenStatus::NeedsPassword << 0;
        QTest::newRow("encrypted, wrong password") << "locked.pdf" << "nope" << PdfOpenStatus::WrongPassword << 0;
        QTest::newRow("encrypted, right password") << "locked.pdf" << "user" << PdfOpenStatus::Ok << 3;
    }
    void openStatus()
    {
        QFETCH(QString, file);
        QFETCH(QString, password);
        QFETCH(PdfOpenStatus, status);
        QFETCH(int, pages);
        if (file == "locked.pdf" && m_encrypted.isEmpty())
            QSKIP("qpdf is not available to encrypt the fixture");
        m_dir.writeFile("empty.pdf");
        m_dir.mkdir("folder.pdf");
        PdfRenderService service(8 << 20, &createQtPdfEngine);
        QueuedSpy sizes(&service, &PdfRenderService::pageSizesReady);
        const PdfDocumentInfo info = openAndWait(service, m_dir.path(file), password);
        QCOMPARE(info.status, status);
        QCOMPARE(info.pageCount(), pages);
        if (pages == 3) {
            // The pages after the first are measured once the answer is out.
            QTRY_VERIFY(!sizes.isEmpty());
            QCOMPARE(sizes.first().at(0).value<quint64>(), info.docId);
            const auto measured = sizes.first().at(1).value<QList<QSizeF>>();
            QCOMPARE(measured.size(), 3);
            QCOMPARE(measured.at(1).toSize(), QSize(842, 595));
            QCOMPARE(measured.at(2).toSize(), QSize(300, 400));
        }
    }

    void firstPageComesBeforeTheOtherPagesAreMeasured()
    {
        MeasuredEngine::log.clear();
        PdfRenderService service(32 << 20, [] { return std::make_unique<MeasuredEngine>(); });
        QueuedSpy rendered(&service, &PdfRenderService::pageRendered);
        QueuedSpy sizes(&service, &PdfRenderService::pageSizesReady);
        const PdfDocumentInfo info = openAndWait(service, "/x/long", {}, drawnAt(300, 600));
        QVERIFY(info.ok());
        // The answer stands page 1's size in for every page...
        QCOMPARE(info.pageCount(), MeasuredEngine::pages);
        QCOMPARE(info.pageSizes.at(9), MeasuredEngine::sizeOf(0));
        QTRY_COMPARE(rendered.size(), 1);
        QCOMPARE(rendered.first().at(3).value<QImage>().size(), QSize(300, 400));
        // ...and the measured sizes follow, once.
        QTRY_COMPARE(sizes.size(), 1);
        const auto measured = sizes.first().at(1).value<QList<QSizeF>>();
        QCOMPARE(measured.size(), MeasuredEngine::pages);
        for (int page : {0, 9, 50, 99})
            QCOMPARE(measured.at(page), MeasuredEngine::sizeOf(page));
        // Page 1 alone was measured before its render; the others once each.
        QMutexLocker lock(&MeasuredEngine::mutex);
        const QStringList &log = MeasuredEngine::log;
        QCOMPARE(log.mid(0, 2), (QStringList{"size:0", "render:0"}));
        for (int page = 1; page < MeasuredEngine::pages; ++page)
            QCOMPARE(log.count(QStringLiteral("size:%1").arg(page)), 1);
    }

    // A document opened again finds its first page in the cache: the engine
    // is not asked to draw it with the open.
    void reopenedDocumentIsNotDrawnAgain()
    {
        MeasuredEngine::log.clear();
        PdfRenderService service(32 << 20, [] { return std::make_unique<MeasuredEngine>(); });
        QueuedSpy rendered(&service, &PdfRenderService::pageRendered);
        const PdfDocumentInfo first = openAndWait(service, "/x/long", {}, drawnAt(300, 600));
        QTRY_COMPARE(rendered.size(), 1);
        service.close(first.docId, true);
        const PdfDocumentInfo again = openAndWait(service, "/x/long", {}, drawnAt(300, 600));
        QVERIFY(again.ok());
        QTRY_COMPARE(rendered.size(), 2);
        QCOMPARE(rendered.last().at(0).toULongLong(), again.docId);
        QCOMPARE(rendered.last().at(3).value<QImage>().size(), QSize(300, 400));
        QMutexLocker lock(&MeasuredEngine::mutex);
        QCOMPARE(MeasuredEngine::log.count(QStringLiteral("render:0")), 1);
    }

    void firstPageRenderedAtOpen_data()
    {
        QTest::addColumn<qreal>("dpr");
        QTest::addColumn<bool>("helper");
        QTest::newRow("dpr 1") << 1.0 << false;
        QTest::newRow("dpr 2") << 2.0 << false;
        QTest::newRow("dpr 1, render helper") << 1.0 << true;
        QTest::newRow("dpr 2, render helper") << 2.0 << true;
    }
    void firstPageRenderedAtOpen()
    {
        QFETCH(qreal, dpr);
        QFETCH(bool, helper);
        PdfEngines engines(helper ? PdfEngines::Kind::Isolated : PdfEngines::Kind::InProcess);
        QCOMPARE(engines.kind() == PdfEngines::Kind::Isolated, helper);
        PdfRenderService service(32 << 20, engines.factory());
        QueuedSpy rendered(&service, &PdfRenderService::pageRendered);
        const PdfDocumentInfo info = openAndWait(service, m_simple, {}, drawnAt(300, 595, dpr));
        QVERIFY2(info.ok(), qPrintable(QString::number(int(info.status))));
        QTRY_COMPARE(rendered.size(), 1);
        const PageKey key = rendered.first().at(2).value<PageKey>();
        const QImage img = rendered.first().at(3).value<QImage>();
        const QSize px(qRound(300 * dpr), qRound(425 * dpr));
        QCOMPARE(img.size(), px);
        QCOMPARE(img.devicePixelRatio(), dpr);
        QCOMPARE(key.pixelSize, px);
        QCOMPARE(key.mtimeMs, PdfRenderService::fileMtimeMs(m_simple));
        QCOMPARE(key.dprMilli, qRound(dpr * 1000));
        QVERIFY(service.cache().contains(key));
        QCOMPARE(service.keyFor(info.docId, 0, px, dpr, 0).value(), key);
        // The cache counts what the page holds: the helper's first page
        // lies in a buffer sized before the document was opened, and stays
        // there (it is not copied on its way to the cache).
        QCOMPARE(service.cache().usedBytes(), engines.create()->memoryOf(img));
        QCOMPARE(service.cache().usedBytes() > img.sizeInBytes(), helper);
        // The page is not blank: the fixture draws a frame and text.
        int dark = 0;
        for (int y = 0; y < img.height(); y += 3)
            for (int x = 0; x < img.width(); x += 3)
                dark += qGray(img.pixel(x, y)) < 128;
        QVERIFY(dark > 20);
    }

    void renderRequestsAndRotation()
    {
        PdfRenderService service(32 << 20, &createQtPdfEngine);
        const PdfDocumentInfo info = openAndWait(service, m_simple);
        QueuedSpy rendered(&service, &PdfRenderService::pageRendered);
        service.requestPages(info.docId, PdfRenderService::Group::Visible,
                             {{1, QSize(200, 142), 1.0, 0}, {2, QSize(142, 107), 1.0, 1}});
        QTRY_COMPARE(rendered.size(), 2);
        QCOMPARE(rendered.at(0).at(1).toInt(), 1);
        QCOMPARE(rendered.at(1).at(3).value<QImage>().size(), QSize(142, 107));
        QCOMPARE(rendered.at(1).at(2).value<PageKey>().rotation, 1);
    }

    void closeLetsGoOfTheFile()
    {
        PdfRenderService service(8 << 20, &createQtPdfEngine);
        const PdfDocumentInfo info = openAndWait(service, m_simple, {}, drawnAt(100, 595));
        QVERIFY(info.ok());
        QVERIFY(ViewerFixtures::openDescriptorsFor(m_simple) >= 1);
        service.close(info.docId, true);
        QCOMPARE(ViewerFixtures::openDescriptorsFor(m_simple), 0);
    }

    // A close that waits first cuts short the wait for an engine that hangs,
    // through the hook the service was made with; one that does not wait
    // leaves it alone.
    void waitedCloseCutsAHangingEngineShort_data()
    {
        QTest::addColumn<QString>("close");
        QTest::addColumn<QList<int>>("graces");
        QTest::newRow("close, waited") << "waited" << QList<int>{1000};
        QTest::newRow("close everything") << "all" << QList<int>{1000};
        QTest::newRow("close, not waited") << "not waited" << QList<int>{};
    }
    void waitedCloseCutsAHangingEngineShort()
    {
        QFETCH(QString, close);
        QFETCH(QList<int>, graces);
        WorkerGate worker;
        QList<int> given;
        std::atomic<bool> letGoByHook{false};
        // The hook stands in for the render helper's watchdog: it lets the
        // hanging engine go.
        PdfRenderService service(
            8 << 20, [] { return std::make_unique<ScriptedEngine>(); },
            [&](int graceMs) {
                given << graceMs;
                letGoByHook = true;
                worker.gate.release(1);
            });
        const quint64 id = service.open("/x/gate", {}, drawnAt(10, 100));
        QVERIFY(worker.entered.tryAcquire(1, 20000)); // the engine hangs in the first page
        // Without the hook the engine is let go after a while all the same:
        // the test then fails rather than hangs.
        QSemaphore closed;
        std::thread fallback([&] {
            if (!closed.tryAcquire(1, 20000))
                worker.gate.release(1);
        });
        if (close == "waited")
            service.close(id, true);
        else if (close == "all")
            service.closeAll();
        else
            service.close(id, false);
        const bool byHook = letGoByHook;
        closed.release(1);
        fallback.join();
        if (!byHook)
            worker.gate.release(1);
        QCOMPARE(given, graces);
        QCOMPARE(byHook, !graces.isEmpty());
        QCOMPARE(PdfRenderService::closeGraceMs, 1000);
    }

    void preparedDocumentIsAdopted()
    {
        PdfRenderService service(32 << 20, &createQtPdfEngine);
        QueuedSpy prepared(&service, &PdfRenderService::prepared);
        service.prepare({m_simple, m_outlined}, drawnAt(250, 595));
        QTRY_COMPARE(prepared.size(), 2);
        const auto info = service.adoptPrepared(m_simple);
        QVERIFY(info.has_value());
        QCOMPARE(info->pageCount(), 3);
        QVERIFY(service.cache().contains(service.keyFor(info->docId, 0, QSize(250, 354), 1.0, 0).value()));
        QVERIFY(!service.adoptPrepared(m_simple).has_value()); // taken once
        // Moving on closes what is no longer named, but not the adopted one.
        service.cancelPrepare();
        QTRY_COMPARE(ViewerFixtures::openDescriptorsFor(m_outlined), 0);
        QCOMPARE(ViewerFixtures::openDescriptorsFor(m_simple), 1);
        service.closeAll();
        QCOMPARE(ViewerFixtures::openDescriptorsFor(m_simple), 0);
    }

    // Moving the selection onto a prepared file prepares it again; when Enter
    // takes it over before that preparation has run, the file is not opened
    // a second time.
    void adoptedFileIsNotPreparedAgain()
    {
        WorkerGate worker;
        PdfRenderService service(8 << 20, [] { return std::make_unique<ScriptedEngine>(); });
        QueuedSpy prepared(&service, &PdfRenderService::prepared);
        service.prepare({"/x/a"}, drawnAt(10, 100));
        QTRY_COMPARE(prepared.size(), 1);
        // The worker is held inside this render while the selection moves.
        service.open("/x/gate", {}, drawnAt(10, 100));
        QVERIFY(worker.entered.tryAcquire(1, 20000));
        service.prepare({"/x/a", "/x/b"}, drawnAt(10, 100));
        const auto info = service.adoptPrepared("/x/a");
        worker.gate.release(1);
        QVERIFY(info.has_value());
        QTRY_VERIFY(std::any_of(prepared.cbegin(), prepared.cend(),
                                [](const QList<QVariant> &args) { return args.at(0).toString() == "/x/b"; }));
        service.closeAll();
        QMutexLocker lock(&ScriptedEngine::mutex);
        QCOMPARE(ScriptedEngine::opens, (QStringList{"a", "gate", "b"}));
    }

    // While the view brings a document on screen it holds preparation back:
    // requests for the shown document go first even after it has opened.
    void heldPreparationWaitsItsTurn()
    {
        WorkerGate worker;
        PdfRenderService service(8 << 20, [] { return std::make_unique<ScriptedEngine>(); });
        QueuedSpy opened(&service, &PdfRenderService::opened);
        QueuedSpy prepared(&service, &PdfRenderService::prepared);
        QueuedSpy rendered(&service, &PdfRenderService::pageRendered);
        // The worker is held inside the first page's render while the requests come.
        service.open("/x/gate", {}, drawnAt(10, 100));
        QVERIFY(worker.entered.tryAcquire(1, 20000));
        service.holdPreparation(true);
        service.prepare({"/x/a"}, drawnAt(10, 100));
        const quint64 b = service.open("/x/b", {}, drawnAt(10, 100));
        worker.gate.release(1);
        QTRY_COMPARE(opened.size(), 2);
        // Asked for only once the document is open: without the hold the
        // worker would be preparing by now.
        service.requestPages(b, PdfRenderService::Group::Visible, {{1, QSize(10, 10), 1.0, 0}});
        QTRY_VERIFY(std::any_of(rendered.cbegin(), rendered.cend(),
                                [](const QList<QVariant> &args) { return args.at(1).toInt() == 1; }));
        QVERIFY(prepared.isEmpty());
        service.holdPreparation(false);
        QTRY_COMPARE(prepared.size(), 1);
        QMutexLocker lock(&ScriptedEngine::mutex);
        QCOMPARE(ScriptedEngine::log, (QStringList{"gate:0", "b:0", "b:1", "a:0"}));
    }

    void changedFileIsNotAdopted()
    {
        TestDir dir;
        const QString path = dir.path("a.pdf");
        QVERIFY(PdfFixtures::writeSimplePdf(path, 1));
        PdfRenderService service(8 << 20, &createQtPdfEngine);
        QueuedSpy prepared(&service, &PdfRenderService::prepared);
        service.prepare({path}, drawnAt(100, 595));
        QTRY_VERIFY_WITH_TIMEOUT(!prepared.isEmpty(), 15000);
        QVERIFY(dir.setModified("a.pdf", QDateTime::currentDateTime().addSecs(-3600)));
        QVERIFY(!service.adoptPrepared(path).has_value());
    }

    void visibleFirstAndClosedDocumentsDropped()
    {
        QSemaphore gate;
        ScriptedEngine::gate = &gate;
        ScriptedEngine::log.clear();
        PdfRenderService service(8 << 20, [] { return std::make_unique<ScriptedEngine>(); });
        QueuedSpy opened(&service, &PdfRenderService::opened);
        const quint64 blocker = service.open("/x/gate");
        const quint64 a = service.open("/x/a");
        const quint64 b = service.open("/x/b");
        QTRY_COMPARE(opened.size(), 3);
        QueuedSpy rendered(&service, &PdfRenderService::pageRendered);
        // The worker is held inside this render while the queue fills up.
        QSemaphore entered;
        ScriptedEngine::entered = &entered;
        service.requestPages(blocker, PdfRenderService::Group::Visible, {{0, QSize(10, 10), 1.0, 0}});
        QVERIFY(entered.tryAcquire(1, 10000));
        service.requestPages(a, PdfRenderService::Group::Thumbnail, {{5, QSize(10, 10), 1.0, 0}});
        service.requestPages(a, PdfRenderService::Group::Nearby, {{4, QSize(10, 10), 1.0, 0}});
        service.requestPages(a, PdfRenderService::Group::Visible, {{2, QSize(10, 10), 1.0, 0}, {3, QSize(10, 10), 1.0, 0}});
        service.requestPages(b, PdfRenderService::Group::Visible, {{1, QSize(10, 10), 1.0, 0}});
        service.close(b);
        // A new visible list replaces the pending one.
        service.requestPages(a, PdfRenderService::Group::Visible, {{3, QSize(10, 10), 1.0, 0}, {2, QSize(10, 10), 1.0, 0}});
        gate.release(1);
        QTRY_COMPARE(rendered.size(), 5);
        // A last request queued behind everything: once it is drawn, nothing
        // dropped above can still come.
        const quint64 end = service.open("/x/end");
        QTRY_COMPARE(opened.size(), 4);
        service.requestPages(end, PdfRenderService::Group::Thumbnail, {{0, QSize(10, 10), 1.0, 0}});
        QTRY_COMPARE(rendered.size(), 6);
        ScriptedEngine::gate = nullptr;
        ScriptedEngine::entered = nullptr;
        QCOMPARE(ScriptedEngine::log, (QStringList{"gate:0", "a:3", "a:2", "a:4", "a:5", "end:0"}));
    }

    void undrawablePageIsStillAnswered()
    {
        PdfRenderService service(8 << 20, [] { return std::make_unique<ScriptedEngine>(); });
        QueuedSpy opened(&service, &PdfRenderService::opened);
        const quint64 id = service.open("/x/undrawable");
        QTRY_VERIFY_WITH_TIMEOUT(!opened.isEmpty(), 15000);
        QueuedSpy rendered(&service, &PdfRenderService::pageRendered);
        service.requestPages(id, PdfRenderService::Group::Visible, {{0, QSize(10, 10), 1.0, 0}});
        // Generous: the machine may be busy with the browser tests next to this one.
        QTRY_COMPARE_WITH_TIMEOUT(rendered.size(), 1, 30000);
        QVERIFY(rendered.first().at(3).value<QImage>().isNull());
        QCOMPARE(service.cache().count(), 0);
    }

    void outlineLinksSearchAndSelection()
    {
        PdfRenderService service(8 << 20, &createQtPdfEngine);
        const PdfDocumentInfo outlined = openAndWait(service, m_outlined);
        QueuedSpy outline(&service, &PdfRenderService::outlineReady);
        service.requestOutline(outlined.docId);
        QTRY_VERIFY_WITH_TIMEOUT(!outline.isEmpty(), 15000);
        const auto entries = outline.first().at(1).value<QList<PdfOutlineEntry>>();
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries.at(1).title, QStringLiteral("Chapter 2"));
        QCOMPARE(entries.at(1).page, 1);

        const PdfDocumentInfo linked = openAndWait(service, m_linked);
        QueuedSpy links(&service, &PdfRenderService::linksReady);
        service.requestLinks(linked.docId, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!links.isEmpty(), 15000);
        const auto found = links.first().at(2).value<QList<PdfLinkInfo>>();
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first().page, 2);
        QVERIFY(found.first().rect.contains(QPointF(100, 220)));

        QueuedSpy search(&service, &PdfRenderService::searchReady);
        service.requestSearch(linked.docId, "gamma");
        QTRY_VERIFY_WITH_TIMEOUT(!search.isEmpty(), 15000);
        const auto hits = search.first().at(2).value<QList<PdfSearchHit>>();
        QCOMPARE(hits.size(), 2);
        QCOMPARE(hits.at(0).page, 0);
        QCOMPARE(hits.at(1).page, 2);
        QVERIFY(!hits.at(0).rects.isEmpty());

        QueuedSpy selection(&service, &PdfRenderService::selectionReady);
        service.requestSelection(linked.docId, 0, QPointF(70, 125), QPointF(140, 150));
        QTRY_VERIFY_WITH_TIMEOUT(!selection.isEmpty(), 15000);
        QVERIFY2(selection.first().at(3).toString().contains("Alpha"), qPrintable(selection.first().at(3).toString()));
        QVERIFY(!selection.first().at(2).value<QList<QPolygonF>>().isEmpty());
    }
};

QTEST_MAIN(TestPdfRenderService)
#include "tst_pdfrenderservice.moc"
