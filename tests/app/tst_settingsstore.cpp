// The settings store against a real per-user QSettings file in a temporary
// XDG config folder, and the program paths it works out.
#include "base/Errors.h"
#include "base/ProgramPaths.h"
#include "app/SysUpdate.h"
#include "support/SettingsSandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <csignal>
#include <sys/resource.h>

class tst_SettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void readStoresDefaultOnce();
    void emptyStringStaysEmpty();
    void writeThenRead();
    void unchangedValueLeavesFileAlone();
    void readErrors_data();
    void readErrors();
    void unwritableFolderNamesValue();
    void failedWriteKeepsOtherValues();
    void corruptFileKeepsItsValues();

    void constructionPaths();
    void emptyUpdatePathLeavesExeFile();
    void computePaths_data();
    void computePaths();
    void workFolderPrivateAndKept();

private:
    QString confPath() const { return m_settings.confPath(); }
    QByteArray readConf() const { return m_settings.readConf(); }
    // Expects `f` to throw AppError with exactly `message`.
    template <typename F> void expectError(F &&f, const QString &message)
    {
        try {
            f();
        } catch (const AppError &e) {
            QCOMPARE(e.message(), message);
            return;
        }
        QFAIL(qPrintable("no error, expected: " + message));
    }

    SettingsSandbox m_settings;
};

void tst_SettingsStore::initTestCase()
{
    // The sandbox, a member, is set up before the first QSettings.
    QVERIFY(m_settings.isValid());
}

void tst_SettingsStore::init()
{
    m_settings.clear();
}

void tst_SettingsStore::readStoresDefaultOnce()
{
    TSysUpdateModule store;
    QCOMPARE(store.RegistryReadInteger("WinHeight", 620), 620);
    QVERIFY(readConf().contains("WinHeight=620"));
    // The stored value wins over a new default.
    QCOMPARE(store.RegistryReadInteger("WinHeight", 10), 620);
    QCOMPARE(store.RegistryReadString("Folder", "/home/u/Documents"), QString("/home/u/Documents"));
    QCOMPARE(store.RegistryReadString("Folder", "/elsewhere"), QString("/home/u/Documents"));
    QCOMPARE(store.RegistryReadBoolean("Flag", true), true);
    QCOMPARE(store.RegistryReadBoolean("Flag", false), true);
    // A second store (a later run) sees the same values.
    TSysUpdateModule later;
    QCOMPARE(later.RegistryReadInteger("WinHeight", 1), 620);
}

void tst_SettingsStore::emptyStringStaysEmpty()
{
    TSysUpdateModule store;
    store.RegistryWriteString("lastupdate", QString());
    QCOMPARE(store.RegistryReadString("lastupdate", "default.zip"), QString());
    QCOMPARE(store.RegistryReadString("Fresh", QString()), QString());
    QCOMPARE(store.RegistryReadString("Fresh", "not taken"), QString());
}

void tst_SettingsStore::writeThenRead()
{
    TSysUpdateModule store;
    QVERIFY(store.RegistryWriteInteger("TreeWidth", -7));
    QVERIFY(store.RegistryWriteInteger("Max", 2147483647));
    QVERIFY(store.RegistryWriteBoolean("On", false));
    QVERIFY(store.RegistryWriteString("Folder", "/a, b;c=d/日本語/"));
    QCOMPARE(store.RegistryReadInteger("TreeWidth", 0), -7);
    QCOMPARE(store.RegistryReadInteger("Max", 0), 2147483647);
    QCOMPARE(store.RegistryReadBoolean("On", true), false);
    QCOMPARE(store.RegistryReadString("Folder", ""), QString("/a, b;c=d/日本語/"));
}

