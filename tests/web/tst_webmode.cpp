// The main window with the web-browser back-end ("-b"): documents shown in
// the browser through ReadPDF, the View menu acting on the shown document,
// errors of a page without the PDF control, focus keeping and release.
#include "app/Unit1.h"
#include "browse/FileListView.h"
#include "browse/ThumbnailListView.h"
#include "browse/ThumbnailProvider.h"
#include "app/ProgramServices.h"
#include "viewer/isolated/PdfEngines.h"
#include "viewer/isolated/RenderHelper.h"
#include "viewer/web/TWebBrowser.h"
#include "viewer/web/TWebDocument.h"
#include "viewer/web/WebBrowserProcess.h"
#include "viewer/web/WebPdfScheme.h"
#include "viewer/web/WebToolbar.h"

#include "WebTestSupport.h"
#include "support/MainWindowFixture.h"
#include "support/ModalHelper.h"
#include "support/PdfFixtures.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>

#include <memory>

#include <unistd.h>

namespace {

constexpr int loadTimeoutMs = 60000;

using WebTest::js;
using WebTest::openDescriptors;
const QString probePages = WebTest::probeShown;
// scroll mode / spread mode / sidebar / scroll bars, as the page shows them
// (and a complaint when the viewer's own toolbar shows).
const QString probePageView = QStringLiteral(
    "(function(){ const a = PDFViewerApplication, c = document.getElementById('viewerContainer');"
    " return [getComputedStyle(document.getElementById('toolbarContainer')).display === 'none' ? '' : 'viewer-toolbar',"
    "  a.pdfViewer.scrollMode + '/' + a.pdfViewer.spreadMode,"
    "  a.pdfSidebar.isOpen ? 'sidebar' + a.pdfSidebar.active : 'nosidebar',"
    "  c.offsetWidth - c.clientWidth > 0 ? 'scrollbars' : 'noscrollbars'].join(' '); })()");

// toolbar (the browser's own, above the page) / scroll mode / spread mode /
// sidebar / scroll bars.
QString probeView(TWebBrowser &browser)
{
    const bool toolbar = browser.toolbar()->isVisibleTo(browser.widget());
    return (toolbar ? QStringLiteral("toolbar") : QStringLiteral("notoolbar")) + js(browser, probePageView).toString();
}

// The texts of the message boxes seen.
QStringList texts(const ModalAnswerer &modals)
{
    QStringList out;
    for (const ModalAnswerer::Seen &seen : modals.seen)
        out << seen.text;
    return out;
}

} // namespace

class TestWebMode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void startsWithTheBrowser();
    void readPdfShowsTheDocumentWithTheOptions();
    void menuCommandsChangeTheShownDocument_data();
    void menuCommandsChangeTheShownDocument();
    void optionsStayForTheNextDocument();
    void pageWithoutControlFailsLoudlyInMenuSilentlyInReadPdf();
    void focusReturnsToTheListUntilTheUserEnters();
    void shutdownReleasesTheDocument();
    void movingTheSelectionPreparesAndEnterShowsIt();
    void thumbnailsAreDrawnByTheConfinedHelper();

private:
    bool showViaReadPdf(const QString &path);

    MainWindowFixture m_main;
    TestDir &m_dir = m_main.dir();
    QString m_first;
    QString m_second;
    TForm1 *m_form = nullptr;
};

void TestWebMode::initTestCase()
{
    if (!WebPdfScheme::viewerAvailable())
        QSKIP("the pdf.js viewer (libjs-pdf) is not installed");
    QVERIFY(m_main.isValid());
    m_first = m_dir.path(QStringLiteral("docs/first.pdf"));
    m_second = m_dir.path(QStringLiteral("docs/second.pdf"));
    m_dir.mkdir(QStringLiteral("docs"));
    QVERIFY(PdfFixtures::writeOutlinedPdf(m_first, 6));
    QVERIFY(PdfFixtures::writeOutlinedPdf(m_second, 4));
}

