// The update check against a real HTTP server on 127.0.0.1.
#include "UpdateTestBase.h"

#include "update/InstallPlace.h"
#include "update/PendingUpdate.h"
#include "update/UpdateChecker.h"
#include "update/UpdateNotice.h"
#include "update/UpdateUi.h"
#include "update/Updater.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
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
    void signedPackages_data();
    void signedPackages();
    void packageInWorkFolderVerifiedAgain_data();
    void packageInWorkFolderVerifiedAgain();
    void buildWithoutKeyOnlyAnnounces();
    void installPlaceDecision_data();
    void installPlaceDecision();
    void programFolderLeftAlone_data();
    void programFolderLeftAlone();
    void settlesPendingReplacement_data();
    void settlesPendingReplacement();

private:
    UpdateCheck checkFully(QString &zip, UpdateTimeouts timeouts = shortTimeouts())
    {
        UpdateChecker checker(m_settings, paths(), trust(), timeouts);
        return checker.check(zip);
    }
    bool check(QString &zip, UpdateTimeouts timeouts = shortTimeouts())
    {
        return checkFully(zip, timeouts).newerRelease();
    }
    static UpdateTimeouts shortTimeouts() { return {500, 1000, 3000, 5000}; }

    std::unique_ptr<QTemporaryDir> m_programFolder;
};

void TestUpdateCheck::init()
{
    // The program's folder lies outside the case's folder, whose contents
    // the tests compare; the updater may replace its files.
    m_programFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(freshCase(QStringLiteral("sheafline"), m_programFolder->path() + QLatin1Char('/')));
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
        serveSigned(zip, QByteArray("package bytes"));

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
    m_server->setRoute(serverPath("pkg-3.tar.sig"), signatureOf("pkg-3.tar", "already here"));
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
    m_server->setRoute(serverPath("pkg-4.tar.sig"), signatureOf("pkg-4.tar", "four"));
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
    serveSigned("r5", QByteArray("five"));
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
    serveSigned("pkg-9.tar", QByteArray("nine"));
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
        m_server->setRoute(serverPath("pkg-5.tar.sig"), signatureOf("pkg-5.tar", hang.body));
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
    UpdateChecker checker(m_settings, p, trust());
    QString zip;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!checker.check(zip).newerRelease());
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

void TestUpdateCheck::signedPackages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("served");    // the package's bytes on the server
    QTest::addColumn<QByteArray>("signature"); // null: no signature on the server
    QTest::addColumn<int>("refusal");          // UpdateCheck::Refusal; None: installed
    QTest::addColumn<int>("packageRequests");

    using R = UpdateCheck::Refusal;
    const QByteArray bytes = "release 3 bytes";
    const QByteArray good = signatureOf("pkg-3.tar", bytes);
    const QByteArray otherKey = signatureOf("pkg-3.tar", bytes, PackageSignature::makeKeyPair().secretKey);
    QByteArray flipped = bytes;
    flipped[4] = flipped[4] ^ 0x01;

    QTest::newRow("good") << "pkg-3.tar" << bytes << good << int(R::None) << 1;
    QTest::newRow("signature missing") << "pkg-3.tar" << bytes << QByteArray() << int(R::SignatureMissing) << 0;
    QTest::newRow("signature of another key") << "pkg-3.tar" << bytes << otherKey << int(R::SignatureWrong) << 1;
    QTest::newRow("signature truncated") << "pkg-3.tar" << bytes << good.left(40) << int(R::SignatureMalformed) << 0;
    QTest::newRow("signature too long") << "pkg-3.tar" << bytes << good + '\n' << int(R::SignatureMalformed) << 0;
    QTest::newRow("signature empty") << "pkg-3.tar" << bytes << QByteArray("") << int(R::SignatureMalformed) << 0;
    QTest::newRow("signature as text") << "pkg-3.tar" << bytes << good.toBase64() << int(R::SignatureMalformed) << 0;
    QTest::newRow("one byte changed after signing") << "pkg-3.tar" << flipped << good << int(R::SignatureWrong) << 1;
    QTest::newRow("package truncated") << "pkg-3.tar" << bytes.chopped(1) << good << int(R::SignatureWrong) << 1;
    QTest::newRow("package grown") << "pkg-3.tar" << bytes + '\0' << good << int(R::SignatureWrong) << 1;
    // A real release under a newer release's name: the name is signed too.
    QTest::newRow("old release renamed") << "pkg-3.tar" << QByteArray("release 1 bytes")
                                         << signatureOf("pkg-1.tar", "release 1 bytes") << int(R::SignatureWrong) << 1;
    // Older than the running 0.9, or the same: never fetched.
    QTest::newRow("older signed release") << "pkg-0.8.tar" << bytes << signatureOf("pkg-0.8.tar", bytes)
                                          << int(R::NotNewer) << 0;
    QTest::newRow("running version") << "pkg-0.9.0.tar" << bytes << signatureOf("pkg-0.9.0.tar", bytes)
                                     << int(R::NotNewer) << 0;
    QTest::newRow("no version in the name") << "pkg.tar" << bytes << signatureOf("pkg.tar", bytes)
                                            << int(R::NoVersion) << 0;
}

