// Journeys in the web view ("-b") with real input: the real program under
// Xvfb and a window manager, in a home of its own, driven by XTest key
// presses and mouse clicks, checked by what the screen shows.  Pages are
// solid colours, so the one shown can be told by its pixels; the program's
// texts are read by matching its own font.  The journeys that hold for both
// views (the prompt's キャンセル, a rewritten file) run in the built-in view too.
#include "Journey.h"
#include "SolidPdf.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Desktop;

namespace {

// A page shown with nothing over it (no prompt, no shade of an overlay) is
// its colour itself.
constexpr int kExactTolerance = 10;

// A copy of `in` that opens with the password "user" only.
bool encrypt(const QString &in, const QString &out)
{
    QProcess qpdf;
    qpdf.start(QStringLiteral("qpdf"), {QStringLiteral("--encrypt"), QStringLiteral("user"), QStringLiteral("owner"),
                                         QStringLiteral("256"), QStringLiteral("--"), in, out});
    return qpdf.waitForFinished(30000) && qpdf.exitStatus() == QProcess::NormalExit && qpdf.exitCode() == 0;
}

} // namespace

class TestWebJourneys : public JourneyTest
{
    Q_OBJECT

    QString doc(const Rig &rig, const QString &name) const { return rig.doc(name); }

    // Whether launch() starts the web view ("-b"); journeys that hold for
    // both views run once in each.
    bool m_web = true;

    // Starts the program in the web view (or the built-in one) on the
    // documents and waits until the list shows `lastName`.
    bool launch(Rig &rig, const QString &lastName)
    {
        QStringList args{rig.docs};
        if (m_web)
            args << QStringLiteral("-b");
        return JourneyTest::launch(rig, args) && waitText(rig, lastName);
    }

    static void bothViews()
    {
        QTest::addColumn<bool>("web");
        QTest::newRow("web view") << true;
        QTest::newRow("built-in view") << false;
    }

    // Waits until the middle of the viewer is `colour` with nothing over it.
    bool waitClean(Rig &rig, const QColor &colour, int timeoutMs = kShowMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        double share = 0;
        while (!deadline.hasExpired()) {
            share = colourShare(grabScreen(), viewerMiddle(rig), colour, kExactTolerance);
            if (share > 0.97)
                return true;
            QTest::qWait(50);
        }
        qWarning("the viewer's middle is %.0f %% the page's colour %s (screen saved as %s)", share * 100,
                 qPrintable(colour.name()), qPrintable(saveScreen(QStringLiteral("not-clean"))));
        return false;
    }

