// The update in the main window: start-up step 20 and "ヘルプ" > "アップデート"
// (N19Click), with the real settings store and a server on 127.0.0.1.
#include "TestHttpServer.h"

#include "support/ModalHelper.h"
#include "support/MainWindowFixture.h"
#include "support/TestDir.h"

#include "app/SysUpdate.h"
#include "app/Unit1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>
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
    void commandOkRunsUpdateAndQuits();

private:
    // Serves "lastupdate" naming `name` and the package, slowly enough that
    // its progress dialog is seen.
    void serveRelease(const QString &name)
    {
        m_server->setRoute("/soft/" + exeFile().toUtf8() + "/lastupdate", name.toUtf8() + "\r\n");
        m_server->setRoute("/soft/" + exeFile().toUtf8() + "/" + name.toUtf8(),
                           TestHttpServer::Route{QByteArray(40, 'p'), 200, TestHttpServer::Mode::Trickle, 15});
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
    std::unique_ptr<TForm1> createForm()
    {
        // The program's own updater, over the network to the server below.
        m_main.setUpdater(nullptr);
        return std::make_unique<TForm1>(QStringList{m_docs.path()}, m_main.services());
    }

    // Set up before the first QSettings, so the store below is the sandbox's.
    MainWindowFixture m_main;
    std::unique_ptr<TestHttpServer> m_server;
    TestDir m_docs;
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
    // The command checked again but found the package in the work folder.
    QCOMPARE(m_server->requests().size(), requestsAfterStartup + 1);
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
    QCOMPARE(settings().value("lastupdate").toString(), QStringLiteral("pkg-1.tar"));
    const QByteArray text = m_docs.readFile(form->SysUpdateModule->RunPath + "update.sh");
    QVERIFY(text.contains("tar -xf 'pkg-1.tar' -C '" + QFile::encodeName(prog.path()) + "/'"));
    // The normal shutdown then runs when the window is destroyed.
    const QPointer<TSysUpdateModule> store = form->SysUpdateModule;
    form.reset();
    QVERIFY(!store);
}

QTEST_MAIN(TestUpdateCommand)
#include "tst_updatecommand.moc"
