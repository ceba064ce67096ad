// An error escaping a watcher's change handler: it reaches the application's
// error box like that of any other event handler, and the watcher goes on.
#include "base/Errors.h"
#include "app/SheaflineApplication.h"
#include "watch/plFolderWatcher.h"

#include "ScriptedLayer.h"
#include "support/ModalHelper.h"

#include <QPointer>
#include <QTest>

class TestWatcherErrors : public QObject
{
    Q_OBJECT
private slots:
    void handlerErrorIsShownAndWatcherGoesOn()
    {
        ScriptedLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(QStringLiteral("/r"));
        int calls = 0;
        w.setOnChange([&](QObject *, qint32, QString, QString, QString, QString) {
            if (++calls == 1)
                throw AppError(QStringLiteral("フォルダを読めません"));
        });
        QVERIFY(w.StartWatch());
        QPointer<QObject> receiver = layer.only().receiver;
        ModalAnswerer ok;
        layer.post(0x2, QStringLiteral("/r/a.pdf"));
        QTRY_COMPARE(ok.seen.size(), 1);
        QCOMPARE(ok.seen.first().text, QStringLiteral("フォルダを読めません."));
        QCOMPARE(calls, 1);
        // The report is over: stopping drops the receiver at once.
        w.StopWatch();
        QVERIFY(receiver.isNull());
        // Restarted, the next report is handled as usual.
        QVERIFY(w.StartWatch());
        layer.post(0x4, QStringLiteral("/r/a.pdf"));
        QTRY_COMPARE(calls, 2);
        QCOMPARE(ok.seen.size(), 1);
    }
};

int main(int argc, char **argv)
{
    SheaflineApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Sheafline");
    TestWatcherErrors test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_watchererrors.moc"
