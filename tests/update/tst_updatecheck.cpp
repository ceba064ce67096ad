// The update check against a real HTTP server on 127.0.0.1.
#include "UpdateTestBase.h"

#include "update/UpdateChecker.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {


// Everything below `root`, relative, sorted.
QStringList tree(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

} // namespace

class TestUpdateCheck : public QObject, private UpdateTestBase
{
    Q_OBJECT
private slots:
    void init();
    void releaseDecision_data();
    void releaseDecision();
    void packageAlreadyPresentIsNotFetched();
    void failedPackageDownloadStillTrue();
    void earlierCopyUsedWhenServerFails();
    void hostileNames_data();
    void hostileNames();
    void lastupdateCappedAt16K();
    void hungServersBounded_data();
    void hungServersBounded();
    void emptyUpdatepathMakesNoConnection();
    void defaultUpdatepathFailsFast();
    void unsafeWorkFolder_data();
    void unsafeWorkFolder();
    void createsPrivateWorkFolder();

private:
    bool check(QString &zip, UpdateTimeouts timeouts = shortTimeouts())
    {
        UpdateChecker checker(m_settings, paths(), timeouts);
        return checker.check(zip);
    }
    static UpdateTimeouts shortTimeouts() { return {500, 1000, 3000, 5000}; }
};

void TestUpdateCheck::init()
{
    QVERIFY(freshCase(QStringLiteral("sheafline"), QStringLiteral("/opt/x/")));
}

void TestUpdateCheck::releaseDecision_data()
{
    QTest::addColumn<QByteArray>("lastupdate");
    QTest::addColumn<QString>("stored"); // null: never stored (first run)
    QTest::addColumn<bool>("newer");
    QTest::addColumn<QString>("zip");

    QTest::newRow("first run") << QByteArray("pkg-1.tar\r\nnotes\r\n") << QString() << true << "pkg-1.tar";
    QTest::newRow("first run, empty stored") << QByteArray("pkg-1.tar\n") << "" << true << "pkg-1.tar";
    QTest::newRow("newer") << QByteArray("r2\n") << "r1" << true << "r2";
    QTest::newRow("equal") << QByteArray("r2\n") << "r2" << false << "r2";
    QTest::newRow("r100 not newer than r99") << QByteArray("r100\n") << "r99" << false << "r100";
    QTest::newRow("small a newer than capital B") << QByteArray("a1\n") << "B9" << true << "a1";
    QTest::newRow("capital B older than small a") << QByteArray("B9\n") << "a1" << false << "B9";
    QTest::newRow("trailing blanks kept") << QByteArray("pkg 2.tar  \r\n") << "" << true << "pkg 2.tar  ";
    QTest::newRow("UTF-16 file") << QByteArray("\xFF\xFEr\0003\0\r\0\n\0", 10) << "r2" << true << "r3";
    QTest::newRow("empty file") << QByteArray() << "" << false << "";
}

void TestUpdateCheck::releaseDecision()
{
    QFETCH(QByteArray, lastupdate);
    QFETCH(QString, stored);
    QFETCH(bool, newer);
    QFETCH(QString, zip);
    if (!stored.isNull())
        m_settings.values.insert(QStringLiteral("lastupdate"), stored);
    m_server->setRoute("/soft/sheafline/lastupdate", lastupdate);
    if (!zip.isEmpty())
        m_server->setRoute(serverPath(zip), QByteArray("package bytes"));

    QString zipFile = QStringLiteral("stale");
    QCOMPARE(check(zipFile), newer);
    QCOMPARE(zipFile, zip);
    QCOMPARE(m_root->readFile(m_runPath + "lastupdate"), lastupdate);
    QCOMPARE(m_settings.values.value("lastupdate", "<missing>"), stored.isNull() ? QString() : stored);
    QCOMPARE(m_settings.writes, 0); // the check stores nothing itself
    if (newer) {
        QCOMPARE(m_server->requestCount(serverPath(zip)), 1);
        QCOMPARE(m_root->readFile(m_runPath + zip), QByteArray("package bytes"));
    } else {
        QCOMPARE(m_server->requests().size(), 1); // only "lastupdate"
        QCOMPARE(tree(m_runPath), QStringList{"lastupdate"});
    }
}