void TestUpdateCheck::signedPackages()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, served);
    QFETCH(QByteArray, signature);
    QFETCH(int, refusal);
    QFETCH(int, packageRequests);
    m_server->setRoute("/soft/sheafline/lastupdate", name.toUtf8() + "\r\n");
    m_server->setRoute(serverPath(name), served);
    if (!signature.isNull())
        m_server->setRoute(serverPath(name + ".sig"), signature);

    QString zip;
    // The program's own limits: a loaded machine may answer slower than the short ones.
    const UpdateCheck result = checkFully(zip, UpdateTimeouts());
    QCOMPARE(zip, name);
    QCOMPARE(result.zipFile, name);
    QCOMPARE(int(result.refusal), refusal);
    QCOMPARE(m_server->requestCount(serverPath(name)), packageRequests);
    QCOMPARE(m_settings.writes, 0);
    if (refusal == int(UpdateCheck::Refusal::None)) {
        QCOMPARE(result.outcome, UpdateCheck::Outcome::Ready);
        QCOMPARE(m_root->readFile(m_runPath + name), served);
        QCOMPARE(m_root->readFile(m_runPath + name + ".sig"), signature);
        QCOMPARE(tree(m_runPath), (QStringList{"lastupdate", name, name + ".sig"}));
        return;
    }
    // Refused: no release to announce, nothing kept under its name (nor
    // anywhere else), and the user is told why when the refusal concerns
    // the signature.
    QCOMPARE(result.outcome, UpdateCheck::Outcome::Refused);
    QVERIFY(!result.newerRelease());
    QCOMPARE(tree(m_runPath), QStringList{"lastupdate"});
    const UpdateNotice atStartup = startupNotice(result);
    const bool signatureFault = refusal == int(UpdateCheck::Refusal::SignatureMissing)
                             || refusal == int(UpdateCheck::Refusal::SignatureMalformed)
                             || refusal == int(UpdateCheck::Refusal::SignatureWrong);
    QCOMPARE(atStartup.kind, signatureFault ? UpdateNotice::Kind::Warning : UpdateNotice::Kind::None);
    const UpdateNotice fromMenu = commandNotice(result);
    QCOMPARE(fromMenu.kind, UpdateNotice::Kind::Warning);
    QVERIFY2(fromMenu.text.contains(name) && fromMenu.text.contains(QStringLiteral("インストールしません")),
             qPrintable(fromMenu.text));
}

void TestUpdateCheck::packageInWorkFolderVerifiedAgain_data()
{
    QTest::addColumn<bool>("serverSignatureGood");
    QTest::newRow("replaced by the signed package") << true;
    QTest::newRow("removed when the server's signature fails") << false;
}

