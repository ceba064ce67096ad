// The real view control on real PDFs: layouts, panes, toolbar and scroll
// bars, file release, password prompt, messages, focus, links, find,
// selection, zoom and instant display of a prepared document.
#include "viewer/PdfPageView.h"
#include "viewer/TAcroPDF.h"
#include "viewer/isolated/PdfEngines.h"

#include "ViewerFixtures.h"
#include "support/PdfFixtures.h"
#include "support/QueuedSpy.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QToolButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSemaphore>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QStyleOptionSlider>
#include <QtTest>

namespace {

bool loadAndWait(TAcroPDF &acro, const QString &path)
{
    QSignalSpy shown(&acro, &TAcroPDF::documentShown);
    acro.LoadFile(path);
    return QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000);
}

// Holds back every document open until the test opens it.
class Gate
{
public:
    void open() { m_permits.release(1 << 20); }
    bool passed() const { return m_passed.loadAcquire() != 0; }
    void pass()
    {
        m_permits.acquire();
        m_permits.release();
        m_passed.storeRelease(1);
    }

private:
    QSemaphore m_permits;
    QAtomicInt m_passed;
};

// The real engine behind a gate.
class GatedEngine final : public PdfEngine
{
public:
    explicit GatedEngine(Gate &gate) : m_gate(gate) {}
    PdfOpenStatus open(const QString &path, const QString &password) override
    {
        m_gate.pass();
        return m_real->open(path, password);
    }
    void close() override { m_real->close(); }
    QList<QSizeF> pageSizes() const override { return m_real->pageSizes(); }
    QString title() const override { return m_real->title(); }
    QImage render(int page, const QSize &pixelSize, int rotation) override
    {
        return m_real->render(page, pixelSize, rotation);
    }

private:
    Gate &m_gate;
    std::unique_ptr<PdfEngine> m_real = createQtPdfEngine();
};

} // namespace

class TestTAcroPDF : public QObject
{
    Q_OBJECT
    TestDir m_dir;
    QString m_five, m_outlined, m_linked, m_broken, m_encrypted;
    PdfEngines m_engines{PdfEngines::kindFromEnvironment()};
    std::unique_ptr<QWidget> m_window;
    QLineEdit *m_list = nullptr; // stands in for the file list that keeps the focus
    TAcroPDF *m_acro = nullptr;

private slots:
    void initTestCase()
    {
        m_five = m_dir.path("five.pdf");
        QVERIFY(PdfFixtures::writeSimplePdf(m_five, 5));
        m_outlined = m_dir.path("outlined.pdf");
        QVERIFY(PdfFixtures::writeOutlinedPdf(m_outlined, 12));
        m_linked = m_dir.path("linked.pdf");
        QVERIFY(ViewerFixtures::writeLinkedPdf(m_linked));
        m_broken = m_dir.path("broken.pdf");
        QVERIFY(PdfFixtures::writeBrokenPdf(m_broken));
        m_encrypted = m_dir.path("locked.pdf");
        if (!ViewerFixtures::encryptPdf(m_five, m_encrypted))
            m_encrypted.clear();
    }

    void init()
    {
        m_window = std::make_unique<QWidget>();
        auto *row = new QHBoxLayout(m_window.get());
        m_list = new QLineEdit(m_window.get());
        row->addWidget(m_list);
        m_acro = new TAcroPDF(m_window.get(), TAcroPDF::defaultCacheBytes, m_engines.factory(),
                              [this](int ms) { m_engines.shortenWait(ms); });
        row->addWidget(m_acro, 1);
        m_window->resize(1000, 700);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->activateWindow();
        m_list->setFocus();
        QTRY_VERIFY(m_list->hasFocus());
    }

    void cleanup() { m_window.reset(); }

