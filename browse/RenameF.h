#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// The rename dialog "ファイル名の変更": the present name, an arrow, an edit
// with the new name and the buttons "変更" and "キャンセル".  Enter confirms
// ("変更" is the default button; a focused button takes Enter itself) and
// Escape cancels.  A fixed-size dialog with a dialog's frame
// (base/DialogFrame.h).  One dialog per use, owned by the window that opens
// it; UI thread.
class TRenameForm : public QDialog
{
    Q_OBJECT
public:
    explicit TRenameForm(QWidget *owner = nullptr);

    QLabel *FromFilename;   // the file's present name
    QLabel *Label2;         // "⇓"
    QLineEdit *ToFilename;  // the new name as typed
    QPushButton *BitBtn1;   // "変更": confirm
    QPushButton *BitBtn2;   // "キャンセル": cancel
    bool Res = false;       // true once the user confirmed
    QString WorkDir;        // folder of the file, trailing delimiter

    // Shows a failure to the user; TForm1 binds its MsgError here.  Without
    // it a plain critical message box is shown.
    std::function<void(const QString &text)> showError;

    // Puts `name` into both the label and the edit.
    void setFileName(const QString &name);

    // Renames WorkDir + the present name to WorkDir + the typed name with
    // ".pdf" as its extension, never replacing an existing file.  Returns the
    // name to show afterwards: the new one, or the old one after a failure
    // (which is reported through showError).
    QString LetsRename();

    void FormCreate();
    void BitBtn1Click();
    void BitBtn2Click();

    // Escape and the close button leave Res false.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
};
