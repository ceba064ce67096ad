// Journeys of a PDF opened from outside the program, with real input under
// Xvfb and openbox: a PDF as the first argument, a second start handing its
// PDF to the window that is open (on a session bus of the journey's own, and
// on the fallback socket without one), and a PDF dragged from another
// program onto the window through the X drag-and-drop protocol.  Documents
// are solid colours, so the one shown is told by its pixels.
#include "Desktop.h"
#include "SolidPdf.h"
#include "app/Fonts.h"
#include "base/ProgramName.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

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

QString activeWindow()
{
    bool ok = false;
    const QString id = run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}, &ok);
    return ok ? id : QString();
}

} // namespace

class TestJourneysOpen : public QObject
{
    Q_OBJECT

    QTemporaryDir m_session;
    WindowManager m_wm;
    QList<QFont> m_fonts;

    // One journey's world: a home whose stored root is docs/, documents in
    // docs/sub/ and in elsewhere/.
    struct Rig
    {
        QTemporaryDir dir;
        QString home;
        QString docs;
        QString elsewhere;
        std::unique_ptr<Program> app;
        Window window;
    };

    std::unique_ptr<Rig> newRig()
    {
        auto rig = std::make_unique<Rig>();
        rig->home = rig->dir.filePath(QStringLiteral("home"));
        rig->docs = rig->dir.filePath(QStringLiteral("docs"));
        rig->elsewhere = rig->dir.filePath(QStringLiteral("elsewhere"));
        const QString settings = rig->home + QStringLiteral("/.config/") + QString::fromUtf16(sheafline::kOrganizationName)
            + QLatin1Char('/') + QString::fromUtf16(sheafline::kApplicationName) + QStringLiteral(".conf");
        QDir().mkpath(QFileInfo(settings).path());
        QDir().mkpath(rig->docs + QStringLiteral("/sub"));
        QDir().mkpath(rig->elsewhere);
        for (const auto &[name, colour] : {std::pair{QStringLiteral("sub/alpha.pdf"), kRed},
                                           std::pair{QStringLiteral("sub/bravo.pdf"), kGreen},
                                           std::pair{QStringLiteral("sub/charlie.pdf"), kBlue}})
            SolidPdf::writeSolid(rig->docs + QLatin1Char('/') + name, colour);
        SolidPdf::writeSolid(rig->elsewhere + QStringLiteral("/yankee.pdf"), kYellow);
        SolidPdf::writeSolid(rig->elsewhere + QStringLiteral("/zulu.pdf"), kGreen);
        QSettings seed(settings, QSettings::IniFormat);
        // The update check asks a port where nothing listens: refused at once.
        seed.setValue(QStringLiteral("updatepath"), QStringLiteral("http://127.0.0.1:9/"));
        seed.setValue(QStringLiteral("Folder"), rig->docs);
        seed.sync();
        rig->app = std::make_unique<Program>(QStringLiteral(SHEAFLINE_EXE), rig->home);
        return rig;
    }

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

    QColor shownColour(Rig &rig)
    {
        const QRect f = frame(rig);
        const QRect middle(f.left() + f.width() * 45 / 100, f.top() + f.height() / 4, f.width() * 50 / 100,
                           f.height() / 2);
        const QImage screen = grabScreen();
        for (const QColor &c : {kRed, kGreen, kBlue, kYellow})
            if (colourShare(screen, middle, c) > 0.3)
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
        const QString shot = screenshot();
        qWarning("expected %s, the viewer shows %s (screen saved as %s)", qPrintable(colourName(colour)),
                 qPrintable(colourName(shownColour(rig))), qPrintable(shot));
        return false;
    }

    static QString screenshot()
    {
        const QString shot = QDir::current().filePath(QStringLiteral("journey-open-%1.png")
                                                          .arg(QString::fromLatin1(QTest::currentTestFunction())));
        grabScreen().save(shot);
        return shot;
    }

    // Text in the left pane, drawn dark on the light ground or, when
    // `selected`, light on the selection's colour (the current row, the
    // current folder).
    std::optional<QPoint> waitText(Rig &rig, const QString &text, bool selected = false)
    {
        const QDeadlineTimer deadline(kShowMs);
        while (!deadline.hasExpired()) {
            QImage screen = grabScreen();
            if (selected)
                screen = lightAsInk(screen, leftPane(rig));
            if (auto at = findText(screen, leftPane(rig), text, m_fonts))
                return at;
            QTest::qWait(50);
        }
        const QString shot = screenshot();
        qWarning("\"%s\" is not shown%s (screen saved as %s)", qPrintable(text), selected ? " selected" : "",
                 qPrintable(shot));
        return std::nullopt;
    }

