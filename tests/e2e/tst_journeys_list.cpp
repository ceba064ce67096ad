// Journeys through the file list with real input: the real program under
// Xvfb and a window manager, driven by XTest key presses and mouse clicks,
// checked by what the screen shows.  Documents are solid colours, so the one
// shown can be told by its pixels; names are read by matching the program's
// own font.
#include "Journey.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Desktop;

class TestJourneysList : public JourneyTest
{
    Q_OBJECT

    // Starts the program on the rig's folder and waits for its window.
    bool launch(Rig &rig) { return JourneyTest::launch(rig, {rig.docs}); }

    // The list's popup menu: "表示" and then `style`.
    bool chooseStyle(Rig &rig, const QPoint &onList, const QString &style)
    {
        click(onList, 3);
        const QRect below(onList, QSize(320, 320));
        const auto view = waitText(rig, QStringLiteral("表示"), false, below);
        if (!view)
            return false;
        moveMouse(*view);
        const auto item = waitText(rig, style, false, QRect(view->x(), view->y() - 120, 420, 320));
        if (!item)
            return false;
        click(*item);
        moveMouse(QPoint(1, 1));
        return true;
    }

private slots:
    // The first move key on a freshly filled list acts from its first row:
    // End then Enter shows the last file, not the first.
    void firstKeyMovesFromTheFirstRow_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QColor>("shown");
        QTest::newRow("End") << "End" << kBlue;
        QTest::newRow("PageDown") << "Next" << kBlue;
        QTest::newRow("Home") << "Home" << kRed;
        QTest::newRow("Down") << "Down" << kRed;
    }
    void firstKeyMovesFromTheFirstRow()
    {
        QFETCH(QString, keys);
        QFETCH(QColor, shown);
        auto rig = newRig({{QStringLiteral("alpha.pdf"), kRed},
                           {QStringLiteral("bravo.pdf"), kGreen},
                           {QStringLiteral("charlie.pdf"), kBlue}});
        QVERIFY(rig);
        QVERIFY(launch(*rig));
        QVERIFY(waitText(*rig, QStringLiteral("charlie.pdf")));
        key(keys);
        key(QStringLiteral("Return"));
        QVERIFY(waitShown(*rig, shown));
    }

    // Thumbnail style: the selected file's name is shown whole on the
    // selection's colour, on one line even when the name holds a line break.
    void selectedNameReadableInThumbnails()
    {
        const QString broken = QStringLiteral("line1\nline2.pdf");
        auto rig = newRig({{QStringLiteral("alpha.pdf"), kRed}, {broken, kGreen}});
        QVERIFY(rig);
        QVERIFY(launch(*rig));
        const auto alpha = waitText(*rig, QStringLiteral("alpha.pdf"));
        QVERIFY(alpha);
        // The right click that opened the popup menu selected the file.
        QVERIFY(chooseStyle(*rig, *alpha, QStringLiteral("サムネイル")));
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf"), true));
        QVERIFY(waitText(*rig, QStringLiteral("line1↵line2.pdf")));

        key(QStringLiteral("Down"));
        QVERIFY(waitText(*rig, QStringLiteral("line1↵line2.pdf"), true));
        // The other one is back to dark on light.
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf")));
    }

    // F2 renames the selected file; Enter confirms the dialog, Escape
    // cancels it.
    void f2RenamesEnterConfirmsEscapeCancels()
    {
        auto rig = newRig({{QStringLiteral("alpha.pdf"), kRed},
                           {QStringLiteral("bravo.pdf"), kGreen},
                           {QStringLiteral("charlie.pdf"), kBlue}});
        QVERIFY(rig);
        QVERIFY(launch(*rig));
        QVERIFY(waitText(*rig, QStringLiteral("charlie.pdf")));
        const QString title = QStringLiteral("ファイル名の変更");

        key(QStringLiteral("Down"));
        key(QStringLiteral("F2"));
        QVERIFY2(waitWindow(*rig, title, true), "F2 opened no rename dialog");
        // The whole name is selected in the edit: typing replaces it.
        type(QStringLiteral("zulu"));
        key(QStringLiteral("Return"));
        QVERIFY(waitWindow(*rig, title, false));
        QVERIFY(waitText(*rig, QStringLiteral("zulu.pdf")));
        QVERIFY(QFile::exists(rig->docs + QStringLiteral("/zulu.pdf")));
        QVERIFY(!QFile::exists(rig->docs + QStringLiteral("/alpha.pdf")));
        QVERIFY(waitShown(*rig, kRed)); // the renamed document is shown

        // The refilled list has no selection: Down selects its first row.
        key(QStringLiteral("Down"));
        key(QStringLiteral("F2"));
        QVERIFY2(waitWindow(*rig, title, true), "F2 opened no rename dialog");
        type(QStringLiteral("yankee"));
        key(QStringLiteral("Escape"));
        QVERIFY(waitWindow(*rig, title, false));
        QVERIFY(QFile::exists(rig->docs + QStringLiteral("/bravo.pdf")));
        QVERIFY(!QFile::exists(rig->docs + QStringLiteral("/yankee.pdf")));
        // The list, refilled again, still has the keyboard.
        key(QStringLiteral("Down"));
        key(QStringLiteral("Return"));
        QVERIFY(waitShown(*rig, kGreen));
    }
};

QTEST_MAIN(TestJourneysList)
#include "tst_journeys_list.moc"
