// Reading real folders for the file list and the folder tree.
#include "browse/FolderScan.h"

#include "support/TestDir.h"

#include <QFile>
#include <QScopeGuard>
#include <QTimeZone>
#include <QTest>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static QStringList sortedNames(const QList<FileEntry> &entries)
{
    QStringList names;
    for (const FileEntry &e : entries)
        names << e.name;
    names.sort();
    return names;
}

static const FileEntry *find(const QList<FileEntry> &entries, const QString &name)
{
    for (const FileEntry &e : entries)
        if (e.name == name)
            return &e;
    return nullptr;
}

class TestFolderScan : public QObject
{
    Q_OBJECT
    const QLocale ja{QStringLiteral("ja_JP")};

    // Files, a folder, links (one dangling) and names that must not match.
    void makeMixedFolder(TestDir &dir)
    {
        dir.writeFile("a.pdf", "x");
        dir.writeFile("REPORT.PDF", "x");
        dir.writeFile(".hidden.pdf", "x");
        dir.writeFile("report.pdf.bak", "x");
        dir.writeFile("notes.txt", "x");
        dir.mkdir("old.pdf");
        dir.mkdir("sub");
        dir.writeFile("sub/deep.pdf", "x");
        QVERIFY(dir.symlink(dir.path("a.pdf"), "link.pdf"));
        QVERIFY(dir.symlink(dir.path("nowhere"), "dangling.pdf"));
        QVERIFY(dir.symlink(dir.path("sub"), "sublink.pdf"));
    }

private slots:
    void listsMatchingEntriesOnly()
    {
        TestDir dir;
        makeMixedFolder(dir);

        const QList<FileEntry> entries = FolderScan::listPdfEntries(dir.path() + "/", ja);
        QCOMPARE(sortedNames(entries), (QStringList{".hidden.pdf", "REPORT.PDF", "a.pdf", "dangling.pdf",
                                                     "link.pdf", "old.pdf", "sublink.pdf"}));
        QVERIFY(find(entries, "sublink.pdf")->isDir); // a link to a folder is a folder
        const FileEntry *folder = find(entries, "old.pdf");
        QVERIFY(folder->isDir);
        QCOMPARE(folder->sizeText, QString());
        QVERIFY(!folder->dateText.isEmpty());
        QCOMPARE(find(entries, "link.pdf")->sizeText, "1kb"); // the link's target
        QVERIFY(!find(entries, "a.pdf")->isDir);
    }

    // Names first, texts later: the same entries and kinds as the full
    // listing, and the same texts once read; an entry gone by then has none.
    void namesFirstThenTexts()
    {
        TestDir dir;
        makeMixedFolder(dir);
        const QString folder = dir.path() + "/";
        const QList<FileEntry> full = FolderScan::listPdfEntries(folder, ja);
        QList<FileEntry> names = FolderScan::listPdfNames(folder);
        QCOMPARE(sortedNames(names), sortedNames(full));
        const BrowseRules::DateSeparators separators(ja);
        for (FileEntry &e : names) {
            const FileEntry *expected = find(full, e.name);
            QCOMPARE(e.isDir, expected->isDir);
            QVERIFY(e.sizeText.isEmpty() && e.dateText.isEmpty());
            QVERIFY(FolderScan::readTexts(folder, e, separators));
            QCOMPARE(e.sizeText, expected->sizeText);
            QCOMPARE(e.dateText, expected->dateText);
            QCOMPARE(e.isDir, expected->isDir);
        }
        FileEntry gone{QStringLiteral("REPORT.PDF"), {}, {}, false};
        QVERIFY(QFile::remove(dir.path("REPORT.PDF")));
        QVERIFY(!FolderScan::readTexts(folder, gone, separators));
        QVERIFY(gone.sizeText.isEmpty() && gone.dateText.isEmpty());
        QVERIFY(FolderScan::listPdfNames(dir.path("missing/")).isEmpty());
    }

