// The document display logic against a recording view control and a fake
// View menu: call order, check marks, call modes and error handling.
#include "viewer/DocumentDisplay.h"
#include "viewer/Prefetch.h"

#include "base/Errors.h"
#include "support/TestDir.h"

#include <QAction>
#include <QtTest>

namespace {

struct RecordingControl : IAcroAXDocShim
{
    QStringList calls;
    bool loadResult = true;
    QString throwOn; // name of the call that fails

    void record(const QString &call)
    {
        calls << call;
        if (!throwOn.isEmpty() && call.startsWith(throwOn))
            throw AppError(QStringLiteral("control failed"));
    }
    bool LoadFile(const QString &fileName) override
    {
        record(QStringLiteral("LoadFile(%1)").arg(fileName));
        return loadResult;
    }
    void setShowToolbar(WordBool On) override { record(QStringLiteral("setShowToolbar(%1)").arg(On)); }
    void setLayoutMode(const QString &m) override { record(QStringLiteral("setLayoutMode(%1)").arg(m)); }
    void setPageMode(const QString &m) override { record(QStringLiteral("setPageMode(%1)").arg(m)); }
    void setShowScrollbars(WordBool On) override { record(QStringLiteral("setShowScrollbars(%1)").arg(On)); }
    QString src() const override { return {}; }
    void setSrc(const QString &s) override { record(QStringLiteral("setSrc(%1)").arg(s)); }
};

struct FakeMenu : ViewMenuChecks
{
    std::array<bool, 10> checks{};
    FakeMenu()
    {
        checks[size_t(ViewItem::LayoutMode1)] = true;
        checks[size_t(ViewItem::PageMode1)] = true;
        checks[size_t(ViewItem::ShowScrollbars)] = true;
    }
    bool isChecked(ViewItem item) const override { return checks[size_t(item)]; }
    void setChecked(ViewItem item, bool c) override { checks[size_t(item)] = c; }
    // "T" for the toolbar, layout 1-5, page 1-3, "S" for scroll bars, checked ones only.
    QString marks() const
    {
        QString s;
        if (checks[0]) s += u'T';
        for (int i = 1; i <= 5; ++i) if (checks[i]) s += QStringLiteral("L%1").arg(i);
        for (int i = 6; i <= 8; ++i) if (checks[i]) s += QStringLiteral("P%1").arg(i - 5);
        if (checks[9]) s += u'S';
        return s;
    }
};

// A viewer over the recording control.  Mode 0 stands for the built-in
// view (loads go to the control, options reach it while it is visible);
// mode 1 for the web view (a load navigates, options go to the shown
// document, a page-mode change resets the toolbar).
struct FakeViewer : PdfViewer
{
    int mode = 0;
    RecordingControl *control = nullptr;
    QStringList *window = nullptr;
    bool visible = true;
    // Mode 1: 0 no document, 1 a PDF document, 2 a page without the control.
    int browserState = 1;

    QWidget *widget() override { return nullptr; }
    void load(const QString &path) override
    {
        if (mode == 0)
            control->LoadFile(path); // a false result is not an error
        else
            *window << QStringLiteral("Navigate(%1)").arg(path);
    }
    void close() override {}
    IAcroAXDocShim *optionControl() override
    {
        if (mode == 0)
            return visible ? control : nullptr;
        if (browserState == 0)
            return nullptr;
        if (browserState == 2)
            throw AppError(interfaceNotSupportedMessage());
        return control;
    }
    bool pageModeResetsToolbar() const override { return mode == 1; }
    void prepare(const QStringList &) override {}
    bool ownsDocumentSurface(const QWidget *) const override { return false; }
    PrintSource printSource() const override { return {}; }
};

// Everything one display needs, with a log of the main window's side.
struct Rig
{
    RecordingControl control;
    FakeMenu menu;
    QStringList window;
    FakeViewer viewer;
    bool &visible = viewer.visible;
    bool hasControl = true;
    int &browserState = viewer.browserState;
    QStringList existing;
    std::unique_ptr<DocumentDisplay> display;

    explicit Rig(int mode = 0)
    {
        viewer.mode = mode;
        viewer.control = &control;
        viewer.window = &window;
        DocumentDisplay::Hooks h;
        h.viewer = [this]() -> PdfViewer * { return hasControl ? &viewer : nullptr; };
        h.fileExists = [this](const QString &p) { return existing.contains(p); };
        h.repaint = [this] { window << QStringLiteral("Update"); };
        h.enableFocusTimer = [this] { window << QStringLiteral("Timer1.Enabled"); };
        display = std::make_unique<DocumentDisplay>(menu, h);
    }
};

const QStringList defaultApply = {QStringLiteral("setShowToolbar(0)"), QStringLiteral("setLayoutMode(DontCare)"),
                                  QStringLiteral("setPageMode(none)"), QStringLiteral("setShowScrollbars(-1)")};

} // namespace

