// The command line: the web-browser switch, the root folder for one run, and a
// PDF shown among its neighbours with the tree kept or rooted at its folder.
#include "app/CommandLine.h"

#include <QDir>
#include <QFileInfo>
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
    void documentArgument_data();
    void documentArgument();
    void placeMatchesWholeFolderNames_data();
    void placeMatchesWholeFolderNames();
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

// A first argument on a real folder tree, run from the tree's top as a
// shell would: what the command line makes of it and, for a document, where
// it is shown below the stored root ("root/", or "link/", a link to it).
void tst_CommandLine::documentArgument_data()
{
    QTest::addColumn<QString>("storedRoot");
    QTest::addColumn<QString>("arg");
    QTest::addColumn<QString>("rootFolder"); // the command line's folder
    QTest::addColumn<QString>("unusable");
    QTest::addColumn<QString>("placeRoot");  // empty: not a document
    QTest::addColumn<QStringList>("treePath");
    QTest::addColumn<QString>("shown");

    const QStringList none;
    QTest::newRow("file below the root")
        << "root/" << "root/sub/deep/c.pdf" << "" << "" << "root/" << QStringList{"sub", "deep"} << "root/sub/deep/c.pdf";
    QTest::newRow("file in the root itself")
        << "root/" << "root/a.pdf" << "" << "" << "root/" << none << "root/a.pdf";
    QTest::newRow("file outside the root")
        << "root/" << "outside/b.pdf" << "" << "" << "outside/" << none << "outside/b.pdf";
    QTest::newRow("beside the root, a name that starts alike")
        << "root/" << "rootless/d.pdf" << "" << "" << "rootless/" << none << "rootless/d.pdf";
    QTest::newRow("upper-case suffix")
        << "root/" << "outside/E.PDF" << "" << "" << "outside/" << none << "outside/E.PDF";
    QTest::newRow("dots in the path")
        << "root/" << "root/sub/../sub/deep/./c.pdf" << "" << "" << "root/" << QStringList{"sub", "deep"}
        << "root/sub/deep/c.pdf";
    QTest::newRow("root reached through a link")
        << "link/" << "root/sub/deep/c.pdf" << "" << "" << "link/" << QStringList{"sub", "deep"} << "link/sub/deep/c.pdf";
    QTest::newRow("file reached through a link")
        << "root/" << "link/sub/c2.pdf" << "" << "" << "root/" << QStringList{"sub"} << "root/sub/c2.pdf";
    QTest::newRow("missing") << "root/" << "root/gone.pdf" << "" << "root/gone.pdf" << "" << none << "";
    QTest::newRow("not a PDF") << "root/" << "root/notes.txt" << "" << "root/notes.txt" << "" << none << "";
    QTest::newRow("PDF contents under another name") << "root/" << "root/scan.dat" << "" << "root/scan.dat" << "" << none << "";
    QTest::newRow("folder named *.pdf") << "root/" << "root/album.pdf" << "root/album.pdf/" << "" << "" << none << "";
    QTest::newRow("switch first") << "root/" << "-b" << "" << "" << "" << none << "";
}

void tst_CommandLine::documentArgument()
{
    QFETCH(QString, storedRoot);
    QFETCH(QString, arg);
    QFETCH(QStringList, treePath);

    TestDir dir;
    dir.writeFile("root/a.pdf", "%PDF-1.4\n");
    dir.writeFile("root/sub/deep/c.pdf", "%PDF-1.4\n");
    dir.writeFile("root/sub/c2.pdf", "%PDF-1.4\n");
    dir.writeFile("root/notes.txt", "text");
    dir.writeFile("root/scan.dat", "%PDF-1.4\n");
    dir.mkdir("root/album.pdf");
    dir.writeFile("outside/b.pdf", "%PDF-1.4\n");
    dir.writeFile("outside/E.PDF", "%PDF-1.4\n");
    dir.writeFile("rootless/d.pdf", "%PDF-1.4\n");
    QVERIFY(dir.symlink(dir.path("root"), "link"));
    const QString top = dir.path() + "/";

    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const CommandLine cl = parseCommandLine({arg, "-b"}, folderExists, readablePdfExists);
    QDir::setCurrent(old);

    QCOMPARE(cl.pdfMode, 1);
    QTEST(cl.rootFolder, "rootFolder");
    QTEST(cl.unusable, "unusable");
    QFETCH(QString, placeRoot);
    if (placeRoot.isEmpty()) {
        QCOMPARE(cl.document, QString());
        return;
    }
    // A document is known by its absolute path, whatever the current directory is later.
    QCOMPARE(cl.document, QDir::cleanPath(top + arg));
    const DocumentPlace place = placeDocument(cl.document, {top + storedRoot}, canonicalPath);
    QCOMPARE(place.root, top + placeRoot);
    QCOMPARE(place.path(), treePath);
    QCOMPARE(place.folder, top + placeRoot + (treePath.isEmpty() ? "" : treePath.join('/') + "/"));
    QFETCH(QString, shown);
    QCOMPARE(place.document, top + shown);
}

// The first root the document lies below wins; a root is a whole folder
// name, never a prefix of one; names are compared as written when no link
// resolution is given.
void tst_CommandLine::placeMatchesWholeFolderNames_data()
{
    QTest::addColumn<QStringList>("roots");
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("folder");
    QTest::newRow("first root") << QStringList{"/a/", "/"} << "/a/b/x.pdf" << "/a/" << "/a/b/";
    QTest::newRow("empty roots skipped") << QStringList{"", "/a/"} << "/a/x.pdf" << "/a/" << "/a/";
    QTest::newRow("prefix of a name") << QStringList{"/docs/"} << "/docs2/x.pdf" << "/docs2/" << "/docs2/";
    QTest::newRow("letter case counts") << QStringList{"/Docs/"} << "/docs/x.pdf" << "/docs/" << "/docs/";
    QTest::newRow("lone delimiter") << QStringList{"/"} << "/srv/pdf/x.pdf" << "/" << "/srv/pdf/";
    QTest::newRow("no roots") << QStringList() << "/srv/x.pdf" << "/srv/" << "/srv/";
}

void tst_CommandLine::placeMatchesWholeFolderNames()
{
    QFETCH(QStringList, roots);
    QFETCH(QString, document);
    const DocumentPlace place = placeDocument(document, roots);
    QTEST(place.root, "root");
    QTEST(place.folder, "folder");
    QCOMPARE(place.document, place.folder + QFileInfo(document).fileName());
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
