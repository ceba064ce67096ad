// The main window: menus, status bar, start-up and shutdown against a real
// settings file, layout saving and restoring.
#include "about/About.h"
#include "app/Fonts.h"
#include "app/SplitterBar.h"
#include "app/SysUpdate.h"
#include "app/Unit1.h"
#include "browse/FileListView.h"

#include "support/ModalHelper.h"
#include "support/MainWindowFixture.h"
#include "support/TestDir.h"

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QContextMenuEvent>
#include <QPointer>
#include <QRawFont>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

// Follows a window's settings store: whether the window's shutdown freed it
// (while the window's controls were still there) or it only went with the
// window itself.
struct StoreWatch
{
    QPointer<TSysUpdateModule> store;
    bool freedByShutdown = false;

    void follow(TForm1 &form)
    {
        store = form.SysUpdateModule;
        QVERIFY(store);
        QObject::connect(store, &QObject::destroyed, [this, list = QPointer<QWidget>(form.ListView1)] {
            freedByShutdown = !list.isNull();
        });
    }
};

class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void menuTree_data();
    void menuTree();
    void menuOrder();
    void statusBar_data();
    void statusBar();
    void firstStartStoresDesignSizes();
    void secondStartRestoresSizes();
    void badStoredSizesStillOpen();
    void rootFolderArgumentNotStored();
    void startupErrorEndsSequenceWindowOpens();
    void laterStepErrorEndsThere();
    void shutdownErrorEndsThere();
    void japaneseTextsHaveGlyphs();
    void columnLayout_data();
    void columnLayout();
    void resizeAndSplitterAreSaved();
    void splitterLimits_data();
    void splitterLimits();
    void maximizedSizeIsStored();
    void hugeStoredSizesKeepWindowSize();
    void contextMenuOpensOnList();
    void aboutBoxIsNewEachTime();
    void exitCommandCloses();

private:
    QString confPath() { return m_settings.confPath(); }
    QVariant stored(const QString &name) { return m_settings.stored(name); }
    // Every window here is made on the fixture's settings file and its
    // offline updater; the tests make and end them themselves.
    MainWindowFixture m_main;
    SettingsSandbox &m_settings = m_main.settings();
};

void tst_MainWindow::initTestCase()
{
    QVERIFY(m_settings.isValid());
    QApplication::setApplicationDisplayName("Sheafline");
    installFontSubstitutions();
}

void tst_MainWindow::init()
{
    m_settings.clear();
}

void tst_MainWindow::cleanup()
{
}

void tst_MainWindow::menuTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("tag");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("visibleBefore"); // as designed
    QTest::addColumn<bool>("visibleAfter");  // after start-up

    auto row = [](const char *name, const char *caption, int tag = 0, bool checkable = false,
                  bool checked = false, bool before = true, bool after = true) {
        QTest::newRow(name) << QString(name) << QString::fromUtf8(caption) << tag << checkable << checked
                            << before << after;
    };
    row("N12", "ファイル");
    row("N13", "開く");
    row("N14", "");
    row("N15", "終了");
    row("N22", "表示");
    row("DisplayInitialize", "表示初期化");
    row("N23", "");
    row("ShowToolbar", "ツールバー", 0, true, false);
    row("LayoutMode", "レイアウトモード");
    row("LayoutMode1", "標準", 1, true, true);
    row("LayoutMode2", "1ページモード", 2, true, false);
    row("LayoutMode3", "1コラムの連続表示モード", 3, true, false);
    row("LayoutMode4", "左の最初のページと共に2コラムの連続表示モード", 4, true, false);
    row("LayoutMode5", "右の最初のページと共に2コラムの連続表示モード", 5, true, false);
    row("PageMode", "表示モード");
    row("PageMode1", "PDFドキュメントのみ", 1, true, true);
    row("PageMode2", "「しおり」とPDFドキュメント", 2, true, false);
    row("PageMode3", "「ページのサムネール」とPDFドキュメント", 3, true, false);
    row("ShowScrollbars", "スクロールバー", 0, true, true);
    row("N16", "ヘルプ");
    row("GoHelp", "ヘルプ");
    row("N18", "");
    row("N19", "アップデート");
    row("N20", "");
    row("N21", "バージョン情報");
    row("N1", "ソート");
    row("N6", "");
    row("N7", "表示");
    row("N8", "縮小");
    row("N10", "一覧");
    row("N11", "アイコン");
    row("N27", "サムネイル");
    row("N25", "");
    row("N26", "名前の変更");
    row("N17", "", 0, false, false, false, true);
    row("N24", "関連付けアプリで開く", 0, false, false, false, true);
}