void TestWebMode::init()
{
    m_form = m_main.create({m_dir.path(QStringLiteral("docs")), QStringLiteral("-b")});
    m_form->resize(1100, 800);
    QVERIFY(m_main.show());
}

void TestWebMode::cleanup()
{
    m_main.close();
    m_form = nullptr;
}

bool TestWebMode::showViaReadPdf(const QString &path)
{
    TWebBrowser *browser = m_form->WebBrowser;
    QSignalSpy shown(browser, &TWebBrowser::DocumentShown);
    m_form->SetCurrentDocument(path);
    m_form->ReadPDF(path);
    if (!QTest::qWaitFor([&] { return !shown.isEmpty(); }, loadTimeoutMs) || !shown.first().at(1).toBool())
        return false;
    return QTest::qWaitFor([&] { return js(*browser, probePages).toInt() > 0; }, loadTimeoutMs);
}

void TestWebMode::startsWithTheBrowser()
{
    QCOMPARE(m_form->PDFmode, 1);
    QVERIFY(m_form->StatusPanelText(0).endsWith(QLatin1String(" with WebBrowser")));
    QVERIFY(m_form->WebBrowser);
    QVERIFY(m_form->WebBrowser->isVisible());
    QCOMPARE(m_form->AcroPDF, nullptr);
}

void TestWebMode::readPdfShowsTheDocumentWithTheOptions()
{
    QVERIFY(showViaReadPdf(m_first));
    TWebBrowser &browser = *m_form->WebBrowser;
    QCOMPARE(js(browser, probePages).toInt(), 6);
    QCOMPARE(browser.Document()->src(), m_first);
    // The defaults of the View menu: no toolbar, "DontCare", "none", scroll bars.
    QTRY_COMPARE_WITH_TIMEOUT(probeView(browser),
                              QStringLiteral("notoolbar 0/0 nosidebar scrollbars"), 10000);
    QVERIFY(m_form->Timer1->isActive());
}

void TestWebMode::menuCommandsChangeTheShownDocument_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("view");
    QTest::newRow("ツールバー") << "ShowToolbar" << "toolbar 0/0 nosidebar scrollbars";
    QTest::newRow("1ページモード") << "LayoutMode2" << "notoolbar 3/0 nosidebar scrollbars";
    QTest::newRow("1コラムの連続表示モード") << "LayoutMode3" << "notoolbar 0/0 nosidebar scrollbars";
    QTest::newRow("左の最初のページと共に2コラム") << "LayoutMode4" << "notoolbar 0/1 nosidebar scrollbars";
    QTest::newRow("右の最初のページと共に2コラム") << "LayoutMode5" << "notoolbar 0/2 nosidebar scrollbars";
    QTest::newRow("しおり") << "PageMode2" << "notoolbar 0/0 sidebar2 scrollbars";
    QTest::newRow("ページのサムネール") << "PageMode3" << "notoolbar 0/0 sidebar1 scrollbars";
    QTest::newRow("スクロールバー") << "ShowScrollbars" << "notoolbar 0/0 nosidebar noscrollbars";
}

void TestWebMode::menuCommandsChangeTheShownDocument()
{
    QFETCH(QString, item);
    QFETCH(QString, view);
    QVERIFY(showViaReadPdf(m_first));
    TWebBrowser &browser = *m_form->WebBrowser;
    QTRY_COMPARE_WITH_TIMEOUT(probeView(browser),
                              QStringLiteral("notoolbar 0/0 nosidebar scrollbars"), 10000);
    auto *action = m_form->findChild<QAction *>(item);
    QVERIFY(action);
    ModalAnswerer modals;
    action->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(probeView(browser), view, 10000);
    QVERIFY(action->isChecked() || item == QLatin1String("ShowScrollbars"));
    QCOMPARE(texts(modals), QStringList());
}

