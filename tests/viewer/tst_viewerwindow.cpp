// The view control inside the main window, end to end: created at start-up
// with the help document shown, documents shown through ReadPDF with the
// View menu's options applied and kept, the display reset, the focus rule
// with the real document surface, preparation as the list selection moves,
// and the file let go of at shutdown.
#include "app/Unit1.h"
#include "browse/FileListView.h"
#include "viewer/PdfPageView.h"
#include "viewer/TAcroPDF.h"

#include "ViewerFixtures.h"
#include "support/MainWindowFixture.h"
#include "support/PdfFixtures.h"
#include "support/QueuedSpy.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

class TestViewerWindow : public QObject
{
    Q_OBJECT
    MainWindowFixture m_main;
    TForm1 *m_form = nullptr;

    QWidget *listFocus() const { return m_form->ListView1->currentView(); }

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(QCoreApplication::applicationDirPath() + "/Readme.pdf"));
        QVERIFY(PdfFixtures::writeSimplePdf(m_main.dir().path("docs/a.pdf"), 3));
        QVERIFY(PdfFixtures::writeOutlinedPdf(m_main.dir().path("docs/b.pdf"), 4));
        QVERIFY(PdfFixtures::writeSimplePdf(m_main.dir().path("docs/c.pdf"), 2));
    }

    void init()
    {
        m_form = m_main.open({m_main.dir().path("docs")});
        QVERIFY(m_form);
    }

    void cleanup()
    {
        m_main.close();
        m_form = nullptr;
    }

    void startupShowsHelpInTheViewControl()
    {
        TAcroPDF *acro = m_form->AcroPDF;
        QVERIFY(acro);
        QVERIFY(acro->isVisible());
        QVERIFY(m_form->ViewerArea->isAncestorOf(acro));
        QCOMPARE(acro->src(), QCoreApplication::applicationDirPath() + "/Readme.pdf");
        QTRY_VERIFY(acro->pageView()->document().pageCount() >= 1);
        QVERIFY(m_form->StatusPanelText(1).isEmpty()); // the help leaves the current document alone
        QVERIFY(listFocus()->hasFocus());
    }

    void optionsReachTheControlBeforeTheWindowShows()
    {
        // Start-up shows the help document before the window is visible.
        m_form = m_main.create({m_main.dir().path("docs")});
        QVERIFY(!m_form->isVisible());
        m_form->LayoutMode3->trigger();
        m_form->ShowToolbar->trigger();
        QCOMPARE(m_form->AcroPDF->pageView()->layoutMode(), PageLayout::Mode::OneColumn);
        QVERIFY(m_form->AcroPDF->toolbar()->isVisibleTo(m_form->AcroPDF));
        // Hidden by itself, the control is out of reach: only the toolbar's mark moves.
        m_form->AcroPDF->hide();
        m_form->LayoutMode5->trigger();
        m_form->ShowToolbar->trigger();
        QVERIFY(m_form->LayoutMode3->isChecked());
        QVERIFY(!m_form->ShowToolbar->isChecked());
        QVERIFY(m_form->AcroPDF->toolbar()->isVisibleTo(m_form->AcroPDF));
    }

    void optionsApplyAndStayForTheNextDocument()
    {
        TAcroPDF *acro = m_form->AcroPDF;
        m_form->ReadPDF(m_main.dir().path("docs/a.pdf"));
        QCOMPARE(acro->src(), m_main.dir().path("docs/a.pdf"));
        QVERIFY(m_form->Timer1->isActive());
        QTRY_COMPARE(acro->pageView()->document().pageCount(), 3);
        QVERIFY(listFocus()->hasFocus()); // a load never takes the focus

        m_form->LayoutMode4->trigger();
        m_form->ShowToolbar->trigger();
        m_form->PageMode2->trigger();
        m_form->ShowScrollbars->trigger();
        QVERIFY(m_form->LayoutMode4->isChecked() && !m_form->LayoutMode1->isChecked());
        QVERIFY(m_form->ShowToolbar->isChecked());
        QVERIFY(m_form->PageMode2->isChecked() && !m_form->PageMode1->isChecked());
        QVERIFY(!m_form->ShowScrollbars->isChecked());
        auto applied = [&] {
            QCOMPARE(acro->pageView()->layoutMode(), PageLayout::Mode::TwoColumnLeft);
            QVERIFY(acro->toolbar()->isVisible());
            QVERIFY(acro->sidePane()->isVisible());
            QCOMPARE(acro->pageMode(), QStringLiteral("bookmarks"));
            QVERIFY(!acro->pageView()->scrollBarsShown());
        };
        applied();
        m_form->ReadPDF(m_main.dir().path("docs/b.pdf"));
        QTRY_COMPARE(acro->pageView()->document().pageCount(), 4);
        applied();
        QTRY_COMPARE(acro->outlineTree()->topLevelItemCount(), 4);

        // A missing file changes nothing but still starts the focus timer.
        m_form->Timer1->stop();
        m_form->ReadPDF(m_main.dir().path("docs/missing.pdf"));
        QCOMPARE(acro->src(), m_main.dir().path("docs/b.pdf"));
        QVERIFY(m_form->Timer1->isActive());

        // The reset: defaults applied to the document still shown.
        m_form->resize(1100, 800);
        m_form->DisplayInitialize->trigger();
        QVERIFY(!m_form->ShowToolbar->isChecked() && m_form->LayoutMode1->isChecked()
                && m_form->PageMode1->isChecked() && m_form->ShowScrollbars->isChecked());
        QCOMPARE(acro->pageView()->layoutMode(), PageLayout::Mode::DontCare);
        QVERIFY(!acro->toolbar()->isVisible());
        QVERIFY(!acro->sidePane()->isVisible());
        QVERIFY(acro->pageView()->scrollBarsShown());
        QCOMPARE(m_form->size(), QSize(800, 640));
        QCOMPARE(m_form->TreeView1->height(), 240);
        QCOMPARE(m_form->Panel1->width(), 270);
    }

    void focusRuleWithTheDocumentSurface()
    {
        TAcroPDF *acro = m_form->AcroPDF;
        m_form->ReadPDF(m_main.dir().path("docs/a.pdf"));
        QTRY_COMPARE(acro->pageView()->document().pageCount(), 3);
        // The renderer takes the focus by itself: the timer gives it back to the list.
        acro->documentSurface()->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(listFocus()->hasFocus());
        QVERIFY(m_form->Timer1->isActive());
        // The user clicks into the document: the timer stops, the view keeps the focus.
        QTest::mouseClick(acro->pageView()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_VERIFY(acro->documentSurface()->hasFocus());
        QVERIFY(!m_form->Timer1->isActive());
        // Ticks of a probe at the focus timer's pace: that timer would have acted meanwhile.
        QTimer probe;
        probe.setInterval(m_form->Timer1->interval());
        QSignalSpy ticks(&probe, &QTimer::timeout);
        probe.start();
        QTRY_VERIFY(ticks.size() >= 5);
        QVERIFY(acro->documentSurface()->hasFocus());
        // The next load starts the timer again.
        m_form->ReadPDF(m_main.dir().path("docs/c.pdf"));
        QVERIFY(m_form->Timer1->isActive());
    }

    void movingTheSelectionPreparesFiles()
    {
        TAcroPDF *acro = m_form->AcroPDF;
        QAbstractItemView *view = m_form->ListView1->currentView();
        QAbstractItemModel *model = view->model();
        m_form->SetCurrentFolder(m_main.dir().path("docs") + "/");
        // The list fills itself from the root folder given on the command line.
        QTRY_COMPARE(model->rowCount(), 3);
        // Start from a control with nothing prepared: what the start-up's fill
        // prepared may be done before the spy exists, and is not announced again.
        acro->setSrc(QString());
        // Sent from the render service's worker thread.
        QueuedSpy prepared(acro->renderService(), &PdfRenderService::prepared);
        int rowB = -1;
        for (int r = 0; r < model->rowCount(); ++r)
            if (model->index(r, 0).data().toString() == "b.pdf")
                rowB = r;
        QVERIFY(rowB >= 0);
        view->setCurrentIndex(model->index(rowB, 0));
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(prepared.begin(), prepared.end(),
                                             [&](const QList<QVariant> &a) {
                                                 return a.at(0).toString() == m_main.dir().path("docs/b.pdf");
                                             }),
                                 15000);
        // Enter on it: shown from the prepared document, no second open.
        QSignalSpy opened(acro->renderService(), &PdfRenderService::opened);
        m_form->ReadPDF(m_main.dir().path("docs/b.pdf"));
        QCOMPARE(acro->pageView()->document().pageCount(), 4);
        QCOMPARE(opened.size(), 0);
    }

    void shutdownLetsGoOfTheFile()
    {
        m_form->ReadPDF(m_main.dir().path("docs/c.pdf"));
        QTRY_COMPARE(m_form->AcroPDF->pageView()->document().pageCount(), 2);
        QVERIFY(ViewerFixtures::openDescriptorsFor(m_main.dir().path("docs/c.pdf")) >= 1);
        m_main.close();
        m_form = nullptr;
        QCOMPARE(ViewerFixtures::openDescriptorsFor(m_main.dir().path("docs/c.pdf")), 0);
    }
};

QTEST_MAIN(TestViewerWindow)
#include "tst_viewerwindow.moc"
