#include "base/Errors.h"
#include "viewer/web/TWebBrowser.h"
#include "viewer/web/TWebDocument.h"
#include "viewer/web/WebBrowserProcess.h"
#include "viewer/web/WebPdfScheme.h"
#include "viewer/web/WebToolbar.h"

#include "WebTestSupport.h"
#include "support/PdfFixtures.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QPainter>
#include <QPdfWriter>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <algorithm>
#include <memory>

#include <unistd.h>

namespace {

using WebTest::js;
using WebTest::openDescriptors;
using WebTest::ownProcessTree;
using WebTest::probeReadyFiles;
using WebTest::probeShown;

constexpr int loadTimeoutMs = 60000;

// The toolbar is the browser's own, above the page; the viewer's never shows.
const QString probeToolbar = QStringLiteral("toolbar");
const QString probeViewerToolbar = QStringLiteral(
    "getComputedStyle(document.getElementById('toolbarContainer')).display === 'none' ? 'hidden' : 'shown'");
const QString probeLayout = QStringLiteral(
    "PDFViewerApplication.pdfViewer.scrollMode + '/' + PDFViewerApplication.pdfViewer.spreadMode");
const QString probeSidebar = QStringLiteral(
    "PDFViewerApplication.pdfSidebar.isOpen ? 'open/' + PDFViewerApplication.pdfSidebar.active : 'closed'");
const QString probeScrollbars = QStringLiteral(
    "(function(){ const c = document.getElementById('viewerContainer');"
    " return c.offsetWidth - c.clientWidth > 0 ? 'shown' : 'hidden'; })()");

void callOption(IAcroAXDocShim &pdf, const QString &option, const QString &value)
{
    if (option == QLatin1String("toolbar"))
        pdf.setShowToolbar(value == QLatin1String("on") ? WordTrue : WordFalse);
    else if (option == QLatin1String("scrollbars"))
        pdf.setShowScrollbars(value == QLatin1String("on") ? WordTrue : WordFalse);
    else if (option == QLatin1String("layout"))
        pdf.setLayoutMode(value);
    else if (option == QLatin1String("pageMode"))
        pdf.setPageMode(value);
}

} // namespace

class TestWebBrowser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void navigatesPdfAndOffersTheControl();
    void optionChangesViewerState_data();
    void optionChangesViewerState();
    void optionsGivenWhileLoadingApplyWhenLoaded_data();
    void optionsGivenWhileLoadingApplyWhenLoaded();
    void sidePaneNeverCoversThePage_data();
    void sidePaneNeverCoversThePage();
    void otherPagesRefuseTheQuery_data();
    void otherPagesRefuseTheQuery();
    void pageLeavingTheViewerLoadsItAnew();
    void schemeServesOnlyWhatItShould_data();
    void schemeServesOnlyWhatItShould();
    void emptyNavigationReleasesTheDocument();
    void cMapsAndStandardFontsLoad_data();
    void cMapsAndStandardFontsLoad();
    void focusEntryOnlyFromTheUser();
    void preparedDocumentIsOnlyShown();
    void preparationIsDroppedWhenTheSelectionMovesOn();
    void changedFileIsNotShownFromItsPreparation();
    void firstPageIsDrawnOnce_data();
    void firstPageIsDrawnOnce();
    void preparedFirstPageIsTheDrawingTakenAhead();

private:
    QString probe(const QString &probe);
    bool showPdf(const QString &path);
    bool prepareAll(const QStringList &paths);
    QString requestStatus(const QString &file);

    TestDir m_dir;
    QString m_pdf;
    QWidget *m_window = nullptr;
    QListWidget *m_list = nullptr;
    TWebBrowser *m_browser = nullptr;
};

