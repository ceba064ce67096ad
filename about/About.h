#pragma once

#include <QDialog>
#include <QString>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The About box: the program's name, version, copyright and comments from
// its version information, and a link to the maker's home page.  Modal,
// fixed size; a new box is made for every opening (owner: the main window).
// UI thread only.
class TAboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutBox(QWidget *owner = nullptr);

    // The home page the link opens.
    static QString homePage();

    QString p_PROGRAM;   // InternalName
    QString p_VERSION;   // FileVersion
    QString p_COPYRIGHT; // LegalCopyright

    QFrame *Panel1 = nullptr;
    QLabel *ProgramIcon = nullptr;
    QLabel *ProductName = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Version = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Copyright = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Comments = nullptr;
    QPlainTextEdit *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QFrame *Panel3 = nullptr;
    QPushButton *OKButton = nullptr;

    void FormCreate(QObject *Sender);
    void FormShow(QObject *Sender);
    // Opens the home page in the user's browser; the box stays open.
    void Label5Click(QObject *Sender);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};
