#include "app/MessageBoxes.h"

#include "base/DialogFrame.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

QWidget *msgBoxOwner()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

QMessageBox *createMsgBox(MsgKind kind, const QString &text)
{
    // Transient for the window it speaks to, with a dialog's frame: a
    // window manager then gives it a close button at most.
    auto *box = new QMessageBox(msgBoxOwner());
    box->setWindowFlags(sheafline::kDialogFrame);
    // A box speaks in the desktop's own font, not in the font of the window
    // it belongs to.
    box->setFont(QApplication::font("QMessageBox"));
    // The program's texts break lines with a lone carriage return.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box->setText(shown);
    box->setWindowModality(Qt::ApplicationModal);
    switch (kind) {
    case MsgKind::Info:
        box->setWindowTitle(QStringLiteral("情報"));
        box->setIcon(QMessageBox::Information);
        break;
    case MsgKind::Error:
        box->setWindowTitle(QStringLiteral("エラー"));
        box->setIcon(QMessageBox::Critical);
        break;
    case MsgKind::Warning:
        box->setWindowTitle(QStringLiteral("警告"));
        box->setIcon(QMessageBox::Warning);
        break;
    case MsgKind::Confirm:
        box->setWindowTitle(QStringLiteral("確認"));
        box->setIcon(QMessageBox::Question);
        break;
    }
    if (kind == MsgKind::Confirm) {
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box->button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
        box->button(QMessageBox::Cancel)->setText(QStringLiteral("キャンセル"));
        box->setDefaultButton(QMessageBox::Ok);
        box->setEscapeButton(QMessageBox::Cancel);
    } else {
        box->setStandardButtons(QMessageBox::Yes);
        box->button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
        box->setDefaultButton(QMessageBox::Yes);
        box->setEscapeButton(QMessageBox::Yes);
    }
    return box;
}

int execMsgBox(QMessageBox *box)
{
    box->exec();
    const auto button = box->standardButton(box->clickedButton());
    switch (button) {
    case QMessageBox::Yes:
        return MsgResultYes;
    case QMessageBox::Ok:
        return MsgResultOk;
    default:
        return MsgResultCancel;
    }
}

static int show(MsgKind kind, const QString &text)
{
    std::unique_ptr<QMessageBox> box(createMsgBox(kind, text));
    return execMsgBox(box.get());
}

int MsgInfo(const QString &text) { return show(MsgKind::Info, text); }
int MsgError(const QString &text) { return show(MsgKind::Error, text); }
int MsgWarning(const QString &text) { return show(MsgKind::Warning, text); }
bool MsgConfirm(const QString &text) { return show(MsgKind::Confirm, text) == MsgResultOk; }
