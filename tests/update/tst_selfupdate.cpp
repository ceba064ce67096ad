// End to end on Linux: serve a signed tar package, run the check, then write
// and run the real update.sh against a temporary program folder with a
// stand-in program, and start "again" as the new version would.
#include "UpdateTestBase.h"
#include "support/ProcessTree.h"

#include "update/PendingUpdate.h"
#include "update/SelfUpdater.h"
#include "update/UpdateChecker.h"
#include "update/UpdateNotice.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A stand-in program: appends its version to restarted.txt beside itself.
QByteArray standIn(const char *version)
{
    return QByteArray("#!/bin/sh\necho ") + version + " >> \"$(dirname \"$0\")/restarted.txt\"\n";
}

// Whether the update script at `script` sleeps in a loop of its own: it has
// looked for the old program once and found it still running.
bool scriptWaitsForTheProgram(const QString &script)
{
    const QHash<qint64, qint64> parentOf = ProcessTree::parentPids();
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
        const QStringList child = ProcessTree::commandLine(it.key());
        if (child.value(0) != QLatin1String("sleep"))
            continue;
        if (ProcessTree::commandLine(it.value()).value(1) == script)
            return true;
    }
    return false;
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

class TestSelfUpdate : public QObject, private UpdateTestBase
{
    Q_OBJECT
private slots:
    void init();
    void updatesProgramEndToEnd();
    void hostileArchiveMembersStayInside();
    void invalidNameWritesNoScript();
    void failedReplacementOfferedAgain();

private:
    // Starts the script for `zip` for an "old program" that is still running,
    // lets that program end and waits for the script to finish.
    void runScriptFor(const QString &zip);
};

void TestSelfUpdate::init()
{
    // Blanks and a quote in the program's folder, like a real user's home.
    QVERIFY(freshCase(QStringLiteral("standin"), QStringLiteral("my prog's $dir/")));
    QVERIFY(QFileInfo(m_root->writeProgram(QStringLiteral("my prog's $dir/standin"), standIn("v1"))).isExecutable());
    m_root->writeFile(QStringLiteral("my prog's $dir/keep.txt"), "untouched");
    QCOMPARE(m_root->readFile(m_progDir + "keep.txt"), QByteArray("untouched"));
}

void TestSelfUpdate::runScriptFor(const QString &zip)
{
    // The old program: still running when the script starts.
    QProcess oldProgram;
    oldProgram.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(oldProgram.waitForStarted());

    QVERIFY(SelfUpdater::install(paths(), zip, oldProgram.processId(),
                                 QStringLiteral("cp readme.txt shown-readme.txt")));
    // Not installed yet: only the next start can tell.
    QCOMPARE(m_settings.values.value("lastupdate"), QString());
    QCOMPARE(m_settings.writes, 0);
    QCOMPARE(m_root->readFile(m_runPath + PendingUpdate::pendingName()), zip.toUtf8() + '\n');
    QVERIFY(QFile::exists(m_runPath + "update.sh"));

    // Nothing may be unpacked while the old program runs: the script has
    // found it alive and sleeps in its loop.
    QTRY_VERIFY_WITH_TIMEOUT(scriptWaitsForTheProgram(m_runPath + "update.sh"), 30000);
    QVERIFY(!QFile::exists(m_progDir + "restarted.txt"));
    QCOMPARE(m_root->readFile(m_progDir + "standin"), standIn("v1"));
    QCOMPARE(QDir(m_progDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), (QStringList{"keep.txt", "standin"}));

    oldProgram.kill();
    QVERIFY(oldProgram.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_progDir + "restarted.txt") && !QFile::exists(m_runPath + "update.sh"),
                             30000);
}

