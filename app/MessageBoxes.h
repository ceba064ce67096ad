#pragma once

#include <QString>

class QMessageBox;
class QWidget;

// The program's message boxes.  Each is modal to the whole application and
// returns when the user closes it; UI thread only.
//
// MsgInfo / MsgError / MsgWarning: one button "はい(&Y)"; result 6.
// MsgConfirm: "OK" (default) and "キャンセル"; true only for OK.  Escape and
// the close box answer Cancel.
int MsgInfo(const QString &text);
int MsgError(const QString &text);
int MsgWarning(const QString &text);
bool MsgConfirm(const QString &text);

// Dialog results as the program reports them.
enum MsgResult { MsgResultOk = 1, MsgResultCancel = 2, MsgResultYes = 6 };

enum class MsgKind { Info, Error, Warning, Confirm };

// The window a box is opened for: the open modal dialog, else the active
// window; null when the program has none (not shown yet, or in the
// background).
QWidget *msgBoxOwner();

// Builds (does not show) the box of a kind, transient for msgBoxOwner(),
// with the dialog frame (base/DialogFrame.h); the caller owns it.
QMessageBox *createMsgBox(MsgKind kind, const QString &text);
// Shows a box built by createMsgBox and maps the button that closed it to
// MsgResult (Escape / close box: the box's escape button).
int execMsgBox(QMessageBox *box);