void tst_MainWindow::menuTree()
{
    QFETCH(QString, name);
    QFETCH(bool, visibleBefore);
    QFETCH(bool, visibleAfter);
    // A store that fails at once ends start-up before step 19: the design state.
    QVERIFY(QFile(QFileInfo(confPath()).path()).open(QIODevice::WriteOnly));
    ModalAnswerer ok;
    auto designed = std::make_unique<TForm1>(QStringList(), m_main.services());
    QCOMPARE(ok.seen.size(), 1);
    auto *a = designed->findChild<QAction *>(name);
    QVERIFY2(a, qPrintable(name));
    QCOMPARE(a->isVisible(), visibleBefore);
    designed.reset();
    init();

    TForm1 form{QStringList(), m_main.services()};
    a = form.findChild<QAction *>(name);
    QVERIFY(a);
    QFETCH(QString, caption);
    QCOMPARE(a->text(), caption);
    QCOMPARE(a->isSeparator(), caption.isEmpty());
    QTEST(Tag(a), "tag");
    QTEST(a->isCheckable(), "checkable");
    QTEST(a->isChecked(), "checked");
    QCOMPARE(a->isVisible(), visibleAfter);
    QVERIFY(a->isEnabled());
}

void tst_MainWindow::menuOrder()
{
    TForm1 form{QStringList(), m_main.services()};
    auto names = [](const QList<QAction *> &actions) {
        QStringList out;
        for (QAction *a : actions)
            out << (a->objectName().isEmpty() ? a->text() : a->objectName());
        return out;
    };
    QCOMPARE(names(form.MainMenu1->actions()), (QStringList{"N12", "N22", "N16"}));
    QCOMPARE(names(form.N12->menu<QMenu *>()->actions()), (QStringList{"N13", "Print1", "N14", "N15"}));
    QCOMPARE(names(form.N22->menu<QMenu *>()->actions()),
             (QStringList{"DisplayInitialize", "N23", "ShowToolbar", "LayoutMode", "PageMode", "ShowScrollbars"}));
    QCOMPARE(names(form.LayoutMode->menu<QMenu *>()->actions()),
             (QStringList{"LayoutMode1", "LayoutMode2", "LayoutMode3", "LayoutMode4", "LayoutMode5"}));
    QCOMPARE(names(form.PageMode->menu<QMenu *>()->actions()), (QStringList{"PageMode1", "PageMode2", "PageMode3"}));
    QCOMPARE(names(form.N16->menu<QMenu *>()->actions()), (QStringList{"GoHelp", "N18", "N19", "N20", "N21"}));
    QCOMPARE(names(form.PopupMenu1->actions()),
             (QStringList{"N1", "N6", "N7", "N25", "N26", "N17", "N24"}));
    QCOMPARE(names(form.N7->menu<QMenu *>()->actions()), (QStringList{"N8", "N10", "N11", "N27"}));
    QStringList sort;
    for (QAction *a : form.N1->menu<QMenu *>()->actions())
        sort << (a->isSeparator() ? "-" : a->text());
    QCOMPARE(sort, (QStringList{"ファイル名", "サイズ", "日付", "-", "降順"}));
    // The list carries the context menu.
    QCOMPARE(form.ListView1->contextMenuPolicy(), Qt::CustomContextMenu);
}

void tst_MainWindow::statusBar_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("mode");
    const QString version = QStringLiteral("Ver. " SHEAFLINE_EXPECTED_VERSION);
    QTest::newRow("mode 0") << QStringList() << version << 0;
    QTest::newRow("mode 1, -b") << QStringList{"-b"} << version + " with WebBrowser" << 1;
    QTest::newRow("mode 1, /B third") << QStringList{"x", "y", "/B"} << version + " with WebBrowser" << 1;
}

