// Thumbnails of the file list: the desktop's shared thumbnail cache (names,
// keys, reuse, staleness, failures, safe writing) through the real render
// service and real PDFs, and the thumbnail style of the list in the window.
// XDG_CACHE_HOME points into each test's own temporary folder.
#include "app/ProgramServices.h"
#include "app/Unit1.h"
#include "base/VersionInfo.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"
#include "browse/ThumbnailCache.h"
#include "browse/ThumbnailListView.h"
#include "browse/ThumbnailPng.h"
#include "browse/ThumbnailProvider.h"
#include "viewer/PdfEngine.h"
#include "viewer/PdfRenderService.h"
#include "watch/plFolderWatcher.h"

#include "support/MainWindowFixture.h"
#include "support/PdfFixtures.h"
#include "support/QueuedSpy.h"
#include "support/TestDir.h"

#include <QAction>
#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QImageWriter>
#include <QLabel>
#include <QMutex>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QWaitCondition>

#include <atomic>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// What the engines of one render service did, shared with the test.  Renders
// of files named in `held` wait until release().
struct EngineLog
{
    QMutex mutex;
    QWaitCondition released;
    QStringList opened;
    QStringList held;
    QStringList rendering; // renders begun
    bool open = false;

    int opens(const QString &path)
    {
        QMutexLocker lock(&mutex);
        return int(opened.count(path));
    }
    int opensIn(const QString &folder)
    {
        QMutexLocker lock(&mutex);
        return int(std::count_if(opened.cbegin(), opened.cend(), [&](const QString &p) { return p.startsWith(folder); }));
    }
    int begun()
    {
        QMutexLocker lock(&mutex);
        return int(rendering.size());
    }
    void release()
    {
        QMutexLocker lock(&mutex);
        open = true;
        released.wakeAll();
    }
};

class LoggingEngine : public PdfEngine
{
public:
    explicit LoggingEngine(std::shared_ptr<EngineLog> log) : m_log(std::move(log)), m_inner(createQtPdfEngine()) {}
    PdfOpenStatus open(const QString &path, const QString &password) override
    {
        {
            QMutexLocker lock(&m_log->mutex);
            m_log->opened << path;
        }
        m_path = path;
        return m_inner->open(path, password);
    }
    void close() override { m_inner->close(); }
    QList<QSizeF> pageSizes() const override { return m_inner->pageSizes(); }
    QImage render(int page, const QSize &pixelSize, int rotation) override
    {
        QMutexLocker lock(&m_log->mutex);
        m_log->rendering << m_path;
        while (m_log->held.contains(m_path) && !m_log->open)
            m_log->released.wait(&m_log->mutex);
        lock.unlock();
        return m_inner->render(page, pixelSize, rotation);
    }

private:
    std::shared_ptr<EngineLog> m_log;
    std::unique_ptr<PdfEngine> m_inner;
    QString m_path;
};

// A render service whose engines log to `log`.
std::unique_ptr<PdfRenderService> loggingService(const std::shared_ptr<EngineLog> &log)
{
    auto service = std::make_unique<PdfRenderService>(0, [log] { return std::make_unique<LoggingEngine>(log); });
    return service;
}

QString md5Name(const QByteArray &uri)
{
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + ".png";
}

