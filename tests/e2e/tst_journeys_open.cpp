// Journeys of a PDF opened from outside the program, with real input under
// Xvfb and openbox: a PDF as the first argument, a second start handing its
// PDF to the window that is open (on a session bus of the journey's own, and
// on the fallback socket without one), and a PDF dragged from another
// program onto the window through the X drag-and-drop protocol.  Documents
// are solid colours, so the one shown is told by its pixels.
#include "Journey.h"
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

QString activeWindow()
{
    bool ok = false;
    const QString id = run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}, &ok);
    return ok ? id : QString();
}

} // namespace

class TestJourneysOpen : public JourneyTest
{
    Q_OBJECT

    // One journey's world: a home whose stored root is docs/, documents in
    // docs/sub/ and in elsewhere/.
    std::unique_ptr<Rig> newRig()
    {
        auto rig = JourneyTest::newRig({{QStringLiteral("sub/alpha.pdf"), kRed},
                                        {QStringLiteral("sub/bravo.pdf"), kGreen},
                                        {QStringLiteral("sub/charlie.pdf"), kBlue}});
        if (!rig)
            return nullptr;
        QSettings(rig->settingsPath(), QSettings::IniFormat).setValue(QStringLiteral("Folder"), rig->docs);
        if (!writeDocs(*rig, {{QStringLiteral("../elsewhere/yankee.pdf"), kYellow},
                              {QStringLiteral("../elsewhere/zulu.pdf"), kGreen}}))
            return nullptr;
        return rig;
    }
    static QString elsewhere(const Rig &rig) { return rig.dir.filePath(QStringLiteral("elsewhere")); }

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
    // `sheafline docs/sub/bravo.pdf`: the tree keeps the stored root and
    // opens down to sub, the PDF is shown, and Down, Enter shows the next
    // file of its folder; the stored root is left as it was.
    void pdfArgumentShowsItAmongItsNeighbours()
    {
        auto rig = newRig();
        QVERIFY(rig);
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
        QVERIFY(rig);
        QVERIFY(launch(*rig, {rig->docs + QStringLiteral("/gone.pdf")}));
        QTRY_VERIFY_WITH_TIMEOUT(rig->app->window(QStringLiteral("警告")), kShowMs);
        // Mapped is not yet painted, nor placed where the window manager puts
        // it: the text is waited for on the screen, where the box is now.
        const auto namesTheArgument = [&] {
            const auto box = rig->app->window(QStringLiteral("警告"));
            return box && findText(grabScreen(), box->frame, QStringLiteral("gone.pdf"), m_fonts).has_value();
        };
        QTRY_VERIFY_WITH_TIMEOUT(namesTheArgument(), kShowMs);
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
        QVERIFY(rig);
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

        QVERIFY(second.start({elsewhere(*rig) + QStringLiteral("/yankee.pdf")}));
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
        QVERIFY(rig);
        QVERIFY(launch(*rig, {rig->docs}));
        QVERIFY(waitText(*rig, QStringLiteral("sub")));

        Other source;
        QVERIFY(startOther(source, {QUrl::fromLocalFile(elsewhere(*rig) + QStringLiteral("/yankee.pdf")).toString()}));
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
