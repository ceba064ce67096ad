// Text of the update scripts: the exact update.bat and the quoting of
// update.sh (which tst_selfupdate runs for real).
#include "update/UpdateScript.h"

#include <QDir>
#include <QProcess>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using UpdateScript::Names;

class TestUpdateScript : public QObject
{
    Q_OBJECT
private slots:
    void batExactText();
    void batBytesInAnsiCodePage();
    void batEscapesFolders_data();
    void batEscapesFolders();
    void batRejectsUnencodableNames();
    void shellQuoteRoundTrip_data();
    void shellQuoteRoundTrip();
    void shScriptParsesWithHostileFolder_data();
    void shScriptParsesWithHostileFolder();

private:
    static Names sample() { return {"Sheafline-1.21.cab", "C:\\Program Files\\Sheafline\\", "Sheafline.exe"}; }
};

static const char16_t kExpectedBat[] =
    u":------------------------------\r\n"
    u":セルフ・アップデート・バッチ\r\n"
    u":------------------------------\r\n"
    u"@echo off\r\n"
    u"cls\r\n"
    u"\r\n"
    u":INITIALIZE\r\n"
    u"cd \"%~dp0\"\r\n"
    u"for /l %%i in (1,1,60) do (tasklist /nh /fi \"PID eq %2\" 2>nul | find \" %2 \" >nul"
    u" || goto ZIPFILECHECK & timeout /t 1 /nobreak >nul)\r\n"
    u":ZIPFILECHECK\r\n"
    u"if exist \"Sheafline-1.21.cab\" goto UNZIP\r\n"
    u"goto EXIT\r\n"
    u"\r\n"
    u":UNZIP\r\n"
    u"EXPAND -r -F:* \"Sheafline-1.21.cab\" \"C:\\Program Files\\Sheafline\\\\\"\r\n"
    u"timeout /t 1\r\n"
    u"\r\n"
    u":DIRECTORY CHECK\r\n"
    u"\r\n"
    u":EXIT\r\n"
    u"if exist \"Sheafline-1.21.cab\" del \"Sheafline-1.21.cab\"\r\n"
    u"timeout /t 1\r\n"
    u"\r\n"
    u"if exist readme.txt goto README\r\n"
    u"goto FINALY\r\n"
    u"\r\n"
    u":README\r\n"
    u"notepad.exe readme.txt\r\n"
    u"del readme.txt\r\n"
    u"\r\n"
    u":FINALY\r\n"
    u"call \"C:\\Program Files\\Sheafline\\Sheafline.exe\"\r\n"
    u"del \"%~f0\"\r\n";

void TestUpdateScript::batExactText()
{
    const QStringList lines = UpdateScript::batLines(sample());
    QCOMPARE(lines.size(), 33);
    const QString text = lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    const QString expected = QString::fromUtf16(kExpectedBat);
    // Line by line first, so a failure names the line.
    const QStringList expectedLines = expected.chopped(2).split(QStringLiteral("\r\n"));
    QCOMPARE(expectedLines.size(), 33);
    for (int i = 0; i < 33; ++i)
        QCOMPARE(lines.at(i), expectedLines.at(i));
    QCOMPARE(text, expected);
}

void TestUpdateScript::batBytesInAnsiCodePage()
{
    // Japanese Windows: code page 932 keeps the heading.
    QStringEncoder sjis("Shift_JIS");
    if (!sjis.isValid())
        QSKIP("no Shift_JIS converter in this Qt build");
    const std::optional<QByteArray> bytes = UpdateScript::batBytes(sample(), sjis);
    QVERIFY(bytes);
    QVERIFY(bytes->endsWith("del \"%~f0\"\r\n"));
    QVERIFY(!bytes->startsWith("\xEF\xBB\xBF")); // no byte-order mark
    QCOMPARE(bytes->count("\r\n"), 33);
    QCOMPARE(bytes->count('\n'), 33); // no bare LF anywhere
    QCOMPARE(bytes->split('\n').at(1),
             QByteArray::fromHex("3a835a838b837481458341836283768366815b83678145836f836283600d"));
    QStringDecoder back("Shift_JIS");
    QCOMPARE(QString(back.decode(*bytes)), QString::fromUtf16(kExpectedBat));

    // A Western code page cannot hold the heading's letters; the script is
    // still written, with the names intact.
    QStringEncoder latin("windows-1252");
    QVERIFY(latin.isValid());
    const std::optional<QByteArray> western = UpdateScript::batBytes(sample(), latin);
    QVERIFY(western);
    QCOMPARE(western->count("\r\n"), 33);
    QVERIFY(western->contains("\r\nEXPAND -r -F:* \"Sheafline-1.21.cab\" \"C:\\Program Files\\Sheafline\\\\\"\r\n"));
    QVERIFY(western->contains("\r\ncall \"C:\\Program Files\\Sheafline\\Sheafline.exe\"\r\n"));
}

