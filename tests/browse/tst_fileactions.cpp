// Opening with the associated application, and the folder picker.
#include "browse/FileActions.h"
#include "browse/FolderPicker.h"

#include "support/TestDir.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QTest>
#include <QTimer>

class TestFileActions : public QObject
{
    Q_OBJECT
private slots:
    void openWith_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("launcherStarts");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("ok");
        QTest::newRow("file, launcher starts") << "doc.pdf" << true << true << true;
        QTest::newRow("file, no application") << "doc.pdf" << false << true << false;
        QTest::newRow("folder named like a PDF") << "old.pdf" << true << true << true;
        QTest::newRow("file gone") << "gone.pdf" << true << false << false;
        QTest::newRow("no path") << "" << true << false << false;
    }
    void openWith()
    {
        QFETCH(QString, entry);
        QFETCH(bool, launcherStarts);
        QFETCH(bool, asked);
        QFETCH(bool, ok);
        TestDir dir;
        dir.writeFile("doc.pdf", "x");
        dir.mkdir("old.pdf");
        QList<QUrl> urls;
        const auto opener = [&](const QUrl &url) {
            urls << url;
            return launcherStarts;
        };
        const QString path = entry.isEmpty() ? QString() : dir.path() + "/" + entry;
        QCOMPARE(FileActions::openWithAssociatedApp(path, opener), ok);
        QCOMPARE(urls, asked ? QList<QUrl>{QUrl::fromLocalFile(path)} : QList<QUrl>{});
    }

    void pickerSetup()
    {
        TestDir dir;
        dir.mkdir("start/inner");
        QWidget owner;
        QFileDialog *d = FolderPicker::create(&owner, dir.path("start"));
        QCOMPARE(d->windowTitle(), "検索フォルダ指定");
        QCOMPARE(QDir(d->directory()).canonicalPath(), QDir(dir.path("start")).canonicalPath());
        QCOMPARE(d->fileMode(), QFileDialog::Directory);
        QVERIFY(d->testOption(QFileDialog::ShowDirsOnly));
        QVERIFY(d->testOption(QFileDialog::ReadOnly));
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        auto *newFolder = d->findChild<QAbstractButton *>("newFolderButton");
        QVERIFY(newFolder);
        QVERIFY(!newFolder->isVisible());
        delete d;
    }

    void pickerCancelAndChoose()
    {
        TestDir dir;
        dir.mkdir("start/inner");
        QWidget owner;
        // Cancel gives nothing.
        QTimer::singleShot(50, &owner, [] {
            if (auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
                d->reject();
        });
        QCOMPARE(FolderPicker::pick(&owner, dir.path("start")), QString());
        // Choosing gives the folder.
        QTimer::singleShot(50, &owner, [&] {
            if (auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                d->setDirectory(dir.path("start/inner"));
                QMetaObject::invokeMethod(d, "accept");
            }
        });
        QCOMPARE(QDir(FolderPicker::pick(&owner, dir.path("start"))).canonicalPath(),
                 QDir(dir.path("start/inner")).canonicalPath());
    }
};

QTEST_MAIN(TestFileActions)
#include "tst_fileactions.moc"
