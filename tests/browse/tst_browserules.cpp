// The pure rules of browsing: names, texts, orders, paths, the rename target.
#include "browse/BrowseRules.h"

#include "base/ProgramPaths.h"

#include <QTest>

#include <algorithm>

using namespace BrowseRules;

class TestBrowseRules : public QObject
{
    Q_OBJECT
private slots:
    void sizeText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << qint64(0) << "0kb";
        QTest::newRow("one byte") << qint64(1) << "1kb";
        QTest::newRow("exactly 1 KiB") << qint64(1024) << "1kb";
        QTest::newRow("one over") << qint64(1025) << "2kb";
        QTest::newRow("10 KiB") << qint64(10240) << "10kb";
        QTest::newRow("just over 4 GiB") << (qint64(4) << 30) + 1 << "4194305kb";
        QTest::newRow("5 GiB") << (qint64(5) << 30) << "5242880kb";
        QTest::newRow("1 TiB") << (qint64(1) << 40) << "1073741824kb";
    }
    void sizeText()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(BrowseRules::sizeText(bytes), text);
    }

    void fillOrder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("letters before case")
            << QStringList{"b.pdf", "B.pdf", "a.pdf", "C.pdf"}
            << QStringList{"a.pdf", "b.pdf", "B.pdf", "C.pdf"};
        QTest::newRow("digits as text") << QStringList{"10.pdf", "2.pdf", "1.pdf"}
                                        << QStringList{"1.pdf", "10.pdf", "2.pdf"};
        QTest::newRow("empty") << QStringList{} << QStringList{};
    }
    void fillOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, sorted);
        QList<FileEntry> entries;
        for (const QString &n : names)
            entries.append(FileEntry{n, {}, {}, false});
        sortForFill(entries, fillCollator(QLocale(QStringLiteral("en_US"))));
        QStringList got;
        for (const FileEntry &e : entries)
            got << e.name;
        QCOMPARE(got, sorted);
    }

    void compareFileItems_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("first");  // text of item1 in that column
        QTest::addColumn<QString>("second"); // text of item2
        QTest::addColumn<int>("result");
        QTest::newRow("names descending") << 0 << "a.pdf" << "b.pdf" << 1;
        QTest::newRow("names reversed") << 0 << "b.pdf" << "a.pdf" << -1;
        QTest::newRow("names ignore case") << 0 << "Report.pdf" << "report.pdf" << 0;
        QTest::newRow("case ignored in order") << 0 << "B.pdf" << "a.pdf" << -1;
        QTest::newRow("sizes as text: 2kb above 10kb") << 1 << "2kb" << "10kb" << -1;
        QTest::newRow("sizes reversed") << 1 << "10kb" << "2kb" << 1;
        QTest::newRow("folder size last") << 1 << "" << "0kb" << 1;
        QTest::newRow("newest date first") << 2 << "2024/01/02 10:00" << "2023/12/31 23:59" << -1;
        QTest::newRow("same date") << 2 << "2024/01/02 10:00" << "2024/01/02 10:00" << 0;
    }
    void compareFileItems()
    {
        QFETCH(int, column);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(int, result);
        // Put the text in the compared column and opposite texts elsewhere,
        // so comparing the wrong column gives the wrong sign.
        FileEntry a{"z.pdf", "1kb", "2000/01/01 00:00", false};
        FileEntry b{"a.pdf", "9kb", "2099/01/01 00:00", false};
        QString *fa[] = {&a.name, &a.sizeText, &a.dateText};
        QString *fb[] = {&b.name, &b.sizeText, &b.dateText};
        *fa[column] = first;
        *fb[column] = second;
        const QCollator c = columnCollator(QLocale(QStringLiteral("en_US")));
        QCOMPARE(CompareFileItems(a, b, column, c), result);
        QCOMPARE(CompareFileItems(b, a, column, c), -result);
    }

    // The root and node paths of the browser rely on this shared helper.
    void trailingDelimiter_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("result");
        QTest::newRow("root stays") << "/" << "/";
        QTest::newRow("appended") << "/home/docs" << "/home/docs/";
        QTest::newRow("kept") << "/home/docs/" << "/home/docs/";
        QTest::newRow("empty becomes root") << "" << "/";
        QTest::newRow("relative") << "docs" << "docs/";
    }
    void trailingDelimiter()
    {
        QFETCH(QString, path);
        QFETCH(QString, result);
        QCOMPARE(sheafline::withTrailingDelimiter(path), result);
    }

    void nodePath_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("path");
        QTest::newRow("two levels") << "/data/Docs/" << QStringList{"Invoices", "2019"}
                                    << "/data/Docs/Invoices/2019/";
        QTest::newRow("file system root, no doubled delimiter") << "/" << QStringList{"home"} << "/home/";
        QTest::newRow("top level") << "/r/" << QStringList{"a b"} << "/r/a b/";
        QTest::newRow("no node") << "/r/" << QStringList{} << "/r/";
    }
    void nodePath()
    {
        QFETCH(QString, root);
        QFETCH(QStringList, texts);
        QFETCH(QString, path);
        QCOMPARE(BrowseRules::nodePath(root, texts), path);
    }

    void renameTarget_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("target");
        QTest::newRow("other extension") << "report.txt" << "report.pdf";
        QTest::newRow("no extension") << "report" << "report.pdf";
        QTest::newRow("upper-case extension") << "a.b.PDF" << "a.b.pdf";
        QTest::newRow("dot in a folder part") << "drafts.old/plan" << "drafts.old/plan.pdf";
        QTest::newRow("empty") << "" << ".pdf";
        QTest::newRow("trailing dot") << "name." << "name.pdf";
        QTest::newRow("japanese") << "請求書.txt" << "請求書.pdf";
    }
    void renameTarget()
    {
        QFETCH(QString, typed);
        QFETCH(QString, target);
        QCOMPARE(BrowseRules::renameTarget(typed), target);
    }

    // The tree's order of sub-folders, given in the scrambled order a
    // directory read returns them.
    void folderOrder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("numbered, as read")
            << QStringList{"folder14", "folder25", "folder17", "folder3", "folder1"}
            << QStringList{"folder1", "folder14", "folder17", "folder25", "folder3"};
        QTest::newRow("letter case ignored")
            << QStringList{"beta", "Alpha", "gamma", "Delta"}
            << QStringList{"Alpha", "beta", "Delta", "gamma"};
        QTest::newRow("case-only twins by code, upper first")
            << QStringList{"report", "Report", "REPORT", "Reporta"}
            << QStringList{"REPORT", "Report", "report", "Reporta"};
        QTest::newRow("hidden and marks")
            << QStringList{"zeta", ".config", "_old", "Ärger", "Apfel"}
            << QStringList{".config", "_old", "Apfel", "zeta", "Ärger"};
        QTest::newRow("japanese") << QStringList{"請求書", "見積書", "2020", "あ"}
                                  << QStringList{"2020", "あ", "見積書", "請求書"};
    }
    void folderOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, sorted);
        QStringList got = names;
        BrowseRules::sortFolderNames(got);
        QCOMPARE(got, sorted);
        // Any starting order gives the same result.
        std::reverse(names.begin(), names.end());
        BrowseRules::sortFolderNames(names);
        QCOMPARE(names, sorted);
    }

    void oneLineName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "report.pdf" << "report.pdf";
        QTest::newRow("newline") << "line1\nline2.pdf" << "line1↵line2.pdf";
        QTest::newRow("carriage return and newline") << "a\r\nb.pdf" << "a↵↵b.pdf";
        QTest::newRow("unicode separators") << QStringLiteral("a\u2028b\u2029c.pdf") << "a↵b↵c.pdf";
        QTest::newRow("tab kept") << "a\tb.pdf" << "a\tb.pdf";
    }
    void oneLineName()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QCOMPARE(BrowseRules::oneLineName(name), shown);
    }
};

QTEST_GUILESS_MAIN(TestBrowseRules)
#include "tst_browserules.moc"
