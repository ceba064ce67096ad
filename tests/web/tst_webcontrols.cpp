// The web view's own controls around the pdf.js page: the Japanese toolbar
// that drives the viewer, the messages and the password prompt laid over
// the page, a clean start for every load, the page's texts and context
// menu, and a shown file that changes on disk.
#include "viewer/PdfMessagePanel.h"
#include "viewer/web/TWebBrowser.h"
#include "viewer/web/TWebDocument.h"
#include "viewer/web/WebBrowserProcess.h"
#include "viewer/web/WebPdfScheme.h"
#include "viewer/web/WebToolbar.h"

#include "WebTestSupport.h"
#include "support/PdfFixtures.h"
#include "support/TestDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <cstdio>

namespace {

using WebTest::js;

constexpr int loadTimeoutMs = 60000;

// Latin letters in a text meant for the user: an untranslated text.
const QRegularExpression latinWord(QStringLiteral("[A-Za-z]{2,}|\\{\\{"));

// Texts the page shows or tells about itself (tooltips, placeholders, labels
// for assistive tools), outside what the document itself says: its text and
// annotation layers.
const QString probeChromeTexts = QStringLiteral(
    "(function(){ const out = [];"
    " for (const el of document.querySelectorAll('body *')) {"
    "  if (el.closest('.textLayer, .annotationLayer') || !el.getClientRects().length) continue;"
    "  if (getComputedStyle(el).visibility === 'hidden') continue;"
    "  for (const n of el.childNodes) if (n.nodeType === 3 && n.textContent.trim()) out.push(n.textContent.trim());"
    "  for (const a of ['title', 'placeholder', 'aria-label']) { const v = el.getAttribute(a); if (v) out.push(v); }"
    " } return out.join('\\n'); })()");

// What of the viewer's own chrome (prompt, error bar) is on the page.
const QString probeViewerChrome = QStringLiteral(
    "(function(){ const out = [];"
    " if (document.querySelector('dialog[open]')) out.push('dialog');"
    " if (getComputedStyle(document.getElementById('errorWrapper')).display !== 'none') out.push('error bar');"
    " if (getComputedStyle(document.getElementById('toolbarContainer')).display !== 'none') out.push('toolbar');"
    " return out.join(', '); })()");

// Where the viewer stands: page / pages / zoom / rotation.
const QString probePlace = QStringLiteral(
    "(function(){ const a = PDFViewerApplication; if (!a.pdfDocument) return '';"
    " return a.page + '/' + a.pagesCount + ' ' + Math.round(a.pdfViewer.currentScale * 100) + '% '"
    "  + a.pdfViewer.pagesRotation; })()");

bool encryptPdf(const QString &in, const QString &out)
{
    QProcess qpdf;
    qpdf.start(QStringLiteral("qpdf"), {QStringLiteral("--encrypt"), QStringLiteral("user"), QStringLiteral("owner"),
                                         QStringLiteral("256"), QStringLiteral("--"), in, out});
    return qpdf.waitForFinished(30000) && qpdf.exitStatus() == QProcess::NormalExit && qpdf.exitCode() == 0;
}

QAbstractButton *buttonWithTip(QWidget *parent, const QString &tip)
{
    for (QAbstractButton *b : parent->findChildren<QAbstractButton *>()) {
        if (b->toolTip() == tip)
            return b;
    }
    return nullptr;
}

QPushButton *buttonWithText(QWidget *parent, const QString &text)
{
    for (QPushButton *b : parent->findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

} // namespace

class TestWebControls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void everyLoadStartsClean_data();
    void everyLoadStartsClean();
    void unshownFileShowsTheMessage_data();
    void unshownFileShowsTheMessage();
    void passwordPrompt();
    void cancelGivesTheFocusBack_data();
    void cancelGivesTheFocusBack();
    void textsAreJapanese();
    void contextMenuIsJapanese();
    void toolbarDrivesTheViewer_data();
    void toolbarDrivesTheViewer();
    void changedFileIsShownAgain_data();
    void changedFileIsShownAgain();

private:
    // Navigates and waits until the document (or the message for it) is
    // shown; returns whether the viewer showed the document.
    bool show(const QString &path, bool *ok = nullptr);
    QLabel *messageLabel() const { return m_browser->messagePanel()->messageLabel(); }
    QLineEdit *passwordEdit() const { return m_browser->messagePanel()->passwordEdit(); }
    bool promptShown() const { return m_browser->showsMessage() && passwordEdit()->isVisibleTo(m_browser->widget()); }

    TestDir m_dir;
    QString m_plain;
    QString m_locked;
    QWidget *m_window = nullptr;
    QListWidget *m_list = nullptr;
    TWebBrowser *m_browser = nullptr;
};

void TestWebControls::initTestCase()
{
    if (!WebPdfScheme::viewerAvailable())
        QSKIP("the pdf.js viewer (libjs-pdf) is not installed");
    m_plain = m_dir.path(QStringLiteral("plain.pdf"));
    QVERIFY(PdfFixtures::writeSimplePdf(m_plain, 8));
    m_locked = m_dir.path(QStringLiteral("locked.pdf"));
    const QString open = m_dir.path(QStringLiteral("open-five.pdf"));
    QVERIFY(PdfFixtures::writeSimplePdf(open, 5));
    QVERIFY2(encryptPdf(open, m_locked), "qpdf cannot encrypt the fixture");

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
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

void TestWebControls::cleanupTestCase()
{
    delete m_window;
}

bool TestWebControls::show(const QString &path, bool *ok)
{
    QSignalSpy shown(m_browser, &TWebBrowser::DocumentShown);
    m_browser->Navigate(path);
    if (!QTest::qWaitFor([&] { return !shown.isEmpty(); }, loadTimeoutMs))
        return false;
    const bool shownOk = shown.first().at(1).toBool();
    if (ok)
        *ok = shownOk;
    return shownOk;
}

void TestWebControls::everyLoadStartsClean_data()
{
    QTest::addColumn<QString>("before");    // "locked", "wrong password", "cancelled", "broken"
    QTest::addColumn<bool>("prepared");     // the next document was prepared ahead
    QTest::newRow("after the password prompt") << "locked" << false;
    QTest::newRow("after the password prompt, next prepared") << "locked" << true;
    QTest::newRow("after a wrong password") << "wrong password" << false;
    QTest::newRow("after a cancelled prompt") << "cancelled" << false;
    QTest::newRow("after a broken file") << "broken" << false;
}

// Whatever the document before left on screen (a prompt, its grey overlay,
// an error), the next one is shown alone.
void TestWebControls::everyLoadStartsClean()
{
    QFETCH(QString, before);
    QFETCH(bool, prepared);
    QVERIFY(show(m_plain)); // the viewer page is up
    if (before == QLatin1String("broken")) {
        const QString broken = m_dir.path(QStringLiteral("broken.pdf"));
        QVERIFY(PdfFixtures::writeBrokenPdf(broken));
        QVERIFY(!show(broken));
        QVERIFY(m_browser->showsMessage());
    } else {
        QVERIFY(!show(m_locked));
        QVERIFY(promptShown());
        if (before == QLatin1String("wrong password")) {
            QSignalSpy shown(m_browser, &TWebBrowser::DocumentShown);
            passwordEdit()->setText(QStringLiteral("wrong"));
            QTest::keyClick(passwordEdit(), Qt::Key_Return);
            QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), loadTimeoutMs);
            QVERIFY(messageLabel()->text().contains(QStringLiteral("パスワードが違います")));
        } else if (before == QLatin1String("cancelled")) {
            buttonWithText(m_browser->messagePanel(), QStringLiteral("キャンセル"))->click();
            QVERIFY(!passwordEdit()->isVisibleTo(m_browser->widget()));
        }
    }

