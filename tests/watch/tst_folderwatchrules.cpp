// Event options, event masks and the folder a watcher registers.
#include "watch/FolderWatchRules.h"

#include <QTest>

class TestFolderWatchRules : public QObject
{
    Q_OBJECT
private slots:
    void optionBits_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<quint32>("bits");
        const struct { TplFolderEventOption o; quint32 bits; const char *name; } rows[] = {
            {evt_RENAMEITEM, 0x1, "RENAMEITEM"},           {evt_CREATE, 0x2, "CREATE"},
            {evt_DELETE, 0x4, "DELETE"},                   {evt_MKDIR, 0x8, "MKDIR"},
            {evt_RMDIR, 0x10, "RMDIR"},                    {evt_MEDIAINSERTED, 0x20, "MEDIAINSERTED"},
            {evt_MEDIAREMOVED, 0x40, "MEDIAREMOVED"},      {evt_DRIVEREMOVED, 0x80, "DRIVEREMOVED"},
            {evt_DRIVEADD, 0x100, "DRIVEADD"},             {evt_NETSHARE, 0x200, "NETSHARE"},
            {evt_NETUNSHARE, 0x400, "NETUNSHARE"},         {evt_ATTRIBUTES, 0x800, "ATTRIBUTES"},
            {evt_UPDATEDIR, 0x1000, "UPDATEDIR"},          {evt_UPDATEITEM, 0x2000, "UPDATEITEM"},
            {evt_SERVERDISCONNECT, 0x4000, "SERVERDISCONNECT"}, {evt_UPDATEIMAGE, 0x8000, "UPDATEIMAGE"},
            {evt_DRIVEADDGUI, 0x10000, "DRIVEADDGUI"},     {evt_RENAMEFOLDER, 0x20000, "RENAMEFOLDER"},
            {evt_FREESPACE, 0x40000, "FREESPACE"},         {evt_ASSOCCHANGED, 0x8000000, "ASSOCCHANGED"},
            {evt_DISKEVENTS, 0x2381F, "DISKEVENTS"},       {evt_GLOBALEVENTS, 0xC0581E0, "GLOBALEVENTS"},
            {evt_ALLEVENTS, 0x7FFFFFFF, "ALLEVENTS"},
        };
        int ordinal = 0;
        for (const auto &r : rows) {
            QCOMPARE(int(r.o), ordinal++); // the order is part of the contract
            QTest::newRow(r.name) << int(r.o) << r.bits;
        }
        QCOMPARE(ordinal, plFolderEventOptionCount);
    }
    void optionBits()
    {
        QFETCH(int, option);
        QFETCH(quint32, bits);
        const auto o = TplFolderEventOption(option);
        QCOMPARE(plEventBits(o), bits);
        // A set holding one option has exactly the bit of its ordinal and asks for its bits.
        const TplFolderEventOptions set{o};
        QCOMPARE(set.bits(), quint32(1) << option);
        QCOMPARE(plEventMask(set), bits);
    }

    void eventMask_data()
    {
        QTest::addColumn<TplFolderEventOptions>("options");
        QTest::addColumn<quint32>("mask");
        QTest::newRow("empty") << TplFolderEventOptions{} << quint32(0);
        QTest::newRow("defaults") << TplFolderEventOptions{evt_RENAMEITEM, evt_CREATE, evt_DELETE, evt_MKDIR,
                                                           evt_RMDIR, evt_UPDATEDIR, evt_UPDATEITEM,
                                                           evt_RENAMEFOLDER}
                                  << quint32(0x2301F);
        QTest::newRow("all events") << TplFolderEventOptions{evt_ALLEVENTS} << quint32(0x7FFFFFFF);
        QTest::newRow("all events with others") << TplFolderEventOptions{evt_CREATE, evt_ALLEVENTS, evt_FREESPACE}
                                                << quint32(0x7FFFFFFF);
        QTest::newRow("groups overlap") << TplFolderEventOptions{evt_DISKEVENTS, evt_GLOBALEVENTS}
                                        << quint32(0x2381F | 0xC0581E0);
        QTest::newRow("every option")
            << TplFolderEventOptions::fromBits(0xFFFFFFFF) << quint32(0x7FFFFFFF);
    }
    void eventMask()
    {
        QFETCH(TplFolderEventOptions, options);
        QFETCH(quint32, mask);
        QCOMPARE(plEventMask(options), mask);
    }

    void defaultOptionsAreTheirOwnMask()
    {
        // The default set's bits and the mask it yields are the same number.
        const TplFolderEventOptions defaults{evt_RENAMEITEM, evt_CREATE, evt_DELETE, evt_MKDIR,
                                             evt_RMDIR, evt_UPDATEDIR, evt_UPDATEITEM, evt_RENAMEFOLDER};
        QCOMPARE(defaults.bits(), quint32(0x2301F));
        QCOMPARE(TplFolderEventOptions::fromBits(0xFFFFFFFF).bits(), quint32(0x7FFFFF));
    }

    void watchPath_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("expected");
        QTest::newRow("root stays") << "/" << "/";
        QTest::newRow("folder with delimiter") << "/home/docs/" << "/home/docs";
        QTest::newRow("folder without delimiter") << "/home/docs" << "/home/docs";
        QTest::newRow("one delimiter removed only") << "/home/docs//" << "/home/docs/";
        QTest::newRow("top-level folder") << "/srv/" << "/srv";
        QTest::newRow("double root") << "//" << "/";
        QTest::newRow("empty is the desktop") << "" << "/home/u/Desktop";
    }
    void watchPath()
    {
        QFETCH(QString, directory);
        QFETCH(QString, expected);
        QCOMPARE(plWatchPath(directory, QStringLiteral("/home/u/Desktop")), expected);
    }

    void fileNamePart_data()
    {
        QTest::addColumn<QString>("full");
        QTest::addColumn<QString>("name");
        QTest::newRow("file") << "/a/b/c.pdf" << "c.pdf";
        QTest::newRow("folder") << "/a/b" << "b";
        QTest::newRow("root") << "/" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("no delimiter") << "name" << "name";
    }
    void fileNamePart()
    {
        QFETCH(QString, full);
        QFETCH(QString, name);
        QCOMPARE(plFileNamePart(full), name);
    }
};

QTEST_GUILESS_MAIN(TestFolderWatchRules)
#include "tst_folderwatchrules.moc"