void TestWebBrowser::initTestCase()
{
    if (!WebPdfScheme::viewerAvailable())
        QSKIP("the pdf.js viewer (libjs-pdf) is not installed");
    m_pdf = m_dir.path(QStringLiteral("outlined.pdf"));
    QVERIFY(PdfFixtures::writeOutlinedPdf(m_pdf, 8));

    m_window = new QWidget;
    auto *layout = new QHBoxLayout(m_window);
    m_list = new QListWidget;
    m_list->addItems({QStringLiteral("a.pdf"), QStringLiteral("b.pdf")});
    m_browser = new TWebBrowser;
    layout->addWidget(m_list, 1);
    layout->addWidget(m_browser->widget(), 3);
    m_window->resize(1000, 700);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestWebBrowser::cleanupTestCase()
{
    delete m_window;
}

// A state of the view: the browser's toolbar, or a script's answer from the page.
QString TestWebBrowser::probe(const QString &probe)
{
    if (probe == probeToolbar) {
        if (js(*m_browser, probeViewerToolbar).toString() != QLatin1String("hidden"))
            return QStringLiteral("the viewer's own toolbar shows");
        return m_browser->toolbar()->isVisibleTo(m_browser->widget()) ? QStringLiteral("shown")
                                                                       : QStringLiteral("hidden");
    }
    return js(*m_browser, probe).toString();
}

bool TestWebBrowser::showPdf(const QString &path)
{
    QSignalSpy complete(m_browser, &TWebBrowser::DocumentComplete);
    m_browser->Navigate(path);
    if (!QTest::qWaitFor([&] { return !complete.isEmpty(); }, loadTimeoutMs))
        return false;
    return QTest::qWaitFor([&] { return js(*m_browser, probeShown).toInt() > 0; }, loadTimeoutMs);
}

// Prepares paths and waits until the page holds each ready to show; false
// when one fails or time runs out.
bool TestWebBrowser::prepareAll(const QStringList &paths)
{
    QSignalSpy prepared(m_browser, &TWebBrowser::Prepared);
    m_browser->prepare(paths);
    QStringList files;
    for (const QString &path : paths)
        files << WebPdfScheme::viewerFile(m_browser->preparedUrl(path));
    files.sort();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < loadTimeoutMs) {
        for (const QList<QVariant> &args : prepared) {
            if (!args.at(1).toBool())
                return false;
        }
        const QStringList ready = js(*m_browser, probeReadyFiles).toString().split(QLatin1Char(' '));
        if (std::all_of(files.cbegin(), files.cend(), [&](const QString &file) { return ready.contains(file); }))
            return true;
        prepared.wait(100);
    }
    return false;
}

// What the page gets when it asks the scheme for file: "status 200 <bytes>" or "refused".
QString TestWebBrowser::requestStatus(const QString &file)
{
    js(*m_browser, QStringLiteral(
        "window.slStatus = null; (function(){ const r = new XMLHttpRequest();"
        " r.open('GET', '%1'); r.onload = () => { window.slStatus = 'status ' + r.status + ' ' + r.response.length; };"
        " r.onerror = () => { window.slStatus = 'refused'; }; r.send(); })()").arg(file));
    QElapsedTimer timer;
    timer.start();
    while (js(*m_browser, QStringLiteral("window.slStatus")).isNull() && timer.elapsed() < 10000)
        QTest::qWait(20);
    return js(*m_browser, QStringLiteral("window.slStatus")).toString();
}

void TestWebBrowser::navigatesPdfAndOffersTheControl()
{
    QCOMPARE(m_browser->Document(), nullptr);
    QCOMPARE(m_browser->ViewControl(), nullptr);
    m_browser->Navigate(m_pdf);
    // Navigate returns at once with the document object already in place.
    TWebDocument *document = m_browser->Document();
    QVERIFY(document);
    QVERIFY(document->isPdf());
    IAcroAXDocShim &pdf = document->queryAcroPdf();
    QCOMPARE(&pdf, m_browser->ViewControl());
    QCOMPARE(pdf.src(), m_pdf);
    QSignalSpy complete(m_browser, &TWebBrowser::DocumentComplete);
    QTRY_VERIFY_WITH_TIMEOUT(!complete.isEmpty(), loadTimeoutMs);
    QCOMPARE(complete.first().first().value<TWebDocument *>(), document);
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probeShown).toInt(), 8, loadTimeoutMs);
    QVERIFY(m_browser->url().scheme() == QLatin1String("sheafline"));
    QCOMPARE(js(*m_browser, QStringLiteral("PDFViewerApplication.pdfDocument.numPages")).toInt(), 8);
}

void TestWebBrowser::optionChangesViewerState_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("probe");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");

    QTest::newRow("toolbar hidden") << "toolbar" << "on" << "off" << probeToolbar << "shown" << "hidden";
    QTest::newRow("toolbar shown") << "toolbar" << "off" << "on" << probeToolbar << "hidden" << "shown";
    QTest::newRow("scroll bars hidden") << "scrollbars" << "on" << "off" << probeScrollbars << "shown" << "hidden";
    QTest::newRow("scroll bars shown") << "scrollbars" << "off" << "on" << probeScrollbars << "hidden" << "shown";
    QTest::newRow("SinglePage pages") << "layout" << "DontCare" << "SinglePage" << probeLayout << "0/0" << "3/0";
    QTest::newRow("OneColumn scrolls") << "layout" << "SinglePage" << "OneColumn" << probeLayout << "3/0" << "0/0";
    QTest::newRow("DontCare scrolls") << "layout" << "TwoColumnLeft" << "DontCare" << probeLayout << "0/1" << "0/0";
    QTest::newRow("TwoColumnLeft odd spreads") << "layout" << "OneColumn" << "TwoColumnLeft" << probeLayout << "0/0" << "0/1";
    QTest::newRow("TwoColumnRight even spreads") << "layout" << "OneColumn" << "TwoColumnRight" << probeLayout << "0/0" << "0/2";
    QTest::newRow("bookmarks outline") << "pageMode" << "none" << "bookmarks" << probeSidebar << "closed" << "open/2";
    QTest::newRow("thumbs thumbnails") << "pageMode" << "bookmarks" << "thumbs" << probeSidebar << "open/2" << "open/1";
    QTest::newRow("none closes") << "pageMode" << "thumbs" << "none" << probeSidebar << "open/1" << "closed";
}

