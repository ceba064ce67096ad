// The rename dialog: its layout and keys, and the rename itself on real files.
#include "browse/RenameF.h"

#include "support/TestDir.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestRenameForm : public QObject
{
    Q_OBJECT
private slots:
    void layoutCaptionsAndFocus()
    {
        QWidget owner;
        owner.resize(784, 581);
        owner.show();
        TRenameForm form(&owner);
        QCOMPARE(form.Res, false);
        form.setFileName("report.pdf");
        QCOMPARE(form.windowTitle(), "ファイル名の変更");
        QCOMPARE(form.size(), QSize(293, 159));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.Label2->text(), "⇓");
        QCOMPARE(form.BitBtn1->text(), "変更");
        QCOMPARE(form.BitBtn2->text(), "キャンセル");
        QCOMPARE(form.FromFilename->pos(), QPoint(16, 16));
        QCOMPARE(form.Label2->pos(), QPoint(24, 35));
        QCOMPARE(form.ToFilename->geometry(), QRect(16, 54, 257, 21));
        QCOMPARE(form.BitBtn1->geometry(), QRect(16, 96, 131, 49));
        QCOMPARE(form.BitBtn2->geometry(), QRect(153, 96, 131, 49));
        QVERIFY(form.BitBtn1->isDefault());
        QVERIFY(!form.BitBtn2->isDefault());
        QVERIFY(form.BitBtn1->icon().isNull());
        QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));

        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY(form.ToFilename->hasFocus());
        // Centred on the window that opened it.
        const QPoint offset = form.geometry().center() - owner.geometry().center();
        QVERIFY2(offset.manhattanLength() < 40, qPrintable(QStringLiteral("off by %1,%2").arg(offset.x()).arg(offset.y())));
        QCOMPARE(form.ToFilename->selectedText(), "report.pdf");
        QCOMPARE(form.FromFilename->text(), "report.pdf");
        // Tab order: edit, confirm, cancel, edit.
        QCOMPARE(form.ToFilename->nextInFocusChain(), form.BitBtn1);
        QTest::keyClick(form.ToFilename, Qt::Key_Tab);
        QTRY_VERIFY(form.BitBtn1->hasFocus());
        QTest::keyClick(form.BitBtn1, Qt::Key_Tab);
        QTRY_VERIFY(form.BitBtn2->hasFocus());
        QTest::keyClick(form.BitBtn2, Qt::Key_Tab);
        QTRY_VERIFY(form.ToFilename->hasFocus());
    }

    // Enter confirms and Escape cancels, from the edit where the dialog
    // opens; Enter on a button that has the focus presses that button.
    void enterConfirmsEscapeCancels_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("focus"); // 0 edit, 1 "変更", 2 "キャンセル"
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("Enter") << int(Qt::Key_Return) << 0 << true;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << 0 << true;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << 0 << false;
        QTest::newRow("Escape on 変更") << int(Qt::Key_Escape) << 1 << false;
        QTest::newRow("Enter on キャンセル") << int(Qt::Key_Return) << 2 << false;
    }
    void enterConfirmsEscapeCancels()
    {
        QFETCH(int, key);
        QFETCH(int, focus);
        QFETCH(bool, confirmed);
        TRenameForm form;
        form.setFileName("a.pdf");
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QWidget *target = QList<QWidget *>{form.ToFilename, form.BitBtn1, form.BitBtn2}.at(focus);
        target->setFocus();
        QTRY_VERIFY(target->hasFocus());
        QTest::keyClick(target, Qt::Key(key));
        QTRY_VERIFY(!form.isVisible());
        QCOMPARE(form.Res, confirmed);
        QCOMPARE(form.result(), confirmed ? int(QDialog::Accepted) : int(QDialog::Rejected));
    }

    void buttonsSetRes_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("変更") << true;
        QTest::newRow("キャンセル") << false;
    }
    void buttonsSetRes()
    {
        QFETCH(bool, confirm);
        TRenameForm form;
        form.setFileName("a.pdf");
        QTimer::singleShot(0, &form, [&] {
            QTest::mouseClick(confirm ? form.BitBtn1 : form.BitBtn2, Qt::LeftButton);
        });
        form.exec();
        QCOMPARE(form.Res, confirm);
        QVERIFY(!form.isVisible());
    }

    void closingFromTheFrameLeavesResFalse()
    {
        TRenameForm form;
        QTimer::singleShot(0, &form, [&] { form.close(); });
        form.exec();
        QCOMPARE(form.Res, false);
    }

    void letsRename_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");    // name returned
        QTest::addColumn<bool>("failure");     // error shown
        QTest::newRow("new.txt becomes new.pdf") << "new.txt" << "new.pdf" << false;
        QTest::newRow("no extension") << "plain" << "plain.pdf" << false;
        QTest::newRow("into a sub-folder") << "sub/moved" << "sub/moved.pdf" << false;
        QTest::newRow("onto another file") << "other.pdf" << "old.pdf" << true;
        QTest::newRow("onto another, by rule") << "other.txt" << "old.pdf" << true;
        QTest::newRow("into a missing folder") << "nowhere/x" << "old.pdf" << true;
        QTest::newRow("unchanged") << "old.pdf" << "old.pdf" << false;
    }
    void letsRename()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(bool, failure);
        TestDir dir;
        dir.writeFile("old.pdf", "old contents");
        dir.writeFile("other.pdf", "other contents");
        dir.mkdir("sub");

        TRenameForm form;
        QStringList errors;
        form.showError = [&](const QString &text) { errors << text; };
        form.WorkDir = dir.path() + "/";
        form.setFileName("old.pdf");
        form.ToFilename->setText(typed);
        form.show();
        QCOMPARE(form.LetsRename(), shown);
        QVERIFY(!form.isVisible());
        QCOMPARE(errors, failure ? QStringList{"ファイル名の変更に失敗しました"} : QStringList{});
        QCOMPARE(dir.readFile(shown), "old contents");
        QCOMPARE(dir.readFile("other.pdf"), "other contents");
        if (shown != "old.pdf")
            QVERIFY(!QFile::exists(dir.path("old.pdf")));
    }
};

QTEST_MAIN(TestRenameForm)
#include "tst_renameform.moc"
