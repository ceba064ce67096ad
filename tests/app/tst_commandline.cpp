// The command line: the web-browser switch and the root folder for one run.
#include "app/CommandLine.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "support/TestDir.h"

class tst_CommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void realFolders_data();
    void realFolders();
};

void tst_CommandLine::parse_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("root");

    // Folders that "exist" in this table: /docs, /docs/, docs.
    QTest::newRow("no arguments") << QStringList() << 0 << "";
    QTest::newRow("-b") << QStringList{"-b"} << 1 << "";
    QTest::newRow("/b") << QStringList{"/b"} << 1 << "";
    QTest::newRow("-B") << QStringList{"-B"} << 1 << "";
    QTest::newRow("/B") << QStringList{"/B"} << 1 << "";
    QTest::newRow("/b third") << QStringList{"x", "y", "/b"} << 1 << "";
    QTest::newRow("folder then -b") << QStringList{"/docs", "-b"} << 1 << "/docs/";
    QTest::newRow("folder with delimiter") << QStringList{"/docs/"} << 0 << "/docs/";
    QTest::newRow("relative folder") << QStringList{"docs"} << 0 << "docs/";
    QTest::newRow("folder second is ignored") << QStringList{"-b", "/docs"} << 1 << "";
    QTest::newRow("missing folder") << QStringList{"/nowhere"} << 0 << "";
    QTest::newRow("not a switch: --b") << QStringList{"--b"} << 0 << "";
    QTest::newRow("not a switch: -bb") << QStringList{"-bb"} << 0 << "";
    QTest::newRow("not a switch: full-width B") << QStringList{QString::fromUtf8("/Ｂ")} << 0 << "";
    QTest::newRow("not a switch: padded") << QStringList{" -b"} << 0 << "";
    QTest::newRow("empty first argument") << QStringList{"", "-b"} << 1 << "";
}

void tst_CommandLine::parse()
{
    QFETCH(QStringList, args);
    const QStringList folders{"/docs", "/docs/", "docs"};
    int calls = 0;
    const CommandLine cl = parseCommandLine(args, [&](const QString &p) {
        ++calls;
        return folders.contains(p);
    });
    QTEST(cl.pdfMode, "mode");
    QTEST(cl.rootFolder, "root");
    // Only the first argument is ever asked about.
    QVERIFY(calls <= 1);
}

void tst_CommandLine::realFolders_data()
{
    QTest::addColumn<QString>("arg");
    QTest::addColumn<bool>("isRoot");
    QTest::newRow("folder") << "tree" << true;
    QTest::newRow("link to a folder") << "link" << true;
    QTest::newRow("file") << "tree/a.pdf" << false;
    QTest::newRow("missing") << "gone" << false;
}

void tst_CommandLine::realFolders()
{
    QFETCH(QString, arg);
    QFETCH(bool, isRoot);
    TestDir dir;
    dir.mkdir("tree");
    dir.writeFile("tree/a.pdf", "x");
    QVERIFY(dir.symlink(dir.path("tree"), "link"));
    // Relative to the current directory, as given on a command line.
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const CommandLine cl = parseCommandLine({arg}, folderExists);
    QDir::setCurrent(old);
    QCOMPARE(cl.rootFolder, isRoot ? arg + "/" : QString());
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
