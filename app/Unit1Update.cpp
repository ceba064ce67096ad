// The update check at start-up and the update command of the main window.
// The logic and the texts live in update/.
#include "app/Unit1.h"

#include "app/MessageBoxes.h"
#include "app/SysUpdate.h"
#include "update/UpdateNotice.h"

namespace {

// Shows `notice`; true only when it asked for confirmation and got OK.
bool showNotice(const UpdateNotice &notice)
{
    switch (notice.kind) {
    case UpdateNotice::Kind::None:
        return false;
    case UpdateNotice::Kind::Info:
        MsgInfo(notice.text);
        return false;
    case UpdateNotice::Kind::Warning:
        MsgWarning(notice.text);
        return false;
    case UpdateNotice::Kind::Confirm:
        return MsgConfirm(notice.text);
    }
    return false;
}

} // namespace

void TForm1::StartupUpdateCheck()
{
    SysUpdateModule->UpdateChk();
    showNotice(startupNotice(SysUpdateModule->LastCheck));
}

void TForm1::N19Click(QObject *)
{
    if (!SysUpdateModule)
        return;
    SysUpdateModule->UpdateChk();
    if (!showNotice(commandNotice(SysUpdateModule->LastCheck)))
        return;
    // On success the program ends through its normal shutdown and the
    // script restarts it; otherwise it goes on and says why.
    const UpdateStart start = SysUpdateModule->RunUpdate();
    if (!start.started)
        MsgWarning(start.failure);
}