    const QString next = m_dir.path(QStringLiteral("next-%1-%2.pdf").arg(QTest::currentDataTag()).arg(prepared));
    QVERIFY(PdfFixtures::writeSimplePdf(next, 3));
    if (prepared) {
        QSignalSpy preparedSpy(m_browser, &TWebBrowser::Prepared);
        m_browser->prepare({next});
        QTRY_VERIFY_WITH_TIMEOUT(!preparedSpy.isEmpty(), loadTimeoutMs);
    }
    m_browser->Navigate(next);
    // At once: the panel of the document before is gone.
    QVERIFY(!m_browser->showsMessage());
    QSignalSpy shown(m_browser, &TWebBrowser::DocumentShown);
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), loadTimeoutMs);
    QCOMPARE(shown.first().at(1).toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, WebTest::probeShown).toInt(), 3, loadTimeoutMs);
    QCOMPARE(js(*m_browser, probeViewerChrome).toString(), QString());
    QVERIFY(!m_browser->showsMessage());
    // The prompt of the document before does not answer any more.
    QCOMPARE(js(*m_browser, QStringLiteral("window.sheafline.password('user')")).toBool(), false);
}

void TestWebControls::unshownFileShowsTheMessage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents"); // "<broken>" for a truncated PDF, "<none>" for no file
    QTest::addColumn<QString>("reason");
    const QString damaged = QStringLiteral("PDF ファイルではないか、ファイルが壊れています。");
    QTest::newRow("truncated") << "truncated.pdf" << QByteArray("<broken>") << damaged;
    QTest::newRow("empty") << "empty.pdf" << QByteArray() << damaged;
    QTest::newRow("text named .pdf") << "text.pdf" << QByteArray("hello\n") << damaged;
    QTest::newRow("missing") << "gone.pdf" << QByteArray("<none>") << QStringLiteral("ファイルが見つかりません。");
}

