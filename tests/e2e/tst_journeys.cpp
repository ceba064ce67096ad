// Journeys with real input: the real program under Xvfb and a window manager,
// in a home of its own, driven by XTest key presses and mouse clicks, checked
// by what the screen shows.  Documents are solid colours, so the one shown can
// be told by its pixels; names and sizes are read by matching the program's
// own font.
#include "Journey.h"
#include "SolidPdf.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

using namespace Desktop;

class TestJourneys : public JourneyTest
{
    Q_OBJECT

private slots:
    void firstStartWritesDesignLayoutAndRestartRestoresIt()
    {
        auto rig = newRig();
        QVERIFY(writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed}}));
        QVERIFY(launch(*rig, {rig->docs}));
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf")));

        // The first start stores the window as designed.
        const QRect first = frame(*rig);
        QCOMPARE(first.width(), 784);
        QSettings stored(rig->settingsPath(), QSettings::IniFormat);
        QTRY_COMPARE_WITH_TIMEOUT((stored.sync(), stored.value("FileListWidth").toInt()), 271, kShowMs);
        QCOMPARE(stored.value("WinWidth").toInt(), 784);
        QCOMPARE(stored.value("WinHeight").toInt(), first.height());
        QCOMPARE(stored.value("TreeHeight").toInt(), 240);
        QCOMPARE(stored.value("TreeWidth").toInt(), 273);

        // Resize with the window manager's own gesture (Alt + right drag from
        // near the lower right corner), then move the splitter below the tree.
        const QPoint corner = first.bottomRight() - QPoint(20, 40);
        drag(corner, corner + QPoint(120, 80), 3, QStringLiteral("alt"));
        QTRY_VERIFY_WITH_TIMEOUT(frame(*rig).width() >= first.width() + 100, kShowMs);
        const QRect resized = frame(*rig);
        QTRY_COMPARE_WITH_TIMEOUT((stored.sync(), stored.value("WinWidth").toInt()), resized.width(), kShowMs);
        QCOMPARE(stored.value("WinHeight").toInt(), resized.height());

        const int menuHeight = first.height() - 581;
        const QPoint splitter(resized.left() + 120, resized.top() + menuHeight + 1 + 240 + 2);
        drag(splitter, splitter + QPoint(0, 60));
        moveMouse(QPoint(1, 1));
        QVERIFY(closeByWindowManager(*rig));
        stored.sync();
        // The tree height reaches the store with the last save at shutdown.
        QVERIFY2(qAbs(stored.value("TreeHeight").toInt() - 300) <= 3,
                 qPrintable(stored.value("TreeHeight").toString()));
        QCOMPARE(stored.value("WinWidth").toInt(), resized.width());

        // A restart opens the window as it was left, tree height included.
        const int treeHeight = stored.value("TreeHeight").toInt();
        QVERIFY(launch(*rig, {rig->docs}));
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf")));
        QCOMPARE(frame(*rig).size(), resized.size());
        // The tree is the white box below the menu bar: its height on screen.
        const QImage screen = grabScreen();
        const QRect f = frame(*rig);
        const int x = f.left() + 200;
        int y = f.top() + menuHeight + 3;
        const int top = y;
        while (y < f.bottom() && screen.pixel(x, y) == qRgb(255, 255, 255))
            ++y;
        QVERIFY2(qAbs((y - top) - treeHeight) <= 4, qPrintable(QString::number(y - top)));
        QVERIFY(closeByWindowManager(*rig));
        stored.sync();
        QCOMPARE(stored.value("TreeHeight").toInt(), treeHeight);
    }

    void stepping_data()
    {
        QTest::addColumn<QStringList>("switches");
        QTest::newRow("pdf view") << QStringList();
        QTest::newRow("web view -b") << QStringList{QStringLiteral("-b")};
    }

    // Down, Enter shows the first file, Down, Enter the next: the list keeps
    // the keyboard while each document loads.
    void stepping()
    {
        QFETCH(QStringList, switches);
        auto rig = newRig();
        QVERIFY(writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed},
                         {QStringLiteral("bravo.pdf"), kGreen},
                         {QStringLiteral("charlie.pdf"), kBlue}}));
        QVERIFY(launch(*rig, QStringList{rig->docs} + switches));
        QVERIFY(waitText(*rig, QStringLiteral("charlie.pdf")));
        QVERIFY(step(*rig, kRed));
        QVERIFY(step(*rig, kGreen));
        QVERIFY(step(*rig, kBlue));
    }

    void menuCommandKeepsStepping_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("downs");       // key presses from the menu's top to the command
        QTest::addColumn<QColor>("afterMenu"); // shown right after the command
        QTest::addColumn<QColor>("next");      // shown after Down, Enter
        // Toggling the toolbar keeps list and document; the reset refills the
        // list (nothing selected) and shows the current document again.
        QTest::newRow("ツールバー") << QStringLiteral("ツールバー") << 2 << kGreen << kBlue;
        QTest::newRow("スクロールバー") << QStringLiteral("スクロールバー") << 5 << kGreen << kBlue;
        QTest::newRow("表示初期化") << QStringLiteral("表示初期化") << 1 << kGreen << kRed;
    }

    void menuCommandKeepsStepping()
    {
        QFETCH(int, downs);
        QFETCH(QColor, afterMenu);
        QFETCH(QColor, next);
        auto rig = newRig();
        QVERIFY(writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed},
                         {QStringLiteral("bravo.pdf"), kGreen},
                         {QStringLiteral("charlie.pdf"), kBlue}}));
        QVERIFY(launch(*rig, {rig->docs}));
        QVERIFY(waitText(*rig, QStringLiteral("charlie.pdf")));
        QVERIFY(step(*rig, kRed));
        QVERIFY(step(*rig, kGreen));

        // "表示" in the menu bar, then the command by keyboard.
        const QRect f = frame(*rig);
        const auto menu = findText(grabScreen(), QRect(f.left(), f.top(), 300, 40), QStringLiteral("表示"), m_fonts);
        QVERIFY2(menu, "the menu bar shows no 表示");
        click(*menu);
        for (int i = 0; i < downs; ++i)
            key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        moveMouse(QPoint(1, 1));
        QVERIFY(waitShown(*rig, afterMenu));
        QVERIFY(waitText(*rig, QStringLiteral("charlie.pdf")));

        QVERIFY(step(*rig, next));
    }

    // Rename through the list's popup menu: the list shows the new name and
    // the renamed document is shown.
    void renameThroughPopupMenu()
    {
        auto rig = newRig();
        QVERIFY(writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed},
                         {QStringLiteral("bravo.pdf"), kGreen},
                         {QStringLiteral("charlie.pdf"), kBlue}}));
        QVERIFY(launch(*rig, {rig->docs}));
        const auto alpha = waitText(*rig, QStringLiteral("alpha.pdf"));
        const auto bravo = waitText(*rig, QStringLiteral("bravo.pdf"));
        QVERIFY(alpha && bravo);
        doubleClick(*alpha);
        QVERIFY(waitShown(*rig, kRed));

        click(*bravo, 3);
        std::optional<QPoint> item;
        QTRY_VERIFY_WITH_TIMEOUT((item = findText(grabScreen(), grabScreen().rect(), QStringLiteral("名前の変更"), m_fonts)),
                                 kShowMs);
        click(*item);
        QTRY_VERIFY_WITH_TIMEOUT(rig->app->window(QStringLiteral("ファイル名の変更")), kShowMs);
        // The whole name is selected in the edit: typing replaces it.
        type(QStringLiteral("zulu"));
        key(QStringLiteral("Tab space"));
        moveMouse(QPoint(1, 1));

        QVERIFY(waitText(*rig, QStringLiteral("zulu.pdf")));
        QVERIFY(!shownInLeftPane(*rig, QStringLiteral("bravo.pdf")));
        QVERIFY(QFile::exists(rig->docs + QStringLiteral("/zulu.pdf")));
        QVERIFY(waitShown(*rig, kGreen));
    }

    // A file written in stages in the current folder ends with its final size.
    void fileWrittenInStagesShowsFinalSize()
    {
        auto rig = newRig();
        QVERIFY(writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed}}));
        QVERIFY(launch(*rig, {rig->docs}));
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf")));

        QFile growing(rig->docs + QStringLiteral("/growing.pdf"));
        QVERIFY(growing.open(QIODevice::WriteOnly));
        const QByteArray mebibyte(1024 * 1024, 'x');
        QCOMPARE(growing.write(mebibyte), mebibyte.size());
        QVERIFY(growing.flush());
        QVERIFY(waitText(*rig, QStringLiteral("growing.pdf")));
        for (int stage = 2; stage <= 3; ++stage) {
            QTest::qWait(300); // the writer's own pace, not a wait on the program
            QCOMPARE(growing.write(mebibyte), mebibyte.size());
            QVERIFY(growing.flush());
        }
        growing.close();
        QVERIFY(waitText(*rig, QStringLiteral("3072kb")));
    }

    // A sub-folder with files in it appears in the tree, and opens.
    void newSubFolderAppearsInTree()
    {
        auto rig = newRig();
        QVERIFY(writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed}}));
        QVERIFY(launch(*rig, {rig->docs}));
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf")));

        // Made beside the root and moved in whole, as a file manager moves a
        // folder: one change, so the list is not refilled from the root again
        // after the folder has been opened.
        const QString outside = rig->dir.filePath(QStringLiteral("newfolder"));
        QVERIFY(QDir().mkpath(outside));
        QVERIFY(SolidPdf::writeSolid(outside + QStringLiteral("/delta.pdf"), kYellow));
        QVERIFY(QDir().rename(outside, rig->docs + QStringLiteral("/newfolder")));
        const auto node = waitText(*rig, QStringLiteral("newfolder"));
        QVERIFY(node);

        doubleClick(*node);
        const auto delta = waitText(*rig, QStringLiteral("delta.pdf"));
        QVERIFY(delta);
        doubleClick(*delta);
        moveMouse(QPoint(1, 1));
        QVERIFY(waitShown(*rig, kYellow));
    }

};

QTEST_MAIN(TestJourneys)
#include "tst_journeys.moc"
