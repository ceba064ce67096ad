// The bounded downloader against a real HTTP server on 127.0.0.1.
#include "TestHttpServer.h"
#include "support/TestDir.h"

#include "update/BoundedDownloader.h"
#include "update/DownloadProgressDialog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {


DownloadLimits shortLimits(int deadlineMs = 5000)
{
    DownloadLimits l;
    l.connectMs = 1000;
    l.inactivityMs = 1000;
    l.deadline = QDeadlineTimer(deadlineMs);
    return l;
}

QByteArray patterned(qsizetype size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        b[i] = char('a' + i % 26);
    return b;
}

// Cancels as soon as the first progress arrives, like a user pressing Cancel.
class CancellingProgress final : public DownloadProgress
{
public:
    void start(const QString &name, std::function<void()> cancel) override
    {
        started = name;
        m_cancel = std::move(cancel);
    }
    void update(qint64 received, qint64) override
    {
        if (received > 0 && m_cancel)
            std::exchange(m_cancel, nullptr)();
    }
    void finish() override { ++finished; }
    QString started;
    int finished = 0;

private:
    std::function<void()> m_cancel;
};

} // namespace

class TestDownloader : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void fetchesWholeFileWithoutCache();
    void failuresKeepEarlierCopy_data();
    void failuresKeepEarlierCopy();
    void capCutsLargeFile();
    void tooLargeFails();
    void storesBytesAsSent();
    void hungServersGiveUpInTime_data();
    void hungServersGiveUpInTime();
    void refusesOtherSchemes_data();
    void refusesOtherSchemes();
    void followsRedirect();
    void cancelFromProgress();
    void cancelButtonOfDialog();

private:
    QString target() const { return m_dir->path(QStringLiteral("file.bin")); }
    QStringList folderEntries() const
    {
        return QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    std::unique_ptr<TestDir> m_dir;
    std::unique_ptr<TestHttpServer> m_server;
};

void TestDownloader::init()
{
    m_dir = std::make_unique<TestDir>();
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
}

void TestDownloader::fetchesWholeFileWithoutCache()
{
    const QByteArray first = patterned(200000);
    m_server->setRoute("/f", first);
    QVERIFY(BoundedDownloader::download(QUrl(m_server->baseUrl() + "/f"), target(), shortLimits()));
    QCOMPARE(m_dir->readFile(target()), first);
    // Same address, new content: nothing may come from a cache.
    m_server->setRoute("/f", QByteArray("second"));
    QVERIFY(BoundedDownloader::download(QUrl(m_server->baseUrl() + "/f"), target(), shortLimits()));
    QCOMPARE(m_dir->readFile(target()), QByteArray("second"));
    QCOMPARE(m_server->requestCount("/f"), 2);
    QCOMPARE(folderEntries(), QStringList{"file.bin"}); // no temporary left behind
}

void TestDownloader::failuresKeepEarlierCopy_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("mode");
    QTest::newRow("404") << 404 << int(TestHttpServer::Mode::Normal);
    QTest::newRow("500") << 500 << int(TestHttpServer::Mode::Normal);
    QTest::newRow("cut short") << 200 << int(TestHttpServer::Mode::CutShort);
    QTest::newRow("silent") << 200 << int(TestHttpServer::Mode::Silent);
}

void TestDownloader::failuresKeepEarlierCopy()
{
    QFETCH(int, status);
    QFETCH(int, mode);
    {
        QFile old(target());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier good copy");
    }
    TestHttpServer::Route route{patterned(50000), status, TestHttpServer::Mode(mode)};
    m_server->setRoute("/f", route);
    QVERIFY(!BoundedDownloader::download(QUrl(m_server->baseUrl() + "/f"), target(), shortLimits()));
    QCOMPARE(m_dir->readFile(target()), QByteArray("earlier good copy"));
    QCOMPARE(folderEntries(), QStringList{"file.bin"});
}

void TestDownloader::capCutsLargeFile()
{
    const QByteArray big = patterned(1024 * 1024);
    m_server->setRoute("/big", big);
    DownloadLimits limits = shortLimits();
    limits.maxBytes = 16 * 1024;
    QVERIFY(BoundedDownloader::download(QUrl(m_server->baseUrl() + "/big"), target(), limits));
    QCOMPARE(m_dir->readFile(target()), big.left(16 * 1024));

    // A file exactly at the cap, and one below it, come through whole.
    m_server->setRoute("/exact", big.left(16 * 1024));
    QVERIFY(BoundedDownloader::download(QUrl(m_server->baseUrl() + "/exact"), target(), limits));
    QCOMPARE(m_dir->readFile(target()), big.left(16 * 1024));
    m_server->setRoute("/small", QByteArray("r2\r\n"));
    QVERIFY(BoundedDownloader::download(QUrl(m_server->baseUrl() + "/small"), target(), limits));
    QCOMPARE(m_dir->readFile(target()), QByteArray("r2\r\n"));
}

void TestDownloader::storesBytesAsSent()
{
    // A server that claims compression gets its bytes stored unchanged: the
    // downloader asks for none and decompresses nothing.
    const QByteArray bytes("\x1f\x8b not really gzip");
    m_server->setRoute("/pkg.tar.gz", TestHttpServer::Route{bytes, 200, TestHttpServer::Mode::Normal, 0,
                                                            "Content-Encoding: gzip\r\n"});
    QVERIFY(BoundedDownloader::download(QUrl(m_server->baseUrl() + "/pkg.tar.gz"), target(), shortLimits()));
    QCOMPARE(m_dir->readFile(target()), bytes);
}

