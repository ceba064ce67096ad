// Browsing through the real main window: tree, list, keys, menus, rename,
// open-with and the folder picker, on real folders.
#include "app/SysUpdate.h"
#include "app/Unit1.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"
#include "browse/RenameF.h"
#include "viewer/PdfRenderService.h"
#include "viewer/TAcroPDF.h"

#include "support/MainWindowFixture.h"
#include "support/ModalHelper.h"
#include "support/QueuedSpy.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <memory>

#include "watch/plFolderWatcher.h"

namespace {

QStringList captions(TForm1 *f)
{
    QStringList names;
    for (const FileEntry &e : f->ListView1->model()->entries())
        names << e.name;
    return names;
}

QTreeWidgetItem *topNode(TForm1 *f, const QString &text)
{
    const auto found = f->TreeView1->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

int rowOf(TForm1 *f, const QString &name)
{
    return captions(f).indexOf(name);
}

} // namespace

class TestForm1Browse : public QObject
{
    Q_OBJECT

    MainWindowFixture m_main;
    TestDir *dir = nullptr;
    QPointer<TForm1> form;
    QString root;

private slots:
    void init()
    {
        // root: b.pdf (2 KiB), A.pdf (10 KiB), c.PDF, notes.txt; Invoices/2019/x.pdf; Empty/
        m_main.reset();
        dir = &m_main.dir();
        dir->writeFile("b.pdf", QByteArray(2000, 'b'));
        dir->writeFile("A.pdf", QByteArray(10 * 1024, 'A'));
        dir->writeFile("c.PDF", "c");
        dir->writeFile("notes.txt", "n");
        dir->writeFile("Invoices/inv2.pdf", "i");
        dir->writeFile("Invoices/inv1.pdf", "i");
        dir->writeFile("Invoices/2019/x.pdf", "x");
        dir->mkdir("Empty");
        QVERIFY(dir->setModified("b.pdf", QDateTime(QDate(2024, 1, 1), QTime(10, 0))));
        QVERIFY(dir->setModified("A.pdf", QDateTime(QDate(2022, 1, 1), QTime(10, 0))));
        QVERIFY(dir->setModified("c.PDF", QDateTime(QDate(2023, 1, 1), QTime(10, 0))));
        root = dir->path() + "/";
        form = m_main.open({dir->path()});
        QVERIFY(form);
    }
    void cleanup()
    {
        m_main.close();
    }

    void startUpShowsRootTreeAndList()
    {
        QCOMPARE(form->FRootFolder, root);
        QCOMPARE(form->StatusPanelText(2), root);
        QCOMPARE(form->TreeView1->topLevelItemCount(), 2);
        QVERIFY(topNode(form.get(), "Invoices")->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator);
        QVERIFY(topNode(form.get(), "Empty")->childIndicatorPolicy() != QTreeWidgetItem::ShowIndicator);
        QCOMPARE(captions(form.get()), (QStringList{"A.pdf", "b.pdf", "c.PDF"}));
        QCOMPARE(form->GetNodePath(topNode(form.get(), "Invoices")), root + "Invoices/");
    }

