// Moving a file never replaces another.
#include "browse/FileMove.h"

#include "support/TestDir.h"

#include <QFile>
#include <QTest>

using MoveFn = bool (*)(const QString &, const QString &, QString *);
Q_DECLARE_METATYPE(MoveFn)

class TestFileMove : public QObject
{
    Q_OBJECT
private slots:
    void moves_data()
    {
        QTest::addColumn<MoveFn>("move");
        QTest::newRow("renameat2") << MoveFn(&FileMove::moveNoReplace);
        QTest::newRow("link and unlink") << MoveFn(&FileMove::moveByLink);
    }

    void moves()
    {
        QFETCH(MoveFn, move);
        TestDir dir;
        dir.writeFile("old.pdf", "old bytes");
        dir.mkdir("sub");
        QString error;
        QVERIFY(move(dir.path("old.pdf"), dir.path("new.pdf"), &error));
        QVERIFY(error.isEmpty());
        QVERIFY(!QFile::exists(dir.path("old.pdf")));
        QCOMPARE(dir.readFile("new.pdf"), "old bytes");
        // Into a sub-folder.
        QVERIFY(move(dir.path("new.pdf"), dir.path("sub/moved.pdf"), &error));
        QCOMPARE(dir.readFile("sub/moved.pdf"), "old bytes");
    }

    void neverReplaces_data() { moves_data(); }
    void neverReplaces()
    {
        QFETCH(MoveFn, move);
        TestDir dir;
        dir.writeFile("a.pdf", "first file");
        dir.writeFile("b.pdf", "second file");
        QString error;
        QVERIFY(!move(dir.path("a.pdf"), dir.path("b.pdf"), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(dir.readFile("a.pdf"), "first file");
        QCOMPARE(dir.readFile("b.pdf"), "second file");
    }

    void failuresLeaveThingsAlone_data() { moves_data(); }
    void failuresLeaveThingsAlone()
    {
        QFETCH(MoveFn, move);
        TestDir dir;
        dir.writeFile("a.pdf", "bytes");
        QString error;
        QVERIFY(!move(dir.path("gone.pdf"), dir.path("c.pdf"), &error));
        QVERIFY(!QFile::exists(dir.path("c.pdf")));
        QVERIFY(!move(dir.path("a.pdf"), dir.path("no-such-folder/c.pdf"), &error));
        QCOMPARE(dir.readFile("a.pdf"), "bytes");
    }

    void movesFolders()
    {
        // A folder named like a PDF file can be renamed too.
        TestDir dir;
        dir.mkdir("old.pdf");
        dir.writeFile("old.pdf/in.pdf", "x");
        QVERIFY(FileMove::moveNoReplace(dir.path("old.pdf"), dir.path("new.pdf")));
        QCOMPARE(dir.readFile("new.pdf/in.pdf"), "x");
    }
};

QTEST_GUILESS_MAIN(TestFileMove)
#include "tst_filemove.moc"
