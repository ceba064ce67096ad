// The main window over a slow share: it shows at once, answers while a
// folder is read (the status bar telling of the read), ends as a local
// reading ends, and closes without waiting for a folder that hangs.
#include "app/Unit1.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"
#include "browse/FolderRead.h"
#include "browse/FolderTree.h"

#include "support/MainWindowFixture.h"
#include "support/SlowShare.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

namespace {

void writePdfs(const QString &folder, int count)
{
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QFile f(QStringLiteral("%1/Doc %2.pdf").arg(folder).arg(i, 3, 10, QLatin1Char('0')));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4\n%%EOF\n");
    }
}

QStringList captions(FileListModel *model)
{
    QStringList out;
    for (int row = 0; row < model->rowCount(); ++row)
        out << model->caption(row);
    return out;
}

} // namespace

class TestShareWindow : public QObject
{
    Q_OBJECT
    MainWindowFixture m_fixture;

private slots:
    void windowAnswersWhileReadingAndEndsAsALocalFill()
    {
        SlowShare share(20);
        if (!share.mountError().isEmpty())
            QSKIP(qPrintable(share.mountError()));
        writePdfs(share.backing(), 60);
        QDir().mkpath(share.backing() + "/Client");
        const QString root = share.mountPoint() + "/";

        TForm1 *form = m_fixture.create({share.mountPoint()});
        QVERIFY(form);
        FileListModel *model = form->ListView1->model();
        QVERIFY(model->isReading());
        QCOMPARE(form->CurrentFolder, root);
        // Each word of the read, as the list grows: exactly the rows known.
        QStringList told;
        connect(model, &FileListModel::readProgress, form, [&](int rows) {
            told << form->StatusBar1->currentMessage();
            QCOMPARE(form->StatusBar1->currentMessage(), QStringLiteral("読み込み中… %1 件").arg(rows));
        });
        QVERIFY(QRegularExpression(QStringLiteral("^読み込み中… \\d+ 件$"))
                    .match(form->StatusBar1->currentMessage())
                    .hasMatch());

        // A user's action is handled while the folder is read.
        form->N11Click(form->N11);
        QCOMPARE(form->ListView1->viewStyle(), FileListView::ViewStyle::LargeIcon);
        QVERIFY(model->isReading());

        QTRY_VERIFY_WITH_TIMEOUT(!model->isReading(), 60000);
        QVERIFY(!told.isEmpty());
        // Back to what the status bar showed before.
        QCOMPARE(form->StatusBar1->currentMessage(), QString());
        QCOMPARE(form->StatusPanelText(2), root);
        FileListModel local;
        local.fillFromFolder(share.backing() + "/", QLocale());
        QCOMPARE(captions(model), captions(&local));
        QTRY_VERIFY_WITH_TIMEOUT(form->TreeView1->topLevelItemCount() == 1, 30000);
        m_fixture.close();
    }

    // A PDF named on the command line inside the share: its row is selected
    // once the folder is read, as the synchronous fill selected it.
    void documentRowSelectedOnceRead()
    {
        SlowShare share(20);
        if (!share.mountError().isEmpty())
            QSKIP(qPrintable(share.mountError()));
        writePdfs(share.backing() + "/In", 30);
        TForm1 *form = m_fixture.create({share.mountPoint() + "/In/Doc 017.pdf"});
        FileListModel *model = form->ListView1->model();
        QTRY_VERIFY_WITH_TIMEOUT(!model->isReading(), 60000);
        QCOMPARE(form->ListView1->selectedPath(), share.mountPoint() + "/In/Doc 017.pdf");
        m_fixture.close();
    }

    // A folder whose reads never return: the window goes on answering, other
    // folders list, and closing the window does not wait for the stuck reads.
    void hungFolderFreezesNothing()
    {
        SlowShare share(0);
        if (!share.mountError().isEmpty())
            QSKIP(qPrintable(share.mountError()));
        writePdfs(share.backing() + "/stuck", 3);
        QDir().mkpath(share.backing() + "/stuck/inner/deeper");

        const int runningBefore = FolderRead::running();

        TForm1 *form = m_fixture.create({share.mountPoint()});
        QTRY_VERIFY_WITH_TIMEOUT(!form->ListView1->model()->isReading(), 30000);
        share.hang("stuck");
        form->ListPdfFiles(share.mountPoint() + "/stuck/");
        QTreeWidgetItem *stuck = nullptr;
        for (int i = 0; i < form->TreeView1->topLevelItemCount(); ++i)
            if (form->TreeView1->topLevelItem(i)->text(0) == "stuck")
                stuck = form->TreeView1->topLevelItem(i);
        QVERIFY(stuck);
        stuck->setExpanded(true); // its read hangs too
        FileListModel *model = form->ListView1->model();
        QVERIFY(model->isReading());
        QCOMPARE(form->StatusBar1->currentMessage(), QStringLiteral("読み込み中… 0 件"));

        // The event loop turns and another folder lists (a local one: on this
        // share a folder stuck at its look-up holds up every look-up beside it).
        writePdfs(m_fixture.dir().path("fine"), 2);
        QSignalSpy finished(model, &FileListModel::readFinished);
        form->ListPdfFiles(m_fixture.dir().path("fine") + "/");
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(form->StatusBar1->currentMessage(), QString());

        // Back to the stuck folder, then close while it hangs.
        form->ListPdfFiles(share.mountPoint() + "/stuck/");
        QVERIFY(model->isReading());
        m_fixture.close();
        QVERIFY(!m_fixture.form());
        QVERIFY(FolderRead::running() > runningBefore);
        share.unhang();
        QTRY_COMPARE_WITH_TIMEOUT(FolderRead::running(), runningBefore, 30000);
    }
};

QTEST_MAIN(TestShareWindow)
#include "tst_sharewindow.moc"
