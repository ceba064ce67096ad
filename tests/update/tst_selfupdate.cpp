// End to end on Linux: serve a tar package, run the check, then write and
// run the real update.sh against a temporary program folder with a stand-in
// program.
#include "FakeSettings.h"
#include "TestHttpServer.h"
#include "support/TestDir.h"

#include "update/SelfUpdater.h"
#include "update/UpdateChecker.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {


bool writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFile::ExeOwner);
    return true;
}

// A stand-in program: appends its version to restarted.txt beside itself.
QByteArray standIn(const char *version)
{
    return QByteArray("#!/bin/sh\necho ") + version + " >> \"$(dirname \"$0\")/restarted.txt\"\n";
}

QByteArray run(const QString &program, const QStringList &args, const QString &cwd = QString())
{
    QProcess p;
    p.setWorkingDirectory(cwd);
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
        return "<failed>";
    return p.readAllStandardOutput() + p.readAllStandardError();
}

} // namespace

class TestSelfUpdate : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void updatesProgramEndToEnd();
    void hostileArchiveMembersStayInside();
    void invalidNameWritesNoScript();

private:
    UpdatePaths paths() const
    {
        return {m_server->baseUrl() + QStringLiteral("/soft/standin"), m_runPath, m_progDir, QStringLiteral("standin")};
    }
    QByteArray serverPath(const QString &name) const
    {
        return QUrl(m_server->baseUrl() + QStringLiteral("/soft/standin/") + name).path(QUrl::FullyEncoded).toUtf8();
    }
    // Starts the script for `zip` for an "old program" that is still running,
    // lets that program end and waits for the script to finish.
    void runScriptFor(const QString &zip);

    std::unique_ptr<TestDir> m_root;
    std::unique_ptr<TestHttpServer> m_server;
    FakeSettings m_settings;
    QString m_progDir;
    QString m_runPath;
};

void TestSelfUpdate::init()
{
    m_root = std::make_unique<TestDir>();
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    m_settings = FakeSettings();
    // Blanks and a quote in the program's folder, like a real user's home.
    m_progDir = m_root->path(QStringLiteral("my prog's $dir/"));
    m_runPath = m_root->path(QStringLiteral("run/standin/"));
    QVERIFY(writeFile(m_progDir + "standin", standIn("v1"), true));
    QVERIFY(writeFile(m_progDir + "keep.txt", "untouched"));
}

void TestSelfUpdate::runScriptFor(const QString &zip)
{
    // The old program: still running when the script starts.
    QProcess oldProgram;
    oldProgram.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(oldProgram.waitForStarted());

    QVERIFY(SelfUpdater::install(m_settings, paths(), zip, oldProgram.processId(),
                                 QStringLiteral("cp readme.txt shown-readme.txt")));
    QCOMPARE(m_settings.values.value("lastupdate"), zip);
    QVERIFY(QFile::exists(m_runPath + "update.sh"));

    // Nothing may be unpacked while the old program runs.
    QTest::qWait(1500);
    QVERIFY(!QFile::exists(m_progDir + "restarted.txt"));
    QCOMPARE(m_root->readFile(m_progDir + "standin"), standIn("v1"));

    oldProgram.kill();
    QVERIFY(oldProgram.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_progDir + "restarted.txt") && !QFile::exists(m_runPath + "update.sh"),
                             30000);
}

void TestSelfUpdate::updatesProgramEndToEnd()
{
    // The package: a new stand-in and a data file, gzip-compressed tar.
    const QString stage = m_root->path("stage/");
    QVERIFY(writeFile(stage + "standin", standIn("v2"), true));
    QVERIFY(writeFile(stage + "data/new.txt", "from the package"));
    const QString zip = QStringLiteral("standin 2.0.tar.gz "); // trailing blank is part of the name
    const QString packageFile = m_root->path("package.tgz");
    QCOMPARE(run("tar", {"-czf", packageFile, "-C", stage, "standin", "data"}), QByteArray());
    m_server->setRoute("/soft/standin/lastupdate", zip.toUtf8() + "\r\n");
    m_server->setRoute(serverPath(zip), m_root->readFile(packageFile));

    QString zipFile;
    UpdateChecker checker(m_settings, paths());
    QVERIFY(checker.check(zipFile));
    QCOMPARE(zipFile, zip);
    QCOMPARE(m_root->readFile(m_runPath + zip), m_root->readFile(packageFile));
    QVERIFY(writeFile(m_runPath + "readme.txt", "what is new"));

    runScriptFor(zip);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(m_root->readFile(m_progDir + "restarted.txt"), QByteArray("v2\n")); // the unpacked program ran, once
    QCOMPARE(m_root->readFile(m_progDir + "data/new.txt"), QByteArray("from the package"));
    QCOMPARE(m_root->readFile(m_progDir + "keep.txt"), QByteArray("untouched"));
    QVERIFY(!QFile::exists(m_runPath + zip));
    QVERIFY(!QFile::exists(m_runPath + "readme.txt"));
    QCOMPARE(m_root->readFile(m_runPath + "shown-readme.txt"), QByteArray("what is new"));
    QCOMPARE(m_root->readFile(m_runPath + "lastupdate"), zip.toUtf8() + "\r\n"); // kept for the next check
    QCOMPARE(m_settings.values.value("lastupdate"), zip);

    // The same name is not offered again.
    QVERIFY(!checker.check(zipFile));
}

void TestSelfUpdate::hostileArchiveMembersStayInside()
{
    // GNU tar refuses members with ".." and strips a leading "/"; the rest
    // of the package is still unpacked and the program restarted.
    const QString packageFile = m_root->path("evil.tar");
    const QString script = QStringLiteral(
        "import io, sys, tarfile\n"
        "with tarfile.open(sys.argv[1], 'w') as t:\n"
        "    for name, data in (('../escaped.txt', b'x'), ('/abs-escaped.txt', b'y'), ('ok.txt', b'ok')):\n"
        "        info = tarfile.TarInfo(name); info.size = len(data); t.addfile(info, io.BytesIO(data))\n");
    QCOMPARE(run("python3", {"-c", script, packageFile}), QByteArray());
    QVERIFY(QFile::exists(packageFile));
    QVERIFY(QDir().mkpath(m_runPath));
    QFile::setPermissions(m_runPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(QFile::copy(packageFile, m_runPath + "evil-1.tar"));

    runScriptFor(QStringLiteral("evil-1.tar"));
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(m_root->readFile(m_progDir + "ok.txt"), QByteArray("ok"));
    QVERIFY(!QFile::exists(m_root->path("escaped.txt")));
    QVERIFY(!QFile::exists("/abs-escaped.txt"));
    QCOMPARE(m_root->readFile(m_progDir + "restarted.txt"), QByteArray("v1\n"));
    QVERIFY(!QFile::exists(m_runPath + "evil-1.tar"));
}

void TestSelfUpdate::invalidNameWritesNoScript()
{
    QVERIFY(QDir().mkpath(m_runPath));
    QFile::setPermissions(m_runPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!SelfUpdater::install(m_settings, paths(), QStringLiteral("x'; touch pwned; '"), 1));
    QVERIFY(!SelfUpdater::install(m_settings, paths(), QString(), 1));
    QCOMPARE(m_settings.writes, 0);
    QVERIFY(QDir(m_runPath).isEmpty());
}

QTEST_MAIN(TestSelfUpdate)
#include "tst_selfupdate.moc"
