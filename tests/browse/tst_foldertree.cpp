// The folder tree over real folders: probe, lazy fill, paths, watcher hook.
#include "browse/BrowseRules.h"
#include "browse/FolderScan.h"
#include "browse/FolderTree.h"

#include "support/TestDir.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTreeWidget>

static QStringList texts(const QTreeWidget &tree, QTreeWidgetItem *parent = nullptr)
{
    QStringList t;
    const int n = parent ? parent->childCount() : tree.topLevelItemCount();
    for (int i = 0; i < n; ++i)
        t << (parent ? parent->child(i) : tree.topLevelItem(i))->text(0);
    return t;
}

static QStringList sorted(QStringList l)
{
    l.sort();
    return l;
}

static QTreeWidgetItem *top(const QTreeWidget &tree, const QString &text)
{
    const auto found = tree.findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

class TestFolderTree : public QObject
{
    Q_OBJECT
private slots:
    void rebuildShowsProbedTopLevel()
    {
        TestDir dir;
        dir.mkdir("Invoices/2019");
        dir.mkdir("Invoices/2020");
        dir.mkdir("empty");
        dir.mkdir(".hidden/inner");
        dir.mkdir("old.pdf");
        dir.writeFile("file.pdf", "x");
        dir.writeFile("Invoices/note.pdf", "x");
        dir.writeFile("empty/only-a-file.pdf", "x");

        QTreeWidget widget;
        FolderTree tree(&widget);
        QStringList reads;
        bool busyThroughout = true;
        tree.setFolderReadCallback([&](const QString &p) {
            reads << p;
            busyThroughout = busyThroughout && QApplication::overrideCursor()
                && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        });
        const QString root = dir.path() + "/";
        tree.showRoot(root);
        QVERIFY(busyThroughout);
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(widget.updatesEnabled());

        // By name, letter case aside.
        QCOMPARE(texts(widget), (QStringList{".hidden", "empty", "Invoices", "old.pdf"}));
        QVERIFY(FolderTree::hasChildrenFlag(top(widget, "Invoices")));
        QVERIFY(FolderTree::hasChildrenFlag(top(widget, ".hidden")));
        QVERIFY(!FolderTree::hasChildrenFlag(top(widget, "empty")));
        QVERIFY(!FolderTree::hasChildrenFlag(top(widget, "old.pdf")));
        for (int i = 0; i < widget.topLevelItemCount(); ++i) {
            QCOMPARE(widget.topLevelItem(i)->childCount(), 0); // nothing deeper read yet
            QVERIFY(!widget.topLevelItem(i)->isExpanded());
            QVERIFY(!widget.topLevelItem(i)->icon(0).isNull());
        }
        // One read per folder; the outermost call, the root, reports last.
        QCOMPARE(reads.size(), 5);
        QCOMPARE(reads.last(), root);
        QVERIFY(reads.contains(root + "Invoices/"));
    }

    void expandFillsOnce()
    {
        TestDir dir;
        dir.mkdir("a/b/c");
        dir.mkdir("a/b2");
        QTreeWidget widget;
        FolderTree tree(&widget);
        QStringList reads;
        tree.setFolderReadCallback([&](const QString &p) { reads << p; });
        const QString root = dir.path() + "/";
        tree.showRoot(root);
        QTreeWidgetItem *a = top(widget, "a");
        QVERIFY(a);
        reads.clear();

        tree.expandNode(a, FolderTree::nodePath(root, a));
        QCOMPARE(sorted(texts(widget, a)), (QStringList{"b", "b2"}));
        QCOMPARE(reads.last(), root + "a/");
        QTreeWidgetItem *b = a->child(texts(widget, a).indexOf("b"));
        QVERIFY(FolderTree::hasChildrenFlag(b));
        QCOMPARE(FolderTree::nodePath(root, b), root + "a/b/");

        // Filled once: a folder made later does not appear, and nothing is read.
        dir.mkdir("a/late");
        const int readsBefore = tree.folderReads();
        tree.expandNode(a, FolderTree::nodePath(root, a));
        QCOMPARE(a->childCount(), 2);
        QCOMPARE(tree.folderReads(), readsBefore);

        // A node without the flag is never read.
        QTreeWidgetItem *b2 = a->child(texts(widget, a).indexOf("b2"));
        tree.expandNode(b2, FolderTree::nodePath(root, b2));
        QCOMPARE(tree.folderReads(), readsBefore);

        // A rebuild collapses and forgets.
        tree.showRoot(root);
        QCOMPARE(widget.topLevelItemCount(), 1);
        QCOMPARE(top(widget, "a")->childCount(), 0);
    }

    // Sub-folders come by name at every level, whatever order the file
    // system lists them in (made here in a scrambled order, so that neither
    // a hash order nor the order of making comes out sorted by chance).
    void subFoldersInNameOrder()
    {
        TestDir dir;
        QStringList expected;
        for (int i = 1; i <= 30; ++i)
            expected << QStringLiteral("folder%1").arg(i);
        expected << "Folder7b";
        BrowseRules::sortFolderNames(expected);
        QStringList making = expected;
        for (int i = 0; i < making.size(); ++i)
            making.swapItemsAt(i, (i * 7 + 3) % making.size());
        for (const QString &name : making) {
            dir.mkdir(name);
            dir.mkdir("deep/" + name);
        }
        QVERIFY(FolderScan::subFolders(dir.path() + "/") != expected); // what the fault showed

        QTreeWidget widget;
        FolderTree tree(&widget);
        const QString root = dir.path() + "/";
        tree.showRoot(root);
        QStringList top = expected;
        top << "deep";
        BrowseRules::sortFolderNames(top);
        QCOMPARE(texts(widget), top);
        QCOMPARE(top.mid(0, 4), (QStringList{"deep", "folder1", "folder10", "folder11"}));
        QTreeWidgetItem *deep = widget.topLevelItem(0);
        tree.expandNode(deep, FolderTree::nodePath(root, deep));
        QCOMPARE(texts(widget, deep), expected);
    }

    void vanishedChildrenKeepTheButton()
    {
        TestDir dir;
        dir.mkdir("a/b");
        QTreeWidget widget;
        FolderTree tree(&widget);
        const QString root = dir.path() + "/";
        tree.showRoot(root);
        QTreeWidgetItem *a = top(widget, "a");
        QVERIFY(QDir(dir.path("a/b")).removeRecursively());
        tree.expandNode(a, root + "a/");
        QCOMPARE(a->childCount(), 0);
        QVERIFY(FolderTree::hasChildrenFlag(a));
        // Read again on the next expansion.
        dir.mkdir("a/again");
        tree.expandNode(a, root + "a/");
        QCOMPARE(texts(widget, a), QStringList{"again"});
    }

    void linkLoopsStayHarmless()
    {
        TestDir dir;
        dir.mkdir("real");
        QVERIFY(dir.symlink(dir.path(), "real/up"));      // back to the root
        QVERIFY(dir.symlink(dir.path("self"), "self"));   // a link to itself
        QVERIFY(dir.symlink(dir.path("real"), "linked")); // a link to a folder
        QTreeWidget widget;
        FolderTree tree(&widget);
        const QString root = dir.path() + "/";
        tree.showRoot(root);
        QCOMPARE(sorted(texts(widget)), (QStringList{"linked", "real"}));
        // Walk down the loop a few times: each step reads one level only.
        QTreeWidgetItem *node = top(widget, "real");
        for (int depth = 0; depth < 6; ++depth) {
            QVERIFY(FolderTree::hasChildrenFlag(node));
            tree.expandNode(node, FolderTree::nodePath(root, node));
            const QStringList names = texts(widget, node);
            node = node->child(names.indexOf(depth % 2 == 0 ? "up" : "real"));
            QVERIFY(node);
        }
        QVERIFY(FolderTree::nodePath(root, node).startsWith(root + "real/up/real/up/"));
    }

    void missingRootGivesEmptyTree()
    {
        TestDir dir;
        QTreeWidget widget;
        FolderTree tree(&widget);
        QStringList reads;
        tree.setFolderReadCallback([&](const QString &p) { reads << p; });
        tree.showRoot(dir.path("missing/"));
        QCOMPARE(widget.topLevelItemCount(), 0);
        QCOMPARE(reads, QStringList{dir.path("missing/")}); // the watcher step still runs
    }

    void fileSystemRootPaths()
    {
        QTreeWidget widget;
        FolderTree tree(&widget);
        tree.showRoot("/");
        QVERIFY(widget.topLevelItemCount() > 0);
        QTreeWidgetItem *first = widget.topLevelItem(0);
        QCOMPARE(FolderTree::nodePath("/", first), "/" + first->text(0) + "/");
    }
};

QTEST_MAIN(TestFolderTree)
#include "tst_foldertree.moc"