void tst_MainWindow::statusBar()
{
    QFETCH(QStringList, args);
    QVERIFY(m_settings.writeConf("[General]\nFolder=/srv/pdf\n"));
    TForm1 form(args, m_main.services());
    QTEST(form.StatusPanelText(0), "version");
    QTEST(form.PDFmode, "mode");
    QCOMPARE(form.StatusPanelText(1), QString());
    QCOMPARE(form.StatusPanelText(2), QString("/srv/pdf/"));
    QCOMPARE(form.FRootFolder, QString("/srv/pdf/"));
    QCOMPARE(form.StatusPanel(0)->width(), 200);
    QCOMPARE(form.StatusPanel(1)->width(), 0);
    form.SetStatusPanelText(1, "/srv/pdf/a.pdf");
    QCOMPARE(form.StatusPanelText(1), QString("/srv/pdf/a.pdf"));
    QCOMPARE(form.windowTitle(), QString("Sheafline"));
    QCOMPARE(form.font().family(), QString::fromUtf8("ＭＳ Ｐゴシック"));
    QCOMPARE(QFontInfo(form.font()).family(), QString("IPAPGothic"));
    QCOMPARE(form.font().pixelSize(), 12);
    // Step 6 and 7: the timer is off with its interval, the list keeps the focus.
    QCOMPARE(form.Timer1->interval(), 10);
    QCOMPARE(form.AFocusControl, static_cast<QWidget *>(form.ListView1));
}

void tst_MainWindow::firstStartStoresDesignSizes()
{
    int winHeight = 0;
    const int checks = m_main.offlineUpdater().checks;
    StoreWatch watch;
    {
        TForm1 form{QStringList(), m_main.services()};
        watch.follow(form);
        // The start-up's update check went to the fixture's updater, not the network.
        QCOMPARE(m_main.offlineUpdater().checks, checks + 1);
        // The designed client area lies below the menu bar.
        winHeight = 581 + form.MainMenu1->sizeHint().height();
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(stored("Folder").toString(), documents);
        QCOMPARE(form.FRootFolder, documents + "/");
        QCOMPARE(stored("updatepath").toString(), QString("http://sheafline.example/soft/"));
        QCOMPARE(stored("WinWidth").toInt(), 784);
        QCOMPARE(stored("WinHeight").toInt(), winHeight);
        QCOMPARE(stored("TreeHeight").toInt(), 240);
        QCOMPARE(stored("TreeWidth").toInt(), 273);
        QCOMPARE(stored("FileListWidth").toInt(), 271);
        // The designed 60 and 85, or what the texts need in this font; the
        // name column takes the rest (105 where the designed widths hold).
        const int size = qMax(60, form.ListView1->textWidthNeeded(1));
        const int date = qMax(85, form.ListView1->textWidthNeeded(2));
        QCOMPARE(form.ListView1->columnWidth(1), size);
        QCOMPARE(form.ListView1->columnWidth(2), date);
        QCOMPARE(form.ListView1->columnWidth(0), qMax(271 - size - date - 21, form.ListView1->textWidthNeeded(0)));
        QCOMPARE(form.StatusBar1->height(), 19);
        QCOMPARE(form.centralWidget()->height() + form.StatusBar1->height(), 581);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.size(), QSize(784, winHeight));
        QCOMPARE(form.height() - form.MainMenu1->height(), 581);
        QCOMPARE(form.ListView1->width(), 271);
        QCOMPARE(form.TreeView1->height(), 240);
        // The viewer fills the rest of the client area.
        QCOMPARE(form.ViewerArea->size(), QSize(508, 562));
        QCOMPARE(form.Splitter1->width(), 3);
        QCOMPARE(form.Splitter2->height(), 3);
    }
    // The shutdown's FormResize stored the same sizes again, and freed the store.
    QCOMPARE(stored("WinWidth").toInt(), 784);
    QCOMPARE(stored("TreeHeight").toInt(), 240);
    QVERIFY(watch.freedByShutdown);
}