void TestUpdateCheck::packageInWorkFolderVerifiedAgain()
{
    // A package left in the work folder by an earlier program, which did not
    // check signatures, is not this release's.
    QFETCH(bool, serverSignatureGood);
    QVERIFY(QDir().mkpath(m_runPath));
    QFile::setPermissions(m_runPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_root->writeFile(QStringLiteral("work/sheafline/pkg-6.tar"), "planted earlier");
    m_server->setRoute("/soft/sheafline/lastupdate", QByteArray("pkg-6.tar\n"));
    m_server->setRoute(serverPath("pkg-6.tar"), QByteArray("six"));
    m_server->setRoute(serverPath("pkg-6.tar.sig"), serverSignatureGood ? signatureOf("pkg-6.tar", "six")
                                                                        : signatureOf("pkg-6.tar", "seven"));
    QString zip;
    const UpdateCheck result = checkFully(zip);
    QCOMPARE(m_server->requestCount(serverPath("pkg-6.tar")), 1);
    if (serverSignatureGood) {
        QCOMPARE(result.outcome, UpdateCheck::Outcome::Ready);
        QCOMPARE(m_root->readFile(m_runPath + "pkg-6.tar"), QByteArray("six"));
    } else {
        QCOMPARE(result.outcome, UpdateCheck::Outcome::Refused);
        QCOMPARE(result.refusal, UpdateCheck::Refusal::SignatureWrong);
        QCOMPARE(tree(m_runPath), QStringList{"lastupdate"});
    }
}

void TestUpdateCheck::buildWithoutKeyOnlyAnnounces()
{
    serveSigned("pkg-7.tar", "seven");
    m_server->setRoute("/soft/sheafline/lastupdate", QByteArray("pkg-7.tar\n"));
    UpdateChecker checker(m_settings, paths(), UpdateTrust{QByteArray(), m_running}, shortTimeouts());
    QString zip;
    const UpdateCheck result = checker.check(zip);
    QCOMPARE(result.outcome, UpdateCheck::Outcome::NoKey);
    QVERIFY(result.newerRelease());
    QCOMPARE(m_server->requests(), QList<QByteArray>{"/soft/sheafline/lastupdate"});
    QCOMPARE(tree(m_runPath), QStringList{"lastupdate"});
    QCOMPARE(startupNotice(result).text, QStringLiteral("製品版の最新バージョンが利用可能です"));
    // The menu command says the same and offers nothing to install.
    QCOMPARE(commandNotice(result).kind, UpdateNotice::Kind::Info);
    QCOMPARE(commandNotice(result).text, startupNotice(result).text);
}

void TestUpdateCheck::installPlaceDecision_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("marker");
    QTest::addColumn<int>("kind");
    using K = InstallPlace::Kind;
    QTest::newRow("own folder") << true << false << int(K::SelfUpdating);
    QTest::newRow("read-only folder") << false << false << int(K::ReadOnlyFolder);
    // Root can write the package's folder; the marker still decides.
    QTest::newRow("package, folder writable") << true << true << int(K::SystemPackage);
    QTest::newRow("package, folder read-only") << false << true << int(K::SystemPackage);
}

void TestUpdateCheck::installPlaceDecision()
{
    QFETCH(bool, writable);
    QFETCH(bool, marker);
    QFETCH(int, kind);
    QCOMPARE(int(InstallPlace::kind(writable, marker)), kind);
}

void TestUpdateCheck::programFolderLeftAlone_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("marker");
    QTest::addColumn<int>("outcome");
    using O = UpdateCheck::Outcome;
    QTest::newRow("read-only folder") << true << false << int(O::ReadOnlyFolder);
    QTest::newRow("system package") << false << true << int(O::SystemPackage);
    QTest::newRow("system package, read-only") << true << true << int(O::SystemPackage);
}