void TestWebBrowser::optionChangesViewerState()
{
    QFETCH(QString, option);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, probe);
    QFETCH(QString, before);
    QFETCH(QString, after);

    if (!m_browser->Document() || m_browser->Document()->src() != m_pdf)
        QVERIFY(showPdf(m_pdf));
    IAcroAXDocShim &pdf = m_browser->Document()->queryAcroPdf();
    callOption(pdf, option, from);
    QTRY_COMPARE_WITH_TIMEOUT(this->probe(probe), before, 10000);
    callOption(pdf, option, to);
    QTRY_COMPARE_WITH_TIMEOUT(this->probe(probe), after, 10000);
}

void TestWebBrowser::optionsGivenWhileLoadingApplyWhenLoaded_data()
{
    QTest::addColumn<bool>("viewerUp");
    QTest::addColumn<bool>("prepared");
    QTest::addColumn<QString>("pageMode");
    QTest::addColumn<QString>("sidebar");
    QTest::newRow("viewer page loads anew") << false << false << "thumbs" << "open/1";
    QTest::newRow("viewer already up") << true << false << "bookmarks" << "open/2";
    QTest::newRow("document prepared ahead") << true << true << "thumbs" << "open/1";
}

void TestWebBrowser::optionsGivenWhileLoadingApplyWhenLoaded()
{
    QFETCH(bool, viewerUp);
    QFETCH(bool, prepared);
    QFETCH(QString, pageMode);
    QFETCH(QString, sidebar);
    if (viewerUp) {
        QVERIFY(showPdf(m_pdf));
    } else {
        QSignalSpy complete(m_browser, &TWebBrowser::DocumentComplete);
        m_browser->Navigate(QStringLiteral("about:blank"));
        QTRY_VERIFY_WITH_TIMEOUT(!complete.isEmpty(), loadTimeoutMs);
    }
    // The previous document's options must not leak into what is checked.
    if (viewerUp) {
        IAcroAXDocShim &previous = m_browser->Document()->queryAcroPdf();
        previous.setShowToolbar(WordTrue);
        previous.setLayoutMode(QStringLiteral("DontCare"));
        previous.setPageMode(QStringLiteral("none"));
        previous.setShowScrollbars(WordTrue);
        QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probeLayout).toString(), QStringLiteral("0/0"), 10000);
        js(*m_browser, QStringLiteral("window.slSamePage = true"));
    }

    const QString second = m_dir.path(QStringLiteral("%1-%2.pdf").arg(viewerUp).arg(prepared));
    QVERIFY(PdfFixtures::writeOutlinedPdf(second, 6));
    if (prepared)
        QVERIFY(prepareAll({second}));
    QSignalSpy shown(m_browser, &TWebBrowser::DocumentShown);
    m_browser->Navigate(second);
    IAcroAXDocShim &pdf = m_browser->Document()->queryAcroPdf();
    pdf.setShowToolbar(WordFalse);
    pdf.setLayoutMode(QStringLiteral("TwoColumnRight"));
    pdf.setPageMode(pageMode);
    pdf.setShowScrollbars(WordFalse);

    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), loadTimeoutMs);
    QCOMPARE(shown.first().at(1).toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probeShown).toInt(), 6, loadTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probeLayout).toString(), QStringLiteral("0/2"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probeSidebar).toString(), sidebar, 10000);
    QCOMPARE(probe(probeToolbar), QStringLiteral("hidden"));
    QCOMPARE(js(*m_browser, probeScrollbars).toString(), QStringLiteral("hidden"));
    // A viewer that is up opens the next document itself, without a reload.
    QCOMPARE(js(*m_browser, QStringLiteral("window.slSamePage === true")).toBool(), viewerUp);
    QCOMPARE(js(*m_browser, QStringLiteral("window.sheafline.status().prepared")).toBool(), prepared);
}