void TestSelfUpdate::updatesProgramEndToEnd()
{
    // The package: a new stand-in and a data file, gzip-compressed tar.
    const QString stage = m_root->path("stage/");
    QVERIFY(QFileInfo(m_root->writeProgram(QStringLiteral("stage/standin"), standIn("v2"))).isExecutable());
    QVERIFY(QFile::exists(m_root->writeFile(QStringLiteral("stage/data/new.txt"), "from the package")));
    const QString zip = QStringLiteral("standin 2.0.tar.gz "); // trailing blank is part of the name
    const QString packageFile = m_root->path("package.tgz");
    QCOMPARE(run("tar", {"-czf", packageFile, "-C", stage, "standin", "data"}), QByteArray());
    m_server->setRoute("/soft/standin/lastupdate", zip.toUtf8() + "\r\n");
    serveSigned(zip, m_root->readFile(packageFile));

    // The program that runs is version 1.0; the package carries 2.0.
    m_running = QVersionNumber(1, 0);
    QString zipFile;
    UpdateChecker checker(m_settings, paths(), trust());
    QCOMPARE(checker.check(zipFile).outcome, UpdateCheck::Outcome::Ready);
    QCOMPARE(zipFile, zip);
    QCOMPARE(m_root->readFile(m_runPath + zip), m_root->readFile(packageFile));
    m_root->writeFile(QStringLiteral("work/standin/readme.txt"), "what is new");
    QCOMPARE(m_root->readFile(m_runPath + "readme.txt"), QByteArray("what is new"));

    runScriptFor(zip);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(m_root->readFile(m_progDir + "restarted.txt"), QByteArray("v2\n")); // the unpacked program ran, once
    QCOMPARE(m_root->readFile(m_progDir + "data/new.txt"), QByteArray("from the package"));
    QCOMPARE(m_root->readFile(m_progDir + "keep.txt"), QByteArray("untouched"));
    QVERIFY(!QFile::exists(m_runPath + zip));
    QVERIFY(!QFile::exists(m_runPath + "readme.txt"));
    QCOMPARE(m_root->readFile(m_runPath + "shown-readme.txt"), QByteArray("what is new"));
    QVERIFY(!QFile::exists(m_runPath + zip + ".sig"));
    QCOMPARE(m_root->readFile(m_runPath + "lastupdate"), zip.toUtf8() + "\r\n"); // kept for the next check

    // The restarted program is version 2.0: its first check finds the
    // replacement done and stores the package as installed.
    UpdateChecker restarted(m_settings, paths(), UpdateTrust{testKey().publicKey, QVersionNumber(2, 0)});
    QCOMPARE(restarted.check(zipFile).outcome, UpdateCheck::Outcome::NothingNew);
    QCOMPARE(m_settings.values.value("lastupdate"), zip);
    QVERIFY(!QFile::exists(m_runPath + PendingUpdate::pendingName()));

    // The same name is not offered again.
    QVERIFY(!restarted.check(zipFile).newerRelease());
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
    QVERIFY(!SelfUpdater::install(paths(), QStringLiteral("x'; touch pwned; '"), 1));
    QVERIFY(!SelfUpdater::install(paths(), QString(), 1));
    QCOMPARE(m_settings.writes, 0);
    QVERIFY(QDir(m_runPath).isEmpty());
}

void TestSelfUpdate::failedReplacementOfferedAgain()
{
    // A signed package that tar cannot unpack: the script restarts the old
    // program, which must not count the release as installed.
    const QString zip = QStringLiteral("standin-2.0.tar");
    m_server->setRoute("/soft/standin/lastupdate", zip.toUtf8() + "\n");
    serveSigned(zip, QByteArray(2048, 'x'));
    m_running = QVersionNumber(1, 0);
    QString zipFile;
    UpdateChecker checker(m_settings, paths(), trust());
    QCOMPARE(checker.check(zipFile).outcome, UpdateCheck::Outcome::Ready);

    runScriptFor(zip);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(m_root->readFile(m_progDir + "restarted.txt"), QByteArray("v1\n")); // the old program, unchanged
    QCOMPARE(m_root->readFile(m_progDir + "standin"), standIn("v1"));
    QVERIFY(m_root->readFile(m_runPath + PendingUpdate::logName()).contains("tar"));

    // Its next start: still version 1.0.  The release is offered again,
    // fetched again (the script removed it), and the user is told why the
    // last attempt failed.
    const UpdateCheck again = checker.check(zipFile);
    QCOMPARE(m_settings.values.value("lastupdate"), QString());
    QCOMPARE(m_settings.writes, 0);
    QCOMPARE(again.outcome, UpdateCheck::Outcome::Ready);
    QCOMPARE(m_server->requestCount(serverPath(zip)), 2);
    QVERIFY2(again.lastFailure.contains(QStringLiteral("1.0")) && again.lastFailure.contains(QStringLiteral("tar")),
             qPrintable(again.lastFailure));
    const UpdateNotice notice = startupNotice(again);
    QCOMPARE(notice.kind, UpdateNotice::Kind::Info);
    QVERIFY2(notice.text.startsWith(QStringLiteral("前回のアップデート（standin-2.0.tar）は失敗しました"))
                 && notice.text.endsWith(QStringLiteral("製品版の最新バージョンが利用可能です")),
             qPrintable(notice.text));
    QVERIFY(commandNotice(again).text.endsWith(QStringLiteral("よろしいですか？")));
}

QTEST_MAIN(TestSelfUpdate)
#include "tst_selfupdate.moc"
