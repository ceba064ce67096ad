#include "browse/FolderPicker.h"

#include <QAbstractButton>
#include <QFileDialog>

namespace FolderPicker {

QFileDialog *create(QWidget *parent, const QString &startFolder)
{
    auto *dialog = new QFileDialog(parent, QStringLiteral("検索フォルダ指定"), startFolder);
    // Qt's own dialog on every desktop, so that the options below hold everywhere.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    // Read-only: no new folder, no renaming or deleting from inside the picker.
    dialog->setOption(QFileDialog::ReadOnly, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (auto *newFolder = dialog->findChild<QAbstractButton *>(QStringLiteral("newFolderButton")))
        newFolder->hide();
    return dialog;
}

QString pick(QWidget *parent, const QString &startFolder)
{
    QFileDialog *dialog = create(parent, startFolder);
    QString chosen;
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
        chosen = dialog->selectedFiles().constFirst();
    delete dialog;
    return chosen;
}

} // namespace FolderPicker