void TestWebBrowser::sidePaneNeverCoversThePage_data()
{
    QTest::addColumn<QString>("opener");   // pageMode value, or "button" for pdf.js's own toggle
    QTest::addColumn<int>("windowWidth"); // the browser takes three quarters of it
    QTest::newRow("bookmarks, narrow viewer") << "bookmarks" << 1000;
    QTest::newRow("thumbnails, narrow viewer") << "thumbs" << 1000;
    QTest::newRow("toggle button, narrow viewer") << "button" << 1000;
    QTest::newRow("bookmarks, wide viewer") << "bookmarks" << 1600;
}

void TestWebBrowser::sidePaneNeverCoversThePage()
{
    QFETCH(QString, opener);
    QFETCH(int, windowWidth);
    struct Restore
    {
        QWidget *window;
        ~Restore() { window->resize(1000, 700); }
    } restore{m_window};
    m_window->resize(windowWidth, 700);
    if (!m_browser->Document() || m_browser->Document()->src() != m_pdf)
        QVERIFY(showPdf(m_pdf));
    IAcroAXDocShim &pdf = m_browser->Document()->queryAcroPdf();

    // Where the first page lies against the side pane and the page area.
    struct Geometry
    {
        bool open = false;
        double paneRight = 0, pageLeft = 0, pageRight = 0, areaLeft = 0, areaRight = 0, scale = 0;
    };
    const auto measure = [&] {
        const QJsonObject o = QJsonDocument::fromJson(js(*m_browser, QStringLiteral(
            "(function(){ const a = PDFViewerApplication, page = document.querySelector('#viewer .page');"
            " if (!page) return '{}';"
            " const c = document.getElementById('viewerContainer'), v = c.getBoundingClientRect();"
            " const p = page.getBoundingClientRect();"
            // Where the pane ends once it has slid in (it slides only where the page is drawn).
            " const paneRight = a.pdfSidebar.isOpen ? document.getElementById('sidebarContainer').offsetWidth : 0;"
            " return JSON.stringify({open: a.pdfSidebar.isOpen, paneRight: paneRight, pageLeft: p.left,"
            "   pageRight: p.right, areaLeft: v.left, areaRight: v.left + c.clientWidth,"
            "   scale: a.pdfViewer.currentScale}); })()")).toString().toUtf8()).object();
        Geometry g;
        g.open = o.value(QStringLiteral("open")).toBool();
        g.paneRight = o.value(QStringLiteral("paneRight")).toDouble();
        g.pageLeft = o.value(QStringLiteral("pageLeft")).toDouble();
        g.pageRight = o.value(QStringLiteral("pageRight")).toDouble();
        g.areaLeft = o.value(QStringLiteral("areaLeft")).toDouble();
        g.areaRight = o.value(QStringLiteral("areaRight")).toDouble();
        g.scale = o.value(QStringLiteral("scale")).toDouble();
        return g;
    };
    // Fitted: the page lies wholly in the page area beside the pane (if
    // open), and fills its width but for the viewer's margins, unless it is
    // at pdf.js's largest automatic zoom (1.25).
    const auto fitted = [&](bool open) {
        const Geometry g = measure();
        const double left = open ? qMax(g.areaLeft, g.paneRight) : g.areaLeft;
        return g.open == open && g.pageRight > g.pageLeft && g.pageLeft >= left - 1
            && g.pageRight <= g.areaRight + 1
            && (g.areaRight - left - (g.pageRight - g.pageLeft) < 60 || g.scale > 1.249);
    };
    const auto describe = [&] {
        const Geometry g = measure();
        return QStringLiteral("open %1, pane right %2, page %3..%4, area %5..%6, scale %7")
            .arg(g.open).arg(g.paneRight).arg(g.pageLeft).arg(g.pageRight).arg(g.areaLeft).arg(g.areaRight)
            .arg(g.scale);
    };
    const auto toggle = [&](bool open) {
        if (opener == QLatin1String("button"))
            js(*m_browser, QStringLiteral("document.getElementById('sidebarToggle').click()"));
        else
            pdf.setPageMode(open ? opener : QStringLiteral("none"));
    };

    // One page across, so that the first page alone spans the fitted width.
    pdf.setLayoutMode(QStringLiteral("OneColumn"));
    pdf.setPageMode(QStringLiteral("none"));
    QTRY_VERIFY2_WITH_TIMEOUT(fitted(false), qPrintable(describe()), 10000);
    const double closedScale = measure().scale;
    toggle(true);
    QTRY_VERIFY2_WITH_TIMEOUT(fitted(true), qPrintable(describe()), 10000);
    QVERIFY2(measure().scale < closedScale, qPrintable(describe()));
    toggle(false);
    QTRY_VERIFY2_WITH_TIMEOUT(fitted(false), qPrintable(describe()), 10000);
    QCOMPARE(measure().scale, closedScale);
}

