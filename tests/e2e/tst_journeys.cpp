// Journeys with real input: the real program under Xvfb and a window manager,
// in a home of its own, driven by XTest key presses and mouse clicks, checked
// by what the screen shows.  Documents are solid colours, so the one shown can
// be told by its pixels; names and sizes are read by matching the program's
// own font.
#include "Desktop.h"
#include "SolidPdf.h"
#include "app/Fonts.h"
#include "base/ProgramName.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Desktop;

namespace {

const QColor kRed(208, 40, 40);
const QColor kGreen(40, 160, 72);
const QColor kBlue(40, 80, 208);
const QColor kYellow(224, 192, 32);

// Generous limits: the machine may be loaded.  Every wait ends as soon as the
// screen shows what it waits for.
constexpr int kStartMs = 30000;
constexpr int kShowMs = 15000;

QString colourName(const QColor &c)
{
    if (c == kRed) return QStringLiteral("red");
    if (c == kGreen) return QStringLiteral("green");
    if (c == kBlue) return QStringLiteral("blue");
    if (c == kYellow) return QStringLiteral("yellow");
    return QStringLiteral("none");
}

} // namespace

class TestJourneys : public QObject
{
    Q_OBJECT

    QTemporaryDir m_session;
    WindowManager m_wm;
    QList<QFont> m_fonts;

    // One journey's world: a fresh home and a folder of documents.
    struct Rig
    {
        QTemporaryDir dir;
        QString home;
        QString docs;
        std::unique_ptr<Program> app;
        Window window;
    };

    std::unique_ptr<Rig> newRig()
    {
        auto rig = std::make_unique<Rig>();
        rig->home = rig->dir.filePath(QStringLiteral("home"));
        rig->docs = rig->dir.filePath(QStringLiteral("docs"));
        QDir().mkpath(QFileInfo(settingsPath(*rig)).path());
        QDir().mkpath(rig->docs);
        // The update check asks a port where nothing listens: refused at once.
        QSettings seed(settingsPath(*rig), QSettings::IniFormat);
        seed.setValue(QStringLiteral("updatepath"), QStringLiteral("http://127.0.0.1:9/"));
        seed.sync();
        rig->app = std::make_unique<Program>(QStringLiteral(SHEAFLINE_EXE), rig->home);
        return rig;
    }

    static QString settingsPath(const Rig &rig)
    {
        return rig.home + QStringLiteral("/.config/") + QString::fromUtf16(sheafline::kOrganizationName)
            + QLatin1Char('/') + QString::fromUtf16(sheafline::kApplicationName) + QStringLiteral(".conf");
    }

    static void writeDocs(const Rig &rig, const QList<QPair<QString, QColor>> &docs)
    {
        for (const auto &[name, colour] : docs)
            QVERIFY(SolidPdf::writeSolid(rig.docs + QLatin1Char('/') + name, colour));
    }

    // Starts the program and waits for its window.
    bool launch(Rig &rig, const QStringList &args)
    {
        if (!rig.app->start(args))
            return false;
        const QDeadlineTimer deadline(kStartMs);
        while (!deadline.hasExpired()) {
            if (auto w = rig.app->window()) {
                rig.window = *w;
                return true;
            }
            if (!rig.app->running())
                break;
            QTest::qWait(50);
        }
        qWarning("no window; program said: %s", qPrintable(rig.app->errors()));
        return false;
    }

    // The window's present place (a menu command may move it).
    QRect frame(Rig &rig)
    {
        if (auto w = rig.app->window())
            rig.window = *w;
        return rig.window.frame;
    }

    // The left pane (tree and list) and the middle of the viewer, on screen.
    QRect leftPane(Rig &rig)
    {
        const QRect f = frame(rig);
        return QRect(f.left(), f.top(), qMin(f.width() / 2, 340), f.height());
    }
    QRect viewerMiddle(Rig &rig)
    {
        const QRect f = frame(rig);
        return QRect(f.left() + f.width() * 45 / 100, f.top() + f.height() / 4, f.width() * 50 / 100,
                     f.height() / 2);
    }

    // The fixture colour that fills most of the viewer's middle, if any.
    QColor shownColour(Rig &rig)
    {
        const QImage screen = grabScreen();
        const QRect middle = viewerMiddle(rig);
        for (const QColor &c : {kRed, kGreen, kBlue, kYellow})
            if (colourShare(screen, middle, c) > 0.3)
                return c;
        return {};
    }

    std::optional<QPoint> shownInLeftPane(Rig &rig, const QString &text)
    {
        return findText(grabScreen(), leftPane(rig), text, m_fonts);
    }

    bool waitShown(Rig &rig, const QColor &colour, int timeoutMs = kShowMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (shownColour(rig) == colour)
                return true;
            QTest::qWait(50);
        }
        qWarning("expected %s, the viewer shows %s", qPrintable(colourName(colour)),
                 qPrintable(colourName(shownColour(rig))));
        return false;
    }

    std::optional<QPoint> waitText(Rig &rig, const QString &text, int timeoutMs = kShowMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (auto at = shownInLeftPane(rig, text))
                return at;
            QTest::qWait(50);
        }
        const QString shot = QDir::current().filePath(QStringLiteral("journey-missing-text.png"));
        grabScreen().save(shot);
        qWarning("\"%s\" is not shown (screen saved as %s)", qPrintable(text), qPrintable(shot));
        return std::nullopt;
    }

    // Steps with the keyboard: Down, then Enter, until `colour` is shown.
    bool step(Rig &rig, const QColor &colour)
    {
        key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        return waitShown(rig, colour);
    }

    bool closeByWindowManager(Rig &rig)
    {
        key(QStringLiteral("alt+F4"));
        return rig.app->waitForExit(kStartMs);
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X display (run under xvfb-run)");
        const QString home = m_session.filePath(QStringLiteral("wm"));
        QDir().mkpath(home);
        const QString error = m_wm.start(home);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // The program's own face for its window, and the default one of menus.
        installFontSubstitutions();
        QFont design(QStringLiteral("ＭＳ Ｐゴシック"));
        design.setPixelSize(12);
        m_fonts = {design, QApplication::font(), QApplication::font("QMenu")};
        // The pointer rests away from any window.
        moveMouse(QPoint(1, 1));
    }

    void firstStartWritesDesignLayoutAndRestartRestoresIt()
    {
        auto rig = newRig();
        writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed}});
        QVERIFY(launch(*rig, {rig->docs}));
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf")));

        // The first start stores the window as designed.
        const QRect first = frame(*rig);
        QCOMPARE(first.width(), 784);
        QSettings stored(settingsPath(*rig), QSettings::IniFormat);
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
        writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed},
                         {QStringLiteral("bravo.pdf"), kGreen},
                         {QStringLiteral("charlie.pdf"), kBlue}});
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
        writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed},
                         {QStringLiteral("bravo.pdf"), kGreen},
                         {QStringLiteral("charlie.pdf"), kBlue}});
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
        writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed},
                         {QStringLiteral("bravo.pdf"), kGreen},
                         {QStringLiteral("charlie.pdf"), kBlue}});
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
        writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed}});
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
        writeDocs(*rig, {{QStringLiteral("alpha.pdf"), kRed}});
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
