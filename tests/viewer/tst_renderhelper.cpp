// The PDF engine in its own confined process, with real helper processes:
// a helper killed, stopped or run out of memory under a document costs only
// that document; the confinement holds from inside; the engine behind the
// helper answers as the in-process one does.
#include "viewer/PdfPageView.h"
#include "viewer/TAcroPDF.h"
#include "viewer/isolated/IsolatedPdfEngine.h"
#include "viewer/isolated/PageBuffers.h"
#include "viewer/isolated/PdfEngines.h"
#include "viewer/isolated/RenderHelper.h"
#include "viewer/isolated/RenderProtocol.h"

#include "ViewerFixtures.h"
#include "support/PdfFixtures.h"
#include "support/ProcessTree.h"
#include "support/QueuedSpy.h"
#include "support/TestDir.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfDocumentRenderOptions>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <linux/landlock.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// One page whose content stream inflates to `inflatedMb` megabytes of
// spaces: reading it needs more memory than the helper may have.  The
// deflate stream repeats one independently compressed block.
bool writeMemoryHogPdf(const QString &path, int inflatedMb)
{
    const QByteArray chunk(8 << 20, ' ');
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(chunk.constData()));
    z.avail_in = uInt(chunk.size());
    z.next_out = reinterpret_cast<Bytef *>(block.data());
    z.avail_out = uInt(block.size());
    const int r = deflate(&z, Z_FULL_FLUSH);
    block.resize(block.size() - qsizetype(z.avail_out));
    deflateEnd(&z);
    if (r != Z_OK || z.avail_in != 0)
        return false;
    const int repeats = inflatedMb / 8;
    QByteArray stream("\x78\xda", 2);
    const uLong chunkAdler = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef *>(chunk.constData()),
                                     uInt(chunk.size()));
    uLong adler = adler32(0, nullptr, 0);
    for (int i = 0; i < repeats; ++i) {
        stream += block;
        adler = adler32_combine(adler, chunkAdler, z_off_t(chunk.size()));
    }
    stream += QByteArray("\x03\x00", 2); // the last block, empty
    for (int shift = 24; shift >= 0; shift -= 8)
        stream += char((adler >> shift) & 0xff);
    return PdfFixtures::writeRawPdf(path, {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(stream.size()) + " /Filter /FlateDecode >>\nstream\n" + stream
            + "\nendstream",
    });
}

// The shared memory a page image lies in: the program's descriptor of it.
struct SharedMemory
{
    int fd = -1;
    qint64 size = 0;
};
SharedMemory sharedMemoryOf(const uchar *bits)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    const auto address = quintptr(bits);
    ino_t inode = 0;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        const QList<QByteArray> range = fields.value(0).split('-');
        if (fields.size() < 6 || range.size() != 2)
            continue;
        if (address >= range.at(0).toULongLong(nullptr, 16) && address < range.at(1).toULongLong(nullptr, 16)) {
            if (fields.at(5).contains("sheafline-page"))
                inode = ino_t(fields.at(4).toULongLong());
            break;
        }
    }
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::Files | QDir::System)) {
        struct stat st;
        if (inode && fstat(name.toInt(), &st) == 0 && st.st_ino == inode
            && QFile::symLinkTarget(fds.filePath(name)).contains(QLatin1String("sheafline-page")))
            return {name.toInt(), qint64(st.st_size)};
    }
    return {};
}
// Mappings of the program's page buffers in a process.
int pageMappings(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) ? int(maps.readAll().count("sheafline-page")) : -1;
}
// Kilobytes of shared memory a process has page tables for (RssShmem).
qint64 sharedResidentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("RssShmem:"))
            return line.mid(9).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
int landlockAbi()
{
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? int(abi) : 0;
}

} // namespace

class TestRenderHelper : public QObject
{
    Q_OBJECT
    TestDir m_dir;
    QString m_first, m_second, m_third;
    std::unique_ptr<QWidget> m_window;
    TAcroPDF *m_acro = nullptr;
    // The test's own helper process, as the program has one.
    PdfEngines m_engines{PdfEngines::Kind::Isolated};
    RenderHelper &helper() { return *m_engines.helper(); }