void TestWebBrowser::otherPagesRefuseTheQuery_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("freshBrowser");
    QTest::newRow("about:blank") << QStringLiteral("about:blank") << false;
    QTest::newRow("about:blank, engine not started") << QStringLiteral("about:blank") << true;
    QTest::newRow("text file") << m_dir.writeFile(QStringLiteral("notes.txt"), "plain text\n") << false;
}

void TestWebBrowser::otherPagesRefuseTheQuery()
{
    QFETCH(QString, target);
    QFETCH(bool, freshBrowser);
    std::unique_ptr<TWebBrowser> fresh(freshBrowser ? new TWebBrowser : nullptr);
    TWebBrowser *browser = freshBrowser ? fresh.get() : m_browser;

    QSignalSpy complete(browser, &TWebBrowser::DocumentComplete);
    browser->Navigate(target);
    for (bool loaded : {false, true}) {
        if (loaded)
            QTRY_VERIFY_WITH_TIMEOUT(!complete.isEmpty(), loadTimeoutMs);
        TWebDocument *document = browser->Document();
        QVERIFY(document);
        QVERIFY(!document->isPdf());
        try {
            document->queryAcroPdf();
            QFAIL("the query succeeded on a page that is no PDF");
        } catch (const AppError &error) {
            QCOMPARE(error.message(), QStringLiteral("Interface はサポートされていません"));
        }
        QVERIFY_THROWS_EXCEPTION(AppError, browser->ViewControl());
    }
    // A hidden browser that was only ever blank (mode 0's) has not started
    // the engine; shown, it starts it with its own page and profile.
    if (freshBrowser) {
        QVERIFY(browser->findChildren<QWebEnginePage *>().isEmpty());
        browser->widget()->resize(300, 200);
        browser->widget()->show();
        QVERIFY(QTest::qWaitForWindowExposed(browser->widget()));
        QCOMPARE(browser->findChildren<QWebEnginePage *>().size(), 1);
        QCOMPARE(browser->page()->profile()->parent(), browser);
        QVERIFY(browser->page()->profile()->isOffTheRecord());
    }
}

void TestWebBrowser::pageLeavingTheViewerLoadsItAnew()
{
    QVERIFY(showPdf(m_pdf));
    // Something in the page navigates it elsewhere: the next PDF cannot be
    // opened inside the viewer any more and loads it again.
    js(*m_browser, QStringLiteral("location.href = 'about:blank'"));
    QTRY_COMPARE_WITH_TIMEOUT(m_browser->url().toString(), QStringLiteral("about:blank"), loadTimeoutMs);
    const QString other = m_dir.path(QStringLiteral("after-leaving.pdf"));
    QVERIFY(PdfFixtures::writeSimplePdf(other, 3));
    QVERIFY(showPdf(other));
    QCOMPARE(js(*m_browser, probeShown).toInt(), 3);
}

void TestWebBrowser::schemeServesOnlyWhatItShould_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("served");
    QTest::newRow("the shown document") << QStringLiteral("current") << true;
    QTest::newRow("a pdf.js file") << QStringLiteral("/build/pdf.js") << true;
    QTest::newRow("an earlier document") << QStringLiteral("/doc/1/outlined.pdf") << false;
    QTest::newRow("a number never handed out") << QStringLiteral("/doc/99999/x.pdf") << false;
    QTest::newRow("a path out of pdf.js") << QStringLiteral("/web/%2E%2E/%2E%2E/%2E%2E/%2E%2E/etc/passwd") << false;
    QTest::newRow("a file outside the folders") << QStringLiteral("/etc/passwd") << false;
}

void TestWebBrowser::schemeServesOnlyWhatItShould()
{
    QFETCH(QString, request);
    QFETCH(bool, served);
    const QString path = m_dir.path(QStringLiteral("served.pdf"));
    if (!QFileInfo::exists(path))
        QVERIFY(PdfFixtures::writeSimplePdf(path, 2));
    if (!m_browser->Document() || m_browser->Document()->src() != path)
        QVERIFY(showPdf(path));
    if (request == QLatin1String("current"))
        request = QUrlQuery(m_browser->Document()->url()).queryItemValue(QStringLiteral("file"));
    const QString status = requestStatus(request);
    if (served)
        QVERIFY2(status.startsWith(QLatin1String("status 200 ")) && status.section(QLatin1Char(' '), 2).toInt() > 0, qPrintable(status));
    else
        QCOMPARE(status, QStringLiteral("refused"));
}