// A file the viewer cannot show gets the built-in view's message, in place
// of the viewer's English error bar.
void TestWebControls::unshownFileShowsTheMessage()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, reason);
    const QString path = m_dir.path(name);
    if (contents == "<broken>")
        QVERIFY(PdfFixtures::writeBrokenPdf(path));
    else if (contents != "<none>")
        m_dir.writeFile(name, contents);
    QVERIFY(show(m_plain));

    bool ok = true;
    show(path, &ok);
    QVERIFY(!ok);
    QVERIFY(m_browser->showsMessage());
    QCOMPARE(messageLabel()->text(), QStringLiteral("%1 を表示できません。\n%2").arg(name, reason));
    QVERIFY(!passwordEdit()->isVisibleTo(m_browser->widget()));
    QCOMPARE(js(*m_browser, probeViewerChrome).toString(), QString());
    // The next good file replaces the message.
    QVERIFY(show(m_plain));
    QVERIFY(!m_browser->showsMessage());
}

void TestWebControls::passwordPrompt()
{
    m_list->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(m_list->hasFocus());
    QVERIFY(show(m_plain));
    QVERIFY(!show(m_locked));
    QVERIFY(promptShown());
    QCOMPARE(messageLabel()->text(),
             QStringLiteral("locked.pdf はパスワードで保護されています。\nパスワードを入力してください。"));
    QVERIFY(m_list->hasFocus()); // the prompt does not take the focus by itself
    QCOMPARE(js(*m_browser, probeViewerChrome).toString(), QString());

    QSignalSpy shown(m_browser, &TWebBrowser::DocumentShown);
    passwordEdit()->setText(QStringLiteral("wrong"));
    QTest::keyClick(passwordEdit(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), loadTimeoutMs);
    QCOMPARE(shown.takeFirst().at(1).toBool(), false);
    QCOMPARE(messageLabel()->text(), QStringLiteral("パスワードが違います。\nもう一度入力してください。"));
    QVERIFY(promptShown());

    passwordEdit()->setText(QStringLiteral("user"));
    QTest::keyClick(passwordEdit(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), loadTimeoutMs);
    QCOMPARE(shown.first().at(1).toBool(), true);
    QVERIFY(!m_browser->showsMessage());
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, WebTest::probeShown).toInt(), 5, loadTimeoutMs);
}

void TestWebControls::cancelGivesTheFocusBack_data()
{
    QTest::addColumn<bool>("intoField"); // the user clicked into the field before cancelling
    QTest::newRow("field clicked, then キャンセル") << true;
    QTest::newRow("キャンセル clicked at once") << false;
}

