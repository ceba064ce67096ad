// Stepping through the real-world corpus as a user does: Down and Enter in
// the file list.  Each document's first page (or its message) is shown, the
// keyboard focus stays on the list, and the View menu's options stay applied.
#include "app/Unit1.h"
#include "browse/FileListView.h"
#include "viewer/PdfPageView.h"
#include "viewer/TAcroPDF.h"

#include "support/MainWindowFixture.h"

#include <QAbstractItemView>
#include <QAction>
#include <QElapsedTimer>
#include <QtTest>

class TestViewerStepping : public QObject
{
    Q_OBJECT
    MainWindowFixture m_main;

private slots:
    void downAndEnterThroughTheCorpus()
    {
        const QString corpus = qEnvironmentVariable("SHEAFLINE_CORPUS");
        if (corpus.isEmpty() || !QFileInfo(corpus).isDir())
            QSKIP("the PDF corpus is not present");
        QVERIFY(m_main.open({corpus}));
        TForm1 &form = *m_main.form();
        QAbstractItemView *list = form.ListView1->currentView();
        QAbstractItemModel *model = list->model();
        // The list fills itself from the folder given on the command line.
        QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() > 0, 15000);
        form.LayoutMode3->trigger();
        form.ShowToolbar->trigger();
        TAcroPDF *acro = form.AcroPDF;
        list->setFocus();
        list->setCurrentIndex(model->index(0, 0));
        QSignalSpy shown(acro, &TAcroPDF::documentShown);
        QElapsedTimer budget;
        budget.start();
        int stepped = 0;
        for (int row = 0; row < model->rowCount() && budget.elapsed() < 120000; ++row) {
            if (row > 0)
                QTest::keyClick(list, Qt::Key_Down);
            QCOMPARE(list->currentIndex().row(), row);
            shown.clear();
            QTest::keyClick(list, Qt::Key_Return);
            const QString path = form.StatusPanelText(2) + model->index(row, 0).data().toString();
            if (!QFileInfo(path).isFile())
                continue; // a folder named like a PDF
            QCOMPARE(acro->src(), path);
            QTRY_VERIFY2_WITH_TIMEOUT(!shown.isEmpty(), qPrintable(path), 30000);
            QVERIFY2(list->hasFocus(), qPrintable(path));
            // The measured page sizes of a document opened without preparation
            // may lay it out anew just after: the page is then drawn again.
            QTRY_VERIFY2_WITH_TIMEOUT(acro->showsMessage() || acro->pageView()->pageShownSharp(0), qPrintable(path),
                                      30000);
            QCOMPARE(acro->pageView()->layoutMode(), PageLayout::Mode::OneColumn);
            QVERIFY(acro->toolbar()->isVisible());
            ++stepped;
        }
        qInfo("%d documents stepped through in %lld ms", stepped, budget.elapsed());
        QVERIFY(stepped > 0);
    }
};

QTEST_MAIN(TestViewerStepping)
#include "tst_viewerstepping.moc"