void TestWebBrowser::emptyNavigationReleasesTheDocument()
{
    const QString path = m_dir.path(QStringLiteral("held.pdf"));
    QVERIFY(PdfFixtures::writeSimplePdf(path, 3));
    QVERIFY(showPdf(path));
    const QUrl shownUrl = m_browser->Document()->url();
    QVERIFY(!m_browser->scheme()->documentPath(shownUrl).isEmpty());

    m_browser->Navigate(QString());
    QCOMPARE(m_browser->Document(), nullptr);
    QCOMPARE(m_browser->ViewControl(), nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(m_browser->url().toString(), QStringLiteral("about:blank"), loadTimeoutMs);
    // The scheme no longer hands the file out, and no process of ours holds it.
    QVERIFY(m_browser->scheme()->documentPath(shownUrl).isEmpty());
    QCOMPARE(openDescriptors(path), QStringList());
    QVERIFY(ownProcessTree().size() > 1); // the renderers were looked at too
    QVERIFY(QFile::rename(path, path + QStringLiteral(".renamed")));
}

void TestWebBrowser::cMapsAndStandardFontsLoad_data()
{
    QTest::addColumn<QString>("fetch");
    QTest::newRow("built-in cMap") << QStringLiteral("CMapReaderFactory.fetch({name: '90ms-RKSJ-H'}).then(r => r.cMapData.length)");
    QTest::newRow("standard font") << QStringLiteral("StandardFontDataFactory.fetch({filename: 'FoxitSans.pfb'}).then(r => r.length)");
}

void TestWebBrowser::cMapsAndStandardFontsLoad()
{
    // Documents with non-embedded fonts need pdf.js's cMaps and standard
    // fonts, which must come through our scheme (the engine refuses fetch()
    // on it, so the page loads them for the worker).
    QFETCH(QString, fetch);
    if (!m_browser->Document() || m_browser->Document()->src() != m_pdf)
        QVERIFY(showPdf(m_pdf));
    js(*m_browser, QStringLiteral("window.slFetched = null; PDFViewerApplication.pdfDocument._transport.%1"
                                  ".then(n => { window.slFetched = 'bytes ' + n; }, e => { window.slFetched = 'error ' + e; })")
                       .arg(fetch));
    QTRY_VERIFY_WITH_TIMEOUT(!js(*m_browser, QStringLiteral("window.slFetched")).isNull(), 10000);
    const QString fetched = js(*m_browser, QStringLiteral("window.slFetched")).toString();
    QVERIFY2(fetched.startsWith(QLatin1String("bytes ")) && fetched.mid(6).toInt() > 100, qPrintable(fetched));
}

void TestWebBrowser::focusEntryOnlyFromTheUser()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_list->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(m_list->hasFocus());

    QSignalSpy entered(m_browser, &TWebBrowser::Enter);
    QVERIFY(showPdf(m_pdf));
    // A load does not take the keyboard from the list.
    QVERIFY(m_list->hasFocus());
    QVERIFY(!TWebBrowser::isDocumentSurface(QApplication::focusWidget()));

    // The page taking the focus by itself is no entry, but is recognised as
    // the document surface.
    QWidget *surface = m_browser->focusProxy() ? m_browser->focusProxy() : m_browser;
    surface->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(TWebBrowser::isDocumentSurface(QApplication::focusWidget()));
    QCOMPARE(entered.count(), 0);

    // The user's click into the browser is.
    m_list->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(m_list->hasFocus());
    QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
    QTRY_COMPARE(entered.count(), 1);
    QVERIFY(TWebBrowser::isDocumentSurface(QApplication::focusWidget()));
}

void TestWebBrowser::preparedDocumentIsOnlyShown()
{
    QVERIFY(showPdf(m_pdf));
    const QString a = m_dir.path(QStringLiteral("prepared-a.pdf"));
    const QString b = m_dir.path(QStringLiteral("prepared-b.pdf"));
    QVERIFY(PdfFixtures::writeOutlinedPdf(a, 5));
    QVERIFY(PdfFixtures::writeSimplePdf(b, 3));
    QVERIFY(prepareAll({a, b}));
    const QUrl urlA = m_browser->preparedUrl(a);
    const QString fileA = WebPdfScheme::viewerFile(urlA);
    QCOMPARE(m_browser->scheme()->documentPath(urlA), a);
    QStringList files{fileA, WebPdfScheme::viewerFile(m_browser->preparedUrl(b))};
    files.sort();
    QCOMPARE(js(*m_browser, probeReadyFiles).toString(), files.join(QLatin1Char(' ')));

    // Enter: the viewer shows the document it parsed ahead, under the same number.
    js(*m_browser, QStringLiteral("window.slSamePage = true"));
    QSignalSpy shown(m_browser, &TWebBrowser::DocumentShown);
    m_browser->Navigate(a);
    QCOMPARE(m_browser->Document()->url(), urlA);
    QCOMPARE(m_browser->preparedUrl(a), QUrl());
    QVERIFY(shown.wait(loadTimeoutMs));
    QCOMPARE(shown.first().at(1).toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probeShown).toInt(), 5, loadTimeoutMs);
    QCOMPARE(js(*m_browser, QStringLiteral("window.sheafline.status().prepared")).toBool(), true);
    QCOMPARE(js(*m_browser, QStringLiteral("window.slSamePage === true")).toBool(), true);
    // The document shown stays reachable; b is still prepared, a no longer is.
    QVERIFY(requestStatus(fileA).startsWith(QLatin1String("status 200 ")));
    QCOMPARE(js(*m_browser, QStringLiteral("Object.keys(window.sheafline.preparedFiles()).length")).toInt(), 1);
    QVERIFY(!m_browser->preparedUrl(b).isEmpty());

    // A document that was not prepared is opened as before.
    QVERIFY(showPdf(m_pdf));
    QCOMPARE(js(*m_browser, QStringLiteral("window.sheafline.status().prepared")).toBool(), false);
}