void TestUpdateCheck::packageAlreadyPresentIsNotFetched()
{
    m_server->setRoute("/soft/sheafline/lastupdate", QByteArray("pkg-3.tar\n"));
    m_server->setRoute(serverPath("pkg-3.tar"), QByteArray("new bytes"));
    QVERIFY(QDir().mkpath(m_runPath));
    QFile::setPermissions(m_runPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    {
        QFile f(m_runPath + "pkg-3.tar");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("already here");
    }
    QString zip;
    QVERIFY(check(zip));
    QCOMPARE(zip, QStringLiteral("pkg-3.tar"));
    QCOMPARE(m_server->requestCount(serverPath("pkg-3.tar")), 0);
    QCOMPARE(m_root->readFile(m_runPath + "pkg-3.tar"), QByteArray("already here"));
}

void TestUpdateCheck::failedPackageDownloadStillTrue()
{
    m_server->setRoute("/soft/sheafline/lastupdate", QByteArray("pkg-4.tar\n"));
    // No route for the package: 404.
    QString zip;
    QVERIFY(check(zip));
    QCOMPARE(zip, QStringLiteral("pkg-4.tar"));
    QCOMPARE(m_server->requestCount(serverPath("pkg-4.tar")), 1);
    QCOMPARE(tree(m_runPath), QStringList{"lastupdate"});
}

void TestUpdateCheck::earlierCopyUsedWhenServerFails()
{
    QVERIFY(QDir().mkpath(m_runPath));
    QFile::setPermissions(m_runPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    {
        QFile f(m_runPath + "lastupdate");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("r5\n");
    }
    m_settings.values.insert("lastupdate", "r4");
    // The server answers 404 for "lastupdate" but has the package.
    m_server->setRoute(serverPath("r5"), QByteArray("five"));
    QString zip;
    QVERIFY(check(zip));
    QCOMPARE(zip, QStringLiteral("r5"));
    QCOMPARE(m_root->readFile(m_runPath + "lastupdate"), QByteArray("r5\n")); // not replaced by the 404 page
    QCOMPARE(m_root->readFile(m_runPath + "r5"), QByteArray("five"));

    // Server gone altogether: the copy still decides.
    m_server->close();
    m_settings.values.insert("lastupdate", "r5");
    QVERIFY(!check(zip));
    m_settings.values.insert("lastupdate", "r4");
    QVERIFY(check(zip));
}

void TestUpdateCheck::hostileNames_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("parent folder") << QByteArray("../evil.tar");
    QTest::newRow("two parents") << QByteArray("../../evil.tar");
    QTest::newRow("absolute") << QByteArray("/tmp/evil.tar");
    QTest::newRow("sub folder") << QByteArray("sub/evil.tar");
    QTest::newRow("backslash") << QByteArray("..\\evil.tar");
    QTest::newRow("colon") << QByteArray("C:evil.tar");
    QTest::newRow("NUL") << QByteArray("evil\0.tar", 9);
    QTest::newRow("control") << QByteArray("evil\x1b.tar");
    QTest::newRow("double quote") << QByteArray("evil\".tar");
    QTest::newRow("single quote") << QByteArray("evil'.tar");
    QTest::newRow("command substitution") << QByteArray("evil$(touch pwned).tar");
    QTest::newRow("backticks") << QByteArray("evil`touch pwned`.tar");
    QTest::newRow("batch variable") << QByteArray("evil%PATH%.tar");
    QTest::newRow("caret") << QByteArray("evil^.tar");
    QTest::newRow("ampersand") << QByteArray("evil&calc.tar");
    QTest::newRow("pipe") << QByteArray("evil|sh");
    QTest::newRow("redirect") << QByteArray("evil>x");
    QTest::newRow("semicolon") << QByteArray("evil;rm");
    QTest::newRow("parentheses") << QByteArray("evil(1).tar");
    QTest::newRow("leading dash") << QByteArray("-evil.tar");
    QTest::newRow("leading blank") << QByteArray(" evil.tar");
    QTest::newRow("double dot") << QByteArray("evil..tar");
    QTest::newRow("300 characters") << QByteArray(300, 'e');
    QTest::newRow("non-ASCII") << QByteArray("evil\xc3\xa9.tar");
    QTest::newRow("invalid UTF-8") << QByteArray("evil\xff.tar");
}

void TestUpdateCheck::hostileNames()
{
    QFETCH(QByteArray, line);
    m_server->setRoute("/soft/sheafline/lastupdate", line + "\r\n");
    QString zip = QStringLiteral("stale");
    QVERIFY(!check(zip));
    QCOMPARE(zip, QString());
    QCOMPARE(m_server->requests(), QList<QByteArray>{"/soft/sheafline/lastupdate"});
    // Nothing but the downloaded list anywhere in the test's folder.
    QCOMPARE(tree(m_root->path()), (QStringList{"work", "work/sheafline", "work/sheafline/lastupdate"}));
    QCOMPARE(m_settings.writes, 0);
}

void TestUpdateCheck::lastupdateCappedAt16K()
{
    QByteArray big = "pkg-9.tar\r\n" + QByteArray(1024 * 1024, 'x');
    m_server->setRoute("/soft/sheafline/lastupdate", big);
    m_server->setRoute(serverPath("pkg-9.tar"), QByteArray("nine"));
    QString zip;
    QVERIFY(check(zip));
    QCOMPARE(zip, QStringLiteral("pkg-9.tar"));
    QCOMPARE(m_root->readFile(m_runPath + "lastupdate"), big.left(16 * 1024));

    // One megabyte without a line end is no package name.
    m_server->setRoute("/soft/sheafline/lastupdate", QByteArray(1024 * 1024, 'y'));
    QVERIFY(!check(zip));
    QCOMPARE(zip, QString());
    QCOMPARE(QFileInfo(m_runPath + "lastupdate").size(), 16 * 1024);
}

void TestUpdateCheck::hungServersBounded_data()
{
    QTest::addColumn<bool>("defaults");
    QTest::addColumn<bool>("hangPackage"); // else "lastupdate" hangs
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("trickleMs");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("boundMs");

    const int silent = int(TestHttpServer::Mode::Silent);
    const int trickle = int(TestHttpServer::Mode::Trickle);
    // Short limits: connect 0.5 s, inactivity 1 s, list 3 s, whole check 5 s.
    QTest::newRow("silent list") << false << false << silent << 0 << false << 1000;
    QTest::newRow("trickling list") << false << false << trickle << 300 << false << 3000;
    QTest::newRow("silent package") << false << true << silent << 0 << true << 1000;
    QTest::newRow("trickling package") << false << true << trickle << 300 << true << 5000;
    // The program's own limits: at most 15 s in all.
    QTest::newRow("defaults, trickling list") << true << false << trickle << 2000 << false << 8000;
    QTest::newRow("defaults, trickling package") << true << true << trickle << 2000 << true << 15000;
}

void TestUpdateCheck::hungServersBounded()
{
    QFETCH(bool, defaults);
    QFETCH(bool, hangPackage);
    QFETCH(int, mode);
    QFETCH(int, trickleMs);
    QFETCH(bool, result);
    QFETCH(int, boundMs);
    const TestHttpServer::Route hang{QByteArray(100000, 'z'), 200, TestHttpServer::Mode(mode), trickleMs};
    if (hangPackage) {
        m_server->setRoute("/soft/sheafline/lastupdate", QByteArray("pkg-5.tar\n"));
        m_server->setRoute(serverPath("pkg-5.tar"), hang);
    } else {
        m_server->setRoute("/soft/sheafline/lastupdate", hang);
    }
    QString zip;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(check(zip, defaults ? UpdateTimeouts() : shortTimeouts()), result);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed < boundMs + 1500, QByteArray::number(elapsed));
    QVERIFY2(elapsed >= boundMs - 300, QByteArray::number(elapsed)); // it did wait for the server
    // A cut download leaves nothing behind.
    QCOMPARE(tree(m_runPath), hangPackage ? QStringList{"lastupdate"} : QStringList());
}