    void expandingFillsOnceAndDoubleClickLists()
    {
        QTreeWidgetItem *invoices = topNode(form.get(), "Invoices");
        form->TreeView1->expandItem(invoices); // the before-expansion handler runs
        QCOMPARE(invoices->childCount(), 1);
        QCOMPARE(invoices->child(0)->text(0), "2019");
        QCOMPARE(form->GetNodePath(invoices->child(0)), root + "Invoices/2019/");

        // Double click on a node: its folder, by name descending.
        form->TreeView1->setCurrentItem(invoices);
        const QRect r = form->TreeView1->visualItemRect(invoices);
        QTest::mouseClick(form->TreeView1->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(form->TreeView1->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(form->StatusPanelText(2), root + "Invoices/");
        QCOMPARE(captions(form.get()), (QStringList{"inv2.pdf", "inv1.pdf"}));
        QVERIFY(form->cursor().shape() != Qt::WaitCursor);

        // With no node selected only the present list is re-sorted.
        form->TreeView1->clearSelection();
        form->ListPdfFiles(root);
        form->TreeView1DblClick(form->TreeView1);
        QCOMPARE(form->StatusPanelText(2), root);
        QCOMPARE(captions(form.get()), (QStringList{"c.PDF", "b.pdf", "A.pdf"}));
    }

    void watcherCoversTheRootWhateverIsExpanded()
    {
        QVERIFY(form->plFolderWatcher);
        QCOMPARE(form->plFolderWatcher->Directory(), root);
        QVERIFY(form->plFolderWatcher->isWatching());
        QVERIFY(form->plFolderWatcher->Recursive());
        // Filling a node leaves the watch on the root's whole sub-tree.
        form->TreeView1->expandItem(topNode(form.get(), "Invoices"));
        QCOMPARE(topNode(form.get(), "Invoices")->childCount(), 1);
        QCOMPARE(form->plFolderWatcher->Directory(), root);
        QVERIFY(form->plFolderWatcher->isWatching());
    }

    void enterAndDoubleClickOpen_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::addColumn<int>("style");
        QTest::newRow("Enter, report") << true << int(FileListView::ViewStyle::Report);
        QTest::newRow("Enter, large icons") << true << int(FileListView::ViewStyle::LargeIcon);
        QTest::newRow("double click, report") << false << int(FileListView::ViewStyle::Report);
        QTest::newRow("double click, small icons") << false << int(FileListView::ViewStyle::SmallIcon);
    }
    void enterAndDoubleClickOpen()
    {
        QFETCH(bool, byKey);
        QFETCH(int, style);
        form->ListView1->setViewStyle(FileListView::ViewStyle(style));
        QAbstractItemView *view = form->ListView1->currentView();
        form->ListView1->setFocus();
        QTRY_VERIFY(view->hasFocus());
        form->Timer1->stop();

        // Nothing selected: nothing opens.
        form->ListView1->selectRow(-1);
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(form->StatusPanelText(1), QString());
        QVERIFY(!form->Timer1->isActive());

        const int row = rowOf(form.get(), "b.pdf");
        if (byKey) {
            form->ListView1->selectRow(row);
            QTest::keyClick(view, Qt::Key_Return, Qt::ControlModifier);
        } else {
            const QRect r = view->visualRect(form->ListView1->model()->index(row, 0));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, r.center());
        }
        QCOMPARE(form->StatusPanelText(1), root + "b.pdf");
        QVERIFY(form->Timer1->isActive()); // ReadPDF ran
        QVERIFY(view->hasFocus());

        // Arrow down and Enter opens the next file.
        QTest::keyClick(view, style == int(FileListView::ViewStyle::Report) ? Qt::Key_Down
                                                                                     : Qt::Key_Right);
        QTest::keyClick(view, Qt::Key_Enter);
        QCOMPARE(form->StatusPanelText(1), root + "c.PDF");
    }