void TestWebBrowser::preparationIsDroppedWhenTheSelectionMovesOn()
{
    if (!m_browser->Document() || m_browser->Document()->src() != m_pdf)
        QVERIFY(showPdf(m_pdf));
    const QString a = m_dir.path(QStringLiteral("moved-a.pdf"));
    const QString b = m_dir.path(QStringLiteral("moved-b.pdf"));
    const QString c = m_dir.path(QStringLiteral("moved-c.pdf"));
    for (const QString &path : {a, b, c})
        QVERIFY(PdfFixtures::writeSimplePdf(path, 2));
    QVERIFY(prepareAll({a, b}));
    const QUrl urlA = m_browser->preparedUrl(a);
    const QUrl urlB = m_browser->preparedUrl(b);

    // The selection moves on to b and c: a is dropped, b kept under its number.
    QVERIFY(prepareAll({b, c}));
    QCOMPARE(m_browser->preparedUrl(a), QUrl());
    QCOMPARE(m_browser->preparedUrl(b), urlB);
    QVERIFY(m_browser->scheme()->documentPath(urlA).isEmpty());
    QCOMPARE(requestStatus(WebPdfScheme::viewerFile(urlA)), QStringLiteral("refused"));
    QVERIFY(requestStatus(WebPdfScheme::viewerFile(urlB)).startsWith(QLatin1String("status 200 ")));
    QStringList files{WebPdfScheme::viewerFile(urlB), WebPdfScheme::viewerFile(m_browser->preparedUrl(c))};
    files.sort();
    QCOMPARE(js(*m_browser, probeReadyFiles).toString(), files.join(QLatin1Char(' ')));

    // Nothing selected any more: every number handed out for a preparation
    // stops reaching its file, and the page lets go of them.
    const QUrl urlC = m_browser->preparedUrl(c);
    m_browser->cancelPrepare();
    for (const QUrl &url : {urlB, urlC}) {
        QVERIFY(m_browser->scheme()->documentPath(url).isEmpty());
        QCOMPARE(requestStatus(WebPdfScheme::viewerFile(url)), QStringLiteral("refused"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, QStringLiteral("Object.keys(window.sheafline.preparedFiles()).length")).toInt(), 0, 10000);
    // The shown document is not touched by that.
    QVERIFY(requestStatus(WebPdfScheme::viewerFile(m_browser->Document()->url())).startsWith(QLatin1String("status 200 ")));

    // Letting go of the document drops the preparation too.
    QVERIFY(prepareAll({a}));
    const QUrl again = m_browser->preparedUrl(a);
    QVERIFY(again != urlA);
    m_browser->Navigate(QString());
    QCOMPARE(m_browser->preparedUrl(a), QUrl());
    QVERIFY(m_browser->scheme()->documentPath(again).isEmpty());
}

void TestWebBrowser::changedFileIsNotShownFromItsPreparation()
{
    QVERIFY(showPdf(m_pdf));
    const QString path = m_dir.path(QStringLiteral("changing.pdf"));
    QVERIFY(PdfFixtures::writeSimplePdf(path, 2));
    QVERIFY(prepareAll({path}));
    const QUrl preparedUrl = m_browser->preparedUrl(path);
    // Rewritten after it was read: the viewer must show what is on disk now.
    QVERIFY(PdfFixtures::writeSimplePdf(path, 7));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    file.close();

    QSignalSpy shown(m_browser, &TWebBrowser::DocumentShown);
    m_browser->Navigate(path);
    QVERIFY(m_browser->Document()->url() != preparedUrl);
    QVERIFY(m_browser->scheme()->documentPath(preparedUrl).isEmpty());
    QVERIFY(shown.wait(loadTimeoutMs));
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probeShown).toInt(), 7, loadTimeoutMs);
    QCOMPARE(js(*m_browser, QStringLiteral("window.sheafline.status().prepared")).toBool(), false);
}