// A value stored already is not written again: the file stays the same file
// (a write replaces it with a new one), and a changed value still goes in.
void tst_SettingsStore::unchangedValueLeavesFileAlone()
{
    TSysUpdateModule store;
    QVERIFY(store.RegistryWriteInteger("TreeWidth", 273));
    QVERIFY(store.RegistryWriteString("Folder", "/a/"));
    const auto inode = [this] {
        struct stat st = {};
        return ::stat(QFile::encodeName(confPath()).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    const ino_t written = inode();
    QVERIFY(written != 0);
    QVERIFY(store.RegistryWriteInteger("TreeWidth", 273));
    QVERIFY(store.RegistryWriteString("Folder", "/a/"));
    QCOMPARE(inode(), written);
    QVERIFY(store.RegistryWriteString("Folder", "/a"));
    QVERIFY(inode() != written);
    QCOMPARE(store.RegistryReadString("Folder", ""), QString("/a"));
    // The same digits with a sign or a zero in front are another text.
    QVERIFY(m_settings.writeConf("[General]\nTreeWidth=0273\n"));
    const ino_t handWritten = inode();
    QVERIFY(store.RegistryWriteInteger("TreeWidth", 273));
    QVERIFY(inode() != handWritten);
    QVERIFY(readConf().contains("TreeWidth=273"));
}

void tst_SettingsStore::readErrors_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");

    QTest::newRow("integer read of a text") << QByteArray("abc") << "int"
                                           << "'Value' のデータ型が不正です";
    QTest::newRow("integer read of a number with text") << QByteArray("12px") << "int"
                                                       << "'Value' のデータ型が不正です";
    QTest::newRow("integer above 32 bits") << QByteArray("2147483648") << "int"
                                          << "'Value' の取得に失敗しました";
    QTest::newRow("integer below 32 bits") << QByteArray("-2147483649") << "int"
                                          << "'Value' の取得に失敗しました";
    QTest::newRow("integer beyond 64 bits") << QByteArray("123456789012345678901234") << "int"
                                           << "'Value' の取得に失敗しました";
    QTest::newRow("boolean read of a text") << QByteArray("true") << "bool"
                                           << "'Value' のデータ型が不正です";
    QTest::newRow("string read of a list") << QByteArray("a, b") << "string"
                                          << "'Value' のデータ型が不正です";
}

void tst_SettingsStore::readErrors()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QVERIFY(m_settings.writeConf("[General]\nKeep=5\nValue=" + stored + "\n"));
    TSysUpdateModule store;
    expectError([&] {
        if (kind == "int")
            store.RegistryReadInteger("Value", 1);
        else if (kind == "bool")
            store.RegistryReadBoolean("Value", false);
        else
            store.RegistryReadString("Value", "x");
    }, message);
    // Nothing repairs the value, nothing else is lost.
    const QByteArray after = readConf();
    QVERIFY(after.contains("Value=" + stored));
    QVERIFY(after.contains("Keep=5"));
    QCOMPARE(store.RegistryReadInteger("Keep", 0), 5);
}

void tst_SettingsStore::unwritableFolderNamesValue()
{
    // A file where the store's folder should be: nothing can be written there,
    // whoever runs the test.
    QFile blocker(QFileInfo(confPath()).path());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    expectError([] { TSysUpdateModule store; }, "'updatepath' の設定に失敗しました");
    QFile::remove(QFileInfo(confPath()).path());
    // A store that worked at start and lost its folder later.
    TSysUpdateModule store;
    QVERIFY(QDir(QFileInfo(confPath()).path()).removeRecursively());
    QVERIFY(QFile(QFileInfo(confPath()).path()).open(QIODevice::WriteOnly));
    expectError([&] { store.RegistryWriteInteger("WinWidth", 800); }, "'WinWidth' の設定に失敗しました");
    expectError([&] { store.RegistryReadInteger("TreeHeight", 240); }, "'TreeHeight' の設定に失敗しました");
    expectError([&] { store.RegistryWriteString("Folder", "/x/"); }, "'Folder' の設定に失敗しました");
}

void tst_SettingsStore::failedWriteKeepsOtherValues()
{
    QVERIFY(m_settings.writeConf("[General]\nFolder=/data/pdf/\nTreeHeight=300\nWinWidth=900\n"
                                 "updatepath=http://127.0.0.1:1/soft/\nlastupdate=pkg-1.zip\n"));
    TSysUpdateModule store;
    const QByteArray before = readConf();
    // No file may grow beyond a few bytes now: the rewrite of the store fails
    // half-way, as on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit tiny = old;
    tiny.rlim_cur = 16;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    bool threw = false;
    QString message;
    try {
        store.RegistryWriteInteger("WinHeight", 700);
    } catch (const AppError &e) {
        threw = true;
        message = e.message();
    }
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &old), 0);
    QVERIFY(threw);
    QCOMPARE(message, QString("'WinHeight' の設定に失敗しました"));
    QCOMPARE(readConf(), before);
    QCOMPARE(store.RegistryReadString("Folder", ""), QString("/data/pdf/"));
    QCOMPARE(store.RegistryReadInteger("TreeHeight", 0), 300);
    QCOMPARE(store.RegistryReadString("lastupdate", ""), QString("pkg-1.zip"));
}

