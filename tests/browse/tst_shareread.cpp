// Reading folders on a slow share: the list and the tree read on workers,
// show what they know while reading, end as a local reading of the same
// files ends, and drop what a cancelled read finds.
#include "browse/FileListModel.h"
#include "browse/FolderRead.h"
#include "browse/FolderTree.h"

#include "support/SlowShare.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

void writePdfs(const QString &folder, const QString &prefix, int count)
{
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QFile f(QStringLiteral("%1/%2 %3.pdf").arg(folder, prefix).arg(i, 3, 10, QLatin1Char('0')));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("%PDF-1.4\n%%EOF\n").repeated(i + 1));
    }
}

QStringList rowsOf(const FileListModel &model)
{
    QStringList rows;
    for (const FileEntry &e : model.entries())
        rows << e.name + u'|' + e.sizeText + u'|' + e.dateText + u'|' + QString::number(e.isDir);
    return rows;
}

// The tree as text, every node with its has-children flag, children read so far included.
void describe(const QTreeWidgetItem *node, const QString &indent, QStringList &out)
{
    out << indent + node->text(0) + (FolderTree::hasChildrenFlag(node) ? "+" : "");
    for (int i = 0; i < node->childCount(); ++i)
        describe(node->child(i), indent + "  ", out);
}
QStringList treeText(const QTreeWidget &widget)
{
    QStringList out;
    for (int i = 0; i < widget.topLevelItemCount(); ++i)
        describe(widget.topLevelItem(i), QString(), out);
    return out;
}

} // namespace

class TestShareRead : public QObject
{
    Q_OBJECT
private slots:
    // The list keeps the event loop turning while it reads, shows rows as
    // they come, and ends with the rows, order and texts of a local fill.
    void listReadsInTheBackgroundAndEndsAsALocalFill()
    {
        SlowShare share(20);
        if (!share.mountError().isEmpty())
            QSKIP(qPrintable(share.mountError()));
        writePdfs(share.backing(), "Invoice", 80);
        QDir().mkpath(share.backing() + "/folder.pdf"); // a folder named like a PDF is a row too
        QDir().mkpath(share.backing() + "/Client");
        QFile::link(share.backing() + "/Invoice 003.pdf", share.backing() + "/link.pdf");

        FileListModel model;
        QSignalSpy progress(&model, &FileListModel::readProgress);
        QSignalSpy finished(&model, &FileListModel::readFinished);
        int ticksWhileReading = 0;
        QTimer probe;
        probe.setInterval(5);
        connect(&probe, &QTimer::timeout, [&] { ticksWhileReading += model.isReading(); });
        probe.start();

        model.readFolder(share.mountPoint() + "/", QLocale());
        QVERIFY(model.isReading());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
        QVERIFY(!model.isReading());
        // The loop turned while the worker read (a read on this thread allows no tick).
        QVERIFY2(ticksWhileReading >= 5, qPrintable(QString::number(ticksWhileReading)));
        // Rows came in batches: some count between none and all was told.
        bool partial = false;
        for (const auto &args : progress)
            partial = partial || (args.at(0).toInt() > 0 && args.at(0).toInt() < 82);
        QVERIFY(partial);
        QCOMPARE(progress.last().at(0).toInt(), 82);

        FileListModel local;
        local.fillFromFolder(share.backing() + "/", QLocale());
        QCOMPARE(model.rowCount(), 82);
        QCOMPARE(rowsOf(model), rowsOf(local));
    }

    // A sort asked for while reading applies to every row once the read ends.
    void sortDuringReadAppliesToTheWholeFolder()
    {
        SlowShare share(20);
        if (!share.mountError().isEmpty())
            QSKIP(qPrintable(share.mountError()));
        writePdfs(share.backing(), "b", 20);
        writePdfs(share.backing(), "A", 20);
        FileListModel model;
        QSignalSpy finished(&model, &FileListModel::readFinished);
        model.readFolder(share.mountPoint() + "/", QLocale());
        QVERIFY(model.isReading());
        const auto bySizeDescending = [](const FileEntry &a, const FileEntry &b) {
            return b.sizeText.size() != a.sizeText.size() ? int(b.sizeText.size() - a.sizeText.size())
                                                          : b.sizeText.compare(a.sizeText);
        };
        model.sortRows(bySizeDescending);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);

