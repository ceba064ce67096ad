#include "browse/RenameF.h"

#include "base/DialogFrame.h"
#include "browse/BrowseRules.h"
#include "browse/FileMove.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

TRenameForm::TRenameForm(QWidget *owner)
    : QDialog(owner, sheafline::kDialogFrame),
      FromFilename(new QLabel(this)),
      Label2(new QLabel(QStringLiteral("⇓"), this)),
      ToFilename(new QLineEdit(this)),
      BitBtn1(new QPushButton(QStringLiteral("変更"), this)),
      BitBtn2(new QPushButton(QStringLiteral("キャンセル"), this))
{
    setWindowTitle(QStringLiteral("ファイル名の変更"));
    setModal(true);
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(293, 159);

    FromFilename->move(16, 16);
    Label2->move(24, 35);
    Label2->adjustSize();
    ToFilename->setGeometry(16, 54, 257, 21);
    BitBtn1->setGeometry(16, 96, 131, 49);
    BitBtn2->setGeometry(153, 96, 131, 49);
    // Enter confirms and Escape cancels, as in any dialog: "変更" is the
    // default button, and a button with the focus takes Enter for itself.
    for (QPushButton *b : {BitBtn1, BitBtn2})
        b->setAutoDefault(true);
    BitBtn1->setDefault(true);
    FromFilename->setFocusPolicy(Qt::NoFocus);
    Label2->setFocusPolicy(Qt::NoFocus);
    setTabOrder(ToFilename, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);

    connect(BitBtn1, &QPushButton::clicked, this, &TRenameForm::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TRenameForm::BitBtn2Click);
    FormCreate();
}

void TRenameForm::FormCreate()
{
    Res = false;
}

void TRenameForm::BitBtn1Click()
{
    Res = true;
    accept();
}

void TRenameForm::BitBtn2Click()
{
    Res = false;
    reject();
}

void TRenameForm::setFileName(const QString &name)
{
    FromFilename->setText(name);
    FromFilename->adjustSize();
    ToFilename->setText(name);
}

QString TRenameForm::LetsRename()
{
    const QString newName = BrowseRules::renameTarget(ToFilename->text());
    hide();
    const QString oldName = FromFilename->text();
    // Confirming an unchanged name is no failure: there is nothing to move.
    if (newName == oldName)
        return newName;
    if (FileMove::moveNoReplace(WorkDir + oldName, WorkDir + newName))
        return newName;
    const QString text = QStringLiteral("ファイル名の変更に失敗しました");
    if (showError)
        showError(text);
    else
        QMessageBox::critical(parentWidget(), QApplication::applicationDisplayName(), text);
    return oldName;
}

void TRenameForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (parentWidget())
        move(parentWidget()->window()->geometry().center() - rect().center());
    ToFilename->setFocus(Qt::OtherFocusReason);
    ToFilename->selectAll();
}

void TRenameForm::reject()
{
    // Escape and the frame's close button: as "キャンセル".
    Res = false;
    QDialog::reject();
}