void tst_MainWindow::secondStartRestoresSizes()
{
    QVERIFY(m_settings.writeConf("[General]\nFolder=/srv/pdf/\nWinHeight=500\nWinWidth=900\nTreeHeight=150\n"
                                 "TreeWidth=320\nFileListWidth=42\n"));
    TForm1 form{QStringList(), m_main.services()};
    QCOMPARE(form.size(), QSize(900, 500));
    QCOMPARE(form.TreeView1->height(), 150);
    QCOMPARE(form.Panel1->width(), 320);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(900, 500));
    QCOMPARE(form.TreeView1->height(), 150);
    QCOMPARE(form.Panel1->width(), 320);
    // The list fills the panel: its own stored width does not last.
    QCOMPARE(form.ListView1->width(), 318);
    QCOMPARE(form.ListView1->columnWidth(0),
             qMax(318 - form.ListView1->columnWidth(1) - form.ListView1->columnWidth(2) - 21,
                  form.ListView1->textWidthNeeded(0)));
    QCOMPARE(stored("FileListWidth").toInt(), 318);
    QCOMPARE(stored("WinWidth").toInt(), 900);
    QCOMPARE(stored("TreeWidth").toInt(), 320);
}

void tst_MainWindow::badStoredSizesStillOpen()
{
    QVERIFY(m_settings.writeConf("[General]\nFolder=/gone/for/good/\nWinHeight=0\nWinWidth=-40\nTreeHeight=-5\nTreeWidth=0\n"
                                 "lastupdate=keep.zip\n"));
    ModalAnswerer ok;
    {
        TForm1 form{QStringList(), m_main.services()};
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.width() > 0 && form.height() > 0);
        QVERIFY(form.TreeView1->height() >= 0);
        QCOMPARE(form.StatusPanelText(2), QString("/gone/for/good/"));
        QVERIFY(form.N24->isVisible()); // the whole sequence ran
    }
    QCOMPARE(ok.seen.size(), 0);
    QCOMPARE(stored("lastupdate").toString(), QString("keep.zip"));
    QCOMPARE(stored("Folder").toString(), QString("/gone/for/good/"));
}

void tst_MainWindow::rootFolderArgumentNotStored()
{
    TestDir dir;
    QVERIFY(m_settings.writeConf("[General]\nFolder=/srv/pdf/\n"));
    TForm1 form(QStringList{dir.path(), "-b"}, m_main.services());
    QCOMPARE(form.PDFmode, 1);
    QCOMPARE(form.FRootFolder, dir.path() + "/");
    QCOMPARE(form.StatusPanelText(2), dir.path() + "/");
    QCOMPARE(stored("Folder").toString(), QString("/srv/pdf/"));
}

void tst_MainWindow::startupErrorEndsSequenceWindowOpens()
{
    // Where the store's folder should be lies a file: step 1 fails.
    QVERIFY(QFile(QFileInfo(confPath()).path()).open(QIODevice::WriteOnly));
    ModalAnswerer ok;
    {
        TForm1 form{QStringList(), m_main.services()};
        QCOMPARE(ok.seen.size(), 1);
        QCOMPARE(ok.seen.first().text, QString("'updatepath' の設定に失敗しました."));
        QCOMPARE(ok.seen.first().title, QString("Sheafline"));
        QCOMPARE(ok.seen.first().icon, QMessageBox::Critical);
        QVERIFY(!form.SysUpdateModule);
        QCOMPARE(form.StatusPanelText(0), QString());
        QVERIFY(!form.N24->isVisible());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.resize(700, 500);
    }
    // The shutdown has nothing to save and says nothing.
    QCOMPARE(ok.seen.size(), 1);
}

void tst_MainWindow::laterStepErrorEndsThere()
{
    QVERIFY(m_settings.writeConf("[General]\nFolder=/srv/pdf/\nWinHeight=tall\n"));
    ModalAnswerer ok;
    {
        TForm1 form{QStringList(), m_main.services()};
        QCOMPARE(ok.seen.size(), 1);
        QCOMPARE(ok.seen.first().text, QString("'WinHeight' のデータ型が不正です."));
        // Steps before 18 ran, 19 and 20 did not.
        QCOMPARE(form.StatusPanelText(0), QString("Ver. " SHEAFLINE_EXPECTED_VERSION));
        QCOMPARE(form.StatusPanelText(2), QString("/srv/pdf/"));
        QVERIFY(!form.N24->isVisible());
        QVERIFY(!form.N17->isVisible());
        QCOMPARE(stored("WinHeight").toString(), QString("tall"));
    }
    QCOMPARE(ok.seen.size(), 1);
}