    void layoutModes_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("pairs01");   // pages 1 and 2 (index 0, 1) share a row
        QTest::addColumn<bool>("firstRight"); // page 1 stands right of the centre
        QTest::addColumn<bool>("onlyOne");   // only one page laid out
        QTest::newRow("DontCare") << "DontCare" << false << false << false;
        QTest::newRow("OneColumn") << "OneColumn" << false << false << false;
        QTest::newRow("SinglePage") << "SinglePage" << false << false << true;
        QTest::newRow("TwoColumnLeft") << "TwoColumnLeft" << true << false << false;
        QTest::newRow("TwoColumnRight") << "TwoColumnRight" << false << true << false;
    }
    void layoutModes()
    {
        QFETCH(QString, mode);
        QFETCH(bool, pairs01);
        QFETCH(bool, firstRight);
        QFETCH(bool, onlyOne);
        QVERIFY(loadAndWait(*m_acro, m_five));
        m_acro->setLayoutMode(mode);
        PdfPageView *view = m_acro->pageView();
        const QRect r0 = view->pageRectInViewport(0), r1 = view->pageRectInViewport(1);
        QVERIFY(!r0.isNull());
        QCOMPARE(r1.isNull(), onlyOne);
        if (!onlyOne)
            QCOMPARE(r0.top() == r1.top(), pairs01);
        const int centre = view->viewport()->width() / 2;
        QCOMPARE(r0.left() > centre, firstRight);
        // The pages in sight are painted with their real pixels.
        QTRY_VERIFY(view->pageShownSharp(0));
        // Applying the same mode keeps the position.
        QScrollBar *v = view->verticalScrollBar();
        v->setValue(v->maximum() / 2 + 1);
        const int position = v->value();
        const int page = view->currentPage();
        m_acro->setLayoutMode(mode);
        QCOMPARE(v->value(), position);
        QCOMPARE(view->currentPage(), page);
        // The next document keeps the mode.
        QVERIFY(loadAndWait(*m_acro, m_outlined));
        QCOMPARE(view->layoutMode(), PageLayout::modeFromString(mode));
    }

    void pagesOfOtherSizesLaidOutOnceMeasured()
    {
        // The first page is shown at once; the wider second page, measured
        // after it, narrows the layout, and the first page is drawn again at
        // its new size.
        const QString mixed = m_dir.path("mixed.pdf");
        QVERIFY(PdfFixtures::writePdf(mixed, {QSizeF(400, 600), QSizeF(800, 600), QSizeF(400, 600)}));
        QVERIFY(loadAndWait(*m_acro, mixed));
        PdfPageView *view = m_acro->pageView();
        QTRY_VERIFY(qAbs(view->pageRectInViewport(1).width() - 2 * view->pageRectInViewport(0).width()) <= 1);
        QCOMPARE(view->document().pageSizes.at(1), QSizeF(800, 600));
        QCOMPARE(view->pageRectInViewport(2).size(), view->pageRectInViewport(0).size());
        QTRY_VERIFY(view->pageShownSharp(0));
    }

    // The first page goes on screen before the scroll bars are given the
    // document's range; they get it all the same, for every document.
    void scrollBarsFollowTheShownDocument()
    {
        const QString tall = m_dir.path("tall.pdf"), wide = m_dir.path("wide.pdf");
        QVERIFY(PdfFixtures::writePdf(tall, {QSizeF(400, 1600)}));
        QVERIFY(PdfFixtures::writePdf(wide, {QSizeF(800, 200)}));
        PdfPageView *view = m_acro->pageView();
        QScrollBar *v = view->verticalScrollBar();
        for (const QString &path : {tall, wide, tall}) {
            QVERIFY(loadAndWait(*m_acro, path));
            const QRect page = view->pageRectInViewport(0);
            const int overflow = page.bottom() + 1 - view->viewport()->height();
            // The page (and its margin) runs past the bottom exactly when there is a range.
            QTRY_COMPARE(v->maximum() > 0, overflow > 0);
            if (overflow > 0)
                QVERIFY(v->maximum() >= overflow);
            QCOMPARE(v->value(), 0);
        }
    }

    // The page view's scroll bars are drawn flat; the handle still shows
    // where the view is, and a document that fits shows none.
    void scrollBarHandleShowsWhereTheViewIs()
    {
        const QString tall = m_dir.path("handle-tall.pdf"), small = m_dir.path("handle-small.pdf");
        QVERIFY(PdfFixtures::writePdf(tall, {QSizeF(400, 4000)}));
        QVERIFY(PdfFixtures::writePdf(small, {QSizeF(400, 100)}));
        QScrollBar *v = m_acro->pageView()->verticalScrollBar();
        const auto handleRect = [v] {
            QStyleOptionSlider opt;
            opt.initFrom(v);
            opt.orientation = v->orientation();
            opt.minimum = v->minimum();
            opt.maximum = v->maximum();
            opt.sliderPosition = opt.sliderValue = v->value();
            opt.pageStep = v->pageStep();
            opt.singleStep = v->singleStep();
            opt.subControls = QStyle::SC_All;
            return v->style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, v);
        };
        QVERIFY(loadAndWait(*m_acro, tall));
        QTRY_VERIFY(v->maximum() > 0);
        const QRect atTop = handleRect();
        QVERIFY(atTop.height() > 4);
        const QImage top = v->grab().toImage();
        const QColor handle = top.pixelColor(atTop.center());
        v->setValue(v->maximum());
        const QRect atEnd = handleRect();
        QVERIFY(atEnd.top() > atTop.bottom());
        const QImage end = v->grab().toImage();
        QCOMPARE(end.pixelColor(atEnd.center()), handle);
        const QColor groove = end.pixelColor(atTop.center());
        QVERIFY(groove != handle);

        QVERIFY(loadAndWait(*m_acro, small));
        QTRY_COMPARE(v->maximum(), 0);
        QCOMPARE(v->grab().toImage().pixelColor(atTop.center()), groove);
    }

    void singlePageStepsWithKeysAndWheel()
    {
        QVERIFY(loadAndWait(*m_acro, m_five));
        m_acro->setLayoutMode("SinglePage");
        PdfPageView *view = m_acro->pageView();
        view->setFocus();
        QScrollBar *v = view->verticalScrollBar();
        for (int i = 0; i < 20 && view->currentPage() == 0; ++i)
            QTest::keyClick(view, Qt::Key_PageDown);
        QCOMPARE(view->currentPage(), 1);
        QCOMPARE(v->value(), 0);
        QTest::keyClick(view, Qt::Key_PageUp); // at the top: back to the end of page 1
        QCOMPARE(view->currentPage(), 0);
        QCOMPARE(v->value(), v->maximum());
        // The wheel turns the page at the bottom edge too.
        QWheelEvent wheel(QPointF(50, 50), view->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &wheel);
        QCOMPARE(view->currentPage(), 1);
        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(view->currentPage(), 4);
    }

    void scrollingWithoutScrollBars()
    {
        QVERIFY(loadAndWait(*m_acro, m_five));
        PdfPageView *view = m_acro->pageView();
        m_acro->setShowScrollbars(WordFalse);
        QCOMPARE(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(!view->verticalScrollBar()->isVisible());
        view->setFocus();
        QTest::keyClick(view, Qt::Key_PageDown);
        QVERIFY(view->verticalScrollBar()->value() > 0);
        const int before = view->verticalScrollBar()->value();
        QWheelEvent wheel(QPointF(50, 50), view->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -240),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &wheel);
        QVERIFY(view->verticalScrollBar()->value() > before);
        m_acro->setShowScrollbars(WordTrue);
        QTRY_VERIFY(view->verticalScrollBar()->isVisible());
    }

    void ctrlWheelZooms()
    {
        QVERIFY(loadAndWait(*m_acro, m_five));
        PdfPageView *view = m_acro->pageView();
        const int before = view->zoomPercent();
        const int width = view->pageRectInViewport(0).width();
        QWheelEvent wheel(QPointF(50, 50), view->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &wheel);
        QVERIFY(view->zoomPercent() > before);
        QVERIFY(view->pageRectInViewport(0).width() > width);
        QTRY_VERIFY(view->pageShownSharp(0)); // re-rendered at the new size
    }

    void toolbarShownAndWorking()
    {
        QVERIFY(loadAndWait(*m_acro, m_five));
        QVERIFY(!m_acro->toolbar()->isVisible());
        m_acro->setShowToolbar(WordTrue);
        QVERIFY(m_acro->toolbar()->isVisible());
        QCOMPARE(m_acro->pageEdit()->text(), QStringLiteral("1"));
        m_acro->pageEdit()->setText("4");
        QTest::keyClick(m_acro->pageEdit(), Qt::Key_Return);
        QCOMPARE(m_acro->pageView()->currentPage(), 3);
        m_acro->setShowToolbar(WordFalse);
        QVERIFY(!m_acro->toolbar()->isVisible());
    }

    void toolbarZoomAndRotate()
    {
        QVERIFY(loadAndWait(*m_acro, m_five));
        m_acro->setShowToolbar(WordTrue);
        PdfPageView *view = m_acro->pageView();
        auto button = [&](const QString &tip) {
            for (QToolButton *b : m_acro->toolbar()->findChildren<QToolButton *>())
                if (b->toolTip() == tip)
                    return b;
            return static_cast<QToolButton *>(nullptr);
        };
        const QSize fitWidth = view->pageRectInViewport(0).size();
        button(QStringLiteral("ページ全体を表示"))->click();
        const QRect fitPage = view->pageRectInViewport(0);
        QVERIFY(fitPage.height() <= view->viewport()->height());
        QVERIFY(fitPage.width() < fitWidth.width());
        button(QStringLiteral("拡大"))->click();
        QVERIFY(view->pageRectInViewport(0).width() > fitPage.width());
        button(QStringLiteral("縮小"))->click();
        button(QStringLiteral("縮小"))->click();
        QVERIFY(view->pageRectInViewport(0).width() < fitPage.width());
        // A typed zoom: 100 % is 96 pixels per inch, A4 595 pt wide -> 793 px.
        QComboBox *zoom = m_acro->toolbar()->findChild<QComboBox *>();
        zoom->lineEdit()->setText(QStringLiteral("100%"));
        QTest::keyClick(zoom->lineEdit(), Qt::Key_Return);
        QCOMPARE(view->zoomPercent(), 100);
        QCOMPARE(view->pageRectInViewport(0).width(), 793);
        button(QStringLiteral("幅に合わせる"))->click();
        QCOMPARE(view->pageRectInViewport(0).size(), fitWidth);
        // A quarter turn makes the portrait page landscape.
        button(QStringLiteral("右に回転"))->click();
        const QRect turned = view->pageRectInViewport(0);
        QVERIFY(turned.width() > turned.height());
        QTRY_VERIFY(view->pageShownSharp(0));
        button(QStringLiteral("次のページ"))->click();
        QCOMPARE(view->currentPage(), 1);
        QCOMPARE(m_acro->pageEdit()->text(), QStringLiteral("2"));
        button(QStringLiteral("前のページ"))->click();
        QCOMPARE(view->currentPage(), 0);
    }

    void bookmarksPane()
    {
        QVERIFY(loadAndWait(*m_acro, m_outlined));
        QVERIFY(!m_acro->sidePane()->isVisible());
        m_acro->setPageMode("bookmarks");
        QVERIFY(m_acro->sidePane()->isVisible());
        QTreeWidget *tree = m_acro->outlineTree();
        QTRY_COMPARE(tree->topLevelItemCount(), 12);
        QCOMPARE(tree->topLevelItem(6)->text(0), QStringLiteral("Chapter 7"));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->topLevelItem(6)).center());
        QCOMPARE(m_acro->pageView()->currentPage(), 6);
        // The pane stays for the next document, with that document's outline.
        QVERIFY(loadAndWait(*m_acro, m_five));
        QTRY_COMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->flags(), Qt::NoItemFlags); // "no bookmarks" note
        m_acro->setPageMode("none");
        QVERIFY(!m_acro->sidePane()->isVisible());
    }

    void thumbnailsPaneLazy()
    {
        QVERIFY(loadAndWait(*m_acro, m_outlined));
        m_acro->setPageMode("thumbs");
        QListWidget *list = m_acro->thumbnailList();
        QVERIFY(list->isVisible());
        QCOMPARE(list->count(), 12);
        // The first items get their pictures; the ones far out of sight are not rendered.
        QTRY_VERIFY(list->item(0)->data(Qt::UserRole + 1).toBool());
        QVERIFY(!list->item(11)->data(Qt::UserRole + 1).toBool());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
        QCOMPARE(m_acro->pageView()->currentPage(), 1);
    }

    void srcEmptyLetsGoOfTheFile()
    {
        m_acro->prepare({m_outlined});
        QVERIFY(loadAndWait(*m_acro, m_five));
        QCOMPARE(m_acro->src(), m_five);
        QVERIFY(ViewerFixtures::openDescriptorsFor(m_five) >= 1);
        m_acro->setSrc(QString());
        QCOMPARE(ViewerFixtures::openDescriptorsFor(m_five), 0);
        QCOMPARE(ViewerFixtures::openDescriptorsFor(m_outlined), 0);
        QCOMPARE(m_acro->src(), QString());
        QCOMPARE(m_acro->pageView()->docId(), quint64(0));
        // The file can be renamed and shown again under its new name.
        const QString renamed = m_dir.path("renamed.pdf");
        QVERIFY(QFile::rename(m_five, renamed));
        QVERIFY(loadAndWait(*m_acro, renamed));
        QCOMPARE(m_acro->pageView()->document().pageCount(), 5);
        m_acro->setSrc(QString());
        QVERIFY(QFile::rename(renamed, m_five));
    }

    void unopenableFileShowsMessage_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("loadResult");
        QTest::newRow("broken") << "broken.pdf" << true;
        QTest::newRow("not a pdf") << "text.pdf" << true;
        QTest::newRow("missing") << "gone.pdf" << false;
    }
    void unopenableFileShowsMessage()
    {
        QFETCH(QString, file);
        QFETCH(bool, loadResult);
        m_dir.writeFile("text.pdf", "hello\n");
        QVERIFY(loadAndWait(*m_acro, m_five));
        QSignalSpy shown(m_acro, &TAcroPDF::documentShown);
        QCOMPARE(m_acro->LoadFile(m_dir.path(file)), loadResult);
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
        QVERIFY(m_acro->showsMessage());
        QVERIFY(m_acro->messageLabel()->text().contains(file));
        QVERIFY(!m_acro->passwordEdit()->isVisible());
        QCOMPARE(m_acro->pageView()->docId(), quint64(0)); // the previous document is gone
        // The next good file replaces the message.
        QVERIFY(loadAndWait(*m_acro, m_five));
        QVERIFY(!m_acro->showsMessage());
    }

    // The shown file rewritten on disk is shown again as it is now, at the
    // page and turn the user left it; a version that cannot be read says
    // so, and the next whole one comes back at the place from before it.
    void rewrittenFileIsShownAgainInPlace()
    {
        const QString path = m_dir.path("rewritten.pdf");
        QVERIFY(PdfFixtures::writeSimplePdf(path, 5));
        QVERIFY(loadAndWait(*m_acro, path));
        PdfPageView *view = m_acro->pageView();
        view->goToPage(3);
        view->rotateClockwise();
        QTRY_COMPARE(view->currentPage(), 3);
        const quint64 first = view->docId();

        QVERIFY(PdfFixtures::writePdf(path, {QSizeF(300, 400), QSizeF(300, 400), QSizeF(300, 400), QSizeF(300, 400),
                                             QSizeF(300, 400), QSizeF(300, 400)}));
        QTRY_VERIFY_WITH_TIMEOUT(view->docId() != first && view->docId() != 0, 10000);
        QCOMPARE(view->document().pageCount(), 6);
        QCOMPARE(view->currentPage(), 3);
        QCOMPARE(view->rotation(), 1);
        QVERIFY(m_list->hasFocus()); // a new version takes nobody's keyboard

        QVERIFY(PdfFixtures::writeBrokenPdf(path));
        QTRY_VERIFY_WITH_TIMEOUT(m_acro->showsMessage(), 10000);
        QVERIFY(m_acro->messageLabel()->text().contains(QStringLiteral("rewritten.pdf")));

        // Shorter now: the place is the last page there is.
        QVERIFY(PdfFixtures::writeSimplePdf(path, 2));
        QTRY_VERIFY_WITH_TIMEOUT(!m_acro->showsMessage() && view->docId() != 0, 10000);
        QCOMPARE(view->document().pageCount(), 2);
        QCOMPARE(view->currentPage(), 1);
        QCOMPARE(view->rotation(), 1);
    }

    void passwordPrompt()
    {
        if (m_encrypted.isEmpty())
            QSKIP("qpdf is not available to encrypt the fixture");
        QVERIFY(loadAndWait(*m_acro, m_encrypted));
        QVERIFY(m_acro->showsMessage());
        QVERIFY(m_acro->passwordEdit()->isVisible());
        QVERIFY(m_list->hasFocus()); // the prompt does not take the focus by itself
        QSignalSpy shown(m_acro, &TAcroPDF::documentShown);
        m_acro->passwordEdit()->setText("wrong");
        QTest::keyClick(m_acro->passwordEdit(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
        QVERIFY(m_acro->messageLabel()->text().contains(QStringLiteral("パスワードが違います")));
        QVERIFY(m_acro->passwordEdit()->isVisible());
        m_acro->passwordEdit()->setText("user");
        QTest::keyClick(m_acro->passwordEdit(), Qt::Key_Return);
        QTRY_VERIFY(!m_acro->showsMessage());
        QCOMPARE(m_acro->pageView()->document().pageCount(), 5);
        // Cancel leaves a short message.
        QVERIFY(loadAndWait(*m_acro, m_encrypted));
        const QList<QPushButton *> buttons = m_acro->findChildren<QPushButton *>();
        for (QPushButton *b : buttons)
            if (b->text() == QStringLiteral("キャンセル"))
                b->click();
        QVERIFY(m_acro->showsMessage());
        QVERIFY(!m_acro->passwordEdit()->isVisible());
        QVERIFY(m_acro->messageLabel()->text().contains(QStringLiteral("locked.pdf")));
    }

    void focusStaysOnListAndUserEntrySignals()
    {
        QSignalSpy entered(m_acro, &TAcroPDF::entered);
        QVERIFY(loadAndWait(*m_acro, m_five));
        QVERIFY(loadAndWait(*m_acro, m_linked));
        QVERIFY(m_list->hasFocus());
        QCOMPARE(entered.size(), 0);
        QWidget *surface = m_acro->documentSurface();
        QTest::mouseClick(m_acro->pageView()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_VERIFY(surface->hasFocus());
        QVERIFY(TAcroPDF::isDocumentSurface(QApplication::focusWidget()));
        QVERIFY(!TAcroPDF::isDocumentSurface(m_list));
        QCOMPARE(entered.size(), 1);
        // Moving inside the control is not a new entry; coming back from outside is.
        m_acro->setShowToolbar(WordTrue);
        QTest::mouseClick(m_acro->findEdit(), Qt::LeftButton);
        QCOMPARE(entered.size(), 1);
        m_list->setFocus(Qt::MouseFocusReason);
        QTest::mouseClick(m_acro->pageView()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_COMPARE(entered.size(), 2);
    }

    void internalLinkFindAndCopy()
    {
        QVERIFY(loadAndWait(*m_acro, m_linked));
        PdfPageView *view = m_acro->pageView();
        m_acro->setShowToolbar(WordTrue);
        QTRY_VERIFY(view->pageShownSharp(0));
        // Link rect 72,192..300,242 in points, top-left origin.
        auto at = [&](qreal x, qreal y) {
            const QRect r = view->pageRectInViewport(0);
            return QPoint(r.left() + qRound(x * r.width() / 595.0), r.top() + qRound(y * r.height() / 842.0));
        };
        // The page's links are fetched when the pointer first comes over it.
        auto hover = [&](const QPoint &pos) {
            QMouseEvent move(QEvent::MouseMove, pos, view->viewport()->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                             Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &move);
            return view->viewport()->cursor().shape();
        };
        QTRY_COMPARE(hover(at(100, 220)), Qt::PointingHandCursor);
        QCOMPARE(hover(at(100, 400)), Qt::ArrowCursor);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at(100, 220));
        QCOMPARE(view->currentPage(), 2);

        // Find: both "Gamma" hits, the current one on page 1 first.
        view->goToPage(0);
        m_acro->findEdit()->setText("gamma");
        QTest::keyClick(m_acro->findEdit(), Qt::Key_Return);
        QTRY_COMPARE(view->hitCount(), 2);
        QCOMPARE(view->currentHit(), 0);
        QTest::keyClick(m_acro->findEdit(), Qt::Key_Return);
        QCOMPARE(view->currentHit(), 1);
        QCOMPARE(view->currentPage(), 2);

        // Select "Alpha" by dragging and copy it.
        view->goToPage(0);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(70, 125));
        QMouseEvent move(QEvent::MouseMove, at(140, 150), view->viewport()->mapToGlobal(at(140, 150)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &move);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(140, 150));
        QTRY_VERIFY(view->selectedText().contains("Alpha"));
        view->setFocus();
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QVERIFY(QGuiApplication::clipboard()->text().contains("Alpha"));
    }

    void preparedDocumentShowsAtOnce()
    {
        QVERIFY(loadAndWait(*m_acro, m_five)); // settles the viewport size
        // Sent from the render service's worker thread.
        QueuedSpy prepared(m_acro->renderService(), &PdfRenderService::prepared);
        m_acro->prepare({m_outlined});
        QTRY_COMPARE_WITH_TIMEOUT(prepared.size(), 1, 15000);
        QCOMPARE(prepared.first().at(0).toString(), m_outlined);
        QSignalSpy opened(m_acro->renderService(), &PdfRenderService::opened);
        QSignalSpy shown(m_acro, &TAcroPDF::documentShown);
        m_acro->LoadFile(m_outlined);
        // Shown from the prepared document and its cached first page, with no trip to the worker.
        QCOMPARE(m_acro->pageView()->document().pageCount(), 12);
        m_acro->pageView()->viewport()->repaint();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(opened.size(), 0);
    }

    // Moving the selection and loading in one go (keys come faster than the
    // window handles them): the load is on screen before preparation runs,
    // and a view that paints nothing does not hold preparation back.
    void preparationWaitsUntilTheDocumentIsShown_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("a document") << m_five << false;
        QTest::newRow("a file that cannot be opened") << m_broken << false;
        QTest::newRow("a hidden view") << m_five << true;
    }

    void preparationWaitsUntilTheDocumentIsShown()
    {
        QFETCH(QString, file);
        QFETCH(bool, hidden);
        QVERIFY(loadAndWait(*m_acro, m_outlined)); // settles the viewport size
        if (hidden)
            m_acro->hide();
        QStringList order;
        QObject context; // the test's thread: the worker's signal comes queued
        connect(m_acro->renderService(), &PdfRenderService::prepared, &context, [&] { order << "prepared"; });
        connect(m_acro, &TAcroPDF::documentShown, &context, [&] { order << "shown"; });
        m_acro->prepare({m_linked});
        m_acro->LoadFile(file);
        QTRY_VERIFY_WITH_TIMEOUT(order.contains("prepared"), 15000);
        const QStringList expected = hidden ? QStringList{"prepared"} : QStringList{"shown", "prepared"};
        QCOMPARE(order, expected);
    }

    void slowDocumentShowsProgress()
    {
        // A control whose documents open only when the test lets them: the
        // load stays pending for as long as the test wants.
        Gate gate;
        QWidget window;
        auto *acro = new TAcroPDF(&window, 16ll << 20, [&gate] { return std::make_unique<GatedEngine>(gate); }, {});
        window.resize(600, 500);
        new QVBoxLayout(&window);
        window.layout()->addWidget(acro);
        // Whatever happens, the worker is let go before the control stops it.
        const auto letGo = qScopeGuard([&gate] { gate.open(); });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy shown(acro, &TAcroPDF::documentShown);
        acro->LoadFile(m_five);
        // The window stays responsive: the load returned with the document not
        // yet opened, and events flow while it is pending.
        QVERIFY(!gate.passed());
        QVERIFY(!acro->isBusyShown()); // not for a load that ends at once
        QTRY_VERIFY(acro->isBusyShown());
        QVERIFY(shown.isEmpty());
        gate.open();
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 15000);
        QVERIFY(gate.passed());
        QTRY_VERIFY(!acro->isBusyShown());
        QCOMPARE(acro->pageView()->document().pageCount(), 5);
    }

    void hidpiRendersDevicePixels()
    {
        QVERIFY(loadAndWait(*m_acro, m_five));
        PdfPageView *view = m_acro->pageView();
        const qreal dpr = view->devicePixelRatioForPages();
        QTRY_VERIFY(view->pageShownSharp(0));
        const QRect r = view->pageRectInViewport(0);
        const auto key = m_acro->renderService()->keyFor(view->docId(), 0, PageLayout::pixelSize(r.size(), dpr), dpr, 0);
        QVERIFY(key.has_value());
        const QImage img = m_acro->renderService()->cache().find(*key);
        QVERIFY(!img.isNull());
        QCOMPARE(img.width(), qRound(r.width() * dpr));
        QCOMPARE(img.devicePixelRatio(), dpr);
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
            QCOMPARE(dpr, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }
};

QTEST_MAIN(TestTAcroPDF)
#include "tst_tacropdf.moc"
