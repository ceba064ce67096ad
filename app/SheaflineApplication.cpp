#include "app/SheaflineApplication.h"

#include "app/ErrorBox.h"
#include "base/Errors.h"

SheaflineApplication::SheaflineApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool SheaflineApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const AppError &e) {
        showErrorBox(e.message());
    } catch (const std::exception &e) {
        showErrorBox(QString::fromLocal8Bit(e.what()));
    }
    return false;
}
