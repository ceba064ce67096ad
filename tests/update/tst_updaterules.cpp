// Package-name check, the version a name carries, release order and reading
// of the "lastupdate" file.
#include "update/LastUpdateFile.h"
#include "update/PackageName.h"
#include "update/ReleaseOrder.h"

#include <QTest>

class TestUpdateRules : public QObject
{
    Q_OBJECT
private slots:
    void packageName_data();
    void packageName();
    void packageVersion_data();
    void packageVersion();
    void releaseOrder_data();
    void releaseOrder();
    void firstLine_data();
    void firstLine();
};

void TestUpdateRules::packageName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("plain tarball") << "Sheafline-1.21.tar.gz" << true;
    QTest::newRow("all allowed marks") << "r100_a+b~c-d.e" << true;
    QTest::newRow("inner and trailing blanks") << "pkg 2.0.tar  " << true;
    QTest::newRow("single digit") << "7" << true;
    QTest::newRow("255 bytes") << QString(255, u'a') << true;

    QTest::newRow("empty") << "" << false;
    QTest::newRow("256 bytes") << QString(256, u'a') << false;
    QTest::newRow("300 chars") << QString(300, u'x') << false;
    QTest::newRow("parent folder") << "../evil" << false;
    QTest::newRow("double dot inside") << "a..b" << false;
    QTest::newRow("slash") << "a/b" << false;
    QTest::newRow("absolute") << "/etc/passwd" << false;
    QTest::newRow("backslash") << "a\\b" << false;
    QTest::newRow("drive colon") << "C:x" << false;
    QTest::newRow("colon") << "a:b" << false;
    QTest::newRow("NUL") << QString::fromUtf16(u"a\0b", 3) << false;
    QTest::newRow("control char") << "a\x01" "b" << false;
    QTest::newRow("tab") << "a\tb" << false;
    QTest::newRow("newline") << "a\nb" << false;
    QTest::newRow("carriage return") << "a\rb" << false;
    QTest::newRow("double quote") << "a\"b" << false;
    QTest::newRow("single quote") << "a'b" << false;
    QTest::newRow("dollar") << "a$b" << false;
    QTest::newRow("command substitution") << "a$(id)" << false;
    QTest::newRow("backtick") << "a`id`" << false;
    QTest::newRow("percent") << "a%PATH%" << false;
    QTest::newRow("caret") << "a^b" << false;
    QTest::newRow("ampersand") << "a&b" << false;
    QTest::newRow("pipe") << "a|b" << false;
    QTest::newRow("less than") << "a<b" << false;
    QTest::newRow("greater than") << "a>b" << false;
    QTest::newRow("semicolon") << "a;b" << false;
    QTest::newRow("parentheses") << "a(b)" << false;
    QTest::newRow("asterisk") << "a*" << false;
    QTest::newRow("question mark") << "a?" << false;
    QTest::newRow("exclamation") << "a!b" << false;
    QTest::newRow("hash") << "a#b" << false;
    QTest::newRow("equals") << "a=b" << false;
    QTest::newRow("comma") << "a,b" << false;
    QTest::newRow("brackets") << "a[b]" << false;
    QTest::newRow("braces") << "a{b}" << false;
    QTest::newRow("at") << "a@b" << false;
    QTest::newRow("leading dash") << "-rf" << false;
    QTest::newRow("leading blank") << " pkg" << false;
    QTest::newRow("leading dot") << ".pkg" << false;
    QTest::newRow("leading tilde") << "~pkg" << false;
    QTest::newRow("non-ASCII letter") << QString::fromUtf8("na\xc3\xafve") << false;
    QTest::newRow("fullwidth letter") << QString::fromUtf8("\xef\xbd\x90kg") << false;
    QTest::newRow("replacement char") << QString::fromUtf8("pkg\xef\xbf\xbd") << false;
}

void TestUpdateRules::packageName()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QCOMPARE(isPackageName(name), accepted);
}