// キャンセル puts the keyboard focus back where it was before the user went
// into the prompt (the list), not on the next control of the window.
void TestWebControls::cancelGivesTheFocusBack()
{
    QFETCH(bool, intoField);
    m_list->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(m_list->hasFocus());
    QVERIFY(!show(m_locked));
    QVERIFY(promptShown());
    QVERIFY(m_list->hasFocus());

    QSignalSpy entered(m_browser, &TWebBrowser::Enter);
    if (intoField) {
        QTest::mouseClick(passwordEdit(), Qt::LeftButton, {}, passwordEdit()->rect().center());
        QTRY_VERIFY(passwordEdit()->hasFocus());
        QCOMPARE(entered.size(), 1); // the user entered the viewer
    }
    QPushButton *cancel = buttonWithText(m_browser->messagePanel(), QStringLiteral("キャンセル"));
    QVERIFY(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton, {}, cancel->rect().center());
    QTRY_VERIFY(m_list->hasFocus());
    QCOMPARE(messageLabel()->text(), QStringLiteral("locked.pdf はパスワードで保護されているため表示していません。"));
    QVERIFY(!passwordEdit()->isVisibleTo(m_browser->widget()));
}

// Nothing the view shows of its own (toolbar, tooltips, the viewer's texts
// in the page) is in English.
void TestWebControls::textsAreJapanese()
{
    QVERIFY(show(m_plain));
    IAcroAXDocShim *control = m_browser->ViewControl();
    QVERIFY(control);
    control->setShowToolbar(WordTrue);
    control->setPageMode(QStringLiteral("thumbs"));
    QTRY_VERIFY(m_browser->toolbar()->isVisible());
    // The thumbnails are there and carry the viewer's own texts.
    QTRY_COMPARE_WITH_TIMEOUT(
        js(*m_browser, QStringLiteral("document.querySelector('#thumbnailView a') ? "
                                      "document.querySelector('#thumbnailView a').title : ''")).toString(),
        QStringLiteral("1 ページ"), loadTimeoutMs);

    QStringList english;
    const QStringList pageTexts = js(*m_browser, probeChromeTexts).toString().split(QLatin1Char('\n'));
    for (const QString &text : pageTexts) {
        if (text.contains(latinWord))
            english << QStringLiteral("page: ") + text;
    }
    // The toolbar: every button's text and tip, every label and field.
    WebToolbar *toolbar = m_browser->toolbar();
    QStringList toolbarTexts;
    for (QAbstractButton *b : toolbar->findChildren<QAbstractButton *>())
        toolbarTexts << b->text() << b->toolTip();
    for (QLabel *l : toolbar->findChildren<QLabel *>())
        toolbarTexts << l->text() << l->toolTip();
    for (QLineEdit *e : toolbar->findChildren<QLineEdit *>())
        toolbarTexts << e->placeholderText() << e->toolTip();
    toolbarTexts << toolbar->zoomBox()->toolTip();
    for (const QString &text : std::as_const(toolbarTexts)) {
        if (text.contains(latinWord))
            english << QStringLiteral("toolbar: ") + text;
    }
    QVERIFY2(english.isEmpty(), qPrintable(english.join(QLatin1String(" | "))));
    // The toolbar tells the page and the count as the built-in view does.
    QTRY_COMPARE(toolbar->pageCount()->text(), QStringLiteral("/ 8"));
    QCOMPARE(toolbar->pageEdit()->text(), QStringLiteral("1"));

    control->setShowToolbar(WordFalse);
    control->setPageMode(QStringLiteral("none"));
    QTRY_VERIFY(!m_browser->toolbar()->isVisible());
}

// The page's context menu is the program's own, in Japanese, without the
// browser's commands.
void TestWebControls::contextMenuIsJapanese()
{
    QVERIFY(show(m_plain));
    QWidget *surface = m_browser->focusProxy() ? m_browser->focusProxy() : m_browser;
    const auto openMenu = [this] {
        for (QMenu *menu : m_browser->findChildren<QMenu *>()) {
            if (menu->isVisible())
                return menu;
        }
        return static_cast<QMenu *>(nullptr);
    };
    QTest::mouseClick(surface, Qt::RightButton, {}, surface->rect().center());
    QTRY_VERIFY_WITH_TIMEOUT(openMenu(), 10000);
    QMenu *menu = openMenu();
    QStringList texts;
    for (QAction *action : menu->actions()) {
        if (!action->isSeparator())
            texts << action->text();
    }
    menu->close();
    QCOMPARE(texts, QStringList({QStringLiteral("コピー"), QStringLiteral("すべて選択")}));
}

