// Update check and self-update of the settings store.  Placeholder bodies
// until the updater lands: no update is ever found.
#include "app/SysUpdate.h"

bool TSysUpdateModule::UpdateChk() { return false; }
void TSysUpdateModule::RunUpdate() {}
bool TSysUpdateModule::DownloadFile(const QString &, const QString &) { return false; }
