#include "update/WidgetUpdateUi.h"

#include "update/DownloadProgressDialog.h"

#include <QApplication>
#include <QMessageBox>

WidgetUpdateUi::WidgetUpdateUi(QWidget *window) : m_window(window) {}

std::unique_ptr<DownloadProgress> WidgetUpdateUi::createDownloadProgress()
{
    return std::make_unique<DownloadProgressDialog>(m_window);
}

void WidgetUpdateUi::showRestartNotice(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok,
                    m_window);
    box.exec();
}

void WidgetUpdateUi::requestQuit()
{
    // Queued, so that the menu handler returns before the shutdown starts.
    // exit() rather than quit(): it ends the running loop whoever runs it,
    // and the main window is destroyed, with its shutdown, once exec returns.
    QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}