    // Waits until the middle of the viewer no longer shows `colour` at all.
    bool waitGone(Rig &rig, const QColor &colour, int timeoutMs = kShowMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (colourShare(grabScreen(), viewerMiddle(rig), colour) < 0.02)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // Down, then Enter, until `colour` is shown with nothing over it.
    bool stepClean(Rig &rig, const QColor &colour)
    {
        key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        return waitClean(rig, colour);
    }

    // "表示" in the menu bar, then the item `downs` places down, by keyboard.
    bool menuCommand(Rig &rig, int downs)
    {
        const QRect f = frame(rig);
        const auto menu = findText(grabScreen(), QRect(f.left(), f.top(), 300, 40), QStringLiteral("表示"), m_fonts);
        if (!menu)
            return false;
        click(*menu);
        for (int i = 0; i < downs; ++i)
            key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        moveMouse(QPoint(1, 1));
        return true;
    }

private slots:
    void init() { m_web = true; }

    // A protected document's prompt, left unanswered, goes with it: each
    // document after it is shown whole, with nothing over it.
    void promptDoesNotStayOverLaterDocuments()
    {
        auto rig = newRig();
        QVERIFY(SolidPdf::writeSolid(doc(*rig, QStringLiteral("alpha.pdf")), kRed));
        const QString open = rig->dir.filePath(QStringLiteral("open.pdf"));
        QVERIFY(SolidPdf::writeSolid(open, kYellow));
        QVERIFY2(encrypt(open, doc(*rig, QStringLiteral("bravo.pdf"))), "qpdf cannot encrypt");
        QVERIFY(SolidPdf::writeSolid(doc(*rig, QStringLiteral("charlie.pdf")), kGreen));
        QVERIFY(SolidPdf::writeSolid(doc(*rig, QStringLiteral("delta.pdf")), kBlue));
        QVERIFY(launch(*rig, QStringLiteral("delta.pdf")));

        QVERIFY(stepClean(*rig, kRed));
        key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        QVERIFY(waitGone(*rig, kRed)); // the protected one is up, unanswered
        const bool prompted = waitText(*rig, viewer(*rig), QStringLiteral("パスワード")).has_value();
        QVERIFY(stepClean(*rig, kGreen));
        QVERIFY(stepClean(*rig, kBlue));
        QVERIFY2(prompted, "the protected document showed no Japanese prompt");
    }

    // The toolbar shows its controls, in Japanese, and they work.
    void toolbarShowsItsControls()
    {
        auto rig = newRig();
        QVERIFY(SolidPdf::writePages(doc(*rig, QStringLiteral("alpha.pdf")), {kRed, kGreen}));
        QVERIFY(launch(*rig, QStringLiteral("alpha.pdf")));
        QVERIFY(stepClean(*rig, kRed));
        QVERIFY(menuCommand(*rig, 2)); // ツールバー
        const QRect f = frame(*rig);
        const QRect strip(viewer(*rig).left(), f.top(), viewer(*rig).width(), 90);
        QVERIFY(waitText(*rig, strip, QStringLiteral("全体")));
        QVERIFY(findText(grabScreen(), strip, QStringLiteral("幅"), m_fonts));
        QVERIFY(findText(grabScreen(), strip, QStringLiteral("/ 2"), m_fonts));
        const auto next = findText(grabScreen(), strip, QStringLiteral("▶"), m_fonts);
        QVERIFY2(next, "no ▶ button in the toolbar");
        // Its tip, in Japanese, when the pointer rests on it.
        moveMouse(*next);
        QVERIFY(waitText(*rig, QRect(f.left(), f.top(), f.width(), 160), QStringLiteral("次のページ")));
        // And a click on it goes to the next page (a pixel off the place
        // the pointer rests on: xdotool waits for a move that never comes).
        click(*next + QPoint(1, 1));
        moveMouse(QPoint(1, 1));
        QVERIFY(waitClean(*rig, kGreen));
    }

    // A file the viewer cannot read shows the built-in view's message.
    void brokenFileShowsTheMessage()
    {
        auto rig = newRig();
        QVERIFY(SolidPdf::writeSolid(doc(*rig, QStringLiteral("alpha.pdf")), kRed));
        QFile broken(doc(*rig, QStringLiteral("bravo.pdf")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("%PDF-1.4\n1 0 obj << /Type /Catalog");
        broken.close();
        QVERIFY(SolidPdf::writeSolid(doc(*rig, QStringLiteral("charlie.pdf")), kGreen));
        QVERIFY(launch(*rig, QStringLiteral("charlie.pdf")));

        QVERIFY(stepClean(*rig, kRed));
        key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        QVERIFY(waitText(*rig, viewer(*rig), QStringLiteral("を表示できません。")));
        QVERIFY(stepClean(*rig, kGreen));
    }

    // キャンセル on the prompt gives the keyboard back to the list: the next
    // Down, Enter show the next document.
    void cancelGivesTheKeyboardBackToTheList_data() { bothViews(); }
    void cancelGivesTheKeyboardBackToTheList()
    {
        QFETCH(bool, web);
        m_web = web;
        auto rig = newRig();
        const QString open = rig->dir.filePath(QStringLiteral("open.pdf"));
        QVERIFY(SolidPdf::writeSolid(open, kYellow));
        QVERIFY2(encrypt(open, doc(*rig, QStringLiteral("alpha.pdf"))), "qpdf cannot encrypt");
        QVERIFY(SolidPdf::writeSolid(doc(*rig, QStringLiteral("bravo.pdf")), kGreen));
        QVERIFY(SolidPdf::writeSolid(doc(*rig, QStringLiteral("charlie.pdf")), kBlue));
        QVERIFY(launch(*rig, QStringLiteral("charlie.pdf")));

        key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        const auto cancel = waitText(*rig, viewer(*rig), QStringLiteral("キャン"));
        QVERIFY(cancel);
        click(*cancel);
        moveMouse(QPoint(1, 1));
        QVERIFY(waitText(*rig, viewer(*rig), QStringLiteral("表示していません。")));
        QVERIFY(stepClean(*rig, kGreen));
        QVERIFY(stepClean(*rig, kBlue));
    }

    // The shown document rewritten on disk is shown again as it is now, at
    // the page the user was on; unreadable, it says so; whole again, it is back.
    void rewrittenFileIsShownAgain_data() { bothViews(); }
    void rewrittenFileIsShownAgain()
    {
        QFETCH(bool, web);
        m_web = web;
        auto rig = newRig();
        const QString path = doc(*rig, QStringLiteral("alpha.pdf"));
        QVERIFY(SolidPdf::writePages(path, {kRed, kGreen}));
        QVERIFY(launch(*rig, QStringLiteral("alpha.pdf")));
        QVERIFY(stepClean(*rig, kRed));
        // Into the document, to its end: the second page.
        click(viewerMiddle(*rig).center());
        moveMouse(QPoint(1, 1));
        key(QStringLiteral("End"));
        QVERIFY(waitClean(*rig, kGreen));

        QVERIFY(SolidPdf::writePages(path, {kYellow, kBlue}));
        QVERIFY(waitClean(*rig, kBlue));

        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("%PDF-1.4\n1 0 obj << /Type /Catalog");
        file.close();
        QVERIFY(waitText(*rig, viewer(*rig), QStringLiteral("を表示できません。")));

        QVERIFY(SolidPdf::writePages(path, {kYellow}));
        QVERIFY(waitClean(*rig, kYellow));
    }
};

QTEST_MAIN(TestWebJourneys)
#include "tst_journeys_web.moc"
