// The update in the main window: start-up step 20 and "ヘルプ" > "アップデート"
// (N19Click), with the real settings store, the program's updater trusting a
// key made for this run, and a server on 127.0.0.1.
#include "TestHttpServer.h"

#include "support/ModalHelper.h"
#include "support/MainWindowFixture.h"
#include "support/TestDir.h"

#include "app/SysUpdate.h"
#include "app/Unit1.h"
#include "update/InstallPlace.h"
#include "update/PackageSignature.h"
#include "update/PendingUpdate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QScopeGuard>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

namespace {

// Answers the program's message boxes by button text, in order, and notes
// whether the download progress dialog was shown (left open to run).
class BoxAnswerer
{
public:
    explicit BoxAnswerer(QStringList answers) : modal(ModalAnswerer::clickInOrder(std::move(answers)))
    {
        modal.setPassThrough([this](QWidget *w) {
            auto *progress = qobject_cast<QProgressDialog *>(w);
            if (!progress)
                return false;
            sawProgress = true;
            if (auto *b = progress->findChild<QAbstractButton *>())
                progressCancelText = b->text();
            return true;
        });
    }
    ModalAnswerer modal;
    const QList<ModalAnswerer::Seen> &seen = modal.seen;
    bool sawProgress = false;
    QString progressCancelText;
};

} // namespace

class TestUpdateCommand : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startupOffersNewerRelease();
    void startupQuietWhenNothingNewer();
    void startupWithDefaultSettingsDoesNotWait();
    void commandDoesNothingWhenNothingNewer();
    void commandCancelChangesNothing();
    void startupWarnsOfWrongSignature();
    void commandLeavesOtherInstallsAlone_data();
    void commandLeavesOtherInstallsAlone();
    void buildWithoutKeyOnlyAnnounces();
    void packageChangedAfterCheckIsNotRun();
    void startupSaysWhyLastUpdateFailed();
    // Last: the quit request it provokes leaves every later event loop
    // ending at once (as after the program's own).
    void commandOkRunsUpdateAndQuits();

private:
    // Serves "lastupdate" naming `name` and the package, slowly enough that
    // its progress dialog is seen.
    void serveRelease(const QString &name, const QByteArray &signature = {})
    {
        m_server->setRoute("/soft/" + exeFile().toUtf8() + "/lastupdate", name.toUtf8() + "\r\n");
        m_server->setRoute(packagePath(name),
                           TestHttpServer::Route{packageBytes(), 200, TestHttpServer::Mode::Trickle, 15});
        m_server->setRoute(packagePath(name) + ".sig",
                           signature.isNull() ? signatureOf(name, packageBytes()) : signature);
    }
    static QByteArray packageBytes() { return QByteArray(40, 'p'); }
    QByteArray packagePath(const QString &name) const { return "/soft/" + exeFile().toUtf8() + "/" + name.toUtf8(); }
    // The signature of `bytes` as `name` with this run's key.
    static QByteArray signatureOf(const QString &name, const QByteArray &bytes)
    {
        QTemporaryFile file;
        if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
            return QByteArray();
        return PackageSignature::sign(file.fileName(), name, key().secretKey).value_or(QByteArray());
    }
    static const PackageSignature::KeyPair &key()
    {
        static const PackageSignature::KeyPair pair = PackageSignature::makeKeyPair();
        return pair;
    }
    // The work folder the program uses here.
    static QString runPath()
    {
        TSysUpdateModule probe;
        return probe.RunPath;
    }
    // Serves `name` as above and stores it as the installed release.
    void serveInstalledRelease(const QString &name)
    {
        serveRelease(name);
        QSettings s = settings();
        s.setValue("lastupdate", name);
        s.sync();
    }
    // The settings file the window's store keeps its values in.
    QSettings settings() { return QSettings(m_main.settings().confPath(), QSettings::IniFormat); }
    static QString exeFile() { return QFileInfo(QCoreApplication::applicationFilePath()).fileName(); }
    // A window with the program's updater, over the network to the server
    // below, trusting `trust` (this run's key, running as version 0.9,
    // unless given).
    std::unique_ptr<TForm1> createForm(std::optional<UpdateTrust> trust = std::nullopt)
    {
        m_updater = std::make_unique<NetworkUpdater>(
            m_updateSettings, trust.value_or(UpdateTrust{key().publicKey, QVersionNumber(0, 9)}));
        m_main.setUpdater(m_updater.get());
        return std::make_unique<TForm1>(QStringList{m_docs.path()}, m_main.services());
    }

    // Set up before the first QSettings, so the store below is the sandbox's.
    MainWindowFixture m_main;
    std::unique_ptr<TestHttpServer> m_server;
    TestDir m_docs;
    StoreUpdateSettings m_updateSettings{m_main.store()};
    std::unique_ptr<NetworkUpdater> m_updater;
};