void TestWebControls::toolbarDrivesTheViewer_data()
{
    QTest::addColumn<QString>("control"); // a tooltip, or "page edit", "zoom box", "find edit"
    QTest::addColumn<QString>("input");   // typed into the edit
    QTest::addColumn<QString>("probe");   // script on the page after the step
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("findLabel");

    const QString page = QStringLiteral("String(PDFViewerApplication.page)");
    const QString scaleValue = QStringLiteral("String(PDFViewerApplication.pdfViewer.currentScaleValue)");
    QTest::newRow("▶ next page") << "次のページ" << "" << page << "2" << "";
    QTest::newRow("page number") << "page edit" << "5" << page << "5" << "";
    QTest::newRow("page number past the end") << "page edit" << "99" << page << "8" << "";
    QTest::newRow("＋ zooms by 1.25") << "拡大" << ""
        << "(PDFViewerApplication.pdfViewer.currentScale / window.slScaleBefore).toFixed(2)" << "1.25" << "";
    QTest::newRow("－ zooms by 0.8") << "縮小" << ""
        << "(PDFViewerApplication.pdfViewer.currentScale / window.slScaleBefore).toFixed(2)" << "0.80" << "";
    QTest::newRow("zoom box 200%") << "zoom box" << "200%" << scaleValue << "2" << "";
    QTest::newRow("幅 fits the width") << "幅に合わせる" << "" << scaleValue << "page-width" << "";
    QTest::newRow("全体 fits the page") << "ページ全体を表示" << "" << scaleValue << "page-fit" << "";
    QTest::newRow("⟳ turns the pages") << "右に回転" << "" << "String(PDFViewerApplication.pdfViewer.pagesRotation)"
                                      << "90" << "";
    QTest::newRow("search finds the page") << "find edit" << "Page 6" << page << "6" << "1 / 1 件";
    QTest::newRow("search finds nothing") << "find edit" << "zzzz" << page << "1" << "見つかりません";
}