void TestWebMode::optionsStayForTheNextDocument()
{
    QVERIFY(showViaReadPdf(m_first));
    m_form->ShowToolbar->trigger();
    m_form->LayoutMode5->trigger();
    m_form->PageMode3->trigger();
    m_form->ShowScrollbars->trigger();
    const QString chosen = QStringLiteral("toolbar 0/2 sidebar1 noscrollbars");
    QTRY_COMPARE_WITH_TIMEOUT(probeView(*m_form->WebBrowser), chosen, 10000);

    QVERIFY(showViaReadPdf(m_second));
    QCOMPARE(js(*m_form->WebBrowser, probePages).toInt(), 4);
    QTRY_COMPARE_WITH_TIMEOUT(probeView(*m_form->WebBrowser), chosen, 10000);

    // "表示初期化" puts the defaults back on the shown document.
    m_form->DisplayInitialize->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(probeView(*m_form->WebBrowser),
                              QStringLiteral("notoolbar 0/0 nosidebar scrollbars"), 10000);
}

void TestWebMode::pageWithoutControlFailsLoudlyInMenuSilentlyInReadPdf()
{
    TWebBrowser &browser = *m_form->WebBrowser;
    QSignalSpy complete(&browser, &TWebBrowser::DocumentComplete);
    browser.Navigate(QStringLiteral("about:blank"));
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 1, loadTimeoutMs);
    ModalAnswerer modals;

    // A menu command: the error box says so; the layout check marks stay.
    m_form->LayoutMode2->trigger();
    QTRY_COMPARE(texts(modals), QStringList{QStringLiteral("Interface はサポートされていません.")});
    QVERIFY(m_form->LayoutMode1->isChecked());
    QVERIFY(!m_form->LayoutMode2->isChecked());
    // The toolbar command has inverted its check mark before it failed.
    m_form->ShowToolbar->trigger();
    QTRY_COMPARE(modals.seen.size(), 2);
    QVERIFY(m_form->ShowToolbar->isChecked());

    // Inside ReadPDF the same failure is silent (a file the browser shows as
    // a page of its own), and the focus timer still runs.
    const QString text = m_dir.writeFile(QStringLiteral("docs/notes.txt"), "plain text\n");
    m_form->Timer1->stop();
    m_form->ReadPDF(text);
    QVERIFY(m_form->Timer1->isActive());
    // Nor does the page's completion bring up a box: its handlers have run
    // (a modal box within them included) when the spy sees it.
    QTRY_COMPARE_WITH_TIMEOUT(complete.size(), 2, loadTimeoutMs);
    QCOMPARE(modals.seen.size(), 2);
}

void TestWebMode::focusReturnsToTheListUntilTheUserEnters()
{
    QVERIFY(showViaReadPdf(m_first));
    TWebBrowser &browser = *m_form->WebBrowser;
    QTRY_VERIFY(m_form->ListView1->hasFocus());
    QVERIFY(m_form->Timer1->isActive());

    // The page taking the keyboard: the focus rule gives it back to the list.
    QWidget *surface = browser.focusProxy() ? browser.focusProxy() : &browser;
    surface->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(m_form->ListView1->hasFocus());
    QVERIFY(m_form->Timer1->isActive());

    // The user's click into the browser stops the timer; the browser keeps the focus.
    QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
    QTRY_VERIFY(!m_form->Timer1->isActive());
    // Ticks of a probe at the focus timer's pace: that timer would have acted meanwhile.
    QTimer probe;
    probe.setInterval(m_form->Timer1->interval());
    QSignalSpy ticks(&probe, &QTimer::timeout);
    probe.start();
    QTRY_VERIFY(ticks.size() >= 10);
    QVERIFY(TWebBrowser::isDocumentSurface(QApplication::focusWidget()));

    // The next load starts the timer again.
    QVERIFY(showViaReadPdf(m_second));
    QVERIFY(m_form->Timer1->isActive());
}