    bool loadAndWait(const QString &path, int timeoutMs = 15000)
    {
        QSignalSpy shown(m_acro, &TAcroPDF::documentShown);
        m_acro->LoadFile(path);
        return shown.size() > 0 || shown.wait(timeoutMs);
    }
    bool showsPages(int pages) const
    {
        return !m_acro->showsMessage() && m_acro->pageView()->document().pageCount() == pages;
    }
    bool showsCannotOpen() const
    {
        return m_acro->showsMessage() && m_acro->messageLabel()->text().contains(QStringLiteral("を表示できません"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!RenderHelper::helperPath().isEmpty(), "sheafline-render was not built");
        QCOMPARE(m_engines.kind(), PdfEngines::Kind::Isolated);
        QVERIFY(m_engines.helper());
        m_first = m_dir.path("first.pdf");
        m_second = m_dir.path("second.pdf");
        m_third = m_dir.path("third.pdf");
        // One page: once it is shown, the view asks the helper for nothing more.
        QVERIFY(PdfFixtures::writeSimplePdf(m_first, 1));
        QVERIFY(PdfFixtures::writeSimplePdf(m_second, 3));
        QVERIFY(PdfFixtures::writeSimplePdf(m_third, 4));
    }

    void init()
    {
        helper().setWatchdogMs(25000);
        m_window = std::make_unique<QWidget>();
        m_acro = new TAcroPDF(m_window.get(), 16 << 20, m_engines.factory(),
                              [this](int ms) { m_engines.shortenWait(ms); });
        m_window->resize(640, 480);
        m_acro->resize(640, 480);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QVERIFY(loadAndWait(m_first));
        QVERIFY(showsPages(1));
        QVERIFY(helper().pid() > 0);
        QTRY_COMPARE(helper().requestInFlight(), quint8(0));
    }

    void cleanup()
    {
        m_window.reset();
        helper().setWatchdogMs(25000);
    }

    // The helper dies while it opens a document: that document shows the
    // cannot-open message; the next one opens in a new helper.
    void helperKilledWhileOpening()
    {
        const pid_t old = helper().pid();
        // Stopped first, so that the open is certainly under way when it dies.
        QCOMPARE(::kill(old, SIGSTOP), 0);
        QSignalSpy shown(m_acro, &TAcroPDF::documentShown);
        m_acro->LoadFile(m_second);
        QTRY_COMPARE(helper().requestInFlight(), quint8(RenderProtocol::Op::Open));
        QCOMPARE(::kill(old, SIGKILL), 0);
        QTRY_VERIFY(shown.size() > 0);
        QVERIFY2(showsCannotOpen(), qPrintable(m_acro->messageLabel()->text()));

        QVERIFY(loadAndWait(m_third));
        QVERIFY(showsPages(4));
        QVERIFY(helper().pid() > 0);
        QVERIFY(helper().pid() != old);
    }

    // The helper dies while it draws a page of the document on screen: the
    // view shows the message instead of blank pages.
    void helperKilledWhileDrawing()
    {
        const pid_t old = helper().pid();
        QCOMPARE(::kill(old, SIGSTOP), 0);
        m_acro->pageView()->zoomBy(1.25);
        QTRY_COMPARE(helper().requestInFlight(), quint8(RenderProtocol::Op::Render));
        QCOMPARE(::kill(old, SIGKILL), 0);
        QTRY_VERIFY(m_acro->showsMessage());
        QVERIFY2(showsCannotOpen(), qPrintable(m_acro->messageLabel()->text()));
        QVERIFY(loadAndWait(m_second));
        QVERIFY(showsPages(3));
    }

    // A helper that stops answering is killed by the watchdog: the document
    // fails, the preparation queued behind it is served by the next helper,
    // and the window answers all the while.
    void hungHelperMeetsTheWatchdog()
    {
        helper().setWatchdogMs(1500);
        const pid_t old = helper().pid();
        QCOMPARE(::kill(old, SIGSTOP), 0);
        QSignalSpy shown(m_acro, &TAcroPDF::documentShown);
        // Sent from the render worker thread.
        QueuedSpy prepared(m_acro->renderService(), &PdfRenderService::prepared);
        m_acro->LoadFile(m_second);
        m_acro->prepare({m_third});
        QTRY_COMPARE(helper().requestInFlight(), quint8(RenderProtocol::Op::Open));
        // The event loop keeps running while the helper hangs.
        QElapsedTimer answering;
        answering.start();
        int ticks = 0;
        while (shown.isEmpty() && answering.elapsed() < 20000) {
            QTest::qWait(50);
            ++ticks;
        }
        QVERIFY(!shown.isEmpty());
        QVERIFY(ticks >= 10); // at least the watchdog's time in 50 ms turns of the loop
        QVERIFY2(showsCannotOpen(), qPrintable(m_acro->messageLabel()->text()));

        QTRY_VERIFY_WITH_TIMEOUT(prepared.size() > 0, 15000);
        QCOMPARE(prepared.first().at(0).toString(), m_third);
        QCOMPARE(prepared.first().at(1).toBool(), true);
        QVERIFY(helper().pid() != old);
        QVERIFY(loadAndWait(m_third));
        QVERIFY(showsPages(4));
    }

    // Documents open in a helper that died under another document are opened
    // again in the next one: the view goes on drawing them.
    void bystanderDocumentSurvivesARestart()
    {
        const quint64 generation = helper().generation();
        helper().stop();
        QueuedSpy rendered(m_acro->renderService(), &PdfRenderService::pageRendered);
        m_acro->pageView()->zoomBy(1.25);
        QTRY_VERIFY_WITH_TIMEOUT(!rendered.isEmpty(), 10000);
        const QImage img = rendered.last().at(3).value<QImage>();
        QVERIFY(!img.isNull());
        QVERIFY(helper().generation() > generation);
        QVERIFY(!m_acro->showsMessage());
    }

    // A close is not waited for: the helper takes closed documents apart
    // when nothing else is asked of it.  They do go, and only they do.
    void closedDocumentsLeaveTheHelper()
    {
        const auto helperHolds = [this](const QString &path) {
            return int(ProcessTree::openDescriptors(path, {qint64(helper().pid())}).size());
        };
        const QStringList paths{m_dir.path("close-a.pdf"), m_dir.path("close-b.pdf"), m_dir.path("close-c.pdf")};
        std::vector<std::unique_ptr<PdfEngine>> engines;
        for (const QString &path : paths) {
            QVERIFY(PdfFixtures::writeSimplePdf(path, 2));
            engines.push_back(m_engines.create());
            QCOMPARE(engines.back()->open(path, {}), PdfOpenStatus::Ok);
            QCOMPARE(helperHolds(path), 1);
        }
        engines.at(0)->close();
        engines.at(1)->close();
        // Asked at once after the closes, the third still answers.
        QCOMPARE(engines.at(2)->render(0, QSize(60, 80), 0).size(), QSize(60, 80));
        QTRY_COMPARE(helperHolds(paths.at(0)), 0);
        QTRY_COMPARE(helperHolds(paths.at(1)), 0);
        QCOMPARE(helperHolds(paths.at(2)), 1);
        engines.at(2)->close();
        QTRY_COMPARE(helperHolds(paths.at(2)), 0);
    }

    // Renders the helper refuses, or cannot carry out, are answered with a
    // failure, and the same helper goes on serving the document.  Buffers
    // the program lets go of leave the helper too.
    void refusedRendersLeaveTheHelperServing_data()
    {
        QTest::addColumn<qint32>("page");
        QTest::addColumn<qint64>("memoryBytes"); // 0: none sent
        QTest::addColumn<bool>("drawn");
        QTest::newRow("drawn") << qint32(2) << qint64(60 * 80 * 4) << true;
        QTest::newRow("page the document does not have") << qint32(3) << qint64(60 * 80 * 4) << false;
        QTest::newRow("memory smaller than the page") << qint32(0) << qint64(60 * 80 * 4 - 4) << false;
        QTest::newRow("no memory sent") << qint32(0) << qint64(0) << false;
    }
    void refusedRendersLeaveTheHelperServing()
    {
        QFETCH(qint32, page);
        QFETCH(qint64, memoryBytes);
        QFETCH(bool, drawn);
        namespace P = RenderProtocol;
        const pid_t pid = helper().pid();
        QMutexLocker lock(&helper().mutex());
        const quint32 handle = helper().nextHandle();
        QByteArray answer;
        const auto openSecond = [&](quint32 h, const QList<quint32> &retired) {
            return helper().call(P::encode(P::OpenRequest{h, {}, std::nullopt, {}, retired}),
                                 {::open(QFile::encodeName(m_second).constData(), O_RDONLY | O_CLOEXEC)}, &answer);
        };
        QVERIFY(openSecond(handle, {}));
        QVERIFY(answer.startsWith('\1'));
        // A render of page p into memory of `bytes` (0: none sent) under a
        // buffer id of the test's own; what the memory holds afterwards.
        const QSize px(60, 80);
        QList<quint32> sent;
        const auto renderInto = [&](qint32 p, qint64 bytes, bool *answered) {
            const int fd = bytes > 0 ? memfd_create("render-test", MFD_CLOEXEC) : -1;
            QByteArray memory(bytes, '\0');
            const quint32 id = (1u << 30) + quint32(sent.size());
            if (fd >= 0)
                sent << id;
            const P::RenderRequest request{handle, p, px, 0, {fd >= 0 ? id : 0, fd >= 0}, {}};
            *answered = (bytes == 0 || ftruncate(fd, bytes) == 0)
                        && helper().call(P::encode(request), fd >= 0 ? std::vector<int>{fd} : std::vector<int>{},
                                         &answer);
            if (fd >= 0) {
                if (pread(fd, memory.data(), size_t(bytes), 0) != bytes)
                    memory.clear();
                ::close(fd);
            }
            return memory;
        };
        const auto inProcess = createQtPdfEngine();
        QCOMPARE(inProcess->open(m_second, {}), PdfOpenStatus::Ok);
        const auto drawnInProcess = [&](int p) {
            const QImage img = inProcess->render(p, px, 0);
            return QByteArray(reinterpret_cast<const char *>(img.constBits()), img.sizeInBytes());
        };
        bool answered = false;
        const QByteArray memory = renderInto(page, memoryBytes, &answered);
        QVERIFY(answered);
        QCOMPARE(answer.startsWith('\1'), drawn);
        if (drawn)
            QVERIFY(memory == drawnInProcess(page));
        // The next render is drawn where it was sent.
        QVERIFY(renderInto(0, px.width() * px.height() * 4, &answered) == drawnInProcess(0));
        QVERIFY(answered && answer.startsWith('\1'));
        // The helper holds the buffers it was sent until they are retired
        // (here with an open, as with any request that names a buffer).
        const auto helperMaps = [pid] {
            QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
            return maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray("unreadable");
        };
        QVERIFY(helperMaps().contains("render-test"));
        const quint32 again = helper().nextHandle();
        QVERIFY(openSecond(again, sent));
        QVERIFY(answer.startsWith('\1'));
        QVERIFY(helper().post(P::encode(P::CloseRequest{handle})));
        QVERIFY(helper().post(P::encode(P::CloseRequest{again})));
        QCOMPARE(helper().pid(), pid);
        // Nothing of the memory sent stays mapped in the helper.
        QTRY_VERIFY(!helperMaps().contains("render-test"));
    }

    // Pages come back in shared memory made and mapped once: a run of
    // pages, each let go of before the next, makes no buffer and no mapping
    // in either process after the first.
    void pagesReuseTheirSharedMemory()
    {
        PdfEngines engines(PdfEngines::Kind::Isolated); // its own helper and buffers
        const auto engine = engines.create();
        QCOMPARE(engine->open(m_third, {}), PdfOpenStatus::Ok);
        QVERIFY(!engine->render(0, QSize(300, 400), 0).isNull());
        const PageBuffers &buffers = *engines.helper()->pageBuffers();
        const int made = buffers.bufferCount();
        const int here = pageMappings(getpid()), there = pageMappings(engines.helper()->pid());
        QVERIFY(made >= 1);
        QVERIFY(there >= 1);
        for (int i = 1; i <= 12; ++i)
            QCOMPARE(engine->render(i % 4, QSize(300 - i % 2, 400), 0).size(), QSize(300 - i % 2, 400));
        QCOMPARE(buffers.bufferCount(), made);
        QCOMPARE(pageMappings(getpid()), here);
        QCOMPARE(pageMappings(engines.helper()->pid()), there);
    }

    // The buffers freed last serve the next pages: a few odd sizes freed
    // earlier do not turn away a buffer of the size pages have now.
    void freedBuffersServeTheNextPages()
    {
        const auto buffers = std::make_shared<PageBuffers>();
        std::vector<PageBuffers::Buffer> odd;
        for (int i = 0; i < 8; ++i)
            odd.push_back(buffers->take(size_t(64 + i) << 10));
        for (const PageBuffers::Buffer &b : odd)
            buffers->give(b);
        const PageBuffers::Buffer page = buffers->take(3 << 20);
        QVERIFY(page.valid());
        const int made = buffers->bufferCount();
        buffers->give(page);
        const PageBuffers::Buffer next = buffers->take(3 << 20);
        QCOMPARE(next.id, page.id);
        QVERIFY(buffers->bufferCount() <= made);
        // What goes is told to the helper.
        QVERIFY(buffers->takeRetired().size() >= 2);
        buffers->give(next);
    }

    // A page the program holds keeps its memory: pages drawn while it is
    // held go elsewhere and leave it as it was.  The helper keeps page
    // tables for the last few pages only, however many the program holds.
    void heldPagesAreNeverDrawnOver()
    {
        PdfEngines engines(PdfEngines::Kind::Isolated);
        const auto engine = engines.create();
        QCOMPARE(engine->open(m_third, {}), PdfOpenStatus::Ok);
        const QSize px(512, 512); // a mebibyte each
        const QImage first = engine->render(0, px, 0);
        QVERIFY(!first.isNull());
        const QImage firstAsDrawn = first.copy();
        QList<QImage> held{first};
        for (int i = 1; i < 32; ++i) {
            const QImage next = engine->render(i % 4, px, 0);
            QCOMPARE(next.size(), px);
            for (const QImage &h : std::as_const(held))
                QVERIFY(next.constBits() != h.constBits());
            if (i < 24)
                held << next; // the rest are let go of at once
        }
        QVERIFY(held.first() == firstAsDrawn);
        QVERIFY(held.first() != held.at(1)); // pages 1 and 2 differ: a page drawn over would show
        QTRY_VERIFY(sharedResidentKb(engines.helper()->pid()) <= 8 * 1024 + 1024);
        QVERIFY(sharedResidentKb(engines.helper()->pid()) >= 0);
    }

    // The helper answers an open with the first page's size alone; the other
    // pages are measured when asked for, a batch at a time, and come out as
    // the in-process engine measures them.
    void pagesAreMeasuredAfterTheOpen()
    {
        QList<QSizeF> sizes;
        for (int i = 0; i < 70; ++i)
            sizes << (i % 10 == 9 ? QSizeF(842, 595) : QSizeF(300 + i, 400));
        const QString path = m_dir.path("measured.pdf");
        QVERIFY(PdfFixtures::writePdf(path, sizes));
        const auto inProcess = createQtPdfEngine();
        QCOMPARE(inProcess->open(path, {}), PdfOpenStatus::Ok);
        const QList<QSizeF> expected = inProcess->pageSizes();
        QCOMPARE(expected.size(), 70);

        // Straight through the engine: any page, then all of them.
        const auto engine = m_engines.create();
        QCOMPARE(engine->open(path, {}), PdfOpenStatus::Ok);
        QCOMPARE(engine->pageCount(), 70);
        QCOMPARE(engine->pageSize(0), expected.at(0));
        QCOMPARE(engine->pageSize(69), expected.at(69));
        QCOMPARE(engine->pageSize(40), expected.at(40));
        QCOMPARE(engine->pageSize(70), QSizeF());
        QCOMPARE(engine->pageSizes(), expected);
        engine->close();

        // Through the render queue: the first page first, the others after.
        PdfRenderService service(8 << 20, m_engines.factory());
        QueuedSpy opened(&service, &PdfRenderService::opened);
        QueuedSpy measured(&service, &PdfRenderService::pageSizesReady);
        const quint64 id = service.open(path);
        QTRY_COMPARE(opened.size(), 1);
        const auto info = opened.first().at(0).value<PdfDocumentInfo>();
        QCOMPARE(info.docId, id);
        QCOMPARE(info.pageSizes, QList<QSizeF>(70, expected.at(0)));
        QTRY_COMPARE(measured.size(), 1);
        QCOMPARE(measured.first().at(1).value<QList<QSizeF>>(), expected);
        service.closeAll();
    }

    // Pages come out opaque, ink on white paper, the same from every road:
    // drawn in-process, drawn into memory of a wider stride, drawn by the
    // helper into shared memory.  The reference puts QtPdf's own drawing on
    // white with QPainter.
    void pagesComeOnWhitePaper_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::newRow("upright") << 0;
        QTest::newRow("quarter turn") << 1;
    }
    void pagesComeOnWhitePaper()
    {
        QFETCH(int, rotation);
        const QSize px = rotation % 2 ? QSize(424, 301) : QSize(301, 424);
        QPdfDocument doc;
        QCOMPARE(doc.load(m_second), QPdfDocument::Error::None);
        QPdfDocumentRenderOptions options;
        options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
        options.setRotation(static_cast<QPdfDocumentRenderOptions::Rotation>(rotation));
        QImage reference(px, QImage::Format_RGB32);
        reference.fill(Qt::white);
        {
            QPainter p(&reference);
            p.drawImage(0, 0, doc.render(0, px, options));
        }

        const auto inProcess = createQtPdfEngine();
        QCOMPARE(inProcess->open(m_second, {}), PdfOpenStatus::Ok);
        const QImage drawn = inProcess->render(0, px, rotation);
        const qsizetype stride = px.width() * 4 + 64;
        QByteArray memory(stride * px.height(), '\0');
        QVERIFY(inProcess->renderInto(
            0, px, rotation, [&memory] { return reinterpret_cast<uchar *>(memory.data()); }, stride));
        const QImage strided(reinterpret_cast<const uchar *>(memory.constData()), px.width(), px.height(), stride,
                             QImage::Format_RGB32);
        const auto helper = m_engines.create();
        QCOMPARE(helper->open(m_second, {}), PdfOpenStatus::Ok);
        const QImage shared = helper->render(0, px, rotation);

        for (const QImage &img : {drawn, strided, shared}) {
            QCOMPARE(img.size(), px);
            QCOMPARE(img.format(), QImage::Format_RGB32);
            int ink = 0, edges = 0;
            for (int y = 0; y < px.height(); ++y) {
                for (int x = 0; x < px.width(); ++x) {
                    const QRgb got = img.pixel(x, y), want = reference.pixel(x, y);
                    const int diff = qMax(qAbs(qRed(got) - qRed(want)),
                                          qMax(qAbs(qGreen(got) - qGreen(want)), qAbs(qBlue(got) - qBlue(want))));
                    if (diff > 1)
                        QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, not %4").arg(x).arg(y)
                                             .arg(got, 8, 16).arg(want, 8, 16)));
                    ink += qGray(got) < 64;
                    edges += qGray(got) >= 64 && qGray(got) < 224;
                }
            }
            QCOMPARE(img.pixel(0, 0), qRgb(255, 255, 255));
            QVERIFY(ink > 20);
            QVERIFY(edges > 20); // smoothed edges: ink partly over paper
        }
    }

    // A list's count in an answer is checked against what the message holds
    // and a limit before anything is reserved: a helper that lies about a
    // count cannot make the program allocate for it.
    void listCountsAreBounded_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("entries"); // -1: refused
        const QPolygonF triangle{QPointF(0, 0), QPointF(1, 0), QPointF(0, 1)};
        QTest::newRow("honest") << RenderProtocol::write(QList<QPolygonF>{triangle, triangle}) << 2;
        QTest::newRow("empty") << RenderProtocol::write(QList<QPolygonF>{}) << 0;
        QTest::newRow("outer count of 4 billion") << RenderProtocol::write(quint32(0xfffffff0u), triangle) << -1;
        QTest::newRow("inner count of 4 billion")
            << RenderProtocol::write(quint32(1), quint32(0xfffffff0u), QPointF(1, 1)) << -1;
        QTest::newRow("count past the end") << RenderProtocol::write(quint32(3), triangle, triangle) << -1;
        QTest::newRow("over the limit") << RenderProtocol::write(QList<QPolygonF>(9, triangle)) << -1;
    }
    void listCountsAreBounded()
    {
        QFETCH(QByteArray, message);
        QFETCH(int, entries);
        QDataStream s(message);
        s.setVersion(RenderProtocol::streamVersion);
        QList<QPolygonF> polys{QPolygonF()};
        const bool ok = RenderProtocol::readList(s, &polys, 8);
        QCOMPARE(ok, entries >= 0);
        QCOMPARE(polys.size(), qMax(0, entries));
        QCOMPARE(s.status() == QDataStream::Ok, ok);
        if (entries > 0)
            QCOMPARE(polys.last().size(), 3);
    }

    // The first page comes back with the open, in one exchange, the same as
    // the in-process engine draws it; a page larger than the memory sent
    // along is left to a render of its own.  The shared memory's size is
    // sealed, and the engine tells a cache all the memory under the page.
    void firstPageComesWithTheOpen_data()
    {
        QTest::addColumn<QSizeF>("pagePt");
        QTest::addColumn<bool>("withTheOpen");
        QTest::newRow("Letter") << QSizeF(612, 792) << true;
        QTest::newRow("A4") << QSizeF(595, 842) << true;
        QTest::newRow("landscape") << QSizeF(842, 595) << true;
        QTest::newRow("strip, far smaller than its memory") << QSizeF(600, 40) << true;
        QTest::newRow("tall, larger than the memory sent") << QSizeF(300, 3000) << false;
    }
    void firstPageComesWithTheOpen()
    {
        QFETCH(QSizeF, pagePt);
        QFETCH(bool, withTheOpen);
        const QString path = m_dir.path("first-page.pdf");
        QVERIFY(PdfFixtures::writePdf(path, {pagePt, QSizeF(612, 792)}));
        PdfFirstPage first;
        first.layout = PageLayout::Params{};
        first.layout->viewport = QSize(640, 480);
        const QSize px = first.pixelsForOpened(2, pagePt);

        const auto inProcess = createQtPdfEngine();
        QImage expected;
        QCOMPARE(inProcess->openWithFirstPage(path, {}, first, &expected), PdfOpenStatus::Ok);
        QCOMPARE(expected.size(), px);

        const auto helper = m_engines.create();
        QImage drawn;
        QCOMPARE(helper->openWithFirstPage(path, {}, first, &drawn), PdfOpenStatus::Ok);
        QCOMPARE(helper->pageCount(), 2);
        QCOMPARE(helper->pageSize(0), pagePt);
        QCOMPARE(!drawn.isNull(), withTheOpen);
        if (drawn.isNull())
            drawn = helper->render(0, px, 0);
        QCOMPARE(drawn, expected);

        // The memory under the image: sealed, and counted whole, also where
        // the page is far smaller.
        const SharedMemory memory = sharedMemoryOf(drawn.constBits());
        QVERIFY2(memory.fd >= 0, "the page is not in shared memory");
        QCOMPARE(ftruncate(memory.fd, 0), -1);
        QCOMPARE(errno, EPERM);
        QCOMPARE(helper->memoryOf(drawn), memory.size);
        QCOMPARE(helper->memoryOf(expected), expected.sizeInBytes());
        helper->close();
    }

    // The first page's layout in an open request is read back as written,
    // and values the view never asks for are refused before anything is
    // laid out with them.
    void firstPageLayoutIsChecked_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("ok");
        const auto layout = [](qint32 mode, qint32 zoom, double customZoom, QSize viewport, double dpr) {
            return RenderProtocol::write(mode, zoom, customZoom, qint32(1), viewport, qint32(0), dpr);
        };
        QTest::newRow("as the view asks") << layout(2, 0, 1.0, QSize(640, 480), 2.0) << true;
        QTest::newRow("view not laid out yet") << layout(2, 0, 1.0, QSize(), 2.0) << true;
        QTest::newRow("no such mode") << layout(9, 0, 1.0, QSize(640, 480), 1.0) << false;
        QTest::newRow("no such zoom") << layout(0, -1, 1.0, QSize(640, 480), 1.0) << false;
        QTest::newRow("zoom not a number") << layout(0, 2, qQNaN(), QSize(640, 480), 1.0) << false;
        QTest::newRow("viewport of a million pixels") << layout(0, 0, 1.0, QSize(1000000, 480), 1.0) << false;
        QTest::newRow("no pixel ratio") << layout(0, 0, 1.0, QSize(640, 480), 0.0) << false;
        QTest::newRow("short") << RenderProtocol::write(qint32(0), qint32(0)) << false;
    }
    void firstPageLayoutIsChecked()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, ok);
        QDataStream s(message);
        s.setVersion(RenderProtocol::streamVersion);
        PdfFirstPage first;
        QCOMPARE(RenderProtocol::readFirstPage(s, &first), ok);
        QCOMPARE(first.wanted(), ok);
        if (ok) {
            QCOMPARE(first.layout->mode, PageLayout::Mode::OneColumn);
            QCOMPARE(first.layout->rotation, 1);
            QVERIFY(first.layout->viewport == QSize(640, 480) || first.layout->viewport == QSize());
            QCOMPARE(first.dpr, 2.0);
            // And written back the same.
            QByteArray again;
            QDataStream out(&again, QIODevice::WriteOnly);
            out.setVersion(RenderProtocol::streamVersion);
            RenderProtocol::writeFirstPage(out, first);
            QCOMPARE(again, message);
        }
    }

    // A first-page layout the helper refuses does not fail the open: the
    // page is then drawn by a render of its own.
    void refusedFirstPageLayoutStillOpens()
    {
        const QString path = m_dir.path("refused-layout.pdf");
        QVERIFY(PdfFixtures::writePdf(path, {QSizeF(612, 792)}));
        PdfFirstPage first;
        first.layout = PageLayout::Params{};
        first.layout->zoom = PageLayout::Zoom::Custom;
        first.layout->customZoom = 1000; // beyond any zoom the view offers
        const auto helper = m_engines.create();
        QImage drawn;
        QCOMPARE(helper->openWithFirstPage(path, {}, first, &drawn), PdfOpenStatus::Ok);
        QVERIFY(drawn.isNull());
        QCOMPARE(helper->render(0, QSize(61, 79), 0).size(), QSize(61, 79));
    }

    // A document that needs more memory than the helper's address space
    // fails like any unreadable file, and the program stays as it was.
    void documentBeyondTheMemoryLimitFails()
    {
        const QString hog = m_dir.path("hog.pdf");
        QVERIFY(writeMemoryHogPdf(hog, 1536));
        QVERIFY(loadAndWait(hog, 60000));
        QVERIFY2(showsCannotOpen(), qPrintable(m_acro->showsMessage() ? m_acro->messageLabel()->text()
                                                                       : QStringLiteral("pages shown")));
        QVERIFY(loadAndWait(m_second));
        QVERIFY(showsPages(3));
    }

    // From inside the confined helper: no reading outside the font folders,
    // no writing, no network, no exec.
    void confinementHoldsInside()
    {
        const int abi = landlockAbi();
        if (abi == 0)
            QSKIP("this kernel has no Landlock: the helper runs isolated but not confined");
        const RenderHelper::Confinement c = helper().confinement();
        QCOMPARE(c.landlockAbi, abi);
        if (!c.seccomp)
            QSKIP(qPrintable(QStringLiteral("seccomp is not available here: ") + c.missing));
        QVERIFY2(c.landlock, qPrintable(c.missing));

        QList<QPair<QString, qint32>> results;
        QVERIFY2(helper().probe(&results), "the probe did not come back (did exec succeed?)");
        QHash<QString, qint32> got;
        for (const auto &r : results)
            got.insert(r.first, r.second);
        QCOMPARE(got.value("read /etc/passwd"), EACCES);   // Landlock
        QCOMPARE(got.value("write in /tmp"), EACCES);      // Landlock
        QCOMPARE(got.value("open an AF_INET socket"), EPERM); // seccomp
        QCOMPARE(got.value("connect to 127.0.0.1"), EPERM);
        QCOMPARE(got.value("exec /bin/true"), EPERM);
        QCOMPARE(got.size(), 5);
        // The confined helper still draws.
        QVERIFY(loadAndWait(m_third));
        QVERIFY(showsPages(4));
    }

    // Passwords cross to the helper; the prompt stays in the program.
    void passwordReachesTheHelper()
    {
        const QString locked = m_dir.path("locked.pdf");
        if (!ViewerFixtures::encryptPdf(m_second, locked))
            QSKIP("qpdf is not available to encrypt the fixture");
        QVERIFY(loadAndWait(locked));
        QVERIFY(m_acro->passwordEdit()->isVisibleTo(m_acro));
        QSignalSpy shown(m_acro, &TAcroPDF::documentShown);
        m_acro->passwordEdit()->setText("user");
        QTest::keyClick(m_acro->passwordEdit(), Qt::Key_Return);
        QTRY_VERIFY(shown.size() > 0);
        QVERIFY(showsPages(3));
    }
};

QTEST_MAIN(TestRenderHelper)
#include "tst_renderhelper.moc"