// Each control of the toolbar moves the viewer; the toolbar shows where the
// viewer then stands.
void TestWebControls::toolbarDrivesTheViewer()
{
    QFETCH(QString, control);
    QFETCH(QString, input);
    QFETCH(QString, probe);
    QFETCH(QString, expected);
    QFETCH(QString, findLabel);
    QVERIFY(show(m_plain)); // afresh: page 1, automatic zoom, no rotation
    IAcroAXDocShim *options = m_browser->ViewControl();
    options->setShowToolbar(WordTrue);
    WebToolbar *toolbar = m_browser->toolbar();
    QTRY_VERIFY(toolbar->isVisible());
    QTRY_COMPARE(toolbar->pageCount()->text(), QStringLiteral("/ 8"));
    js(*m_browser, QStringLiteral("window.slScaleBefore = PDFViewerApplication.pdfViewer.currentScale"));

    const auto typeInto = [&input](QLineEdit *edit) {
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClicks(edit, input);
        QTest::keyClick(edit, Qt::Key_Return);
    };
    if (control == QLatin1String("page edit")) {
        typeInto(toolbar->pageEdit());
    } else if (control == QLatin1String("zoom box")) {
        typeInto(toolbar->zoomBox()->lineEdit());
    } else if (control == QLatin1String("find edit")) {
        typeInto(toolbar->findEdit());
    } else {
        QAbstractButton *button = buttonWithTip(toolbar, control);
        QVERIFY2(button, qPrintable(control));
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    }
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probe).toString(), expected, 10000);
    if (!findLabel.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(toolbar->findLabel()->text(), findLabel, 10000);

    // The toolbar shows the viewer's page and zoom.
    const auto shownPlace = [&] {
        return toolbar->pageEdit()->text() + QLatin1Char(' ') + toolbar->zoomBox()->currentText();
    };
    const auto viewerPlace = [&] {
        return js(*m_browser, QStringLiteral("PDFViewerApplication.page + ' ' + "
                                             "Math.round(PDFViewerApplication.pdfViewer.currentScale * 100) + '%'"))
            .toString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(shownPlace(), viewerPlace(), 10000);
    m_list->setFocus(Qt::OtherFocusReason);
    options->setShowToolbar(WordFalse);
}

void TestWebControls::changedFileIsShownAgain_data()
{
    QTest::addColumn<int>("pages");      // of the document first shown
    QTest::addColumn<int>("page");       // the user moved there, at zoom 200 %
    QTest::addColumn<QString>("change"); // "write N", "replace N" (a new file renamed over it), "broken", "delete"
    QTest::addColumn<QString>("place");  // page/pages zoom rotation shown afterwards, or empty
    QTest::addColumn<QString>("message");

    QTest::newRow("rewritten, page kept") << 5 << 3 << "write 7" << "3/7 200% 90" << "";
    QTest::newRow("replaced by a rename, page kept") << 5 << 3 << "replace 4" << "3/4 200% 90" << "";
    QTest::newRow("rewritten shorter: the last page") << 5 << 4 << "write 2" << "2/2 200% 90" << "";
    QTest::newRow("rewritten broken") << 5 << 3 << "broken" << ""
        << "changed.pdf を表示できません。\nPDF ファイルではないか、ファイルが壊れています。";
    QTest::newRow("deleted") << 5 << 3 << "delete" << "" << "changed.pdf を表示できません。\nファイルが見つかりません。";
}

// A shown document that changes on disk is shown again as it is now, at the
// page, position, zoom and rotation it had; one that can no longer be read
// says so.  Written whole again, it comes back.
void TestWebControls::changedFileIsShownAgain()
{
    QFETCH(int, pages);
    QFETCH(int, page);
    QFETCH(QString, change);
    QFETCH(QString, place);
    QFETCH(QString, message);
    TestDir dir;
    const QString path = dir.path(QStringLiteral("changed.pdf"));
    QVERIFY(PdfFixtures::writeSimplePdf(path, pages));
    QVERIFY(show(path));

    // Page `page`, some way down it, at 200 %, turned a quarter.
    js(*m_browser, QStringLiteral("PDFViewerApplication.pdfViewer.currentScaleValue = '2';"
                                  "PDFViewerApplication.pdfViewer.pagesRotation = 90;"
                                  "PDFViewerApplication.pdfViewer.scrollPageIntoView({pageNumber: %1,"
                                  " destArray: [null, {name: 'XYZ'}, 100, 300, null]});").arg(page));
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probePlace).toString(),
                              QStringLiteral("%1/%2 200% 90").arg(page).arg(pages), 10000);
    const QString location = QStringLiteral("JSON.stringify([PDFViewerApplication.pdfViewer._location.left,"
                                            " PDFViewerApplication.pdfViewer._location.top])");
    const QString before = js(*m_browser, location).toString();

    QSignalSpy shown(m_browser, &TWebBrowser::DocumentShown);
    const QString kind = change.section(QLatin1Char(' '), 0, 0);
    const int newPages = change.section(QLatin1Char(' '), 1, 1).toInt();
    if (kind == QLatin1String("write")) {
        QVERIFY(PdfFixtures::writeSimplePdf(path, newPages));
    } else if (kind == QLatin1String("replace")) {
        const QString fresh = dir.path(QStringLiteral("fresh.tmp"));
        QVERIFY(PdfFixtures::writeSimplePdf(fresh, newPages));
        QCOMPARE(std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()), 0);
    } else if (kind == QLatin1String("broken")) {
        QVERIFY(PdfFixtures::writeBrokenPdf(path));
    } else {
        QVERIFY(QFile::remove(path));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), loadTimeoutMs);
    QCOMPARE(shown.first().at(1).toBool(), message.isEmpty());
    if (message.isEmpty()) {
        QVERIFY(!m_browser->showsMessage());
        QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probePlace).toString(), place, 10000);
        if (newPages >= page)
            QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, location).toString(), before, 10000);
        return;
    }
    QVERIFY(m_browser->showsMessage());
    QCOMPARE(messageLabel()->text(), message);

    // Whole again: the document is back in place of the message, at the
    // place it stood before it could not be read.
    shown.clear();
    QVERIFY(PdfFixtures::writeSimplePdf(path, 6));
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), loadTimeoutMs);
    QCOMPARE(shown.first().at(1).toBool(), true);
    QVERIFY(!m_browser->showsMessage());
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, WebTest::probeShown).toInt(), 6, loadTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(js(*m_browser, probePlace).toString(), QStringLiteral("%1/6 200% 90").arg(page), 10000);
}

int main(int argc, char **argv)
{
    prepareWebBrowserProcess();
    QApplication app(argc, argv);
    TestWebControls test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webcontrols.moc"
