#include "app/ErrorBox.h"

#include "app/MessageBoxes.h"
#include "base/DialogFrame.h"

#include <QApplication>
#include <QMessageBox>

QString errorBoxText(const QString &message)
{
    if (message.endsWith(QLatin1Char('.')))
        return message;
    return message + QLatin1Char('.');
}

void showErrorBox(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    errorBoxText(message), QMessageBox::Ok, msgBoxOwner(), sheafline::kDialogFrame);
    box.setObjectName(QStringLiteral("ErrorBox"));
    // The desktop's own font, not that of the window it belongs to.
    box.setFont(QApplication::font("QMessageBox"));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}