    // The area with light pixels made dark and the others light: text drawn
    // light on a darker ground reads as the text finder expects.  Light
    // means lighter than halfway between the selection's colour and white,
    // as the finder's own threshold lies halfway between black and white.
    static QImage lightAsInk(const QImage &screen, const QRect &area)
    {
        QImage out = screen;
        const int threshold = (qGray(QApplication::palette().color(QPalette::Highlight).rgb()) + 255) / 2;
        const QRect region = area & out.rect();
        for (int y = region.top(); y <= region.bottom(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
            for (int x = region.left(); x <= region.right(); ++x)
                line[x] = qGray(line[x]) > threshold ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
        }
        return out;
    }

    // Another program's window, active: the drag source.
    struct Other
    {
        QProcess process;
        QString id;
        QRect frame;
        ~Other()
        {
            if (process.state() != QProcess::NotRunning) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    };

    static bool readFrame(Other &other)
    {
        bool ok = false;
        const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), other.id}, &ok);
        auto field = [&info](const char *name) {
            const QRegularExpression re(QString::fromLatin1(name) + QStringLiteral(":\\s*(-?\\d+)"));
            return re.match(info).captured(1).toInt();
        };
        other.frame = QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                            field("Height"));
        return ok && other.frame.width() > 1;
    }

    bool startOther(Other &other, const QStringList &urls)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        other.process.setProcessEnvironment(env);
        other.process.start(QStringLiteral(SHEAFLINE_DRAGSOURCE_EXE), urls);
        if (!other.process.waitForStarted(10000))
            return false;
        const QDeadlineTimer deadline(kStartMs);
        while (!deadline.hasExpired()) {
            bool ok = false;
            other.id = run(QStringLiteral("xdotool"),
                           {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                            QString::number(other.process.processId()), QStringLiteral("--name"),
                            QStringLiteral("^Sheafline drag source$")},
                           &ok).section(QLatin1Char('\n'), 0, 0);
            if (ok && !other.id.isEmpty() && readFrame(other))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // Puts `other` in front, with the keyboard, as a click on it would.
    static bool activate(const Other &other)
    {
        run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), other.id});
        const QDeadlineTimer deadline(kShowMs);
        while (activeWindow() != other.id) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(50);
        }
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
        m_fonts = {design, QApplication::font()};
        moveMouse(QPoint(1, 1));
    }

    // `sheafline docs/sub/bravo.pdf`: the tree keeps the stored root and
    // opens down to sub, the PDF is shown, and Down, Enter shows the next
    // file of its folder; the stored root is left as it was.
    void pdfArgumentShowsItAmongItsNeighbours()
    {
        auto rig = newRig();
        QVERIFY(launch(*rig, {rig->docs + QStringLiteral("/sub/bravo.pdf")}));
        QVERIFY(waitShown(*rig, kGreen));
        // The tree's current folder and the list's current row, and the
        // neighbours beside it.
        QVERIFY(waitText(*rig, QStringLiteral("sub"), true));
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf")));
        QVERIFY(waitText(*rig, QStringLiteral("charlie.pdf")));
        key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        QVERIFY(waitShown(*rig, kBlue));
        key(QStringLiteral("Up Up"));
        key(QStringLiteral("Return"));
        QVERIFY(waitShown(*rig, kRed));
        key(QStringLiteral("alt+F4"));
        QVERIFY(rig->app->waitForExit(kStartMs));
        QSettings stored(rig->home + QStringLiteral("/.config/") + QString::fromUtf16(sheafline::kOrganizationName)
                             + QLatin1Char('/') + QString::fromUtf16(sheafline::kApplicationName)
                             + QStringLiteral(".conf"),
                         QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("Folder")).toString(), rig->docs);
    }

    // A first argument that is neither a folder nor a readable PDF: the
    // window opens as without it, and a warning names the argument.
    void unusableArgumentIsReported()
    {
        auto rig = newRig();
        QVERIFY(launch(*rig, {rig->docs + QStringLiteral("/gone.pdf")}));
        QTRY_VERIFY_WITH_TIMEOUT(rig->app->window(QStringLiteral("警告")), kShowMs);
        const auto box = rig->app->window(QStringLiteral("警告"));
        QVERIFY(box);
        // Mapped is not yet painted: the text is waited for on the screen.
        QTRY_VERIFY_WITH_TIMEOUT(findText(grabScreen(), box->frame, QStringLiteral("gone.pdf"), m_fonts), kShowMs);
        key(QStringLiteral("Return"));
        QTRY_VERIFY_WITH_TIMEOUT(!rig->app->window(QStringLiteral("警告")), kShowMs);
        // The stored root, as without the argument.
        QVERIFY(waitText(*rig, QStringLiteral("sub")));
    }

    void secondStartHandsOver_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::newRow("session bus") << true;
        QTest::newRow("socket, no bus") << false;
    }

    // A second start with another PDF ends at once; the open window shows
    // its PDF and comes to the front, and a Down, Enter there steps on in
    // the new PDF's folder.
    void secondStartHandsOver()
    {
        QFETCH(bool, bus);
        QProcess daemon;
        auto rig = newRig();
        Program second(QStringLiteral(SHEAFLINE_EXE), rig->home);
        if (bus) {
            daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                         QStringLiteral("--print-address=1")});
            QVERIFY2(daemon.waitForStarted(10000), "dbus-daemon does not start");
            QVERIFY(daemon.waitForReadyRead(10000));
            const QString address = QString::fromLocal8Bit(daemon.readLine()).trimmed();
            rig->app->setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
            second.setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        }
        QVERIFY(launch(*rig, {rig->docs + QStringLiteral("/sub/alpha.pdf")}));
        QVERIFY(waitShown(*rig, kRed));

        Other other;
        QVERIFY(startOther(other, {}));
        QVERIFY(activate(other));

        QVERIFY(second.start({rig->elsewhere + QStringLiteral("/yankee.pdf")}));
        QVERIFY2(second.waitForExit(kStartMs), "the second start does not end");
        QVERIFY(!second.window());
        QVERIFY2(rig->app->running(), "the first program ended");
        QVERIFY(waitShown(*rig, kYellow));
        QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), rig->window.id, kShowMs);
        // The list shows the new PDF's folder with the keyboard on it.
        QVERIFY(waitText(*rig, QStringLiteral("zulu.pdf")));
        key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        QVERIFY(waitShown(*rig, kGreen));

        // A start without a file only brings the window forward.
        QVERIFY(activate(other));
        QVERIFY(second.start({}));
        QVERIFY2(second.waitForExit(kStartMs), "the second start does not end");
        QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), rig->window.id, kShowMs);
        QCOMPARE(shownColour(*rig), kGreen);

        key(QStringLiteral("alt+F4"));
        QVERIFY(rig->app->waitForExit(kStartMs));
        daemon.terminate();
        daemon.waitForFinished(5000);
    }

    // A PDF dragged from another program and dropped on the window.
    void dropFromAnotherProgram()
    {
        auto rig = newRig();
        QVERIFY(launch(*rig, {rig->docs}));
        QVERIFY(waitText(*rig, QStringLiteral("sub")));

        Other source;
        QVERIFY(startOther(source, {QUrl::fromLocalFile(rig->elsewhere + QStringLiteral("/yankee.pdf")).toString()}));
        const QRect f = frame(*rig);
        // Both windows must be reachable by the pointer: the source beside
        // the program's window.
        run(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), QStringLiteral("--sync"), source.id,
                                        QString::number(f.right() + 20), QString::number(f.top() + 40)});
        QVERIFY(readFrame(source));
        QVERIFY2(!source.frame.intersects(f), "the drag source covers the window");
        const QPoint from = source.frame.center();
        const QPoint to(f.left() + f.width() * 6 / 10, f.top() + f.height() / 2);
        drag(from, to);
        QVERIFY(waitShown(*rig, kYellow));
        QVERIFY(waitText(*rig, QStringLiteral("zulu.pdf")));
        // The source saw its drag taken as a copy.
        QTRY_VERIFY_WITH_TIMEOUT(source.process.canReadLine(), kShowMs);
        QCOMPARE(QString::fromLocal8Bit(source.process.readLine()).trimmed(), QStringLiteral("drag ended: 1"));
    }
};

QTEST_MAIN(TestJourneysOpen)
#include "tst_journeys_open.moc"
