#pragma once

#include "viewer/PdfTypes.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;

// What the PDF view control shows in place of the pages when a document
// cannot be shown: the reason, and for a protected document the password
// prompt.  UI thread only.
//
// Signals: passwordEntered() with the typed password (the field is emptied
// again), passwordRefused() when the user cancels the prompt.
//
// The keyboard focus the user (or a click on a button) moves into the panel
// goes back where it came from when the prompt goes: returnFocus().
class PdfMessagePanel : public QWidget
{
    Q_OBJECT
public:
    explicit PdfMessagePanel(QWidget *parent);

    // Shows `text`, with the password prompt when `askPassword`; without
    // it, focus inside the panel goes back first (returnFocus()).
    void showMessage(const QString &text, bool askPassword);
    // When the focus is inside the panel: gives it back to the widget it came
    // from, if that can still take it.  Call before hiding the panel: a
    // hidden focus widget hands the focus to whatever comes next in the
    // window (the folder tree).
    void returnFocus();

    // The texts the panel shows, the same in every back-end: a document
    // that cannot be shown (why, by its open status), one that asks for its
    // password, a wrong password, and a prompt the user cancelled.
    static QString cannotShowText(PdfOpenStatus status, const QString &path);
    static QString passwordWantedText(const QString &path);
    static QString wrongPasswordText();
    static QString passwordRefusedText(const QString &path);

    QLabel *messageLabel() const { return m_message; }
    QLineEdit *passwordEdit() const { return m_password; }

signals:
    void passwordEntered(const QString &password);
    void passwordRefused();

private:
    QLabel *m_message;
    QWidget *m_passwordRow;
    QLineEdit *m_password;
    QPointer<QWidget> m_focusBefore; // where the focus was before it came in
};
