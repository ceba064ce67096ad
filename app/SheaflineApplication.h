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
};