void TestUpdateScript::batEscapesFolders_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expandLine");
    QTest::addColumn<QString>("callLine");

    QTest::newRow("drive root") << "D:\\" << "EXPAND -r -F:* \"p.cab\" \"D:\\\\\"" << "call \"D:\\S.exe\"";
    QTest::newRow("percent doubled") << "C:\\100%\\" << "EXPAND -r -F:* \"p.cab\" \"C:\\100%%\\\\\""
                                     << "call \"C:\\100%%\\S.exe\"";
    QTest::newRow("ampersand inside quotes") << "C:\\A&B\\" << "EXPAND -r -F:* \"p.cab\" \"C:\\A&B\\\\\""
                                             << "call \"C:\\A&B\\S.exe\"";
}

void TestUpdateScript::batEscapesFolders()
{
    QFETCH(QString, folder);
    QFETCH(QString, expandLine);
    QFETCH(QString, callLine);
    const QStringList lines = UpdateScript::batLines({"p.cab", folder, "S.exe"});
    QCOMPARE(lines.at(14), expandLine);
    QCOMPARE(lines.at(31), callLine);
}

void TestUpdateScript::batRejectsUnencodableNames()
{
    QStringEncoder latin("windows-1252");
    Names names = sample();
    names.folderName = QString::fromUtf8("C:\\Users\\\xe5\xb1\xb1\xe7\x94\xb0\\");
    QVERIFY(!UpdateScript::batBytes(names, latin));

    QStringEncoder sjis("Shift_JIS");
    if (sjis.isValid())
        QVERIFY(UpdateScript::batBytes(names, sjis)); // 山田 is in code page 932
}

void TestUpdateScript::shellQuoteRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << "/opt/Sheafline/";
    QTest::newRow("blanks") << "/home/a b/  c  /";
    QTest::newRow("single quotes") << "/it's/'q'/";
    QTest::newRow("shell syntax") << "/$(touch x)/`id`/${HOME}/;&|<>*?[]!#~/";
    QTest::newRow("backslashes and double quotes") << "/a\\\"b\\/";
    QTest::newRow("newline") << "/a\nb/";
    QTest::newRow("non-ASCII") << QString::fromUtf8("/\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88/");
    QTest::newRow("empty") << "";
}

void TestUpdateScript::shellQuoteRoundTrip()
{
    QFETCH(QString, text);
    QTemporaryDir dir;
    QProcess sh;
    sh.setWorkingDirectory(dir.path());
    sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("printf %s ") + UpdateScript::shellQuote(text)});
    QVERIFY(sh.waitForFinished(10000));
    QCOMPARE(sh.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(sh.readAllStandardOutput()), text);
    QVERIFY(QDir(dir.path()).isEmpty()); // nothing ran
}

void TestUpdateScript::shScriptParsesWithHostileFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain") << "/opt/Sheafline/";
    QTest::newRow("quotes and substitutions") << "/x/it's \"$(reboot)\" `id`;|&/";
    QTest::newRow("newline") << "/x/a\nb/";
}

void TestUpdateScript::shScriptParsesWithHostileFolder()
{
    QFETCH(QString, folder);
    const QString text = UpdateScript::shText({"pkg 2.0.tar  ", folder, "sheafline"});
    QVERIFY(text.contains(QStringLiteral("if [ -f 'pkg 2.0.tar  ' ]; then\n")));
    QVERIFY(text.contains(QStringLiteral("tar -xf 'pkg 2.0.tar  ' -C ") + UpdateScript::shellQuote(folder)
                          + QStringLiteral(" 2>'update.log'\n")));
    QVERIFY(text.contains(QStringLiteral("\nrm -f -- 'pkg 2.0.tar  .sig'\n")));
    QVERIFY(text.contains(u'\n' + UpdateScript::shellQuote(folder + QStringLiteral("sheafline")) + QStringLiteral(" </dev/null\n")));
    QVERIFY(text.endsWith(QStringLiteral("rm -f -- \"$0\"\n")));
    QProcess sh;
    sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-n")});
    QVERIFY(sh.waitForStarted());
    sh.write(text.toUtf8());
    sh.closeWriteChannel();
    QVERIFY(sh.waitForFinished(10000));
    QCOMPARE(sh.readAllStandardError(), QByteArray());
    QCOMPARE(sh.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestUpdateScript)
#include "tst_updatescript.moc"