void TestUpdateCommand::initTestCase()
{
    QVERIFY(m_main.isValid());
}

void TestUpdateCommand::init()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    QSettings s = settings();
    s.clear();
    s.setValue("updatepath", m_server->baseUrl() + "/soft/");
    s.sync();
    QApplication::setApplicationDisplayName(QStringLiteral("Sheafline"));
}

void TestUpdateCommand::cleanup()
{
    // Leave no work folder behind for the next case.
    TSysUpdateModule probe;
    QDir(probe.RunPath).removeRecursively();
}

void TestUpdateCommand::startupOffersNewerRelease()
{
    serveRelease("pkg-1.tar");
    BoxAnswerer answerer({"はい(&Y)"});
    auto form = createForm();
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].title, QStringLiteral("情報"));
    QCOMPARE(answerer.seen[0].text, QStringLiteral("製品版の最新バージョンが利用可能です"));
    QVERIFY(answerer.sawProgress);
    QCOMPARE(answerer.progressCancelText, QStringLiteral("キャンセル"));
    QCOMPARE(form->SysUpdateModule->ZipFile, QStringLiteral("pkg-1.tar"));
    QCOMPARE(form->SysUpdateModule->LastCheck.outcome, UpdateCheck::Outcome::Ready);
    QCOMPARE(QFileInfo(form->SysUpdateModule->RunPath + "pkg-1.tar").size(), 40);
    QCOMPARE(settings().value("lastupdate").toString(), QString()); // only the update stores it
}

void TestUpdateCommand::startupQuietWhenNothingNewer()
{
    serveInstalledRelease("pkg-1.tar");
    BoxAnswerer answerer({});
    auto form = createForm();
    QCOMPARE(answerer.seen.size(), 0);
    QCOMPARE(m_server->requests().size(), 1); // "lastupdate" only
}

void TestUpdateCommand::startupWithDefaultSettingsDoesNotWait()
{
    QSettings s = settings();
    s.clear();
    s.sync();
    BoxAnswerer answerer({});
    QElapsedTimer clock;
    clock.start();
    auto form = createForm();
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(answerer.seen.size(), 0);
    QCOMPARE(settings().value("updatepath").toString(), QStringLiteral("http://sheafline.example/soft/"));
    // No network here: the default server must fail at once, not after the limits.
    QVERIFY2(elapsed < 3000, QByteArray::number(elapsed));
}

void TestUpdateCommand::commandDoesNothingWhenNothingNewer()
{
    serveInstalledRelease("pkg-1.tar");
    BoxAnswerer answerer({});
    auto form = createForm();
    form->N19->trigger();
    QCOMPARE(answerer.seen.size(), 0);
    QVERIFY(!QFile::exists(form->SysUpdateModule->RunPath + "update.sh"));
}