void TestUpdateCheck::emptyUpdatepathMakesNoConnection()
{
    m_settings.values.insert("updatepath", "");
    m_server->setRoute("/soft/sheafline/lastupdate", QByteArray("pkg-1.tar\n"));
    QString zip;
    QVERIFY(!check(zip));
    QCOMPARE(m_server->connectionCount(), 0);
    QCOMPARE(tree(m_root->path()), QStringList());
}

void TestUpdateCheck::defaultUpdatepathFailsFast()
{
    // The stored default names a host that does not resolve here.
    UpdatePaths p = paths();
    p.webPath = QString::fromUtf16(kDefaultUpdatePath) + QStringLiteral("sheafline");
    UpdateChecker checker(m_settings, p);
    QString zip;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!checker.check(zip));
    QCOMPARE(m_settings.values.value("updatepath"), QString::fromUtf16(kDefaultUpdatePath));
    QVERIFY2(clock.elapsed() < 4500, QByteArray::number(clock.elapsed()));
    QCOMPARE(tree(m_runPath), QStringList());
}

void TestUpdateCheck::unsafeWorkFolder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("symlink") << "symlink";
    QTest::newRow("other owner") << "owner";
    QTest::newRow("group writable") << "group";
    QTest::newRow("world writable") << "world";
    QTest::newRow("plain file") << "file";
}

