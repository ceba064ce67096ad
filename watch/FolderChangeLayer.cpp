#include "watch/FolderChangeLayer.h"

int changeNotifyEventType()
{
    static const int type = QEvent::registerEventType();
    return type;
}