void TestUpdateCommand::commandCancelChangesNothing()
{
    serveRelease("pkg-1.tar");
    BoxAnswerer answerer({"はい(&Y)", "キャンセル"});
    auto form = createForm();
    const int requestsAfterStartup = m_server->requests().size();
    form->N19->trigger();
    QCOMPARE(answerer.seen.size(), 2);
    const ModalAnswerer::Seen &confirm = answerer.seen[1];
    QCOMPARE(confirm.title, QStringLiteral("確認"));
    // The box shows the carriage return of the text as its line break.
    QCOMPARE(confirm.text, QStringLiteral("製品版最新バージョンへアップデートします\nよろしいですか？"));
    // The command checked again (the list and the signature) but found the
    // package in the work folder.
    QCOMPARE(m_server->requests().mid(requestsAfterStartup),
             (QList<QByteArray>{"/soft/" + exeFile().toUtf8() + "/lastupdate", packagePath("pkg-1.tar") + ".sig"}));
    QCOMPARE(m_server->requestCount(packagePath("pkg-1.tar")), 1);
    QVERIFY(QFile::exists(form->SysUpdateModule->RunPath + "pkg-1.tar"));
    QVERIFY(!QFile::exists(form->SysUpdateModule->RunPath + "update.sh"));
    QCOMPARE(settings().value("lastupdate").toString(), QString());
}

void TestUpdateCommand::commandOkRunsUpdateAndQuits()
{
    serveRelease("pkg-1.tar");
    BoxAnswerer answerer({"はい(&Y)", "OK", "OK"});
    auto form = createForm();
    // The script restarts FolderName + ExeFile once this process has ended:
    // point it at a harmless stand-in instead of this test (gone by then,
    // so nothing is started at all).
    QTemporaryDir prog;
    form->SysUpdateModule->FolderName = prog.path() + "/";
    QFile standIn(prog.path() + "/" + exeFile());
    QVERIFY(standIn.open(QIODevice::WriteOnly));
    standIn.write("#!/bin/sh\nexit 0\n");
    standIn.close();
    standIn.setPermissions(standIn.permissions() | QFile::ExeOwner);

    QEventLoop afterHandler;
    QTimer::singleShot(0, form.get(), [&] { form->N19->trigger(); });
    QTimer::singleShot(10000, &afterHandler, [&] { afterHandler.exit(42); });
    // The quit request ends this loop (exit code 0) once the handler is done.
    const int rc = afterHandler.exec();
    QCOMPARE(rc, 0);

    QCOMPARE(answerer.seen.size(), 3);
    const ModalAnswerer::Seen &notice = answerer.seen[2];
    QCOMPARE(notice.text, QStringLiteral("アップデート後システムを再起動します"));
    QCOMPARE(notice.title, QGuiApplication::applicationDisplayName());
    QCOMPARE(notice.icon, QMessageBox::NoIcon);
    QCOMPARE(notice.buttons, QStringList{"OK"});
    // Handed to the script, not yet installed: "lastupdate" waits for the
    // new version to start.
    QCOMPARE(settings().value("lastupdate").toString(), QString());
    const QString work = form->SysUpdateModule->RunPath;
    QCOMPARE(m_docs.readFile(work + PendingUpdate::pendingName()), QByteArray("pkg-1.tar\n"));
    const QByteArray text = m_docs.readFile(work + "update.sh");
    QVERIFY(text.contains("tar -xf 'pkg-1.tar' -C '" + QFile::encodeName(prog.path()) + "/'"));
    // The normal shutdown then runs when the window is destroyed.
    const QPointer<TSysUpdateModule> store = form->SysUpdateModule;
    form.reset();
    QVERIFY(!store);

    // The program the script starts is the package's version 1: its
    // start-up stores the release as installed.  (No box can show any more
    // in this process, see above; the stored value is what counts.)
    form = createForm(UpdateTrust{key().publicKey, QVersionNumber(1)});
    QCOMPARE(answerer.seen.size(), 3);
    QCOMPARE(settings().value("lastupdate").toString(), QStringLiteral("pkg-1.tar"));
    QVERIFY(!QFile::exists(work + PendingUpdate::pendingName()));
}