        FileListModel local;
        local.fillFromFolder(share.backing() + "/", QLocale());
        local.sortRows(bySizeDescending);
        QCOMPARE(rowsOf(model), rowsOf(local));
    }

    // Moving to another folder mid-read: nothing the old read finds ever
    // lands, even once its stuck worker comes back.
    void cancelledReadNeverLands()
    {
        SlowShare share(20);
        if (!share.mountError().isEmpty())
            QSKIP(qPrintable(share.mountError()));
        writePdfs(share.backing() + "/old", "old", 40);
        writePdfs(share.backing() + "/new", "new", 3);
        FileListModel model;
        QStringList landed;
        connect(&model, &QAbstractItemModel::rowsInserted, [&](const QModelIndex &, int first, int last) {
            for (int row = first; row <= last; ++row)
                landed << model.caption(row);
        });
        connect(&model, &QAbstractItemModel::modelReset, [&] {
            for (int row = 0; row < model.rowCount(); ++row)
                landed << model.caption(row);
        });

        // A read that has shown rows and goes on, then gets stuck.
        model.readFolder(share.mountPoint() + "/old/", QLocale());
        QTRY_VERIFY_WITH_TIMEOUT(model.rowCount() > 0, 30000);
        QVERIFY(model.isReading());
        share.hang("old");
        landed.clear();
        QSignalSpy finished(&model, &FileListModel::readFinished);
        model.readFolder(share.mountPoint() + "/new/", QLocale());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        share.unhang();
        // Every worker has come back (the hung one too) and had its chance to post.
        QTRY_COMPARE_WITH_TIMEOUT(FolderRead::running(), 0, 60000);
        QCoreApplication::processEvents();
        landed.sort();
        QCOMPARE(landed, (QStringList{"new 000.pdf", "new 001.pdf", "new 002.pdf"}));
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.folder(), share.mountPoint() + "/new/");

        // Cancelled outright: the rows stay, and the end is told as a cancel.
        QSignalSpy cancelled(&model, &FileListModel::readCancelled);
        model.readFolder(share.mountPoint() + "/old/", QLocale());
        QVERIFY(model.isReading());
        model.cancelRead();
        QCOMPARE(cancelled.size(), 1);
        QVERIFY(!model.isReading());
    }

    // The tree: a rebuild returns at once, nodes and their flags come in,
    // and the end state is that of a local tree of the same folders; an
    // opening down to a deep folder goes on as its levels come in.
    void treeReadsInTheBackgroundAndEndsAsALocalTree()
    {
        SlowShare share(20);
        if (!share.mountError().isEmpty())
            QSKIP(qPrintable(share.mountError()));
        for (const char *path : {"Clients/b/deep", "Clients/A", "archive", "Empty", "x.pdf/in"})
            QDir().mkpath(share.backing() + "/" + path);
        writePdfs(share.backing(), "top", 10);

        QTreeWidget widget;
        FolderTree tree(&widget);
        QSignalSpy done(&tree, &FolderTree::readsFinished);
        tree.showRoot(share.mountPoint() + "/");
        QVERIFY(tree.isReading());
        QTreeWidgetItem *reached = tree.openDownTo(share.mountPoint() + "/", {"Clients", "b", "deep"});
        QVERIFY(!reached || reached->text(0) != "deep"); // not there yet
        QTRY_VERIFY_WITH_TIMEOUT(!tree.isReading(), 60000);
        QVERIFY(done.size() >= 1);
        QVERIFY(widget.currentItem());
        QCOMPARE(FolderTree::nodePath(share.mountPoint() + "/", widget.currentItem()),
                 share.mountPoint() + "/Clients/b/deep/");

        QTreeWidget localWidget;
        FolderTree local(&localWidget);
        local.showRoot(share.backing() + "/");
        local.openDownTo(share.backing() + "/", {"Clients", "b", "deep"});
        QVERIFY(!local.isReading());
        QCOMPARE(treeText(widget), treeText(localWidget));
    }

    // A folder that never answers: the list and tree reads of it stay
    // pending, other folders read on, and the reader goes away without
    // waiting for its stuck workers.
    void hungFolderFreezesNothing()
    {
        SlowShare share(0);
        if (!share.mountError().isEmpty())
            QSKIP(qPrintable(share.mountError()));
        writePdfs(share.backing() + "/stuck", "s", 3);
        QDir().mkpath(share.backing() + "/stuck/sub");
        QTemporaryDir local; // on this share a folder stuck at its look-up holds up every look-up beside it
        writePdfs(local.path(), "f", 2);
        share.hang("stuck");
        const int runningBefore = FolderRead::running();
        {
            auto model = std::make_unique<FileListModel>();
            model->readFolder(share.mountPoint() + "/stuck/", QLocale());
            QTreeWidget widget;
            auto tree = std::make_unique<FolderTree>(&widget);
            tree->showRoot(share.mountPoint() + "/stuck/");
            QVERIFY(model->isReading());
            QVERIFY(tree->isReading());

            FileListModel other;
            QSignalSpy finished(&other, &FileListModel::readFinished);
            other.readFolder(local.path() + "/", QLocale());
            QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
            QCOMPARE(other.rowCount(), 2);
            QVERIFY(model->isReading());
            QCOMPARE(model->rowCount(), 0);

            // Gone while their workers are stuck in the kernel: this returns.
            model.reset();
            tree.reset();
        }
        QVERIFY(FolderRead::running() >= runningBefore + 2);
        share.unhang();
        QTRY_COMPARE_WITH_TIMEOUT(FolderRead::running(), runningBefore, 30000);
    }
};

QTEST_MAIN(TestShareRead)
#include "tst_shareread.moc"
