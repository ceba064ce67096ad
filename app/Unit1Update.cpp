// The update command of the main window.  The logic lives in update/.
#include "app/Unit1.h"

#include "app/SysUpdate.h"
#include "app/common.h"
#include "update/UpdateUi.h"
#include "update/WidgetUpdateUi.h"

namespace {

// The updater's dialogs (download progress, restart notice) are widgets; the
// check itself is in the widget-free core and reaches them through UpdateUi.
// Installed when the program starts, before start-up step 20 runs the check.
WidgetUpdateUi g_widgetUpdateUi;
const bool g_widgetUpdateUiInstalled = (setUpdateUi(&g_widgetUpdateUi), true);

} // namespace

void TForm1::N19Click(QObject *)
{
    if (!SysUpdateModule || !SysUpdateModule->UpdateChk())
        return;
    if (!MsgConfirm(QStringLiteral("製品版最新バージョンへアップデートします\rよろしいですか？")))
        return;
    // Ends the program through its normal shutdown; the script restarts it.
    SysUpdateModule->RunUpdate();
}