void TestDownloader::tooLargeFails()
{
    const QByteArray big = patterned(1024 * 1024);
    m_server->setRoute("/big", big);
    DownloadLimits limits = shortLimits();
    limits.failAboveBytes = 512 * 1024;
    QVERIFY(!BoundedDownloader::download(QUrl(m_server->baseUrl() + "/big"), target(), limits));
    QVERIFY(!QFile::exists(target()));
    QCOMPARE(folderEntries(), QStringList());
    limits.failAboveBytes = big.size(); // exactly at the limit is fine
    QVERIFY(BoundedDownloader::download(QUrl(m_server->baseUrl() + "/big"), target(), limits));
    QCOMPARE(m_dir->readFile(target()), big);
}

void TestDownloader::hungServersGiveUpInTime_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("trickleMs");
    QTest::addColumn<int>("deadlineMs");
    // Silence after the request is caught by the inactivity limit (1 s).
    QTest::newRow("silent") << int(TestHttpServer::Mode::Silent) << 0 << 10000;
    // A byte every 0.4 s never trips the inactivity limit; the deadline ends it.
    QTest::newRow("trickling") << int(TestHttpServer::Mode::Trickle) << 400 << 2500;
}

void TestDownloader::hungServersGiveUpInTime()
{
    QFETCH(int, mode);
    QFETCH(int, trickleMs);
    QFETCH(int, deadlineMs);
    TestHttpServer::Route route{patterned(1000), 200, TestHttpServer::Mode(mode), trickleMs};
    m_server->setRoute("/hang", route);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!BoundedDownloader::download(QUrl(m_server->baseUrl() + "/hang"), target(), shortLimits(deadlineMs)));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(m_server->requestCount("/hang"), 1);
    const qint64 bound = qMin<qint64>(deadlineMs, mode == int(TestHttpServer::Mode::Silent) ? 1000 : deadlineMs);
    QVERIFY2(elapsed >= bound - 100 && elapsed < bound + 1500, QByteArray::number(elapsed));
    QVERIFY(!QFile::exists(target()));
    QCOMPARE(folderEntries(), QStringList());
}

void TestDownloader::refusesOtherSchemes_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("file") << "file:///etc/hostname";
    QTest::newRow("ftp") << "ftp://127.0.0.1/x";
    QTest::newRow("data") << "data:text/plain,hello";
    QTest::newRow("no host") << "http:///x";
    QTest::newRow("relative") << "lastupdate";
}

void TestDownloader::refusesOtherSchemes()
{
    QFETCH(QString, url);
    QVERIFY(!BoundedDownloader::download(QUrl(url), target(), shortLimits()));
    QVERIFY(!QFile::exists(target()));
}

void TestDownloader::followsRedirect()
{
    m_server->setRoute("/old", TestHttpServer::Route{"/new", 302, TestHttpServer::Mode::Redirect});
    m_server->setRoute("/new", QByteArray("moved"));
    QVERIFY(BoundedDownloader::download(QUrl(m_server->baseUrl() + "/old"), target(), shortLimits()));
    QCOMPARE(m_dir->readFile(target()), QByteArray("moved"));
}

void TestDownloader::cancelFromProgress()
{
    {
        QFile old(target());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier");
    }
    m_server->setRoute("/pkg.tar", TestHttpServer::Route{patterned(1000), 200, TestHttpServer::Mode::Trickle, 50});
    CancellingProgress progress;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!BoundedDownloader::download(QUrl(m_server->baseUrl() + "/pkg.tar"), target(), shortLimits(20000),
                                         &progress));
    QVERIFY(clock.elapsed() < 5000); // ended by the cancel, not the deadline
    QCOMPARE(progress.started, QStringLiteral("pkg.tar"));
    QCOMPARE(progress.finished, 1);
    QCOMPARE(m_dir->readFile(target()), QByteArray("earlier"));
    QCOMPARE(folderEntries(), QStringList{"file.bin"});
}

void TestDownloader::cancelButtonOfDialog()
{
    m_server->setRoute("/pkg.tar", TestHttpServer::Route{patterned(1000), 200, TestHttpServer::Mode::Trickle, 50});
    DownloadProgressDialog progress;
    bool sawModalDialog = false;
    // Press Cancel once the dialog is up and the first bytes have come in.
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, &presser, [&] {
        QProgressDialog *dialog = progress.dialog();
        if (!dialog || !dialog->isVisible() || dialog->value() <= 0)
            return;
        sawModalDialog = dialog->windowModality() == Qt::ApplicationModal;
        QPushButton *cancel = dialog->findChild<QPushButton *>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QStringLiteral("キャンセル"));
        QTest::mouseClick(cancel, Qt::LeftButton);
        presser.stop();
    });
    presser.start(20);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!BoundedDownloader::download(QUrl(m_server->baseUrl() + "/pkg.tar"), target(), shortLimits(30000),
                                         &progress));
    QVERIFY(clock.elapsed() < 20000);
    QVERIFY(sawModalDialog);
    QVERIFY(!progress.dialog()); // hidden again
    QVERIFY(!QFile::exists(target()));
    QCOMPARE(folderEntries(), QStringList());
}

QTEST_MAIN(TestDownloader)
#include "tst_downloader.moc"
