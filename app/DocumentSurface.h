#pragma once

#include <functional>

class QWidget;

// "Is this widget the rendering component's own document surface?" — the
// test behind the focus timer.  Each view control registers a test for its
// surface; the focus rule asks all of them.  UI thread only.
using DocumentSurfaceTest = std::function<bool(const QWidget *)>;

// Registers a test; the returned id removes it again.
int registerDocumentSurfaceTest(DocumentSurfaceTest test);
void unregisterDocumentSurfaceTest(int id);

// True when any registered test claims `widget` (false for null).
bool isDocumentSurface(const QWidget *widget);

// The focus rule of one timer tick: true when the focus must go back to
// `keeper` — the window is active, the focus lies in a document surface and
// not already in `keeper`.
bool focusMustReturn(bool windowActive, const QWidget *focus, const QWidget *keeper);