class TestDocumentDisplay : public QObject
{
    Q_OBJECT
private slots:
    void readPdfMissingFileLoadsNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing file") << QStringLiteral("/no/such/file.pdf");
        QTest::newRow("empty path") << QString();
    }
    void readPdfMissingFileLoadsNothing()
    {
        QFETCH(QString, path);
        Rig rig;
        rig.display->readPdf(path);
        QVERIFY(rig.control.calls.isEmpty());
        QCOMPARE(rig.window, (QStringList{"Update", "Timer1.Enabled"}));
    }

    void readPdfLoadsThenAppliesOptionsInOrder()
    {
        Rig rig;
        rig.existing << "/d/a.pdf";
        rig.control.loadResult = false; // a false result is not an error
        rig.display->readPdf("/d/a.pdf");
        QCOMPARE(rig.control.calls, QStringList{"LoadFile(/d/a.pdf)"} + defaultApply);
        QCOMPARE(rig.window, (QStringList{"Update", "Timer1.Enabled"}));
        QCOMPARE(rig.menu.marks(), QStringLiteral("L1P1S"));
    }

    void readPdfDiscardsErrorsAndSkipsTheRest_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("callsMade");
        QTest::newRow("load fails") << "LoadFile" << 1;
        QTest::newRow("toolbar fails") << "setShowToolbar" << 2;
        QTest::newRow("layout fails") << "setLayoutMode" << 3;
        QTest::newRow("page mode fails") << "setPageMode" << 4;
    }
    void readPdfDiscardsErrorsAndSkipsTheRest()
    {
        QFETCH(QString, failing);
        QFETCH(int, callsMade);
        Rig rig;
        rig.existing << "/d/a.pdf";
        rig.control.throwOn = failing;
        rig.display->readPdf("/d/a.pdf"); // must not throw
        QCOMPARE(rig.control.calls.size(), callsMade);
        QVERIFY(rig.control.calls.last().startsWith(failing));
        QCOMPARE(rig.window, (QStringList{"Update", "Timer1.Enabled"}));
    }

    void readPdfWithoutControlStillEnablesTimer()
    {
        Rig rig;
        rig.existing << "/d/a.pdf";
        rig.hasControl = false;
        rig.display->readPdf("/d/a.pdf");
        QCOMPARE(rig.window, (QStringList{"Update", "Timer1.Enabled"}));
    }

    void toolbarAndScrollbarsToggleFromMenu()
    {
        Rig rig;
        rig.display->showToolbarClick(CallMode::MenuItem);
        QVERIFY(rig.menu.isChecked(ViewItem::ShowToolbar));
        rig.display->showToolbarClick(CallMode::MenuItem);
        QVERIFY(!rig.menu.isChecked(ViewItem::ShowToolbar));
        rig.display->showScrollbarsClick(CallMode::MenuItem);
        QCOMPARE(rig.control.calls,
                 (QStringList{"setShowToolbar(-1)", "setShowToolbar(0)", "setShowScrollbars(0)"}));
    }

    void toolbarCallModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("checkedBefore");
        QTest::addColumn<bool>("checkedAfter");
        QTest::addColumn<QString>("call");
        QTest::newRow("main window re-applies checked") << int(CallMode::MainWindow) << true << true << "setShowToolbar(-1)";
        QTest::newRow("main window re-applies unchecked") << int(CallMode::MainWindow) << false << false << "setShowToolbar(0)";
        QTest::newRow("no sender resets to hidden") << int(CallMode::None) << true << false << "setShowToolbar(0)";
        QTest::newRow("menu item inverts") << int(CallMode::MenuItem) << true << false << "setShowToolbar(0)";
    }
    void toolbarCallModes()
    {
        QFETCH(int, mode);
        QFETCH(bool, checkedBefore);
        QFETCH(bool, checkedAfter);
        QFETCH(QString, call);
        Rig rig;
        rig.menu.setChecked(ViewItem::ShowToolbar, checkedBefore);
        rig.display->showToolbarClick(CallMode(mode));
        QCOMPARE(rig.menu.isChecked(ViewItem::ShowToolbar), checkedAfter);
        QCOMPARE(rig.control.calls, QStringList{call});
    }

    void scrollbarsResetToShown()
    {
        Rig rig;
        rig.menu.setChecked(ViewItem::ShowScrollbars, false);
        rig.display->showScrollbarsClick(CallMode::None);
        QVERIFY(rig.menu.isChecked(ViewItem::ShowScrollbars));
        QCOMPARE(rig.control.calls, QStringList{"setShowScrollbars(-1)"});
    }

    void layoutModeByTag_data()
    {
        QTest::addColumn<int>("tag"); // -1: no sender
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("marks");
        QTest::newRow("no sender") << -1 << "DontCare" << "L1P1S";
        QTest::newRow("1 standard") << 1 << "DontCare" << "L1P1S";
        QTest::newRow("2 single page") << 2 << "SinglePage" << "L2P1S";
        QTest::newRow("3 one column") << 3 << "OneColumn" << "L3P1S";
        QTest::newRow("4 two columns left") << 4 << "TwoColumnLeft" << "L4P1S";
        QTest::newRow("5 two columns right") << 5 << "TwoColumnRight" << "L5P1S";
        QTest::newRow("unknown tag") << 9 << "DontCare" << "L1P1S";
    }
    void layoutModeByTag()
    {
        QFETCH(int, tag);
        QFETCH(QString, mode);
        QFETCH(QString, marks);
        Rig rig;
        rig.menu.setChecked(ViewItem::LayoutMode1, false);
        rig.menu.setChecked(ViewItem::LayoutMode3, true);
        rig.display->layoutModeClick(tag < 0 ? std::nullopt : std::optional<int>(tag));
        QCOMPARE(rig.menu.marks(), marks);
        QCOMPARE(rig.control.calls, QStringList{QStringLiteral("setLayoutMode(%1)").arg(mode)});
    }

    void pageModeByTag_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("marks");
        QTest::newRow("no sender") << -1 << "none" << "L1P1S";
        QTest::newRow("2 bookmarks") << 2 << "bookmarks" << "L1P2S";
        QTest::newRow("3 thumbs") << 3 << "thumbs" << "L1P3S";
        QTest::newRow("other tag") << 0 << "none" << "L1P1S";
    }
    void pageModeByTag()
    {
        QFETCH(int, tag);
        QFETCH(QString, mode);
        QFETCH(QString, marks);
        Rig rig;
        rig.menu.setChecked(ViewItem::PageMode1, false);
        rig.menu.setChecked(ViewItem::PageMode2, true);
        rig.display->pageModeClick(tag < 0 ? std::nullopt : std::optional<int>(tag));
        QCOMPARE(rig.menu.marks(), marks);
        // Mode 0 makes no second call.
        QCOMPARE(rig.control.calls, QStringList{QStringLiteral("setPageMode(%1)").arg(mode)});
    }

    void twoLayoutChoicesKeepOneCheck()
    {
        Rig rig;
        rig.display->layoutModeClick(5);
        rig.display->layoutModeClick(2);
        QCOMPARE(rig.menu.marks(), QStringLiteral("L2P1S"));
        QCOMPARE(rig.control.calls, (QStringList{"setLayoutMode(TwoColumnRight)", "setLayoutMode(SinglePage)"}));
    }

    void chosenOptionsApplyToNextDocument()
    {
        Rig rig;
        rig.existing << "/d/a.pdf" << "/d/b.pdf";
        rig.display->showToolbarClick(CallMode::MenuItem);
        rig.display->layoutModeClick(4);
        rig.display->pageModeClick(3);
        rig.display->showScrollbarsClick(CallMode::MenuItem);
        rig.control.calls.clear();
        rig.display->readPdf("/d/b.pdf");
        QCOMPARE(rig.control.calls, (QStringList{"LoadFile(/d/b.pdf)", "setShowToolbar(-1)", "setLayoutMode(TwoColumnLeft)",
                                                 "setPageMode(thumbs)", "setShowScrollbars(0)"}));
    }

    void invisibleControlIsUnreachable()
    {
        Rig rig;
        rig.visible = false;
        rig.display->layoutModeClick(3);
        rig.display->pageModeClick(2);
        rig.display->showToolbarClick(CallMode::MenuItem);
        QVERIFY(rig.control.calls.isEmpty());
        // Only the toolbar's own mark was inverted.
        QCOMPARE(rig.menu.marks(), QStringLiteral("TL1P1S"));
    }

    void browserWithoutDocument()
    {
        Rig rig(1);
        rig.browserState = 0;
        rig.display->layoutModeClick(4);
        rig.display->pageModeClick(3);
        rig.display->showToolbarClick(CallMode::MenuItem);
        rig.display->showScrollbarsClick(CallMode::MenuItem);
        QVERIFY(rig.control.calls.isEmpty());
        QCOMPARE(rig.menu.marks(), QStringLiteral("TL1P1"));
    }

    void browserPageWithoutControl()
    {
        Rig rig(1);
        rig.browserState = 2;
        rig.existing << "/d/a.pdf";
        try {
            rig.display->showToolbarClick(CallMode::MenuItem);
            QFAIL("no error raised");
        } catch (const AppError &e) {
            QCOMPARE(e.message(), QStringLiteral("Interface はサポートされていません"));
        }
        QVERIFY(rig.menu.isChecked(ViewItem::ShowToolbar)); // already inverted
        QVERIFY_THROWS_EXCEPTION(AppError, rig.display->layoutModeClick(3));
        QCOMPARE(rig.menu.marks(), QStringLiteral("TL1P1S")); // untouched: the query came first
        rig.display->readPdf("/d/a.pdf"); // silent
        QCOMPARE(rig.window, (QStringList{"Navigate(/d/a.pdf)", "Update", "Timer1.Enabled"}));
    }

    void browserPageModeSendsToolbarAgain()
    {
        Rig rig(1);
        rig.menu.setChecked(ViewItem::ShowToolbar, true);
        rig.display->pageModeClick(2);
        QCOMPARE(rig.control.calls, (QStringList{"setPageMode(bookmarks)", "setShowToolbar(-1)"}));
    }

    void controlFailureInMenuCommandKeepsRewrittenMarks()
    {
        Rig rig;
        rig.control.throwOn = "setLayoutMode";
        QVERIFY_THROWS_EXCEPTION(AppError, rig.display->layoutModeClick(2));
        QCOMPARE(rig.menu.marks(), QStringLiteral("L2P1S"));
    }

    void displayInitializeRunsStepsInOrder()
    {
        Rig rig;
        rig.existing << "/d/cur.pdf";
        rig.display->showToolbarClick(CallMode::MenuItem);
        rig.display->layoutModeClick(5);
        rig.control.calls.clear();
        QStringList steps;
        DocumentDisplay::InitializeSteps s;
        s.applyDefaultGeometry = [&] { steps << "geometry"; };
        s.currentDocumentPath = [&] { steps << "path"; return QStringLiteral("/d/cur.pdf"); };
        s.listRootFolder = [&] { steps << "list"; };
        rig.display->displayInitialize(s);
        QCOMPARE(steps, (QStringList{"geometry", "path", "list"}));
        // Reload with the current options, then the reset.
        QCOMPARE(rig.control.calls, (QStringList{"LoadFile(/d/cur.pdf)", "setShowToolbar(-1)", "setLayoutMode(TwoColumnRight)",
                                                 "setPageMode(none)", "setShowScrollbars(-1)"}) + defaultApply);
        QCOMPARE(rig.menu.marks(), QStringLiteral("L1P1S"));
    }

    void displayInitializeBeforeAnyDocument()
    {
        Rig rig;
        DocumentDisplay::InitializeSteps s;
        s.currentDocumentPath = [] { return QString(); };
        bool listed = false;
        s.listRootFolder = [&] { listed = true; };
        rig.display->displayInitialize(s);
        QVERIFY(listed);
        QCOMPARE(rig.control.calls, defaultApply);
    }

    void displayInitializeStopsAtFailingStep()
    {
        Rig rig;
        DocumentDisplay::InitializeSteps s;
        s.currentDocumentPath = [] { return QString(); };
        s.listRootFolder = [] { throw AppError(QStringLiteral("list failed")); };
        QVERIFY_THROWS_EXCEPTION(AppError, rig.display->displayInitialize(s));
        QVERIFY(rig.control.calls.isEmpty()); // the reset never ran
    }

    void helpLoadsReadme()
    {
        Rig rig;
        rig.existing << "/opt/sheafline/Readme.pdf";
        rig.display->goHelp("/opt/sheafline/");
        QCOMPARE(rig.window, (QStringList{"Update", "Timer1.Enabled"}));
        QCOMPARE(rig.control.calls.first(), QStringLiteral("LoadFile(/opt/sheafline/Readme.pdf)"));
        Rig browser(1);
        browser.existing << "/opt/sheafline/Readme.pdf";
        browser.display->goHelp("/opt/sheafline/");
        QCOMPARE(browser.window.first(), QStringLiteral("Navigate(/opt/sheafline/Readme.pdf)"));
    }

    void helpWithoutReadme()
    {
        Rig rig;
        rig.display->goHelp("/opt/sheafline/");
        QCOMPARE(rig.window, (QStringList{"Update", "Timer1.Enabled"}));
        QVERIFY(rig.control.calls.isEmpty());
        Rig browser(1);
        browser.display->goHelp("/opt/sheafline/");
        QCOMPARE(browser.window, (QStringList{"Update", "Timer1.Enabled"})); // mode 1: no about:blank
    }

    void realFileExistsRule()
    {
        TestDir dir;
        const QString file = dir.writeFile("a.pdf", "%PDF");
        QVERIFY(dir.symlink(file, "link.pdf"));
        QVERIFY(dir.symlink(dir.path("gone.pdf"), "dangling.pdf"));
        QVERIFY(DocumentDisplay::defaultFileExists(file));
        QVERIFY(DocumentDisplay::defaultFileExists(dir.path("link.pdf")));
        QVERIFY(!DocumentDisplay::defaultFileExists(dir.path("dangling.pdf")));
        QVERIFY(!DocumentDisplay::defaultFileExists(dir.path()));
        QVERIFY(!DocumentDisplay::defaultFileExists(QString()));
    }

    void senderMapping()
    {
        QAction item;
        item.setProperty("Tag", 4);
        QObject window;
        QCOMPARE(callModeOf(&item), CallMode::MenuItem);
        QCOMPARE(callModeOf(&window), CallMode::MainWindow);
        QCOMPARE(callModeOf(nullptr), CallMode::None);
        QCOMPARE(menuTagOf(&item), std::optional<int>(4));
        QCOMPARE(menuTagOf(nullptr), std::nullopt);
    }

    void actionChecksFollowActions()
    {
        QAction toolbar, scroll;
        toolbar.setCheckable(true);
        scroll.setCheckable(true);
        ActionViewMenuChecks checks;
        checks.bind(ViewItem::ShowToolbar, &toolbar);
        checks.bind(ViewItem::ShowScrollbars, &scroll);
        checks.setChecked(ViewItem::ShowToolbar, true);
        QVERIFY(toolbar.isChecked());
        scroll.setChecked(true);
        QVERIFY(checks.isChecked(ViewItem::ShowScrollbars));
    }

    void prefetchFollowsTheDirectionOfTravel_data()
    {
        QTest::addColumn<int>("previous");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("first selection") << -1 << 0 << QStringList{"/f/0.pdf", "/f/1.pdf"};
        QTest::newRow("moving down") << 3 << 4 << QStringList{"/f/4.pdf", "/f/5.pdf"};
        QTest::newRow("moving up") << 4 << 3 << QStringList{"/f/3.pdf", "/f/2.pdf"};
        QTest::newRow("last row") << 8 << 9 << QStringList{"/f/9.pdf"};
        QTest::newRow("first row moving up") << 1 << 0 << QStringList{"/f/0.pdf"};
        QTest::newRow("neighbour is a folder") << 5 << 6 << QStringList{"/f/6.pdf"};
        QTest::newRow("selected row is a folder") << 8 << 7 << QStringList{"/f/6.pdf"};
        QTest::newRow("no selection") << 2 << -1 << QStringList{};
    }
    void prefetchFollowsTheDirectionOfTravel()
    {
        QFETCH(int, previous);
        QFETCH(int, current);
        QFETCH(QStringList, paths);
        // Ten rows; row 7 is a folder.
        auto pathOfRow = [](int row) { return row == 7 ? QString() : QStringLiteral("/f/%1.pdf").arg(row); };
        QCOMPARE(prefetchPaths(previous, current, 10, pathOfRow), paths);
    }

    void centring_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QRect>("desktop");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("one screen") << QSize(800, 640) << QRect(0, 0, 1920, 1080) << QPoint(560, 220);
        QTest::newRow("two screens") << QSize(800, 640) << QRect(0, 0, 3840, 1080) << QPoint(1520, 220);
        QTest::newRow("screen left of primary") << QSize(800, 640) << QRect(-1280, 0, 3200, 1024) << QPoint(-80, 192);
        QTest::newRow("larger than desktop") << QSize(2000, 1200) << QRect(0, 0, 1280, 1024) << QPoint(0, 0);
    }
    void centring()
    {
        QFETCH(QSize, frame);
        QFETCH(QRect, desktop);
        QFETCH(QPoint, topLeft);
        QCOMPARE(centredOnDesktop(frame, desktop), topLeft);
    }
};

QTEST_MAIN(TestDocumentDisplay)
#include "tst_documentdisplay.moc"