void tst_SettingsStore::corruptFileKeepsItsValues()
{
    // Bytes that are no settings file at all: the store must not write over
    // them.  A section header that never closes makes QSettings report a
    // format error whatever follows.
    QByteArray garbage("[General\n\x01\x02\xff\xfe=\n[\n");
    garbage.append(QByteArray(200, '\0'));
    garbage.append("\nFolder=/kept/\n");
    QVERIFY(m_settings.writeConf(garbage));
    const QByteArray before = readConf();
    bool threw = false;
    try {
        TSysUpdateModule store;
        store.RegistryWriteInteger("WinHeight", 700);
    } catch (const AppError &e) {
        threw = true;
        QVERIFY2(e.message().startsWith("'updatepath'") || e.message().startsWith("'WinHeight'"),
                 qPrintable(e.message()));
    }
    QVERIFY(threw);
    QCOMPARE(readConf(), before);
}

void tst_SettingsStore::constructionPaths()
{
    TSysUpdateModule store;
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    QCOMPARE(store.FolderName, exe.path() + "/");
    QCOMPARE(store.ExeFile, exe.fileName());
    QCOMPARE(store.webPath, "http://sheafline.example/soft/" + exe.fileName());
    QVERIFY(readConf().contains("updatepath=http://sheafline.example/soft/"));
    QCOMPARE(store.RunPath, m_settings.cacheHome() + "/" + exe.fileName() + "/");
    QVERIFY(QFileInfo(store.RunPath).isDir());
    QVERIFY(store.ZipFile.isEmpty());
}

void tst_SettingsStore::emptyUpdatePathLeavesExeFile()
{
    QVERIFY(m_settings.writeConf("[General]\nupdatepath=\n"));
    TSysUpdateModule store;
    QCOMPARE(store.webPath, store.ExeFile);
}

void tst_SettingsStore::computePaths_data()
{
    QTest::addColumn<QString>("exe");
    QTest::addColumn<QString>("temp");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("run");

    QTest::newRow("other name") << "/opt/tools/Other.exe" << "/run/user/1000/"
                                << "/opt/tools/" << "Other.exe" << "/run/user/1000/Other.exe/";
    QTest::newRow("folder name inside file name") << "/x/x/x" << "/t/" << "/x/x/" << "x" << "/t/x/";
    QTest::newRow("no temporary folder") << "/usr/bin/sheafline" << ""
                                         << "/usr/bin/" << "sheafline" << "sheafline/";
}

void tst_SettingsStore::computePaths()
{
    QFETCH(QString, exe);
    QFETCH(QString, temp);
    const sheafline::ProgramPaths p = sheafline::computeProgramPaths(exe, temp);
    QTEST(p.FolderName, "folder");
    QTEST(p.ExeFile, "file");
    QTEST(p.RunPath, "run");
}

void tst_SettingsStore::workFolderPrivateAndKept()
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QCOMPARE(sheafline::userTempFolder(), runtime.path() + "/");
    QString runPath;
    {
        TSysUpdateModule first;
        runPath = first.RunPath;
    }
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(runPath, runtime.path() + "/" + QFileInfo(QCoreApplication::applicationFilePath()).fileName() + "/");
    const QFileInfo info(runPath);
    QVERIFY(info.isDir());
    QCOMPARE(info.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                   | QFile::WriteOther | QFile::ExeOther),
             QFile::Permissions());
    // A second start keeps the one folder and what it holds.
    QFile keep(runPath + "update.bat");
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.write("kept");
    keep.close();
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    { TSysUpdateModule second; QCOMPARE(second.RunPath, runPath); }
    qunsetenv("XDG_RUNTIME_DIR");
    QFile again(runPath + "update.bat");
    QVERIFY(again.open(QIODevice::ReadOnly));
    QCOMPARE(again.readAll(), QByteArray("kept"));
    QCOMPARE(QDir(runtime.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
}

QTEST_GUILESS_MAIN(tst_SettingsStore)
#include "tst_settingsstore.moc"
