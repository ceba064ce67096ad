// One program per user session: the freedesktop Application interface on a
// private session bus, and the local-socket fallback without one.  The
// other starts are real processes (this executable again, as a peer), so
// each hand-over crosses the bus or the socket as a second program's does.
#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char kTestId[] = "com.mossgate.SheaflineTest";

SingleInstance::Options optionsFor(bool bus, const QString &runtime)
{
    SingleInstance::Options options;
    options.applicationId = QString::fromLatin1(kTestId);
    options.runtimeFolder = runtime;
    options.sessionBus = bus;
    options.answerTimeoutMs = 10000;
    return options;
}

// The peer: a second program.  `claim PATH` claims (printing "primary",
// then "open <paths>" for each request, until its input closes, or
// "handed-over"); `handover PATH` hands over and exits with 0 when taken.
// "-" is no path.
int runPeer(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(2);
    SingleInstance::Request request;
    if (args.value(3) != QLatin1String("-"))
        request.paths << args.value(3);
    SingleInstance instance(optionsFor(qEnvironmentVariable("SHEAFLINE_TEST_BUS") == QLatin1String("1"),
                                       qEnvironmentVariable("XDG_RUNTIME_DIR")));
    if (mode == QLatin1String("handover"))
        return instance.handOver(request) ? 0 : 1;
    const SingleInstance::Claim claim = instance.claim(request);
    if (claim != SingleInstance::Claim::Primary) {
        std::printf(claim == SingleInstance::Claim::HandedOver ? "handed-over\n" : "alone\n");
        return 0;
    }
    std::printf("primary\n");
    std::fflush(stdout);
    instance.setHandler([](const SingleInstance::Request &r) {
        std::printf("open %s\n", qPrintable(r.paths.join(QLatin1Char('|'))));
        std::fflush(stdout);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char c;
        if (::read(STDIN_FILENO, &c, 1) <= 0)
            app.quit();
    });
    return app.exec();
}

} // namespace

class tst_SingleInstance : public QObject
{
    Q_OBJECT

    QProcess m_bus;
    QTemporaryDir m_runtime;

