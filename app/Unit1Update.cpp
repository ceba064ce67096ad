// The update command of the main window.  Calls into update/; until that
// lands it does nothing.
#include "app/Unit1.h"

void TForm1::N19Click(QObject *) {}
