#pragma once

#include <QApplication>

// The application object.  An error that escapes an event handler is shown
// in the application's error box and the program goes on with its next
// message.  UI thread only.
class SheaflineApplication : public QApplication
{
    Q_OBJECT
public:
    SheaflineApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;

    // The program's name, organisation, desktop entry and icon, and Qt's own
    // texts in Japanese.  Call once, right after the application object is
    // made.  No display name is set: the window system would append it to
    // every caption ("情報 — Sheafline").
    static void setUp();
    // Loads Qt's Japanese translations (the folder picker's buttons and
    // labels, the context menus of edit fields), whatever the locale, since
    // the whole UI is Japanese.  The translator is owned by the application.
    // False when the translations are not installed.
    static bool installJapaneseQtTexts();
};
