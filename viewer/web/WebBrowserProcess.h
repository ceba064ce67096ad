#pragma once

// Process-wide preparation of the web-browser back-end.  Call once in main()
// before QApplication is created: it registers the viewer's URL scheme and
// sets the engine's start-up switches (see the .cpp for which and why).
void prepareWebBrowserProcess();
