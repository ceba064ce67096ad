#pragma once

// Process-wide preparation of the web-browser back-end.  Call in main()
// before QApplication is created: it registers the viewer's URL scheme and
// sets the engine's start-up switches (see the .cpp for which and why).
// Repeating it is harmless; TWebBrowser repeats it before it starts the
// engine, so that a program that forgot it still starts the engine as root.
void prepareWebBrowserProcess();