    std::unique_ptr<QProcess> peer(bool bus, const QStringList &args)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SHEAFLINE_TEST_BUS"), bus ? QStringLiteral("1") : QStringLiteral("0"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--peer")} + args);
        return p;
    }

    static QString firstLine(QProcess &p)
    {
        if (!p.canReadLine() && !p.waitForReadyRead(15000))
            return {};
        return QString::fromLocal8Bit(p.readLine()).trimmed();
    }

    QString socketPath() const
    {
        return m_runtime.path() + QLatin1Char('/') + QLatin1String(kTestId) + QStringLiteral("/instance");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        QVERIFY(QFile::setPermissions(m_runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        // A session bus of the test's own, for this process and its peers.
        m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                    QStringLiteral("--print-address=1")});
        QVERIFY2(m_bus.waitForStarted(10000), "dbus-daemon does not start");
        QVERIFY(m_bus.waitForReadyRead(10000));
        const QByteArray address = m_bus.readLine().trimmed();
        QVERIFY(!address.isEmpty());
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    }

    void cleanupTestCase()
    {
        m_bus.terminate();
        m_bus.waitForFinished(5000);
    }

    void handOver_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::newRow("session bus") << true;
        QTest::newRow("local socket") << false;
    }

    // A second program's file reaches the running one, a start without a
    // file only brings it forward, and once it has gone nobody takes a
    // hand-over any more.
    void handOver()
    {
        QFETCH(bool, bus);
        QList<SingleInstance::Request> got;
        {
            SingleInstance running(optionsFor(bus, m_runtime.path()));
            QCOMPARE(running.claim({}), SingleInstance::Claim::Primary);
            QCOMPARE(running.onSessionBus(), bus);
            // The fallback listens with the bus too: a start from a shell
            // without the bus finds the program.
            QVERIFY(QFileInfo::exists(socketPath()));
            running.setHandler([&got](const SingleInstance::Request &r) { got << r; });

            const QString file = QStringLiteral("/srv/pdf/dir with space/ä #1.pdf");
            auto second = peer(bus, {QStringLiteral("handover"), file});
            QTRY_COMPARE_WITH_TIMEOUT(second->state(), QProcess::NotRunning, 15000);
            QCOMPARE(second->exitCode(), 0);
            QTRY_COMPARE(got.size(), 1);
            QCOMPARE(got.at(0).paths, QStringList{file});

            auto third = peer(bus, {QStringLiteral("handover"), QStringLiteral("-")});
            QTRY_COMPARE_WITH_TIMEOUT(third->state(), QProcess::NotRunning, 15000);
            QCOMPARE(third->exitCode(), 0);
            QTRY_COMPARE(got.size(), 2);
            QCOMPARE(got.at(1).paths, QStringList());

            if (bus) {
                // What any launcher sees: the interface on the path made from the id.
                QProcess introspect;
                introspect.start(QStringLiteral("dbus-send"),
                                 {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                                  QStringLiteral("--dest=") + QLatin1String(kTestId),
                                  QStringLiteral("/com/mossgate/SheaflineTest"),
                                  QStringLiteral("org.freedesktop.DBus.Introspectable.Introspect")});
                QTRY_COMPARE_WITH_TIMEOUT(introspect.state(), QProcess::NotRunning, 15000);
                const QString xml = QString::fromUtf8(introspect.readAllStandardOutput()).simplified();
                QVERIFY2(xml.contains(QLatin1String("<interface name=\"org.freedesktop.Application\">")), qPrintable(xml));
                QVERIFY2(xml.contains(QLatin1String("<method name=\"Open\"> <arg name=\"uris\" type=\"as\" direction=\"in\"/> "
                                                    "<arg name=\"platform_data\" type=\"a{sv}\" direction=\"in\"/>")),
                         qPrintable(xml));
                QVERIFY(xml.contains(QLatin1String("<method name=\"Activate\">")));
                QVERIFY(xml.contains(QLatin1String("<method name=\"ActivateAction\">")));
            }
        }
        // Gone: the name and the socket are free again.
        QVERIFY(!QFileInfo::exists(socketPath()));
        auto late = peer(bus, {QStringLiteral("handover"), QStringLiteral("/x.pdf")});
        QTRY_COMPARE_WITH_TIMEOUT(late->state(), QProcess::NotRunning, 15000);
        QCOMPARE(late->exitCode(), 1);
    }

    void startsAtOnce_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::newRow("session bus") << true;
        QTest::newRow("local socket") << false;
    }

    // Three programs started together: one answers, the others hand their
    // files to it and end.
    void startsAtOnce()
    {
        QFETCH(bool, bus);
        std::vector<std::unique_ptr<QProcess>> starts;
        for (int i = 0; i < 3; ++i)
            starts.push_back(peer(bus, {QStringLiteral("claim"), QStringLiteral("/p/%1.pdf").arg(i)}));
        QProcess *primary = nullptr;
        QStringList others;
        for (int i = 0; i < 3; ++i) {
            const QString line = firstLine(*starts[i]);
            if (line == QLatin1String("primary")) {
                QVERIFY2(!primary, "two programs answer");
                primary = starts[i].get();
            } else {
                QCOMPARE(line, QStringLiteral("handed-over"));
                QVERIFY(starts[i]->waitForFinished(15000));
                QCOMPARE(starts[i]->exitCode(), 0);
                others << QStringLiteral("open /p/%1.pdf").arg(i);
            }
        }
        QVERIFY(primary);
        QStringList opened;
        QTRY_VERIFY_WITH_TIMEOUT((opened << QString::fromLocal8Bit(primary->readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                                  opened.size() >= 2),
                                 15000);
        opened.sort();
        QCOMPARE(opened, others);
        primary->closeWriteChannel();
        QVERIFY(primary->waitForFinished(15000));
    }

    // A socket left by a program that crashed does not hold the next one
    // up; the socket's folder is the user's alone.
    void staleSocketAndPrivateFolder()
    {
        const QString folder = QFileInfo(socketPath()).path();
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                  | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                                  | QFileDevice::ReadOther | QFileDevice::ExeOther));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(socketPath());
        qstrncpy(addr.sun_path, native.constData(), sizeof addr.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        ::close(fd); // the file stays, nobody listens
        QVERIFY(QFileInfo::exists(socketPath()));

        QList<SingleInstance::Request> got;
        SingleInstance running(optionsFor(false, m_runtime.path()));
        QCOMPARE(running.claim({}), SingleInstance::Claim::Primary);
        running.setHandler([&got](const SingleInstance::Request &r) { got << r; });
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
        QCOMPARE(::stat(native.constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(st.st_mode & 0077, mode_t(0));

        auto second = peer(false, {QStringLiteral("handover"), QStringLiteral("/y.pdf")});
        QTRY_COMPARE_WITH_TIMEOUT(second->state(), QProcess::NotRunning, 15000);
        QCOMPARE(second->exitCode(), 0);
        QTRY_COMPARE(got.size(), 1);
    }

    // Without a bus and without a runtime folder the program runs alone.
    void noChannel()
    {
        SingleInstance alone(optionsFor(false, QString()));
        QCOMPARE(alone.claim({}), SingleInstance::Claim::Alone);
        QVERIFY(!alone.handOver({{QStringLiteral("/z.pdf")}, {}}));
    }

    void requestFromArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("paths");
        const QString cwd = QDir::currentPath();
        QTest::newRow("none") << QStringList() << QStringList();
        QTest::newRow("relative file") << QStringList{"a.pdf", "-b"} << QStringList{cwd + "/a.pdf"};
        QTest::newRow("absolute, cleaned") << QStringList{"/srv/../pdf/./b.pdf"} << QStringList{"/pdf/b.pdf"};
        QTest::newRow("switch first") << QStringList{"/B", "c.pdf"} << QStringList();
        QTest::newRow("empty first") << QStringList{"", "c.pdf"} << QStringList();
        QTest::newRow("missing path is handed over") << QStringList{"/nowhere"} << QStringList{"/nowhere"};
    }

    void requestFromArguments()
    {
        QFETCH(QStringList, args);
        qputenv("DESKTOP_STARTUP_ID", "launcher_TIME42");
        const SingleInstance::Request r = SingleInstance::requestFromArguments(args);
        qunsetenv("DESKTOP_STARTUP_ID");
        QTEST(r.paths, "paths");
        QCOMPARE(r.activationToken, QStringLiteral("launcher_TIME42"));
        QCOMPARE(SingleInstance::objectPath(QStringLiteral("org.example.my-app")), QStringLiteral("/org/example/my_app"));
    }
};

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--peer") == 0)
        return runPeer(argc, argv);
    QCoreApplication app(argc, argv);
    tst_SingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
