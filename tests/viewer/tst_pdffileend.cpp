// Whether a PDF looks written to its end: real files drawn by QPdfWriter,
// whole and cut where a writer still at work would leave them.
#include "viewer/PdfFileEnd.h"

#include "support/PdfFixtures.h"
#include "support/TestDir.h"

#include <QFile>
#include <QtTest>

class TestPdfFileEnd : public QObject
{
    Q_OBJECT
private slots:
    void tails_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<bool>("whole");
        QTest::newRow("marker at the end") << QByteArray("startxref\n1234\n%%EOF") << true;
        QTest::newRow("marker, then a line end") << QByteArray("startxref\n1234\n%%EOF\r\n") << true;
        QTest::newRow("marker, then padding within reach") << QByteArray("%%EOF\n") + QByteArray(1000, ' ') << true;
        QTest::newRow("marker beyond reach of the end") << QByteArray("%%EOF\n") + QByteArray(1100, ' ') << false;
        QTest::newRow("pages without a trailer") << QByteArray("endstream\nendobj\n4 0 obj\n<<") << false;
        QTest::newRow("marker cut in half") << QByteArray("startxref\n1234\n%%EO") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void tails()
    {
        QFETCH(QByteArray, tail);
        QFETCH(bool, whole);
        QCOMPARE(endsLikeWholePdf(tail), whole);
    }

    void files()
    {
        TestDir dir;
        const QString path = dir.path(QStringLiteral("five.pdf"));
        QVERIFY(PdfFixtures::writeSimplePdf(path, 5));
        QVERIFY(fileEndsLikeWholePdf(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        file.close();
        // The pages written, the trailer not yet.
        const QString cut = dir.path(QStringLiteral("cut.pdf"));
        QFile out(cut);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes.left(bytes.lastIndexOf("xref")));
        out.close();
        QVERIFY(!fileEndsLikeWholePdf(cut));
        QVERIFY(!fileEndsLikeWholePdf(dir.path(QStringLiteral("missing.pdf"))));
    }
};

QTEST_MAIN(TestPdfFileEnd)
#include "tst_pdffileend.moc"
