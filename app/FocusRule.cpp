#include "app/FocusRule.h"

#include <QWidget>

bool focusMustReturn(bool windowActive, bool focusInSurface, const QWidget *keeper)
{
    if (!windowActive || !keeper || !focusInSurface)
        return false;
    return !keeper->hasFocus();
}
