#pragma once

#include "update/UpdateCheck.h"

#include <QString>

// What the user is told after an update check, as a message box kind and
// its text (a carriage return breaks the line).  Widget-free: the main
// window shows it.  Pure; any thread.
struct UpdateNotice
{
    enum class Kind {
        None,    // nothing is shown
        Info,    // MsgInfo
        Warning, // MsgWarning
        Confirm, // MsgConfirm; the update runs on OK
    };
    Kind kind = Kind::None;
    QString text;
};

// After the check at start-up: a newer release is announced (with how it
// is installed where the updater does not install it, and why the last
// replacement failed when it did); a package refused for its signature is
// warned about; an older or unversioned one is passed over in silence.
UpdateNotice startupNotice(const UpdateCheck &check);

// After the check of "ヘルプ" > "アップデート": the confirmation when a verified
// package is ready, otherwise what stands in the way.  Nothing when there is
// nothing newer.
UpdateNotice commandNotice(const UpdateCheck &check);

// Why `zipFile` is not installed, for a refusal (a check's or the one made
// again right before the script runs).
QString refusalText(const QString &zipFile, UpdateCheck::Refusal refusal, const QVersionNumber &running);

// The update could not be handed to the script.
QString startFailureText();
