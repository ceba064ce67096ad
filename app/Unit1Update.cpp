// The update command of the main window.  The logic lives in update/.
#include "app/Unit1.h"

#include "app/SysUpdate.h"
#include "app/MessageBoxes.h"

void TForm1::N19Click(QObject *)
{
    if (!SysUpdateModule || !SysUpdateModule->UpdateChk())
        return;
    if (!MsgConfirm(QStringLiteral("製品版最新バージョンへアップデートします\rよろしいですか？")))
        return;
    // Ends the program through its normal shutdown; the script restarts it.
    SysUpdateModule->RunUpdate();
}
