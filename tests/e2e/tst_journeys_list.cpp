// Journeys through the file list with real input: the real program under
// Xvfb and a window manager, driven by XTest key presses and mouse clicks,
// checked by what the screen shows.  Documents are solid colours, so the one
// shown can be told by its pixels; names are read by matching the program's
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

// Generous limits for a loaded machine; every wait ends as soon as the
// screen shows what it waits for.
constexpr int kStartMs = 30000;
constexpr int kShowMs = 15000;

QString colourName(const QColor &c)
{
    if (c == kRed) return QStringLiteral("red");
    if (c == kGreen) return QStringLiteral("green");
    if (c == kBlue) return QStringLiteral("blue");
    return QStringLiteral("none");
}

} // namespace

class TestJourneysList : public QObject
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

    std::unique_ptr<Rig> newRig(const QList<QPair<QString, QColor>> &docs)
    {
        auto rig = std::make_unique<Rig>();
        rig->home = rig->dir.filePath(QStringLiteral("home"));
        rig->docs = rig->dir.filePath(QStringLiteral("docs"));
        const QString settings = rig->home + QStringLiteral("/.config/") + QString::fromUtf16(sheafline::kOrganizationName)
            + QLatin1Char('/') + QString::fromUtf16(sheafline::kApplicationName) + QStringLiteral(".conf");
        QDir().mkpath(QFileInfo(settings).path());
        QDir().mkpath(rig->docs);
        // The update check asks a port where nothing listens: refused at once.
        QSettings seed(settings, QSettings::IniFormat);
        seed.setValue(QStringLiteral("updatepath"), QStringLiteral("http://127.0.0.1:9/"));
        seed.sync();
        for (const auto &[name, colour] : docs) {
            if (!SolidPdf::writeSolid(rig->docs + QLatin1Char('/') + name, colour))
                return nullptr;
        }
        rig->app = std::make_unique<Program>(QStringLiteral(SHEAFLINE_EXE), rig->home);
        return rig;
    }

    // Starts the program on the rig's folder and waits for its window.
    bool launch(Rig &rig)
    {
        if (!rig.app->start({rig.docs}))
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

    QRect frame(Rig &rig)
    {
        if (auto w = rig.app->window())
            rig.window = *w;
        return rig.window.frame;
    }
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

    QColor shownColour(Rig &rig)
    {
        const QImage screen = grabScreen();
        for (const QColor &c : {kRed, kGreen, kBlue})
            if (colourShare(screen, viewerMiddle(rig), c) > 0.3)
                return c;
        return {};
    }

    bool waitShown(Rig &rig, const QColor &colour)
    {
        const QDeadlineTimer deadline(kShowMs);
        while (!deadline.hasExpired()) {
            if (shownColour(rig) == colour)
                return true;
            QTest::qWait(50);
        }
        qWarning("expected %s, the viewer shows %s", qPrintable(colourName(colour)),
                 qPrintable(colourName(shownColour(rig))));
        return false;
    }

    // Waits until `text` shows in `area` (the left pane by default): dark
    // text on a light ground, or with `onSelection` light text on the
    // selection's dark colour (looked for in the inverted picture).
    std::optional<QPoint> waitText(Rig &rig, const QString &text, bool onSelection = false, QRect area = {})
    {
        const QDeadlineTimer deadline(kShowMs);
        while (!deadline.hasExpired()) {
            QImage screen = grabScreen();
            if (onSelection)
                screen = lightOnSelection(screen);
            if (auto at = findText(screen, area.isNull() ? leftPane(rig) : area, text, m_fonts))
                return at;
            QTest::qWait(50);
        }
        const QString shot = QDir::current().filePath(QStringLiteral("journey-list-missing-text.png"));
        grabScreen().save(shot);
        qWarning("\"%s\" is not shown (screen saved as %s)", qPrintable(text), qPrintable(shot));
        return std::nullopt;
    }

    // Light text on the selection's colour, as dark text on white: a pixel
    // counts as ink when it is nearer white than the selection colour, the
    // same half-way threshold as dark text on white.
    static QImage lightOnSelection(const QImage &screen)
    {
        const int selection = qGray(QApplication::palette().color(QPalette::Active, QPalette::Highlight).rgb());
        const int middle = (selection + 255) / 2;
        QImage out(screen.size(), QImage::Format_RGB32);
        for (int y = 0; y < screen.height(); ++y) {
            const QRgb *in = reinterpret_cast<const QRgb *>(screen.constScanLine(y));
            QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
            for (int x = 0; x < screen.width(); ++x)
                line[x] = qGray(in[x]) > middle ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
        }
        return out;
    }

    bool waitWindow(Rig &rig, const QString &title, bool shown)
    {
        const QDeadlineTimer deadline(kShowMs);
        while (!deadline.hasExpired()) {
            if (rig.app->window(title).has_value() == shown)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // The list's popup menu: "表示" and then `style`.
    bool chooseStyle(Rig &rig, const QPoint &onList, const QString &style)
    {
        click(onList, 3);
        const QRect below(onList, QSize(320, 320));
        const auto view = waitText(rig, QStringLiteral("表示"), false, below);
        if (!view)
            return false;
        moveMouse(*view);
        const auto item = waitText(rig, style, false, QRect(view->x(), view->y() - 120, 420, 320));
        if (!item)
            return false;
        click(*item);
        moveMouse(QPoint(1, 1));
        return true;
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
        installFontSubstitutions();
        QFont design(QStringLiteral("ＭＳ Ｐゴシック"));
        design.setPixelSize(12);
        m_fonts = {design, QApplication::font(), QApplication::font("QMenu")};
        moveMouse(QPoint(1, 1));
    }

    // The first move key on a freshly filled list acts from its first row:
    // End then Enter shows the last file, not the first.
    void firstKeyMovesFromTheFirstRow_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QColor>("shown");
        QTest::newRow("End") << "End" << kBlue;
        QTest::newRow("PageDown") << "Next" << kBlue;
        QTest::newRow("Home") << "Home" << kRed;
        QTest::newRow("Down") << "Down" << kRed;
    }
    void firstKeyMovesFromTheFirstRow()
    {
        QFETCH(QString, keys);
        QFETCH(QColor, shown);
        auto rig = newRig({{QStringLiteral("alpha.pdf"), kRed},
                           {QStringLiteral("bravo.pdf"), kGreen},
                           {QStringLiteral("charlie.pdf"), kBlue}});
        QVERIFY(rig);
        QVERIFY(launch(*rig));
        QVERIFY(waitText(*rig, QStringLiteral("charlie.pdf")));
        key(keys);
        key(QStringLiteral("Return"));
        QVERIFY(waitShown(*rig, shown));
    }

    // Thumbnail style: the selected file's name is shown whole on the
    // selection's colour, on one line even when the name holds a line break.
    void selectedNameReadableInThumbnails()
    {
        const QString broken = QStringLiteral("line1\nline2.pdf");
        auto rig = newRig({{QStringLiteral("alpha.pdf"), kRed}, {broken, kGreen}});
        QVERIFY(rig);
        QVERIFY(launch(*rig));
        const auto alpha = waitText(*rig, QStringLiteral("alpha.pdf"));
        QVERIFY(alpha);
        // The right click that opened the popup menu selected the file.
        QVERIFY(chooseStyle(*rig, *alpha, QStringLiteral("サムネイル")));
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf"), true));
        QVERIFY(waitText(*rig, QStringLiteral("line1↵line2.pdf")));

        key(QStringLiteral("Down"));
        QVERIFY(waitText(*rig, QStringLiteral("line1↵line2.pdf"), true));
        // The other one is back to dark on light.
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf")));
    }

    // F2 renames the selected file; Enter confirms the dialog, Escape
    // cancels it.
    void f2RenamesEnterConfirmsEscapeCancels()
    {
        auto rig = newRig({{QStringLiteral("alpha.pdf"), kRed},
                           {QStringLiteral("bravo.pdf"), kGreen},
                           {QStringLiteral("charlie.pdf"), kBlue}});
        QVERIFY(rig);
        QVERIFY(launch(*rig));
        QVERIFY(waitText(*rig, QStringLiteral("charlie.pdf")));
        const QString title = QStringLiteral("ファイル名の変更");

        key(QStringLiteral("Down"));
        key(QStringLiteral("F2"));
        QVERIFY2(waitWindow(*rig, title, true), "F2 opened no rename dialog");
        // The whole name is selected in the edit: typing replaces it.
        type(QStringLiteral("zulu"));
        key(QStringLiteral("Return"));
        QVERIFY(waitWindow(*rig, title, false));
        QVERIFY(waitText(*rig, QStringLiteral("zulu.pdf")));
        QVERIFY(QFile::exists(rig->docs + QStringLiteral("/zulu.pdf")));
        QVERIFY(!QFile::exists(rig->docs + QStringLiteral("/alpha.pdf")));
        QVERIFY(waitShown(*rig, kRed)); // the renamed document is shown

        // The refilled list has no selection: Down selects its first row.
        key(QStringLiteral("Down"));
        key(QStringLiteral("F2"));
        QVERIFY2(waitWindow(*rig, title, true), "F2 opened no rename dialog");
        type(QStringLiteral("yankee"));
        key(QStringLiteral("Escape"));
        QVERIFY(waitWindow(*rig, title, false));
        QVERIFY(QFile::exists(rig->docs + QStringLiteral("/bravo.pdf")));
        QVERIFY(!QFile::exists(rig->docs + QStringLiteral("/yankee.pdf")));
        // The list, refilled again, still has the keyboard.
        key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        QVERIFY(waitShown(*rig, kGreen));
    }
};

QTEST_MAIN(TestJourneysList)
#include "tst_journeys_list.moc"