    void sizesAndDates_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("size");
        QTest::newRow("empty file") << qint64(0) << "0kb";
        QTest::newRow("1025 bytes") << qint64(1025) << "2kb";
        QTest::newRow("sparse, over 4 GiB") << (qint64(5) << 30) << "5242880kb";
    }
    void sizesAndDates()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, size);
        TestDir dir;
        const QString file = dir.writeFile("f.pdf");
        // A sparse file: the size without the disk space.
        QVERIFY(::truncate(QFile::encodeName(file).constData(), bytes) == 0);
        const QDateTime when(QDate(2023, 7, 8), QTime(9, 4, 30));
        QVERIFY(dir.setModified("f.pdf", when));
        const QList<FileEntry> entries = FolderScan::listPdfEntries(dir.path() + "/", ja);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().sizeText, size);
        QCOMPARE(entries.first().dateText, "2023/07/08 09:04");
    }

    void nameMatching_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("listed");
        QTest::newRow("lower") << "report.pdf" << true;
        QTest::newRow("upper") << "REPORT.PDF" << true;
        QTest::newRow("mixed") << "Scan.Pdf" << true;
        QTest::newRow("hidden") << ".secret.pdf" << true;
        QTest::newRow("bare suffix") << ".pdf" << true;
        QTest::newRow("japanese") << "請求書.pdf" << true;
        QTest::newRow("backup") << "report.pdf.bak" << false;
        QTest::newRow("no dot") << "reportpdf" << false;
        QTest::newRow("longer suffix") << "report.pdfx" << false;
        QTest::newRow("other type") << "report.txt" << false;
        QTest::newRow("short name") << "pdf" << false;
    }
    void nameMatching()
    {
        QFETCH(QString, name);
        QFETCH(bool, listed);
        TestDir dir;
        dir.writeFile(name, "x");
        const QList<FileEntry> entries = FolderScan::listPdfEntries(dir.path() + "/", ja);
        QCOMPARE(sortedNames(entries), listed ? QStringList{name} : QStringList{});
    }

    void dateUsesLocaleSeparators_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("text");
        const QDateTime afternoon(QDate(2024, 3, 5), QTime(14, 7, 59));
        const QDateTime morning(QDate(2009, 11, 30), QTime(0, 5));
        QTest::newRow("japanese") << "ja_JP" << afternoon << "2024/03/05 14:07";
        QTest::newRow("japanese, midnight hour") << "ja_JP" << morning << "2009/11/30 00:05";
        QTest::newRow("german date dots") << "de_DE" << afternoon << "2024.03.05 14:07";
        QTest::newRow("finnish time dots") << "fi_FI" << QDateTime(QDate(2020, 1, 2), QTime(3, 4))
                                           << "2020.01.02 03.04";
        QTest::newRow("us 24-hour clock") << "en_US" << afternoon << "2024/03/05 14:07";
        QTest::newRow("c locale") << "C" << morning << "2009/11/30 00:05";
    }
    void dateUsesLocaleSeparators()
    {
        QFETCH(QString, locale);
        QFETCH(QDateTime, when);
        QFETCH(QString, text);
        TestDir dir;
        dir.writeFile("f.pdf");
        QVERIFY(dir.setModified("f.pdf", when));
        const QList<FileEntry> entries = FolderScan::listPdfEntries(dir.path() + "/", QLocale(locale));
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().dateText, text);
    }

    void dateIsLocalTime()
    {
        // In a zone away from UTC the listed time is the local one.
        const QByteArray oldTz = qgetenv("TZ");
        const bool hadTz = qEnvironmentVariableIsSet("TZ");
        qputenv("TZ", "Asia/Tokyo");
        ::tzset();
        const auto restore = qScopeGuard([&] {
            if (hadTz)
                qputenv("TZ", oldTz);
            else
                qunsetenv("TZ");
            ::tzset();
        });
        TestDir dir;
        dir.writeFile("f.pdf");
        QVERIFY(dir.setModified("f.pdf", QDateTime(QDate(2021, 6, 1), QTime(20, 30), QTimeZone::utc())));
        const QList<FileEntry> entries = FolderScan::listPdfEntries(dir.path() + "/", ja);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().dateText, "2021/06/02 05:30");
    }

    void unreadableFoldersAreEmpty_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("a file, not a folder") << "file";
        QTest::newRow("no permission") << "denied";
        QTest::newRow("empty folder") << "empty";
    }
    void unreadableFoldersAreEmpty()
    {
        QFETCH(QString, kind);
        TestDir dir;
        QString folder = dir.path("missing/");
        if (kind == "file") {
            folder = dir.writeFile("plain.pdf", "x") + "/";
        } else if (kind == "denied") {
            if (::geteuid() == 0)
                QSKIP("permissions do not apply to root");
            folder = dir.mkdir("locked") + "/";
            dir.writeFile("locked/in.pdf", "x");
            dir.mkdir("locked/sub");
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0) == 0);
        } else if (kind == "empty") {
            folder = dir.mkdir("empty") + "/";
        }
        QVERIFY(FolderScan::listPdfEntries(folder, ja).isEmpty());
        QVERIFY(FolderScan::subFolders(folder).isEmpty());
        QVERIFY(!FolderScan::hasSubFolder(folder));
        if (kind == "denied")
            ::chmod(QFile::encodeName(folder).constData(), 0700);
    }

    void subFoldersAreFoldersOnly()
    {
        TestDir dir;
        dir.mkdir("visible");
        dir.mkdir(".hidden");
        dir.mkdir("old.pdf");
        dir.writeFile("file.pdf", "x");
        dir.writeFile("file.txt", "x");
        QVERIFY(dir.symlink(dir.path("visible"), "link-to-folder"));
        QVERIFY(dir.symlink(dir.path("file.txt"), "link-to-file"));
        QVERIFY(dir.symlink(dir.path("self-loop"), "self-loop"));
        QVERIFY(dir.symlink(dir.path(), "loop-to-root"));

        QStringList names = FolderScan::subFolders(dir.path() + "/");
        names.sort();
        QCOMPARE(names, (QStringList{".hidden", "link-to-folder", "loop-to-root", "old.pdf", "visible"}));
        QCOMPARE(FolderScan::subFolders(dir.path() + "/", true).size(), 1);
        QVERIFY(FolderScan::hasSubFolder(dir.path() + "/"));
        QVERIFY(!FolderScan::hasSubFolder(dir.path("visible/")));
        // A link back to the root reads as the root again, one level at a time.
        QCOMPARE(FolderScan::subFolders(dir.path("loop-to-root/loop-to-root/")).size(), 5);
    }
};

QTEST_GUILESS_MAIN(TestFolderScan)
#include "tst_folderscan.moc"