void TestUpdateCheck::programFolderLeftAlone()
{
    QFETCH(bool, readOnly);
    QFETCH(bool, marker);
    QFETCH(int, outcome);
    // A real program folder: the program, and the marker the Debian package installs.
    m_progDir = m_root->mkdir(QStringLiteral("prog")) + QLatin1Char('/');
    m_root->writeProgram(QStringLiteral("prog/sheafline"), "#!/bin/sh\n");
    if (marker)
        m_root->writeFile(QStringLiteral("prog/") + InstallPlace::systemPackageMarker(), "");
    const QStringList before = tree(m_progDir);
    const auto writableAgain = qScopeGuard(
        [this] { QFile::setPermissions(m_progDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
    if (readOnly)
        QVERIFY(QFile::setPermissions(m_progDir, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
                                                     | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    QCOMPARE(InstallPlace::isWritableFolder(m_progDir), !readOnly);
    serveSigned("pkg-8.tar", "eight");
    m_server->setRoute("/soft/sheafline/lastupdate", QByteArray("pkg-8.tar\n"));

    QString zip;
    const UpdateCheck result = checkFully(zip);
    QCOMPARE(int(result.outcome), outcome);
    QVERIFY(result.newerRelease());
    // Nothing fetched for a copy that is not replaced.
    QCOMPARE(m_server->requests(), QList<QByteArray>{"/soft/sheafline/lastupdate"});
    const UpdateNotice notice = startupNotice(result);
    QCOMPARE(notice.kind, UpdateNotice::Kind::Info);
    QVERIFY2(notice.text.startsWith(QStringLiteral("製品版の最新バージョンが利用可能です\r"))
                 && notice.text.contains(QStringLiteral("パッケージマネージャーでインストールしてください")),
             qPrintable(notice.text));
    QCOMPARE(commandNotice(result).kind, UpdateNotice::Kind::Info);

    // Even asked directly, the updater starts nothing there.
    m_root->writeFile(QStringLiteral("work/sheafline/pkg-8.tar"), "eight");
    m_root->writeFile(QStringLiteral("work/sheafline/pkg-8.tar.sig"), signatureOf("pkg-8.tar", "eight"));
    NetworkUpdater updater(m_settings, trust());
    const auto ui = createHeadlessUpdateUi();
    const UpdateStart start = updater.runUpdate(paths(), zip, *ui);
    QVERIFY(!start.started);
    QVERIFY(!start.failure.isEmpty());
    QVERIFY(!QFile::exists(m_runPath + "update.sh"));
    QVERIFY(!QFile::exists(m_runPath + PendingUpdate::pendingName()));
    QCOMPARE(tree(m_progDir), before);
    QCOMPARE(m_settings.writes, 0);
}

void TestUpdateCheck::settlesPendingReplacement_data()
{
    QTest::addColumn<QString>("pending");   // the package handed to the script
    QTest::addColumn<QByteArray>("log");    // what its unpacking reported
    QTest::addColumn<QString>("running");   // the version that starts next
    QTest::addColumn<int>("result");        // PendingUpdate::Settled::Result
    QTest::addColumn<QString>("reasonHas"); // in the reason kept when it failed

    using R = PendingUpdate::Settled::Result;
    QTest::newRow("new version runs") << "pkg-2.0.tar" << QByteArray() << "2.0.0" << int(R::Installed) << "";
    QTest::newRow("later version runs") << "pkg-2.0.tar" << QByteArray("tar: warning\n") << "2.1" << int(R::Installed)
                                        << "";
    QTest::newRow("old version still runs") << "pkg-2.0.tar"
                                            << QByteArray("tar: This does not look like a tar archive\n"
                                                          "tar: Exiting with failure status due to previous errors\n")
                                            << "0.9" << int(R::Failed) << "This does not look like a tar archive";
    QTest::newRow("old version, nothing reported") << "pkg-2.0.tar" << QByteArray() << "0.9" << int(R::Failed)
                                                   << "0.9";
    QTest::newRow("name the updater never hands over") << "../pkg-2.0.tar" << QByteArray() << "0.9"
                                                       << int(R::Nothing) << "";
}

void TestUpdateCheck::settlesPendingReplacement()
{
    QFETCH(QString, pending);
    QFETCH(QByteArray, log);
    QFETCH(QString, running);
    QFETCH(int, result);
    QFETCH(QString, reasonHas);
    QVERIFY(QDir().mkpath(m_runPath));
    QFile::setPermissions(m_runPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_settings.values.insert("lastupdate", "pkg-1.0.tar");
    m_root->writeFile(QStringLiteral("work/sheafline/pending"), pending.toUtf8() + '\n');
    if (!log.isEmpty())
        m_root->writeFile(QStringLiteral("work/sheafline/update.log"), log);

    const PendingUpdate::Settled settled =
        PendingUpdate::settle(m_settings, m_runPath, QVersionNumber::fromString(running));
    QCOMPARE(int(settled.result), result);
    const bool installed = result == int(PendingUpdate::Settled::Result::Installed);
    QCOMPARE(m_settings.values.value("lastupdate"), installed ? pending : QStringLiteral("pkg-1.0.tar"));
    QVERIFY2(settled.reason.contains(reasonHas), qPrintable(settled.reason));
    QCOMPARE(PendingUpdate::failureOf(m_runPath, pending), settled.reason);
    // Settled once: the next start finds nothing pending.
    QCOMPARE(tree(m_runPath), result == int(PendingUpdate::Settled::Result::Failed) ? QStringList{"failed"}
                                                                                  : QStringList());
    const int writes = m_settings.writes;
    QCOMPARE(int(PendingUpdate::settle(m_settings, m_runPath, QVersionNumber::fromString(running)).result),
             int(PendingUpdate::Settled::Result::Nothing));
    QCOMPARE(m_settings.writes, writes);
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