void TestUpdateCheck::unsafeWorkFolder()
{
    QFETCH(QString, kind);
    const QString folder = m_runPath.chopped(1);
    QVERIFY(QDir().mkpath(m_root->path("work")));
    if (kind == "symlink") {
        QVERIFY(QDir().mkpath(m_root->path("elsewhere")));
        ::chmod(QFile::encodeName(m_root->path("elsewhere")).constData(), 0700);
        QVERIFY(QFile::link(m_root->path("elsewhere"), folder));
    } else if (kind == "file") {
        QFile f(folder);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(QDir().mkpath(folder));
        const QByteArray native = QFile::encodeName(folder);
        if (kind == "owner") {
            if (::geteuid() != 0)
                QSKIP("needs root to give the folder to another user");
            ::chmod(native.constData(), 0700);
            QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        } else {
            ::chmod(native.constData(), kind == "group" ? 0770 : 0777);
        }
    }
    const QStringList before = tree(m_root->path());
    m_server->setRoute("/soft/sheafline/lastupdate", QByteArray("pkg-1.tar\n"));
    m_server->setRoute(serverPath("pkg-1.tar"), QByteArray("one"));
    QString zip;
    QVERIFY(!check(zip));
    QCOMPARE(m_server->connectionCount(), 0);
    QCOMPARE(tree(m_root->path()), before);
}

void TestUpdateCheck::createsPrivateWorkFolder()
{
    m_server->setRoute("/soft/sheafline/lastupdate", QByteArray("r1\n"));
    m_settings.values.insert("lastupdate", "r1");
    QString zip;
    QVERIFY(!check(zip));
    struct stat st;
    QCOMPARE(::lstat(QFile::encodeName(m_runPath.chopped(1)).constData(), &st), 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(int(st.st_mode & 07777), 0700);
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
