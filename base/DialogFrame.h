#pragma once

#include <Qt>

// The frame of every dialog of the program (message boxes, the error box,
// the rename dialog, the About box): a title and a close button, no
// minimise or maximise button.  The dialogs are also fixed in size and
// transient for the window that opened them; with these hints a window
// manager that follows them gives a dialog a close button at most.
namespace sheafline {

inline constexpr Qt::WindowFlags kDialogFrame =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

} // namespace sheafline