void TestUpdateRules::packageVersion_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version"); // empty: none

    QTest::newRow("Debian-style name") << "sheafline_1.21.0_amd64.tar.gz" << "1.21.0";
    QTest::newRow("dash") << "Sheafline-1.21.tar.gz" << "1.21";
    QTest::newRow("four parts") << "sheafline-1.20.4.27.tar" << "1.20.4.27";
    QTest::newRow("single number") << "pkg-1.tar" << "1";
    QTest::newRow("blank before, trailing blanks") << "pkg 2.0.tar  " << "2.0";
    QTest::newRow("letter prefix") << "v2.tar" << "2";
    QTest::newRow("leading digits") << "2026.05.tar" << "2026.5";
    QTest::newRow("dot not followed by a digit ends it") << "r3..tar" << "3";
    QTest::newRow("only the first group") << "pkg-3-4.tar" << "3";
    QTest::newRow("no digit") << "pkg.tar" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("group too large") << "pkg-99999999999.tar" << "";
}

void TestUpdateRules::packageVersion()
{
    QFETCH(QString, name);
    QFETCH(QString, version);
    const QVersionNumber parsed = ::packageVersion(name);
    QCOMPARE(parsed.isNull(), version.isEmpty());
    if (!version.isEmpty())
        QCOMPARE(parsed, QVersionNumber::fromString(version));
}

void TestUpdateRules::releaseOrder_data()
{
    QTest::addColumn<QString>("offered");
    QTest::addColumn<QString>("installed");
    QTest::addColumn<bool>("newer");

    QTest::newRow("first run") << "r1" << "" << true;
    QTest::newRow("empty offered, first run") << "" << "" << false;
    QTest::newRow("empty offered") << "" << "r1" << false;
    QTest::newRow("equal") << "r99" << "r99" << false;
    QTest::newRow("r100 not newer than r99") << "r100" << "r99" << false;
    QTest::newRow("r99 newer than r100") << "r99" << "r100" << true;
    QTest::newRow("small a newer than capital B") << "a1" << "B1" << true;
    QTest::newRow("capital B older than small a") << "B1" << "a1" << false;
    QTest::newRow("longer with same start") << "pkg1" << "pkg" << true;
    QTest::newRow("proper prefix is smaller") << "pkg" << "pkg1" << false;
    QTest::newRow("trailing blank makes it longer") << "pkg " << "pkg" << true;
    QTest::newRow("first difference decides") << "b" << "azzzz" << true;
    // UTF-16 code units, not code points: U+FFFF is above a surrogate pair.
    QTest::newRow("code units not code points")
        << QString(QChar(0xFFFF)) << QString::fromUcs4(U"\U00010000") << true;
}

void TestUpdateRules::releaseOrder()
{
    QFETCH(QString, offered);
    QFETCH(QString, installed);
    QFETCH(bool, newer);
    QCOMPARE(isNewerRelease(offered, installed), newer);
}

void TestUpdateRules::firstLine_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");

    QTest::newRow("CR LF") << QByteArray("pkg-2.tar\r\nnotes\r\n") << "pkg-2.tar";
    QTest::newRow("LF") << QByteArray("pkg-2.tar\nnotes") << "pkg-2.tar";
    QTest::newRow("CR") << QByteArray("pkg-2.tar\rnotes") << "pkg-2.tar";
    QTest::newRow("no line end") << QByteArray("pkg-2.tar") << "pkg-2.tar";
    QTest::newRow("empty file") << QByteArray() << "";
    QTest::newRow("empty first line") << QByteArray("\r\npkg") << "";
    QTest::newRow("blanks kept") << QByteArray("  pkg-2.tar  \r\n") << "  pkg-2.tar  ";
    QTest::newRow("UTF-8 BOM") << QByteArray("\xEF\xBB\xBFpkg-2.tar\r\n") << "pkg-2.tar";
    QTest::newRow("UTF-8 text") << QByteArray("pkg-\xc3\xa9\n") << QString::fromUtf8("pkg-\xc3\xa9");
    QTest::newRow("UTF-16 LE BOM")
        << QByteArray("\xFF\xFEp\0k\0g\0 \0\r\0\n\0x\0", 18) << "pkg ";
    QTest::newRow("UTF-16 BE BOM")
        << QByteArray("\xFE\xFF\0p\0k\0g\0\n\0x", 14) << "pkg";
    QTest::newRow("only BOM") << QByteArray("\xEF\xBB\xBF") << "";
}

void TestUpdateRules::firstLine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    QCOMPARE(LastUpdateFile::firstLine(bytes), line);
}

QTEST_GUILESS_MAIN(TestUpdateRules)
#include "tst_updaterules.moc"
