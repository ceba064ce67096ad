// The shared fixtures must produce what the other tests assume of them.
#include "PdfFixtures.h"
#include "SlowShare.h"
#include "TestDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPdfBookmarkModel>
#include <QPdfDocument>
#include <QTest>

#include <chrono>
#include <future>

class TestFixtures : public QObject
{
    Q_OBJECT
private slots:
    void pdfsOpenWithTheirPages_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("pages");
        QTest::newRow("drawn, one page") << "drawn" << 1;
        QTest::newRow("drawn, three pages") << "drawn" << 3;
        QTest::newRow("hand-written with outline") << "outlined" << 4;
    }
    void pdfsOpenWithTheirPages()
    {
        QFETCH(QString, kind);
        QFETCH(int, pages);
        TestDir dir;
        const QString file = dir.path("doc.pdf");
        QVERIFY(kind == "drawn" ? PdfFixtures::writeSimplePdf(file, pages)
                                : PdfFixtures::writeOutlinedPdf(file, pages));
        QPdfDocument doc;
        QCOMPARE(doc.load(file), QPdfDocument::Error::None);
        QCOMPARE(doc.pageCount(), pages);
        if (kind == "outlined") {
            QPdfBookmarkModel outline;
            outline.setDocument(&doc);
            QCOMPARE(outline.rowCount(), pages);
            QCOMPARE(outline.index(1, 0).data().toString(), QStringLiteral("Chapter 2"));
        }
    }

    void mixedPageSizesAreKept()
    {
        TestDir dir;
        const QString file = dir.path("mixed.pdf");
        QVERIFY(PdfFixtures::writePdf(file, {QSizeF(595, 842), QSizeF(842, 595), QSizeF(300, 300)}));
        QPdfDocument doc;
        QCOMPARE(doc.load(file), QPdfDocument::Error::None);
        QCOMPARE(doc.pagePointSize(1).toSize(), QSize(842, 595));
        QCOMPARE(doc.pagePointSize(2).toSize(), QSize(300, 300));
    }

    void brokenPdfDoesNotOpen()
    {
        TestDir dir;
        const QString file = dir.path("broken.pdf");
        QVERIFY(PdfFixtures::writeBrokenPdf(file));
        QPdfDocument doc;
        QVERIFY(doc.load(file) != QPdfDocument::Error::None);
    }

    void folderTimesCanBeSet()
    {
        TestDir dir;
        dir.mkdir("sub");
        const QDateTime when(QDate(2001, 2, 3), QTime(4, 5, 6));
        QVERIFY(dir.setModified("sub", when));
        QCOMPARE(QFileInfo(dir.path("sub")).lastModified(), when);
    }

    // The slow share passes files through with its delay, hides changes made
    // behind it from nobody who looks, and blocks a folder while asked to.
    void slowShareIsSlowAndCanHang()
    {
        SlowShare share(30);
        if (!share.mountError().isEmpty())
            QSKIP(qPrintable(share.mountError()));
        QVERIFY(QDir().mkpath(share.backing() + QStringLiteral("/stuck")));
        QFile behind(share.backing() + QStringLiteral("/added.pdf"));
        QVERIFY(behind.open(QIODevice::WriteOnly));
        behind.write("%PDF-1.4");
        behind.close();

        QElapsedTimer clock;
        clock.start();
        const qint64 opsBefore = share.operationCount();
        const QFileInfo seen(share.mountPoint() + QStringLiteral("/added.pdf"));
        QVERIFY(seen.exists());
        QCOMPARE(seen.size(), qint64(8));
        QVERIFY2(clock.elapsed() >= 30, "the share answered without its delay");
        // The look went to the "server" and was counted there.
        QVERIFY(share.operationCount() > std::max<qint64>(opsBefore, 0));

        share.hang(QStringLiteral("stuck"));
        auto listing = std::async(std::launch::async, [&share] {
            return QDir(share.mountPoint() + QStringLiteral("/stuck")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        });
        // Other folders still answer while one hangs.
        QVERIFY(QFileInfo::exists(share.mountPoint() + QStringLiteral("/added.pdf")));
        QVERIFY(listing.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout);
        share.unhang();
        QVERIFY(listing.get().isEmpty());
    }
};

QTEST_MAIN(TestFixtures)
#include "tst_fixtures.moc"
