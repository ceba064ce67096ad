// A PDF from outside the window: as the first argument, handed over by a
// second start, dropped from a file manager.  It is shown among its
// neighbours with the list holding the keyboard, the tree keeps its root when
// the PDF lies below it, and nothing of it reaches the stored root folder.
#include "app/Unit1.h"
#include "browse/FileListView.h"
#include "viewer/TAcroPDF.h"

#include "support/MainWindowFixture.h"
#include "support/ModalHelper.h"
#include "support/PdfFixtures.h"

#include <QMimeData>
#include <QSettings>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

class tst_OpenWindow : public QObject
{
    Q_OBJECT

    MainWindowFixture m_main;
    QString top; // the case's folder tree, trailing delimiter

    QString storedFolder()
    {
        QSettings s(m_main.settings().confPath(), QSettings::IniFormat);
        return s.value("Folder").toString();
    }

    // The tree's current node as a path of names.
    static QStringList currentTreePath(const TForm1 &form)
    {
        QStringList names;
        for (const QTreeWidgetItem *n = form.TreeView1->currentItem(); n; n = n->parent())
            names.prepend(n->text(0));
        return names;
    }

    // Each document is the one the viewer shows once it is on screen.
    static bool shows(const TForm1 &form, const QString &path)
    {
        return form.CurrentDocument == path && form.AcroPDF && form.AcroPDF->src() == path
            && form.ListView1->selectedPath() == path;
    }

private slots:
    void init()
    {
        // root/: a.pdf; root/sub/deep/: c1.pdf, c2.pdf, c3.pdf; outside/: o1.pdf, o2.pdf; notes.txt
        m_main.reset();
        TestDir &dir = m_main.dir();
        top = dir.path() + "/";
        for (const char *name : {"root/a.pdf", "root/sub/deep/c1.pdf", "root/sub/deep/c2.pdf", "root/sub/deep/c3.pdf",
                                 "outside/o1.pdf", "outside/o2.pdf"}) {
            dir.mkdir(QFileInfo(dir.path(name)).path().mid(top.size()));
            QVERIFY(PdfFixtures::writeSimplePdf(dir.path(name)));
        }
        dir.mkdir("root/other");
        dir.writeFile("notes.txt", "text");
        QVERIFY(m_main.settings().writeConf(("[General]\nFolder=" + top + "root\n").toUtf8()));
    }
    void cleanup() { m_main.close(); }

    void pdfArgument_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QString>("root");
        QTest::addColumn<QStringList>("treePath");
        QTest::addColumn<QString>("next"); // after Down, Enter
        QTest::newRow("below the stored root") << "root/sub/deep/c2.pdf" << "root/" << QStringList{"sub", "deep"}
                                               << "root/sub/deep/c3.pdf";
        QTest::newRow("outside it") << "outside/o1.pdf" << "outside/" << QStringList() << "outside/o2.pdf";
    }

    void pdfArgument()
    {
        QFETCH(QString, arg);
        QFETCH(QString, root);
        QFETCH(QStringList, treePath);
        QFETCH(QString, next);
        TForm1 *form = m_main.open({top + arg});
        QVERIFY(form);
        QCOMPARE(form->FRootFolder, top + root);
        QCOMPARE(currentTreePath(*form), treePath);
        QCOMPARE(form->StatusPanelText(2), QFileInfo(top + arg).path() + "/");
        QVERIFY(shows(*form, top + arg));
        QVERIFY(form->UnusableArgument.isEmpty());
        // The keyboard is on the list: the neighbour is two key presses away.
        QTRY_COMPARE(QApplication::focusWidget(), form->ListView1->currentView());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(shows(*form, top + next));
        // The stored root stays what it was.
        m_main.close();
        QCOMPARE(storedFolder(), top + "root");
    }

    void unusableArgumentIsKeptForTheReport_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::newRow("missing") << "root/gone.pdf";
        QTest::newRow("not a PDF") << "notes.txt";
    }

    // The window opens as it would without the argument.
    void unusableArgumentIsKeptForTheReport()
    {
        QFETCH(QString, arg);
        TForm1 *form = m_main.create({top + arg});
        QCOMPARE(form->UnusableArgument, top + arg);
        QCOMPARE(form->FRootFolder, top + "root/");
        QCOMPARE(form->CurrentDocument, QString());
        ModalAnswerer answerer(ModalAnswerer::clickInOrder({}));
        form->ShowUnusablePath(form->UnusableArgument);
        QCOMPARE(answerer.seen.size(), 1);
        QVERIFY(answerer.seen.at(0).text.contains(top + arg));
    }

    // A second start's request: a PDF below the present root keeps the tree,
    // one outside roots it at its folder, a folder becomes the root; the
    // stored root never changes; the list has the keyboard after each.
    void handOver()
    {
        TForm1 *form = m_main.open({});
        QVERIFY(form);
        QCOMPARE(form->FRootFolder, top + "root/");
        QTreeWidgetItem *firstNode = form->TreeView1->topLevelItem(0);

        form->OpenHandedOver({top + "root/sub/deep/c3.pdf"});
        QVERIFY(shows(*form, top + "root/sub/deep/c3.pdf"));
        QCOMPARE(form->FRootFolder, top + "root/");
        QCOMPARE(form->TreeView1->topLevelItem(0), firstNode); // opened, not rebuilt
        QCOMPARE(currentTreePath(*form), (QStringList{"sub", "deep"}));
        QTRY_COMPARE(QApplication::focusWidget(), form->ListView1->currentView());

        form->OpenHandedOver({top + "outside/o2.pdf"});
        QVERIFY(shows(*form, top + "outside/o2.pdf"));
        QCOMPARE(form->FRootFolder, top + "outside/");

        form->OpenHandedOver({top + "root/sub"});
        QCOMPARE(form->FRootFolder, top + "root/sub/");
        QCOMPARE(form->StatusPanelText(2), top + "root/sub/");
        QCOMPARE(form->CurrentDocument, top + "outside/o2.pdf"); // shown until the user picks another

        {
            ModalAnswerer answerer(ModalAnswerer::clickInOrder({}));
            form->OpenHandedOver({top + "notes.txt"});
            QCOMPARE(answerer.seen.size(), 1);
            QVERIFY(answerer.seen.at(0).text.contains(top + "notes.txt"));
        }
        QCOMPARE(form->FRootFolder, top + "root/sub/");
        m_main.close();
        QCOMPARE(storedFolder(), top + "root");
    }

    void drop_data()
    {
        QTest::addColumn<QStringList>("items"); // below the case's tree, or whole URLs
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a PDF") << QStringList{"outside/o2.pdf"} << true << "outside/o2.pdf";
        QTest::newRow("text first, then a PDF") << QStringList{"notes.txt", "root/a.pdf"} << true << "root/a.pdf";
        QTest::newRow("only text") << QStringList{"notes.txt"} << false << "";
        QTest::newRow("not a local file") << QStringList{"https://example.org/a.pdf"} << false << "";
    }

    // What a file manager drops on the window, as Qt hands it over.
    void drop()
    {
        QFETCH(QStringList, items);
        QFETCH(bool, accepted);
        QFETCH(QString, shown);
        QList<QUrl> urls;
        for (const QString &item : items)
            urls << (item.contains("://") ? QUrl(item) : QUrl::fromLocalFile(top + item));
        TForm1 *form = m_main.open({});
        QVERIFY(form);
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = form->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        if (!accepted)
            return;
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form, &drop);
        QVERIFY(drop.isAccepted());
        QVERIFY(shows(*form, top + shown));
    }
};

QTEST_MAIN(tst_OpenWindow)
#include "tst_openwindow.moc"