void tst_MainWindow::shutdownErrorEndsThere()
{
    ModalAnswerer ok;
    StoreWatch watch;
    {
        TForm1 form{QStringList(), m_main.services()};
        watch.follow(form);
        QCOMPARE(ok.seen.size(), 0);
        // The store's folder goes away while the program runs.
        QVERIFY(QDir(QFileInfo(confPath()).path()).removeRecursively());
        QVERIFY(QFile(QFileInfo(confPath()).path()).open(QIODevice::WriteOnly));
    }
    QCOMPARE(ok.seen.size(), 1);
    QCOMPARE(ok.seen.first().text, QString("'WinHeight' の設定に失敗しました."));
    // The shutdown ended at its first step: the store was not freed by it
    // (it went with the window, after the window's own controls).
    QVERIFY(!watch.freedByShutdown);
    QVERIFY(!watch.store);
}

void tst_MainWindow::japaneseTextsHaveGlyphs()
{
    TForm1 form{QStringList(), m_main.services()};
    const QRawFont raw = QRawFont::fromFont(form.font());
    QVERIFY(raw.isValid());
    QString texts = form.StatusPanelText(0);
    for (QAction *a : form.findChildren<QAction *>())
        texts += a->text();
    texts += "ファイル名サイズ日付";
    texts.remove('&');
    QVERIFY(texts.size() > 100);
    for (const QChar c : texts)
        QVERIFY2(raw.supportsCharacter(c), qPrintable(QString("no glyph for ") + c));
}

void tst_MainWindow::columnLayout_data()
{
    QTest::addColumn<int>("listWidth");
    QTest::newRow("designed 271") << 271;
    QTest::newRow("wide 500") << 500;
    QTest::newRow("exactly 166") << 166;
    QTest::newRow("narrower than 166") << 120;
}

void tst_MainWindow::columnLayout()
{
    QFETCH(int, listWidth);
    TForm1 form{QStringList(), m_main.services()};
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Panel1->setFixedWidth(listWidth + 2);
    QTRY_COMPARE(form.ListView1->width(), listWidth);
    // The list's own resize event laid out the columns and stored the width:
    // size and date as designed or as wide as their texts need, the name
    // column the rest, never less than the names need.
    const int size = qMax(60, form.ListView1->textWidthNeeded(1));
    const int date = qMax(85, form.ListView1->textWidthNeeded(2));
    QCOMPARE(form.ListView1->columnWidth(1), size);
    QCOMPARE(form.ListView1->columnWidth(2), date);
    QCOMPARE(form.ListView1->columnWidth(0),
             qMax(qMax(0, listWidth - size - date - 21), form.ListView1->textWidthNeeded(0)));
    QCOMPARE(stored("FileListWidth").toInt(), listWidth);
}

void tst_MainWindow::resizeAndSplitterAreSaved()
{
    {
        TForm1 form{QStringList(), m_main.services()};
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.resize(950, 700);
        QTRY_COMPARE(stored("WinWidth").toInt(), 950);
        QCOMPARE(stored("WinHeight").toInt(), 700);
        // Drag the splitters: nothing is saved by the drag itself.
        const QPoint s1(1, 100);
        QTest::mousePress(form.Splitter1, Qt::LeftButton, {}, s1);
        QTest::mouseMove(form.Splitter1, s1 + QPoint(57, 0));
        QTest::mouseRelease(form.Splitter1, Qt::LeftButton, {}, s1 + QPoint(57, 0));
        QCOMPARE(form.Panel1->width(), 330);
        const QPoint s2(50, 1);
        QTest::mousePress(form.Splitter2, Qt::LeftButton, {}, s2);
        QTest::mouseMove(form.Splitter2, s2 + QPoint(0, -90));
        QTest::mouseRelease(form.Splitter2, Qt::LeftButton, {}, s2 + QPoint(0, -90));
        QCOMPARE(form.TreeView1->height(), 150);
        QCOMPARE(stored("TreeWidth").toInt(), 273);
        QCOMPARE(stored("TreeHeight").toInt(), 240);
    }
    // The shutdown's FormResize stores them.
    QCOMPARE(stored("TreeWidth").toInt(), 330);
    QCOMPARE(stored("TreeHeight").toInt(), 150);
    QCOMPARE(stored("WinWidth").toInt(), 950);
}

