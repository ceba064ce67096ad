// The application object: an error escaping an event handler reaches the
// error box and the program goes on.
#include "base/Errors.h"
#include "app/SheaflineApplication.h"

#include "support/ModalHelper.h"

#include <QPushButton>
#include <QTest>

class tst_Application : public QObject
{
    Q_OBJECT
private slots:
    void errorInHandlerIsShownAndLoopGoesOn();
};

void tst_Application::errorInHandlerIsShownAndLoopGoesOn()
{
    QPushButton button("go");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        if (++clicks == 1)
            throw AppError("ファイル名の変更に失敗しました");
    });
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    ModalAnswerer ok;
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(ok.seen.size(), 1);
    QCOMPARE(ok.seen.first().text, QString("ファイル名の変更に失敗しました."));
    QCOMPARE(ok.seen.first().title, QString("Sheafline"));
    // The next message is handled as usual.
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicks, 2);
    QCOMPARE(ok.seen.size(), 1);
}

int main(int argc, char **argv)
{
    SheaflineApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Sheafline");
    tst_Application test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_application.moc"