void TestUpdateCommand::startupWarnsOfWrongSignature()
{
    // Signed by someone else's key.
    serveRelease("pkg-1.tar", QByteArray(64, 's'));
    BoxAnswerer answerer({"はい(&Y)", "はい(&Y)"});
    auto form = createForm();
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].title, QStringLiteral("警告"));
    QCOMPARE(answerer.seen[0].icon, QMessageBox::Warning);
    QVERIFY2(answerer.seen[0].text.contains(QStringLiteral("pkg-1.tar"))
                 && answerer.seen[0].text.contains(QStringLiteral("署名が一致しません")),
             qPrintable(answerer.seen[0].text));
    QVERIFY(!QFile::exists(form->SysUpdateModule->RunPath + "pkg-1.tar"));
    QVERIFY(!QFile::exists(form->SysUpdateModule->RunPath + "pkg-1.tar.sig"));

    // The command says so too, and installs nothing.
    form->N19->trigger();
    QCOMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen[1].title, QStringLiteral("警告"));
    QCOMPARE(answerer.seen[1].text, answerer.seen[0].text);
    QVERIFY(!QFile::exists(form->SysUpdateModule->RunPath + "update.sh"));
    QCOMPARE(settings().value("lastupdate").toString(), QString());
}

void TestUpdateCommand::commandLeavesOtherInstallsAlone_data()
{
    QTest::addColumn<bool>("marker"); // else the folder is read-only
    QTest::newRow("read-only program folder") << false;
    QTest::newRow("installed by the package manager") << true;
}