    void firstDownSelectsTheFirstFile_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("fill"); // what filled the list last
        QTest::newRow("start-up fill, report") << int(FileListView::ViewStyle::Report) << "start-up";
        QTest::newRow("refill after a selection, report") << int(FileListView::ViewStyle::Report) << "refill";
        QTest::newRow("refill, small icons") << int(FileListView::ViewStyle::SmallIcon) << "refill";
        QTest::newRow("tree double click, large icons") << int(FileListView::ViewStyle::LargeIcon) << "tree";
        QTest::newRow("refill, thumbnails") << int(FileListView::ViewStyle::Thumbnail) << "refill";
    }
    void firstDownSelectsTheFirstFile()
    {
        QFETCH(int, style);
        QFETCH(QString, fill);
        form->ListView1->setViewStyle(FileListView::ViewStyle(style));
        QAbstractItemView *view = form->ListView1->currentView();
        if (fill == "refill") {
            form->ListView1->selectRow(rowOf(form.get(), "c.PDF"));
            form->ListPdfFiles(root);
        } else if (fill == "tree") {
            form->ListPdfFiles(root + "Invoices/");
            form->ListView1->selectRow(1);
            form->TreeView1->clearSelection();
            form->ShowRootFolder(root);
        }
        // The keyboard comes back to the list, as after any command.
        form->TreeView1->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(form->TreeView1->hasFocus());
        form->ListView1->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(view->hasFocus());
        QCOMPARE(captions(form.get()), (QStringList{"A.pdf", "b.pdf", "c.PDF"}));
        QVERIFY(!view->currentIndex().isValid());
        QCOMPARE(form->ListView1->selectedRow(), -1);
        QVERIFY(view->selectionModel()->selectedIndexes().isEmpty());

        QVERIFY(form->AcroPDF);
        QueuedSpy prepared(form->AcroPDF->renderService(), &PdfRenderService::prepared);
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->currentIndex().row(), 0);
        QCOMPARE(form->ListView1->selectedRow(), 0);
        // Its preparation starts at once.
        QTRY_VERIFY(std::any_of(prepared.cbegin(), prepared.cend(),
                                [&](const QList<QVariant> &args) { return args.at(0).toString() == root + "A.pdf"; }));
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(form->StatusPanelText(1), root + "A.pdf");
    }

    void columnClicksSortDescendingByText()
    {
        QHeaderView *header = form->ListView1->reportView()->header();
        auto clickColumn = [&](int c) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(c) + 5, header->height() / 2));
        };
        clickColumn(1); // sizes as text: 2kb above 10kb
        QCOMPARE(captions(form.get()), (QStringList{"b.pdf", "c.PDF", "A.pdf"}));
        clickColumn(2); // newest first
        QCOMPARE(captions(form.get()), (QStringList{"b.pdf", "c.PDF", "A.pdf"}));
        clickColumn(0);
        QCOMPARE(captions(form.get()), (QStringList{"c.PDF", "b.pdf", "A.pdf"}));
        clickColumn(0); // no toggle
        QCOMPARE(captions(form.get()), (QStringList{"c.PDF", "b.pdf", "A.pdf"}));
        QVERIFY(!header->isSortIndicatorShown());
    }

    void popupMenuAndViewStyles()
    {
        form->N1->setEnabled(true);
        QTimer::singleShot(0, form->PopupMenu1, [this] { form->PopupMenu1->close(); });
        form->PopupMenu1->exec(form->ListView1->mapToGlobal(QPoint(10, 10)));
        QVERIFY(!form->N1->isEnabled());

        form->N8->trigger();
        QCOMPARE(form->ListView1->viewStyle(), FileListView::ViewStyle::SmallIcon);
        form->N11->trigger();
        QCOMPARE(form->ListView1->viewStyle(), FileListView::ViewStyle::LargeIcon);
        form->ListPdfFiles(root); // a fill keeps the style
        QCOMPARE(form->ListView1->viewStyle(), FileListView::ViewStyle::LargeIcon);
        form->N10->trigger();
        QCOMPARE(form->ListView1->viewStyle(), FileListView::ViewStyle::Report);
    }

    void renameConfirmFailAndCancel_data()
    {
        QTest::addColumn<QString>("typed");   // empty: cancel
        QTest::addColumn<QString>("newName"); // name expected on disk afterwards
        QTest::addColumn<QString>("message"); // message box text, empty for none
        QTest::newRow("new.txt becomes new.pdf") << "new.txt" << "new.pdf" << "";
        QTest::newRow("onto an existing file") << "A.txt" << "b.pdf" << "ファイル名の変更に失敗しました";
        QTest::newRow("cancel") << "" << "b.pdf" << "";
    }
    void renameConfirmFailAndCancel()
    {
        QFETCH(QString, typed);
        QFETCH(QString, newName);
        QFETCH(QString, message);
        form->SetCurrentDocument(root + "c.PDF");
        form->ListView1->selectRow(rowOf(form.get(), "b.pdf"));
        dir->writeFile("late.pdf", "appears only after a refill");
        form->Timer1->stop();

        QString seenFrom;
        QStringList seenMessages;
        ModalAnswerer modals([&](QWidget *modal) {
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                seenMessages << box->text();
                box->done(0);
            } else if (auto *dlg = qobject_cast<TRenameForm *>(modal)) {
                seenFrom = dlg->FromFilename->text();
                if (typed.isEmpty()) {
                    dlg->BitBtn2->click();
                    return;
                }
                dlg->ToFilename->setText(typed);
                dlg->BitBtn1->click();
            }
        });
        form->N26->trigger();

        QCOMPARE(seenFrom, "b.pdf");
        QCOMPARE(seenMessages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(QFile::exists(dir->path(newName)), true);
        if (newName != "b.pdf")
            QVERIFY(!QFile::exists(dir->path("b.pdf")));
        QCOMPARE(QFile(dir->path("A.pdf")).size(), 10 * 1024); // never replaced
        QCOMPARE(QFile(dir->path(newName)).size(), 2000);
        // Refilled in ascending order in every case; the document path is kept.
        QVERIFY(captions(form.get()).contains("late.pdf"));
        QStringList sorted = captions(form.get());
        QCOMPARE(sorted.first(), "A.pdf");
        QCOMPARE(form->StatusPanelText(1), root + "c.PDF");
        QCOMPARE(form->Timer1->isActive(), !typed.isEmpty()); // ReadPDF only after confirming
    }

    // F2 on the list renames the current file; Enter in the dialog confirms.
    void f2RenamesTheCurrentFile()
    {
        QAbstractItemView *view = form->ListView1->currentView();
        form->ListView1->setFocus();
        QTRY_VERIFY(view->hasFocus());
        form->Timer1->stop();
        form->ListView1->selectRow(rowOf(form.get(), "b.pdf"));
        QString seenFrom;
        ModalAnswerer modals([&](QWidget *modal) {
            auto *dlg = qobject_cast<TRenameForm *>(modal);
            if (!dlg) {
                modal->close();
                return;
            }
            seenFrom = dlg->FromFilename->text();
            dlg->ToFilename->setText("renamed");
            QTest::keyClick(dlg->ToFilename, Qt::Key_Return);
        });
        QTest::keyClick(view, Qt::Key_F2);
        QTRY_COMPARE(modals.seen.size(), 1);
        QCOMPARE(modals.seen.first().title, "ファイル名の変更");
        QCOMPARE(seenFrom, "b.pdf");
        QTRY_VERIFY(QFile::exists(dir->path("renamed.pdf")));
        QVERIFY(!QFile::exists(dir->path("b.pdf")));
        QTRY_VERIFY(captions(form.get()).contains("renamed.pdf"));

        // With no file selected F2 opens nothing.
        form->ListView1->selectRow(-1);
        QTest::keyClick(view, Qt::Key_F2);
        QCoreApplication::processEvents();
        QCOMPARE(modals.seen.size(), 1);
    }

    void renameWithoutSelectionDoesNothing()
    {
        form->ListView1->selectRow(-1);
        // The dialog would be modal: it would have come and gone inside the call.
        ModalAnswerer modals;
        form->N26Click(form->N26);
        QCOMPARE(modals.seen.size(), 0);
    }

    void openWithFailureWarns()
    {
        form->ListView1->selectRow(rowOf(form.get(), "b.pdf"));
        QVERIFY(QFile::remove(dir->path("b.pdf"))); // gone since it was listed
        ModalAnswerer modals;
        form->N24->trigger();
        QCOMPARE(modals.seen.size(), 1);
        QCOMPARE(modals.seen.first().text, "起動に失敗しました");
    }

    void openFolderPicker()
    {
        TestDir other;
        other.mkdir("sub");
        other.writeFile("z.pdf", "z");
        // Cancel changes nothing.
        QString startedAt;
        {
            ModalAnswerer cancel([&](QWidget *modal) {
                auto *d = qobject_cast<QFileDialog *>(modal);
                if (d)
                    startedAt = d->directory().absolutePath();
                modal->close();
            });
            form->N13->trigger();
            QCOMPARE(cancel.seen.size(), 1);
        }
        QCOMPARE(QDir(startedAt).canonicalPath(), QDir(QCoreApplication::applicationDirPath()).canonicalPath());
        QCOMPARE(form->FRootFolder, root);

        ModalAnswerer choose([&](QWidget *modal) {
            auto *d = qobject_cast<QFileDialog *>(modal);
            if (!d) {
                modal->close();
                return;
            }
            d->setDirectory(other.path());
            QMetaObject::invokeMethod(d, "accept");
        });
        form->N13->trigger();
        QCOMPARE(choose.seen.size(), 1);
        QCOMPARE(choose.seen.first().title, "検索フォルダ指定");
        QCOMPARE(QDir(form->FRootFolder).canonicalPath(), QDir(other.path()).canonicalPath());
        QVERIFY(form->FRootFolder.endsWith('/'));
        QCOMPARE(form->StatusPanelText(2), form->FRootFolder);
        QCOMPARE(form->TreeView1->topLevelItemCount(), 1);
        QCOMPARE(captions(form.get()), QStringList{"z.pdf"});
        QCOMPARE(form->SysUpdateModule->RegistryReadString("Folder", QString()), form->FRootFolder);
    }
};

QTEST_MAIN(TestForm1Browse)
#include "tst_form1browse.moc"
