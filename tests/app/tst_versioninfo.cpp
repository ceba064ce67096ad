// The version block compiled into the program and the reader over any block.
#include "base/Errors.h"
#include "base/VersionInfo.h"

#include <QTest>

class tst_VersionInfo : public QObject
{
    Q_OBJECT
private slots:
    void programBlock_data();
    void programBlock();
    void aboutItemsPresent();
    void reader_data();
    void reader();
    void noTranslationFails();
};

void tst_VersionInfo::programBlock_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    QTest::newRow("3 FileVersion") << 3 << SHEAFLINE_EXPECTED_VERSION;
    QTest::newRow("4 InternalName") << 4 << "Sheafline";
    QTest::newRow("9 ProductName") << 9 << "Sheafline";
    QTest::newRow("10 ProductVersion") << 10 << SHEAFLINE_EXPECTED_VERSION;
    QTest::newRow("2 FileDescription, not carried") << 2 << "";
    QTest::newRow("6 LegalTrademarks, not carried") << 6 << "";
    QTest::newRow("11 SpecialBuild, not carried") << 11 << "";
    QTest::newRow("12 has no name") << 12 << "";
}

void tst_VersionInfo::programBlock()
{
    QFETCH(int, index);
    QFETCH(QString, expected);
    QCOMPARE(GetVersionInfoItem(index), expected);
}

void tst_VersionInfo::aboutItemsPresent()
{
    // The items the About box shows are present.
    QVERIFY(!GetVersionInfoItem(0).isEmpty());
    QVERIFY(!GetVersionInfoItem(5).isEmpty());
}

void tst_VersionInfo::reader_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("stored"); // FileVersion under 040904E4
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << true << "2.0.1.7" << 3 << "2.0.1.7";
    QTest::newRow("surrounding blanks") << true << "  2.0 \t" << 3 << "2.0";
    QTest::newRow("control characters trimmed") << true << QString("\x01\x1f" "2.0\r\n") << 3 << "2.0";
    QTest::newRow("inner nulls removed") << true << QString("2.0") + QChar(0) + QChar(0) + "b" << 3 << "2.0b";
    QTest::newRow("inner blanks kept") << true << "a  b" << 3 << "a  b";
    QTest::newRow("missing item") << true << "2.0" << 0 << "";
    QTest::newRow("no version information") << false << "2.0" << 3 << "";
}

void tst_VersionInfo::reader()
{
    QFETCH(bool, present);
    QFETCH(QString, stored);
    QFETCH(int, index);
    VersionBlock block;
    block.present = present;
    block.translations = {0x04E40409u};
    block.addString(0x04E40409u, "FileVersion", stored);
    // A second translation is never consulted.
    block.translations.append(0x04B00411u);
    block.addString(0x04B00411u, "Comments", "second");
    QTEST(readVersionItem(block, index), "expected");
}

void tst_VersionInfo::noTranslationFails()
{
    VersionBlock block;
    block.present = true;
    block.addString(0x04E40409u, "FileVersion", "1.0");
    try {
        readVersionItem(block, 3);
    } catch (const AppError &e) {
        QCOMPARE(e.message(), QString("情報の取得に失敗しました"));
        return;
    }
    QFAIL("no error for a block without translation");
}

QTEST_GUILESS_MAIN(tst_VersionInfo)
#include "tst_versioninfo.moc"