void TestWebBrowser::firstPageIsDrawnOnce_data()
{
    QTest::addColumn<bool>("prepared");
    QTest::newRow("opened") << false;
    QTest::newRow("prepared") << true;
}

// The first page is drawn once, at the zoom the document's initial view
// chooses, not first at the default zoom and then again.  The document shown
// before is slow to draw, so that drawing its next page is still under way
// when the new one opens (the end of that drawing asks for more).
void TestWebBrowser::firstPageIsDrawnOnce()
{
    QFETCH(bool, prepared);
    const QString slow = m_dir.path(QStringLiteral("slow-to-draw.pdf"));
    if (!QFileInfo::exists(slow)) {
        QPdfWriter writer(slow);
        QPainter painter(&writer);
        for (int page = 0; page < 3; ++page) {
            if (page > 0)
                writer.newPage();
            for (int i = 0; i < 40000; ++i)
                painter.drawLine((i * 37) % 9000, (i * 53) % 12000, (i * 71) % 9000, (i * 29) % 12000);
        }
        QVERIFY(painter.end());
    }
    QVERIFY(showPdf(slow));
    const QString path = m_dir.path(prepared ? QStringLiteral("drawn-once-prepared.pdf")
                                             : QStringLiteral("drawn-once.pdf"));
    QVERIFY(PdfFixtures::writeSimplePdf(path, 2));
    if (prepared)
        QVERIFY(prepareAll({path}));
    js(*m_browser, QStringLiteral(
        "window.slDraws = []; if (!window.slDrawsCounted) { window.slDrawsCounted = true;"
        " PDFViewerApplication.eventBus.on('pagerender', e => { if (e.pageNumber === 1)"
        "   window.slDraws.push(PDFViewerApplication.pdfViewer.currentScale); }); }"));
    QSignalSpy shown(m_browser, &TWebBrowser::DocumentShown);
    m_browser->Navigate(path);
    QVERIFY(shown.wait(loadTimeoutMs));
    QCOMPARE(shown.first().at(1).toBool(), true);
    QCOMPARE(js(*m_browser, QStringLiteral("window.sheafline.status().prepared")).toBool(), prepared);
    const QString draws = js(*m_browser, QStringLiteral("window.slDraws.join(' ')")).toString();
    QCOMPARE(draws.split(QLatin1Char(' '), Qt::SkipEmptyParts).size(), 1);
    QCOMPARE(draws.toDouble(), js(*m_browser, QStringLiteral("PDFViewerApplication.pdfViewer.currentScale")).toDouble());
}

// A prepared document's first page is drawn ahead at the zoom the viewer
// will choose; shown, it is that picture, pixel for pixel what the viewer
// draws itself.
void TestWebBrowser::preparedFirstPageIsTheDrawingTakenAhead()
{
    const QString path = m_dir.path(QStringLiteral("drawn-ahead.pdf"));
    QVERIFY(PdfFixtures::writeSimplePdf(path, 2));
    const QString picture = QStringLiteral(
        "(function(){ const c = document.querySelector('#viewer .page[data-page-number=\"1\"] canvas');"
        " return c ? c.width + 'x' + c.height + ' ' + c.toDataURL() : ''; })()");
    const auto show = [this](const QString &file) {
        QSignalSpy shown(m_browser, &TWebBrowser::DocumentShown);
        m_browser->Navigate(file);
        return shown.wait(loadTimeoutMs) && shown.first().at(1).toBool();
    };

    // Drawn by the viewer itself.
    QVERIFY(showPdf(m_pdf));
    QVERIFY(show(path));
    QCOMPARE(js(*m_browser, QStringLiteral("window.sheafline.status().reusedDrawing")).toBool(), false);
    const QString drawnByViewer = js(*m_browser, picture).toString();
    QVERIFY(drawnByViewer.size() > 100);

    // Shown from its preparation.
    QVERIFY(showPdf(m_pdf));
    QVERIFY(prepareAll({path}));
    QVERIFY(show(path));
    QCOMPARE(js(*m_browser, QStringLiteral("window.sheafline.status().prepared")).toBool(), true);
    QCOMPARE(js(*m_browser, QStringLiteral("window.sheafline.status().reusedDrawing")).toBool(), true);
    QVERIFY(js(*m_browser, picture).toString() == drawnByViewer);
}

int main(int argc, char **argv)
{
    prepareWebBrowserProcess();
    QApplication app(argc, argv);
    TestWebBrowser test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webbrowser.moc"