void TestUpdateCommand::commandLeavesOtherInstallsAlone()
{
    QFETCH(bool, marker);
    serveRelease("pkg-1.tar");
    BoxAnswerer answerer({"はい(&Y)", "はい(&Y)"});
    auto form = createForm();
    QCOMPARE(answerer.seen.size(), 1); // the start-up's news, for the test's own folder

    // The program's folder becomes one the updater must not touch.
    QTemporaryDir prog;
    form->SysUpdateModule->FolderName = prog.path() + "/";
    QFile program(prog.path() + "/" + exeFile());
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.write("old program");
    program.close();
    if (marker) {
        QFile file(prog.path() + "/" + InstallPlace::systemPackageMarker());
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QStringList before = QDir(prog.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const auto writableAgain = qScopeGuard([&] {
        QFile::setPermissions(prog.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (!marker)
        QVERIFY(QFile::setPermissions(prog.path(), QFile::ReadOwner | QFile::ExeOwner));

    form->N19->trigger();
    QCOMPARE(answerer.seen.size(), 2);
    const ModalAnswerer::Seen &box = answerer.seen[1];
    QCOMPARE(box.title, QStringLiteral("情報"));
    QVERIFY2(box.text.startsWith(QStringLiteral("製品版の最新バージョンが利用可能です\n"))
                 && box.text.contains(QStringLiteral("システムのパッケージマネージャーでインストールしてください")),
             qPrintable(box.text));
    QCOMPARE(form->SysUpdateModule->LastCheck.outcome,
             marker ? UpdateCheck::Outcome::SystemPackage : UpdateCheck::Outcome::ReadOnlyFolder);
    // No confirmation, no script, nothing replaced, the program goes on.
    QVERIFY(!QFile::exists(form->SysUpdateModule->RunPath + "update.sh"));
    QVERIFY(!QFile::exists(form->SysUpdateModule->RunPath + PendingUpdate::pendingName()));
    QCOMPARE(QDir(prog.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    QCOMPARE(m_docs.readFile(prog.path() + "/" + exeFile()), QByteArray("old program"));
    QVERIFY(form->SysUpdateModule);
}

void TestUpdateCommand::buildWithoutKeyOnlyAnnounces()
{
    serveRelease("pkg-1.tar");
    BoxAnswerer answerer({"はい(&Y)", "はい(&Y)"});
    auto form = createForm(UpdateTrust{QByteArray(), QVersionNumber(0, 9)});
    form->N19->trigger();
    QCOMPARE(answerer.seen.size(), 2);
    for (const ModalAnswerer::Seen &box : answerer.seen) {
        QCOMPARE(box.title, QStringLiteral("情報"));
        QCOMPARE(box.text, QStringLiteral("製品版の最新バージョンが利用可能です"));
    }
    QVERIFY(!answerer.sawProgress);
    QCOMPARE(m_server->requestCount(packagePath("pkg-1.tar")), 0);
    QVERIFY(!QFile::exists(form->SysUpdateModule->RunPath + "update.sh"));
}

void TestUpdateCommand::packageChangedAfterCheckIsNotRun()
{
    serveRelease("pkg-1.tar");
    std::unique_ptr<TForm1> form;
    {
        BoxAnswerer startup({"はい(&Y)"});
        form = createForm();
        QCOMPARE(startup.seen.size(), 1);
    }
    const QString package = form->SysUpdateModule->RunPath + "pkg-1.tar";
    QVERIFY(QFile::exists(package));

    // While the confirmation is open, the package in the work folder changes.
    QList<ModalAnswerer::Seen> seen;
    ModalAnswerer answerer([&, answers = QStringList{"OK", "はい(&Y)"}](QWidget *modal) mutable {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return;
        seen.append({box->windowTitle(), box->text()});
        if (seen.size() == 1) {
            QFile file(package);
            if (file.open(QIODevice::Append))
                file.write("x");
        }
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        for (QAbstractButton *b : box->buttons()) {
            if (b->text() == answer)
                return b->click();
        }
        box->reject();
    });
    form->N19->trigger();
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].title, QStringLiteral("確認"));
    QCOMPARE(seen[1].title, QStringLiteral("警告"));
    QVERIFY2(seen[1].text.contains(QStringLiteral("署名が一致しません")), qPrintable(seen[1].text));
    // Not run, not kept, and the program goes on.
    QVERIFY(!QFile::exists(package));
    QVERIFY(!QFile::exists(form->SysUpdateModule->RunPath + "update.sh"));
    QVERIFY(!QFile::exists(form->SysUpdateModule->RunPath + PendingUpdate::pendingName()));
    QCOMPARE(settings().value("lastupdate").toString(), QString());
    QVERIFY(form->SysUpdateModule);
}

void TestUpdateCommand::startupSaysWhyLastUpdateFailed()
{
    // What a failed replacement leaves: the note of the package handed over
    // and what tar said.  The program that starts is still version 0.9.
    const QString work = runPath();
    QVERIFY(QDir(work).exists());
    for (const auto &[name, text] : {std::pair{PendingUpdate::pendingName(), QByteArray("pkg-1.tar\n")},
                                     std::pair{PendingUpdate::logName(),
                                               QByteArray("tar: sheafline: Cannot open: Permission denied\n")}}) {
        QFile file(work + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    serveRelease("pkg-1.tar");
    BoxAnswerer answerer({"はい(&Y)"});
    auto form = createForm();
    QCOMPARE(answerer.seen.size(), 1);
    const QString text = answerer.seen[0].text;
    QVERIFY2(text.startsWith(QStringLiteral("前回のアップデート（pkg-1.tar）は失敗しました"))
                 && text.contains(QStringLiteral("Cannot open: Permission denied"))
                 && text.endsWith(QStringLiteral("製品版の最新バージョンが利用可能です")),
             qPrintable(text));
    // Offered again: "lastupdate" was not stored.
    QCOMPARE(settings().value("lastupdate").toString(), QString());
    QCOMPARE(form->SysUpdateModule->LastCheck.outcome, UpdateCheck::Outcome::Ready);
}

QTEST_MAIN(TestUpdateCommand)
#include "tst_updatecommand.moc"