qint64 mtimeSecs(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// A thumbnail as another program writes it: a solid picture with the keys.
bool writeForeignThumbnail(const QString &at, const QByteArray &uri, qint64 mtime, const QSize &size,
                           const QColor &color)
{
    QDir().mkpath(QFileInfo(at).absolutePath());
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    image.setText("Thumb::URI", QString::fromUtf8(uri));
    image.setText("Thumb::MTime", QString::number(mtime));
    image.setText("Software", "another file browser");
    return image.save(at, "png");
}

// A PNG put together chunk by chunk, for files no encoder writes: rows that
// take every filter in turn over random bytes (or a filter that does not
// exist in row `badFilterRow`), with the thumbnail keys.
QByteArray be32(quint32 v)
{
    const char bytes[] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}
quint32 crc32Of(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffu;
    for (char ch : bytes) {
        crc ^= uchar(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}
QByteArray pngChunk(const QByteArray &type, const QByteArray &data)
{
    return be32(quint32(data.size())) + type + data + be32(crc32Of(type + data));
}
QByteArray handMadePng(const QSize &size, bool alpha, const QByteArray &uri, qint64 mtime, int badFilterRow = -1)
{
    QRandomGenerator random(12);
    QByteArray rows;
    for (int y = 0; y < size.height(); ++y) {
        rows += char(y == badFilterRow ? 5 : y % 5);
        for (int i = 0; i < size.width() * (alpha ? 4 : 3); ++i)
            rows += char(random.bounded(256));
    }
    const char depthTypeAndMethods[] = {8, char(alpha ? 6 : 2), 0, 0, 0};
    const QByteArray ihdr = be32(quint32(size.width())) + be32(quint32(size.height()))
        + QByteArray(depthTypeAndMethods, 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr)
        + pngChunk("tEXt", "Thumb::URI" + QByteArray(1, '\0') + uri)
        + pngChunk("tEXt", "Thumb::MTime" + QByteArray(1, '\0') + QByteArray::number(mtime))
        + pngChunk("IDAT", qCompress(rows).mid(4)) + pngChunk("IEND", {});
}

// A zlib stream of `megabytes` of zeros, made a megabyte at a time.
QByteArray zerosCompressed(int megabytes)
{
    const QByteArray zeros(1 << 20, '\0');
    QByteArray out;
    z_stream z{};
    if (deflateInit(&z, 9) != Z_OK)
        return {};
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (int i = 0; i < megabytes; ++i) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
        z.avail_in = uInt(zeros.size());
        const int flush = i + 1 == megabytes ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer.data());
            z.avail_out = uInt(buffer.size());
            deflate(&z, flush);
            out.append(buffer.constData(), buffer.size() - qsizetype(z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

// This process's resident peak since the last resetPeakRss(), in kB.
qint64 peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
bool resetPeakRss()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

// A thumbnail as Qt's writer makes it from `image`, with the keys.
QByteArray writtenPng(QImage image, const QByteArray &uri, qint64 mtime)
{
    image.setText("Thumb::URI", QString::fromUtf8(uri));
    image.setText("Thumb::MTime", QString::number(mtime));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return png;
}

// Random pixels, some rows smooth: the writer picks different row filters.
QImage noise(const QSize &size, QImage::Format format)
{
    QRandomGenerator random(34);
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, y % 3 ? random.generate() : qRgba(x * 2, y, 255 - x, 255 - y));
    return image.convertToFormat(format);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Waits until the provider has answered everything asked and its writes are done.
bool settle(ThumbnailProvider &provider)
{
    QElapsedTimer t;
    t.start();
    while (provider.isBusy() && t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    provider.waitForWrites();
    return !provider.isBusy();
}

const QDateTime anHourAgo()
{
    return QDateTime::currentDateTime().addSecs(-3600);
}

} // namespace

class TestThumbnails : public QObject
{
    Q_OBJECT

    MainWindowFixture windows; // private settings for the window, from the first test on
    std::unique_ptr<TestDir> dir;
    QString cacheHome;
    QString root; // cacheHome/thumbnails
    std::shared_ptr<EngineLog> log;
    std::unique_ptr<PdfRenderService> service;

    // A PDF in the test folder, modified an hour ago unless `fresh`.
    QString pdf(const QString &name, bool fresh = false, int pages = 1)
    {
        const QString path = dir->path(name);
        if (!PdfFixtures::writeSimplePdf(path, pages))
            return {};
        if (!fresh && !dir->setModified(name, anHourAgo()))
            return {};
        return path;
    }
    // A provider on the user's (test's) cache; `now` replaces the clock.
    std::unique_ptr<ThumbnailProvider> provider(std::function<qint64()> now = {})
    {
        ThumbnailCache::Environment env = ThumbnailCache::defaultEnvironment();
        if (now)
            env.nowSecs = std::move(now);
        return std::make_unique<ThumbnailProvider>(*service, env);
    }
    QString failFolder() const { return root + "/fail/sheafline-" + GetVersionInfoItem(3); }

private slots:
    void init()
    {
        dir = std::make_unique<TestDir>();
        cacheHome = dir->mkdir("cache");
        root = cacheHome + "/thumbnails";
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome));
        log = std::make_shared<EngineLog>();
        service = loggingService(log);
    }
    void cleanup()
    {
        windows.close();
        log->release();
        service.reset();
        dir.reset();
    }

    void namesAndSizes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("uri");
        QTest::newRow("space") << "/tmp/a b.pdf" << QByteArray("file:///tmp/a%20b.pdf");
        QTest::newRow("reserved characters escaped")
            << "/x/;#?%[]\"<>^`{|}.pdf" << QByteArray("file:///x/%3B%23%3F%25%5B%5D%22%3C%3E%5E%60%7B%7C%7D.pdf");
        QTest::newRow("characters kept") << "/x/!$&'()*+,-.:=@_~.pdf" << QByteArray("file:///x/!$&'()*+,-.:=@_~.pdf");
        QTest::newRow("UTF-8 bytes") << "/x/資料é.pdf" << QByteArray("file:///x/%E8%B3%87%E6%96%99%C3%A9.pdf");
    }
    void namesAndSizes()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, uri);
        QCOMPARE(ThumbnailCache::uriFor(path), uri);
        QCOMPARE(ThumbnailCache::nameFor(uri), md5Name(uri));
        // One name worked out by hand, not by the hash the test shares with the code.
        QCOMPARE(ThumbnailCache::nameFor("file:///tmp/a%20b.pdf"), QString("f023321cbb0a84cb585ed3409e672c46.png"));
        const QList<QPair<int, ThumbnailCache::Flavor>> sizes{
            {64, ThumbnailCache::Flavor::Normal},   {128, ThumbnailCache::Flavor::Normal},
            {129, ThumbnailCache::Flavor::Large},   {512, ThumbnailCache::Flavor::XLarge},
            {513, ThumbnailCache::Flavor::XXLarge}, {4000, ThumbnailCache::Flavor::XXLarge}};
        for (const auto &[pixels, flavor] : sizes)
            QCOMPARE(ThumbnailCache::flavorFor(pixels), flavor);
        // The user's cache, as the environment names it.
        QCOMPARE(ThumbnailCache::defaultEnvironment().root, root);
    }

    void writtenThumbnailFollowsTheStandard()
    {
        const QString path = pdf("Ä b;1.pdf");
        QVERIFY(!path.isEmpty());
        const QByteArray uri = "file://" + QFile::encodeName(dir->path()) + "/%C3%84%20b%3B1.pdf";
        auto p = provider();
        p->setPixelSize(128);
        p->request({path}, {});
        QVERIFY(settle(*p));
        QCOMPARE(p->counters().written, 1);
        QVERIFY(!p->thumbnail(path).isNull());

        const QString file = root + "/normal/" + md5Name(uri);
        QVERIFY2(S_ISREG(modeOf(file)), qPrintable(file));
        QCOMPARE(modeOf(file) & 07777, mode_t(0600));
        QCOMPARE(modeOf(root) & 07777, mode_t(0700));
        QCOMPARE(modeOf(root + "/normal") & 07777, mode_t(0700));
        const QImage image(file);
        QCOMPARE(image.text("Thumb::URI").toUtf8(), uri);
        QCOMPARE(image.text("Thumb::MTime"), QString::number(mtimeSecs(path)));
        QCOMPARE(image.text("Thumb::Size"), QString::number(QFileInfo(path).size()));
        QCOMPARE(image.height(), 128); // A4 upright: its height fills the square
        QVERIFY(qAbs(image.width() - 91) <= 1);
        // No temporary file left behind.
        QCOMPARE(QDir(root + "/normal").entryList(QDir::Files | QDir::Hidden), QStringList{md5Name(uri)});
    }

    void anotherProgramsThumbnailIsReused_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QSize>("size");
        QTest::newRow("normal size") << "normal" << QSize(100, 128);
        QTest::newRow("a larger size serves the smaller") << "large" << QSize(200, 256);
    }
    void anotherProgramsThumbnailIsReused()
    {
        QFETCH(QString, folder);
        QFETCH(QSize, size);
        const QString path = pdf("report.pdf");
        const QByteArray uri = ThumbnailCache::uriFor(path);
        QVERIFY(writeForeignThumbnail(root + "/" + folder + "/" + md5Name(uri), uri, mtimeSecs(path), size, Qt::red));
        auto p = provider();
        p->setPixelSize(128);
        p->request({path}, {});
        QVERIFY(settle(*p));
        QCOMPARE(log->opens(path), 0);
        QCOMPARE(p->counters().reused, 1);
        const QImage shown = p->thumbnail(path);
        QCOMPARE(shown.size(), size);
        QCOMPARE(shown.pixelColor(size.width() / 2, size.height() / 2), QColor(Qt::red));
    }

    void cachedPicturesOfEveryKindAreRead_data()
    {
        QTest::addColumn<int>("kind");
        // The kinds thumbnailers write, read by the program itself...
        QTest::newRow("RGB, every row filter") << 0;
        QTest::newRow("RGBA, every row filter") << 1;
        QTest::newRow("RGB in several data chunks") << 2;
        QTest::newRow("RGBA with soft edges") << 3;
        // ...and the rest, through Qt's reader.
        QTest::newRow("gray") << 4;
        QTest::newRow("palette") << 5;
        QTest::newRow("16 bits per channel") << 6;
    }
    void cachedPicturesOfEveryKindAreRead()
    {
        QFETCH(int, kind);
        const QString path = pdf("report.pdf");
        const QByteArray uri = ThumbnailCache::uriFor(path);
        const qint64 mtime = mtimeSecs(path);
        const QSize size(97, 128);
        QByteArray png;
        switch (kind) {
        case 0: png = handMadePng(size, false, uri, mtime); break;
        case 1: png = handMadePng(size, true, uri, mtime); break;
        case 2: png = writtenPng(noise(QSize(128, 128), QImage::Format_RGB32), uri, mtime); break;
        case 3: png = writtenPng(noise(size, QImage::Format_ARGB32), uri, mtime); break;
        case 4: png = writtenPng(noise(size, QImage::Format_Grayscale8), uri, mtime); break;
        case 5: png = writtenPng(noise(size, QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8), uri, mtime); break;
        case 6: png = writtenPng(noise(size, QImage::Format_RGBA64), uri, mtime); break;
        }
        if (kind == 2)
            QVERIFY(png.count("IDAT") > 1);
        QVERIFY(writeFile(root + "/normal/" + md5Name(uri), png));

        const ThumbnailCache cache(ThumbnailCache::defaultEnvironment());
        const ThumbnailCache::Lookup found = cache.lookup(ThumbnailCache::sourceOf(path), ThumbnailCache::Flavor::Normal);
        QCOMPARE(found.state, ThumbnailCache::State::Valid);
        // Ready to be drawn, and the very picture Qt's reader sees.
        const QImage reference = QImage::fromData(png, "png");
        QVERIFY(!reference.isNull());
        const QImage::Format drawn = reference.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                 : QImage::Format_RGB32;
        QCOMPARE(found.image.format(), drawn);
        QCOMPARE(found.image, reference.convertToFormat(drawn));
    }

    // Keys may come compressed (zTXt, compressed iTXt) and are read so; a
    // compressed text that would inflate to hundreds of megabytes is left
    // out at a small bound, and the entry is still used.
    void compressedKeysAreReadWithinBounds_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("URI in a zTXt chunk") << 0;
        QTest::newRow("URI in a compressed iTXt chunk") << 1;
        QTest::newRow("a 256 MB text in a zTXt chunk") << 2;
        QTest::newRow("a 20 KB text in a zTXt chunk") << 3;
    }
    void compressedKeysAreReadWithinBounds()
    {
        QFETCH(int, kind);
        const QString path = pdf("report.pdf");
        const QByteArray uri = ThumbnailCache::uriFor(path);
        const QByteArray mtime = QByteArray::number(mtimeSecs(path));
        const QByteArray nul(1, '\0');
        QByteArray keys;
        if (kind == 0)
            keys = pngChunk("zTXt", "Thumb::URI" + nul + nul + qCompress(uri).mid(4));
        else if (kind == 1)
            keys = pngChunk("iTXt", "Thumb::URI" + nul + char(1) + nul + nul + nul + qCompress(uri).mid(4));
        else
            keys = pngChunk("tEXt", "Thumb::URI" + nul + uri)
                + pngChunk("zTXt", "Description" + nul + nul
                                       + (kind == 2 ? zerosCompressed(256) : qCompress(QByteArray(20000, 'x')).mid(4)));
        keys += pngChunk("tEXt", "Thumb::MTime" + nul + mtime);
        // The keys go in after the header of an otherwise plain thumbnail.
        QByteArray png = handMadePng(QSize(64, 96), false, "unused", 0);
        const qsizetype afterHeader = 8 + 12 + 13;
        const qsizetype idat = png.indexOf("IDAT") - 4;
        png = png.left(afterHeader) + keys + png.mid(idat);
        QVERIFY(writeFile(root + "/normal/" + md5Name(uri), png));

        const ThumbnailCache cache(ThumbnailCache::defaultEnvironment());
        QVERIFY(resetPeakRss());
        const qint64 before = peakRssKb();
        const ThumbnailCache::Lookup found = cache.lookup(ThumbnailCache::sourceOf(path), ThumbnailCache::Flavor::Normal);
        const qint64 grown = peakRssKb() - before;
        QCOMPARE(found.state, ThumbnailCache::State::Valid);
        QCOMPARE(found.image.size(), QSize(64, 96));
        QVERIFY2(grown < 32 * 1024, qPrintable(QStringLiteral("peak grew by %1 kB").arg(grown)));
        ThumbnailPng::Head head;
        QVERIFY(ThumbnailPng::readHead(png, &head));
        QCOMPARE(head.text.value("Thumb::URI"), QString::fromUtf8(uri));
        QCOMPARE(head.text.value("Description").size(), kind == 3 ? 20000 : 0);
    }

    void damagedThumbnailIsMadeAgain_data()
    {
        QTest::addColumn<int>("damage");
        QTest::newRow("a byte of the image data changed") << 0;
        QTest::newRow("cut short inside the image data") << 1;
        QTest::newRow("header checksum wrong") << 2;
        QTest::newRow("a row filter that does not exist") << 3;
    }
    void damagedThumbnailIsMadeAgain()
    {
        QFETCH(int, damage);
        const QString path = pdf("report.pdf");
        const QByteArray uri = ThumbnailCache::uriFor(path);
        QByteArray png = damage == 3 ? handMadePng(QSize(90, 128), false, uri, mtimeSecs(path), 40)
                                     : writtenPng(noise(QSize(90, 128), QImage::Format_RGB32), uri, mtimeSecs(path));
        const qsizetype idat = png.indexOf("IDAT");
        QVERIFY(idat > 0);
        if (damage == 0)
            png[idat + 100] = char(png[idat + 100] ^ 0x10);
        else if (damage == 1)
            png.truncate(idat + 200);
        else if (damage == 2)
            png[8 + 8 + 13] = char(png[8 + 8 + 13] ^ 1); // first byte of the header's checksum
        const QString file = root + "/normal/" + md5Name(uri);
        QVERIFY(writeFile(file, png));

        auto p = provider();
        p->setPixelSize(128);
        p->request({path}, {});
        QVERIFY(settle(*p));
        QCOMPARE(log->opens(path), 1);
        QCOMPARE(p->counters().written, 1);
        QVERIFY(!p->thumbnail(path).isNull());
        QVERIFY(!QImage(file).isNull());
    }

    void changedFileGetsNewThumbnail_data()
    {
        QTest::addColumn<bool>("foreign"); // the old thumbnail is another program's
        QTest::newRow("our own, file rewritten") << false;
        QTest::newRow("another program's, older time") << true;
    }
    void changedFileGetsNewThumbnail()
    {
        QFETCH(bool, foreign);
        QString path = pdf("report.pdf");
        const QByteArray uri = ThumbnailCache::uriFor(path);
        const QString file = root + "/normal/" + md5Name(uri);
        auto p = provider();
        p->setPixelSize(128);
        if (foreign) {
            QVERIFY(writeForeignThumbnail(file, uri, mtimeSecs(path) - 100, QSize(100, 128), Qt::red));
        } else {
            p->request({path}, {});
            QVERIFY(settle(*p));
            QCOMPARE(log->opens(path), 1);
            // Rewritten as a landscape page, with a later time.
            QVERIFY(PdfFixtures::writePdf(path, {QSizeF(842, 595)}));
            QVERIFY(dir->setModified("report.pdf", anHourAgo().addSecs(600)));
            p->recheck();
        }
        p->request({path}, {});
        QVERIFY(settle(*p));
        QCOMPARE(log->opens(path), foreign ? 1 : 2);
        const QImage written(file);
        QCOMPARE(written.text("Thumb::MTime"), QString::number(mtimeSecs(path)));
        QVERIFY(written.pixelColor(written.width() / 2, 2) != QColor(Qt::red));
        const QImage shown = p->thumbnail(path);
        QCOMPARE(shown.size(), written.size());
        if (!foreign)
            QVERIFY(shown.width() > shown.height());
    }

    void brokenPdfIsMarkedAndNotRetried_data()
    {
        QTest::addColumn<bool>("settled");
        QTest::newRow("an hour old: remembered") << true;
        // A file written this second may still be being copied: not remembered.
        QTest::newRow("written just now: tried again") << false;
    }
    void brokenPdfIsMarkedAndNotRetried()
    {
        QFETCH(bool, settled);
        const QString path = dir->path("broken.pdf");
        QVERIFY(PdfFixtures::writeBrokenPdf(path));
        if (settled)
            QVERIFY(dir->setModified("broken.pdf", anHourAgo()));
        const QString mark = failFolder() + "/" + md5Name(ThumbnailCache::uriFor(path));
        // Unsettled: the clock stands at the second the file was written.
        const std::function<qint64()> clock = settled ? std::function<qint64()>() : [path] { return mtimeSecs(path); };
        {
            auto p = provider(clock);
            QSignalSpy ready(p.get(), &ThumbnailProvider::thumbnailReady);
            p->request({path}, {});
            QVERIFY(settle(*p));
            QVERIFY(p->hasFailed(path));
            QVERIFY(p->thumbnail(path).isNull());
            QCOMPARE(ready.count(), 1);
            // Not tried again while the program runs.
            p->request({path}, {});
            QVERIFY(settle(*p));
            QCOMPARE(log->opens(path), 1);
        }
        QCOMPARE(QFileInfo::exists(mark), settled);
        if (settled) {
            const QImage written(mark);
            QCOMPARE(written.text("Thumb::URI").toUtf8(), ThumbnailCache::uriFor(path));
            QCOMPARE(written.text("Thumb::MTime"), QString::number(mtimeSecs(path)));
            QCOMPARE(modeOf(mark) & 07777, mode_t(0600));
        }
        // The next run of the program.
        auto next = provider(clock);
        next->request({path}, {});
        QVERIFY(settle(*next));
        QVERIFY(next->hasFailed(path));
        QCOMPARE(log->opens(path), settled ? 1 : 2);
    }

    void plantedSymlinkIsNotFollowed_data()
    {
        QTest::addColumn<QString>("link");   // relative to the cache root; MD5 stands for the file's name
        QTest::addColumn<bool>("toFolder");  // the link points to a folder (else to a valid thumbnail)
        QTest::addColumn<bool>("broken");    // the PDF cannot be rendered
        QTest::newRow("thumbnail name -> a valid thumbnail") << "normal/MD5" << false << false;
        QTest::newRow("size folder -> another folder") << "normal" << true << false;
        QTest::newRow("fail folder -> another folder") << "fail" << true << true;
    }
    void plantedSymlinkIsNotFollowed()
    {
        QFETCH(QString, link);
        QFETCH(bool, toFolder);
        QFETCH(bool, broken);
        QString path = dir->path("doc.pdf");
        QVERIFY(broken ? PdfFixtures::writeBrokenPdf(path) : PdfFixtures::writeSimplePdf(path));
        QVERIFY(dir->setModified("doc.pdf", anHourAgo()));
        const QByteArray uri = ThumbnailCache::uriFor(path);
        const QString victimFolder = dir->mkdir("victim");
        const QString victim = victimFolder + "/" + md5Name(uri);
        if (!toFolder)
            QVERIFY(writeForeignThumbnail(victim, uri, mtimeSecs(path), QSize(100, 128), Qt::red));
        const QByteArray before = dir->readFile(victim);
        QDir().mkpath(root + "/normal");
        QDir().mkpath(root + "/fail");
        const QString at = root + "/" + QString(link).replace("MD5", md5Name(uri));
        QVERIFY(QDir(at).removeRecursively());
        QVERIFY(QFile::link(toFolder ? victimFolder : victim, at));

        auto p = provider();
        p->request({path}, {});
        QVERIFY(settle(*p));
        QCOMPARE(log->opens(path), 1); // the planted thumbnail was not read
        QCOMPARE(p->hasFailed(path), broken);
        QCOMPARE(p->thumbnail(path).isNull(), broken); // shown all the same
        if (toFolder) {
            QCOMPARE(QDir(victimFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
            QVERIFY(S_ISLNK(modeOf(at)));
            QCOMPARE(p->counters().writeFailures, 1);
        } else {
            QCOMPARE(dir->readFile(victim), before);
            // The link itself was replaced by a file of ours.
            QVERIFY(S_ISREG(modeOf(at)));
            QCOMPARE(modeOf(at) & 07777, mode_t(0600));
        }
    }

    void unwritableCacheStillShowsThumbnails_data()
    {
        QTest::addColumn<bool>("readOnlyFolder"); // else the cache's path is blocked by a file
        QTest::newRow("cache path blocked by a file") << false;
        QTest::newRow("read-only cache folder") << true;
    }
    void unwritableCacheStillShowsThumbnails()
    {
        QFETCH(bool, readOnlyFolder);
        if (readOnlyFolder) {
            if (::geteuid() == 0)
                QSKIP("permissions do not bind the superuser");
            QVERIFY(QDir().mkpath(root));
            QVERIFY(QFile::setPermissions(root, QFile::ReadOwner | QFile::ExeOwner));
        } else {
            QVERIFY(QDir(cacheHome).removeRecursively());
            dir->writeFile("cache", "a file where the cache folder should be");
        }
        const QString path = pdf("doc.pdf");
        auto p = provider();
        p->request({path}, {});
        QVERIFY(settle(*p));
        QVERIFY(!p->thumbnail(path).isNull());
        QCOMPARE(p->counters().written, 0);
        QCOMPARE(p->counters().writeFailures, 1);
        // Kept in memory: a second look does not render again.
        p->recheck();
        p->request({path}, {});
        QVERIFY(settle(*p));
        QCOMPARE(log->opens(path), 1);
        QVERIFY(!p->thumbnail(path).isNull());
        if (readOnlyFolder)
            QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void switchingFoldersCancelsPendingWork()
    {
        QStringList a;
        for (int i = 0; i < 8; ++i)
            a << pdf(QString("A/a%1.pdf").arg(i));
        const QString b0 = pdf("B/b0.pdf");
        const QString b1 = pdf("B/b1.pdf");
        QVERIFY(!a.contains(QString()) && !b0.isEmpty() && !b1.isEmpty());
        {
            QMutexLocker lock(&log->mutex);
            log->held = a; // every render of folder A waits until released
        }
        auto p = provider();
        FileListView list;
        QString folder = dir->path("A/");
        list.setThumbnailProvider(p.get());
        list.resize(600, 400);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        list.model()->fillFromFolder(folder, QLocale());
        list.setViewStyle(FileListView::ViewStyle::Thumbnail);
        QTRY_COMPARE(log->begun(), 1); // the first file of A is under way

        folder = dir->path("B/");
        list.model()->fillFromFolder(folder, QLocale());
        QTRY_VERIFY(p->wants(b0));
        QVERIFY(!p->wants(a.at(1)));
        QSignalSpy complete(list.thumbnailView(), &ThumbnailListView::screenComplete);
        log->release();
        QTRY_VERIFY(!complete.isEmpty() || list.thumbnailView()->isScreenComplete());
        QVERIFY(settle(*p));
        QVERIFY(!p->thumbnail(b0).isNull());
        QVERIFY(!p->thumbnail(b1).isNull());
        // Only the render under way when the folder changed was made of A.
        QCOMPARE(log->opensIn(dir->path("A/")), 1);
        QCOMPARE(p->counters().written, 3);
    }

    void visibleFilesFirstThenTheRestInListOrder()
    {
        const QStringList rest{pdf("a.pdf"), pdf("b.pdf"), pdf("e.pdf")};
        const QString c = pdf("c.pdf");
        const QString d = pdf("d.pdf");
        {
            QMutexLocker lock(&log->mutex);
            log->held = {c}; // the second visible file in view order
        }
        auto p = provider();
        p->setPixelSize(128);
        p->request({d, c}, rest);
        QTRY_VERIFY(!p->thumbnail(d).isNull());
        QTRY_COMPARE(log->begun(), 2);
        // The rest waits until the screen is answered: not even looked up.
        QCOMPARE(p->counters().lookups, 2);
        QVERIFY(p->wants(rest.first()));
        log->release();
        QVERIFY(settle(*p));
        QCOMPARE(p->counters().lookups, 5);
        QCOMPARE(p->counters().written, 5);
        QMutexLocker lock(&log->mutex);
        QCOMPARE(log->opened, (QStringList{d, c} + rest));
    }

    void documentsGoBeforeThumbnails()
    {
        QStringList thumbs;
        for (int i = 0; i < 4; ++i)
            thumbs << pdf(QString("t%1.pdf").arg(i));
        const QString shown = pdf("shown.pdf");
        const QString next = pdf("next.pdf");
        {
            QMutexLocker lock(&log->mutex);
            log->held = {thumbs.first(), next};
        }
        QueuedSpy rendered(service.get(), &PdfRenderService::filePictureRendered);
        service->queueFilePictures(thumbs, 128);
        QTRY_COMPARE(log->begun(), 1); // the first thumbnail is under way

        // The user opens a document meanwhile: it does not wait for the thumbnail.
        QueuedSpy opened(service.get(), &PdfRenderService::opened);
        service->open(shown);
        QTRY_COMPARE(opened.size(), 1);
        QCOMPARE(rendered.size(), 0);

        // The next document is prepared, its first page held: no other
        // thumbnail starts while the worker is at it.
        std::atomic<int> begunWhenPrepared{-1};
        const auto c = connect(
            service.get(), &PdfRenderService::prepared, service.get(),
            [&] { begunWhenPrepared = log->begun(); }, Qt::DirectConnection);
        PdfFirstPage first;
        first.layout = PageLayout::Params{};
        first.layout->viewport = QSize(80, 80);
        service->prepare({next}, first);
        QTRY_COMPARE(log->begun(), 2); // the prepared page is under way too
        log->release();
        QTRY_COMPARE(rendered.size(), 4);
        disconnect(c);
        QCOMPARE(begunWhenPrepared.load(), 2);
        QMutexLocker lock(&log->mutex);
        QCOMPARE(log->opened, (QStringList{thumbs[0], shown, next, thumbs[1], thumbs[2], thumbs[3]}));
        QCOMPARE(log->rendering, (QStringList{thumbs[0], next, thumbs[1], thumbs[2], thumbs[3]}));
    }

    // With the root folder holding the picture cache (a home folder), the
    // pictures the thumbnail style writes rebuild neither tree nor list: the
    // watcher reports nothing of them, while a file another program writes
    // beside them is still seen.
    void ownPictureWritesCauseNoRefresh()
    {
        const QString home = dir->mkdir("home");
        dir->mkdir("home/Documents");
        for (const QString &name : {"one.pdf", "two.pdf", "three.pdf"})
            QVERIFY(!pdf("home/" + name).isEmpty());
        QVERIFY(windows.isValid());
        ProgramServices::Options options = ProgramServices::fromEnvironment();
        options.store = windows.store();
        options.updater = &windows.offlineUpdater();
        options.thumbnails.root = home + "/.cache/thumbnails";
        ProgramServices services(std::move(options));
        TForm1 form({home}, services);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.plFolderWatcher->isWatching());
        QCOMPARE(form.plFolderWatcher->Directory(), home + "/");
        QStringList reported;
        connect(form.plFolderWatcher, &TplFolderWatcher::changed, &form,
                [&](qint32 event, const QString &before) { reported << QStringLiteral("0x%1 %2").arg(event, 0, 16).arg(before); });

        form.N27->trigger();
        ThumbnailListView *view = form.ListView1->thumbnailView();
        ThumbnailProvider *p = view->provider();
        QVERIFY(p);
        QTRY_VERIFY(view->isScreenComplete());
        QVERIFY(settle(*p));
        QCOMPARE(QDir(home + "/.cache/thumbnails/normal").entryList(QDir::Files).size(), 3);

        // Another program's file, last: once its folder update is in, all
        // that came before has been read.
        dir->writeFile("home/Documents/other.pdf", "x");
        QTRY_VERIFY2(reported.contains("0x1000 " + home + "/Documents"), qPrintable(reported.join('\n')));
        for (const QString &r : std::as_const(reported))
            QVERIFY2(!r.contains("/.cache"), qPrintable(reported.join('\n')));
    }

    void keyboardStaysOnListInThumbnailStyle()
    {
        for (const QString &name : {"one.pdf", "two.pdf", "three.pdf"})
            QVERIFY(!pdf(name).isEmpty());
        const QString folder = dir->path() + "/";
        QVERIFY(windows.isValid());
        TForm1 *window = windows.open({dir->path()});
        QVERIFY(window);
        TForm1 &form = *window;
        QCOMPARE(form.N27->text(), QString("サムネイル"));
        QVERIFY(!form.N27->isCheckable());
        form.ListView1->setFocus();
        form.N27->trigger();
        QCOMPARE(form.ListView1->viewStyle(), FileListView::ViewStyle::Thumbnail);
        ThumbnailListView *view = form.ListView1->thumbnailView();
        QCOMPARE(form.ListView1->currentView(), view);
        QTRY_VERIFY(view->hasFocus());
        ThumbnailProvider *p = view->provider();
        QVERIFY(p);
        QTRY_VERIFY(view->isScreenComplete());
        QVERIFY(settle(*p));
        for (const FileEntry &e : form.ListView1->model()->entries())
            QVERIFY2(!p->thumbnail(folder + e.name).isNull(), qPrintable(e.name));

        // Arrow keys move, Enter opens, the focus stays on the list.
        form.ListView1->selectRow(0);
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(form.ListView1->selectedRow(), 1);
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(form.StatusPanelText(1), folder + form.ListView1->selectedName());
        QTRY_VERIFY(view->hasFocus());

        // The cell size: Ctrl+plus/minus and Ctrl+wheel, within 64..512.
        QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier);
        QCOMPARE(view->cellSize(), 160);
        QTest::keyClick(view, Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(view->cellSize(), 128);
        auto wheel = [view](int delta) {
            const QPoint at = view->viewport()->rect().center();
            QWheelEvent e(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(view->viewport(), &e);
        };
        for (int i = 0; i < 20; ++i)
            wheel(120);
        QCOMPARE(view->cellSize(), 512);
        for (int i = 0; i < 20; ++i)
            wheel(-120);
        QCOMPARE(view->cellSize(), 64);
        QVERIFY(view->hasFocus());

        // Sorting and a refill (as the watcher's refresh does) keep the
        // pictures, and unchanged files are not rendered again.
        QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier); // back to a size already made
        QTRY_VERIFY(view->isScreenComplete());
        QVERIFY(settle(*p));
        const int rendered = p->counters().rendered;
        form.SortFileList(0);
        QCOMPARE(form.ListView1->model()->entry(0).name, QString("two.pdf"));
        form.ListPdfFiles(folder);
        QCOMPARE(form.ListView1->viewStyle(), FileListView::ViewStyle::Thumbnail);
        QTRY_VERIFY(view->isScreenComplete());
        QVERIFY(settle(*p));
        QCOMPARE(p->counters().rendered, rendered);
        QVERIFY(view->hasFocus());

        // Leaving the style cancels the work and shows the rows as before.
        form.N10->trigger();
        QVERIFY(!view->isActive());
        QVERIFY(!p->isBusy());
        QVERIFY(form.ListView1->reportView()->hasFocus());
    }
};

QTEST_MAIN(TestThumbnails)
#include "tst_thumbnails.moc"
