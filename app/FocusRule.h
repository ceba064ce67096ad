#pragma once

class QWidget;

// The focus rule of one tick of the focus timer: true when the keyboard focus
// must go back to `keeper` — the window is active, the focus lies in a view
// control's document surface (`focusInSurface`) and not already in `keeper`.
// UI thread only.
bool focusMustReturn(bool windowActive, bool focusInSurface, const QWidget *keeper);
