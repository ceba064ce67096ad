// The message boxes and the error box: captions, icons, buttons, results.
#include "app/ErrorBox.h"
#include "app/MessageBoxes.h"

#include "support/ModalHelper.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QTest>

class tst_MsgBoxes : public QObject
{
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void results_data();
    void results();
    void lineBreak();
    void errorBox_data();
    void errorBox();
};

void tst_MsgBoxes::layout_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("defaultButton");
    QTest::newRow("info") << int(MsgKind::Info) << "情報" << int(QMessageBox::Information)
                          << QStringList{"はい(&Y)"} << "はい(&Y)";
    QTest::newRow("error") << int(MsgKind::Error) << "エラー" << int(QMessageBox::Critical)
                           << QStringList{"はい(&Y)"} << "はい(&Y)";
    QTest::newRow("warning") << int(MsgKind::Warning) << "警告" << int(QMessageBox::Warning)
                             << QStringList{"はい(&Y)"} << "はい(&Y)";
    QTest::newRow("confirm") << int(MsgKind::Confirm) << "確認" << int(QMessageBox::Question)
                             << QStringList{"OK", "キャンセル"} << "OK";
}

void tst_MsgBoxes::layout()
{
    QFETCH(int, kind);
    QFETCH(QStringList, buttons);
    std::unique_ptr<QMessageBox> box(createMsgBox(MsgKind(kind), "text"));
    QTEST(box->windowTitle(), "caption");
    QTEST(int(box->icon()), "icon");
    QStringList texts;
    for (QAbstractButton *b : box->buttons())
        texts << b->text();
    texts.sort();
    buttons.sort();
    QCOMPARE(texts, buttons);
    QVERIFY(box->defaultButton());
    QTEST(box->defaultButton()->text(), "defaultButton");
    QCOMPARE(box->text(), QString("text"));
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
}

void tst_MsgBoxes::results_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("answer"); // button text, "escape" or "close"
    QTest::addColumn<int>("result");
    QTest::newRow("info yes") << int(MsgKind::Info) << "はい(&Y)" << 6;
    QTest::newRow("info escape") << int(MsgKind::Info) << "escape" << 6;
    QTest::newRow("warning yes") << int(MsgKind::Warning) << "はい(&Y)" << 6;
    QTest::newRow("error close box") << int(MsgKind::Error) << "close" << 6;
    QTest::newRow("confirm ok") << int(MsgKind::Confirm) << "OK" << 1;
    QTest::newRow("confirm enter") << int(MsgKind::Confirm) << "enter" << 1;
    QTest::newRow("confirm cancel") << int(MsgKind::Confirm) << "キャンセル" << 2;
    QTest::newRow("confirm escape") << int(MsgKind::Confirm) << "escape" << 2;
    QTest::newRow("confirm close box") << int(MsgKind::Confirm) << "close" << 2;
}

void tst_MsgBoxes::results()
{
    QFETCH(int, kind);
    QFETCH(QString, answer);
    ModalAnswerer answerer([answer](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (answer == "escape")
            QTest::keyClick(box, Qt::Key_Escape);
        else if (answer == "enter")
            QTest::keyClick(box, Qt::Key_Return);
        else if (answer == "close")
            box->close();
        else
            for (QAbstractButton *b : box->buttons())
                if (b->text() == answer)
                    b->click();
    });
    std::unique_ptr<QMessageBox> box(createMsgBox(MsgKind(kind), "question"));
    QTEST(execMsgBox(box.get()), "result");
    QCOMPARE(answerer.seen.size(), 1);
}

void tst_MsgBoxes::lineBreak()
{
    {
        ModalAnswerer cancel([](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); });
        QCOMPARE(MsgConfirm("製品版最新バージョンへアップデートします\rよろしいですか？"), false);
        QCOMPARE(cancel.seen.size(), 1);
        QCOMPARE(cancel.seen.first().text, QString("製品版最新バージョンへアップデートします\nよろしいですか？"));
    }
    ModalAnswerer yes;
    QCOMPARE(MsgInfo("製品版の最新バージョンが利用可能です"), 6);
    QCOMPARE(yes.seen.size(), 1);
    QCOMPARE(yes.seen.first().title, QString("情報"));
}

void tst_MsgBoxes::errorBox_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("adds a full stop") << "'Folder' の設定に失敗しました" << "'Folder' の設定に失敗しました.";
    QTest::newRow("keeps a full stop") << "Access denied." << "Access denied.";
    QTest::newRow("empty") << "" << ".";
}

void tst_MsgBoxes::errorBox()
{
    QFETCH(QString, message);
    QApplication::setApplicationDisplayName("Sheafline");
    ModalAnswerer ok;
    showErrorBox(message);
    QCOMPARE(ok.seen.size(), 1);
    QTEST(ok.seen.first().text, "shown");
    QCOMPARE(ok.seen.first().title, QString("Sheafline"));
    QCOMPARE(ok.seen.first().icon, QMessageBox::Critical);
}

QTEST_MAIN(tst_MsgBoxes)
#include "tst_msgboxes.moc"