void TestWebMode::shutdownReleasesTheDocument()
{
    QVERIFY(showViaReadPdf(m_first));
    QPointer<TWebBrowser> browser = m_form->WebBrowser;
    QVERIFY(browser->Document());
    m_form->ReleaseViewer();
    QCOMPARE(browser->Document(), nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(browser->url().toString(), QStringLiteral("about:blank"), loadTimeoutMs);
    QCOMPARE(openDescriptors(m_first), QStringList());
}

void TestWebMode::movingTheSelectionPreparesAndEnterShowsIt()
{
    // The viewer page is up (a document was shown), and options were chosen.
    QVERIFY(showViaReadPdf(m_first));
    TWebBrowser &browser = *m_form->WebBrowser;
    m_form->LayoutMode4->trigger();
    m_form->PageMode2->trigger();
    const QString chosen = QStringLiteral("notoolbar 0/1 sidebar2 scrollbars");
    QTRY_COMPARE_WITH_TIMEOUT(probeView(browser), chosen, 10000);

    QAbstractItemView *view = m_form->ListView1->currentView();
    QAbstractItemModel *model = view->model();
    QTRY_COMPARE(model->rowCount(), 2);
    auto rowOf = [&](const QString &path) {
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, 0).data().toString() == QFileInfo(path).fileName())
                return row;
        }
        return -1;
    };
    // Whether the page holds path prepared and ready to show.
    auto readyInPage = [&](const QString &path) {
        const QString file = WebPdfScheme::viewerFile(browser.preparedUrl(path));
        return !file.isEmpty()
            && js(browser, WebTest::probeReadyFiles).toString().split(QLatin1Char(' ')).contains(file);
    };
    // The selection rests on the second file: it is prepared.
    view->setCurrentIndex(model->index(rowOf(m_second), 0));
    QTRY_VERIFY_WITH_TIMEOUT(readyInPage(m_second), loadTimeoutMs);
    const QUrl secondUrl = browser.preparedUrl(m_second);
    QCOMPARE(browser.scheme()->documentPath(secondUrl), m_second);

    // The selection moves back to the first file: the second is dropped.
    view->setCurrentIndex(model->index(rowOf(m_first), 0));
    QCOMPARE(browser.preparedUrl(m_second), QUrl());
    QVERIFY(browser.scheme()->documentPath(secondUrl).isEmpty());

    // On the second again, Enter shows the prepared document with the chosen options.
    view->setCurrentIndex(model->index(rowOf(m_second), 0));
    QTRY_VERIFY_WITH_TIMEOUT(readyInPage(m_second), loadTimeoutMs);
    QVERIFY(showViaReadPdf(m_second));
    QCOMPARE(js(browser, probePages).toInt(), 4);
    QCOMPARE(js(browser, QStringLiteral("window.sheafline.status().prepared")).toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(probeView(browser), chosen, 10000);
}

void TestWebMode::thumbnailsAreDrawnByTheConfinedHelper()
{
    // The web view parses its documents in the browser engine's own
    // renderer; the list's pictures of the same files must not be parsed in
    // this process either, but in the confined render helper, which nothing
    // else in this back-end starts.
    RenderHelper *helper = m_main.services().engines().helper();
    if (!helper)
        QSKIP("the render helper was not built");
    QCOMPARE(helper->pid(), pid_t(0));
    m_form->N27->trigger();
    ThumbnailProvider *provider = m_form->ListView1->thumbnailView()->provider();
    QVERIFY(provider);
    QTRY_VERIFY_WITH_TIMEOUT(provider->isSettled(m_first) && provider->isSettled(m_second), loadTimeoutMs);
    QVERIFY(!provider->thumbnail(m_first).isNull());
    QVERIFY(!provider->thumbnail(m_second).isNull());
    QVERIFY(helper->pid() > 0);
}

int main(int argc, char **argv)
{
    prepareWebBrowserProcess();
    QApplication app(argc, argv);
    TestWebMode test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webmode.moc"
