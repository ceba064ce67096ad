#pragma once

#include <QString>

// The application's error box: error icon, one OK button, the program's
// title as caption, the message followed by a full stop unless it ends with
// one; a dialog's frame, transient for msgBoxOwner().  Modal; UI thread only.
void showErrorBox(const QString &message);

// The text the error box shows for `message`.
QString errorBoxText(const QString &message);