void tst_MainWindow::splitterLimits_data()
{
    QTest::addColumn<bool>("vertical");
    QTest::addColumn<int>("delta");
    QTest::addColumn<int>("expected"); // -1: the far limit
    QTest::newRow("panel narrower than its minimum") << false << -1000 << 30;
    QTest::newRow("panel wider than the window") << false << 5000 << -1;
    QTest::newRow("tree lower than its minimum") << true << -1000 << 30;
    QTest::newRow("tree taller than the panel") << true << 5000 << -1;
}

void tst_MainWindow::splitterLimits()
{
    QFETCH(bool, vertical);
    QFETCH(int, delta);
    QFETCH(int, expected);
    TForm1 form{QStringList(), m_main.services()};
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    SplitterBar *bar = vertical ? form.Splitter2 : form.Splitter1;
    const QPoint from(1, 1);
    const QPoint to = from + (vertical ? QPoint(0, delta) : QPoint(delta, 0));
    QTest::mousePress(bar, Qt::LeftButton, {}, from);
    QTest::mouseMove(bar, to);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, to);
    const int size = vertical ? form.TreeView1->height() : form.Panel1->width();
    // The far limit leaves the other side its minimum beside the 3-pixel bar.
    const int room = vertical ? form.Panel1->height() - 1 - 3 - 30 : form.centralWidget()->width() - 3 - 30;
    QCOMPARE(size, expected > 0 ? expected : room);
}

void tst_MainWindow::maximizedSizeIsStored()
{
    QSize maximized;
    {
        TForm1 form{QStringList(), m_main.services()};
        form.showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY(form.width() > 784);
        maximized = form.size();
    }
    QCOMPARE(stored("WinWidth").toInt(), maximized.width());
    QCOMPARE(stored("WinHeight").toInt(), maximized.height());
    TForm1 again{QStringList(), m_main.services()};
    QCOMPARE(again.size(), maximized);
    QVERIFY(!again.isMaximized());
}

void tst_MainWindow::hugeStoredSizesKeepWindowSize()
{
    QVERIFY(m_settings.writeConf("[General]\nFolder=/srv/pdf/\nWinHeight=600\nWinWidth=900\nTreeHeight=5000\nTreeWidth=4000\n"));
    ModalAnswerer ok;
    {
        TForm1 form{QStringList(), m_main.services()};
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // The values are used as stored, but the window keeps its own size.
        QCOMPARE(form.size(), QSize(900, 600));
        QCOMPARE(form.TreeView1->height(), 5000);
        QCOMPARE(form.Panel1->width(), 4000);
    }
    QCOMPARE(ok.seen.size(), 0);
    QCOMPARE(stored("WinWidth").toInt(), 900);
    QCOMPARE(stored("WinHeight").toInt(), 600);
}

void tst_MainWindow::contextMenuOpensOnList()
{
    TForm1 form{QStringList(), m_main.services()};
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QSignalSpy opening(form.PopupMenu1, &QMenu::aboutToShow);
    QWidget *viewport = form.ListView1->currentView()->viewport();
    const QPoint at(10, 10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &event);
    QTRY_COMPARE(opening.count(), 1);
    QTRY_VERIFY(form.PopupMenu1->isVisible());
    form.PopupMenu1->close();
}

void tst_MainWindow::aboutBoxIsNewEachTime()
{
    TForm1 form{QStringList(), m_main.services()};
    QList<QPointer<QWidget>> boxes;
    QStringList versions;
    ModalAnswerer close([&](QWidget *w) {
        auto *box = qobject_cast<TAboutBox *>(w);
        QVERIFY(box);
        boxes << box;
        versions << box->Label2->text();
        QCOMPARE(box->parentWidget(), static_cast<QWidget *>(&form));
        box->OKButton->click();
    });
    form.N21->trigger();
    form.N21->trigger();
    QCOMPARE(close.seen.size(), 2);
    QCOMPARE(close.seen[0].title, QString("バージョン情報"));
    QCOMPARE(versions, (QStringList{" " SHEAFLINE_EXPECTED_VERSION, " " SHEAFLINE_EXPECTED_VERSION}));
    // Each box is destroyed when it closes.
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes[0].isNull());
    QVERIFY(boxes[1].isNull());
}

void tst_MainWindow::exitCommandCloses()
{
    TForm1 form{QStringList(), m_main.services()};
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.N15->trigger();
    QVERIFY(!form.isVisible());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
