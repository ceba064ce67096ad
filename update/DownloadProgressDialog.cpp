#include "update/DownloadProgressDialog.h"

#include <QApplication>
#include <QProgressDialog>

DownloadProgressDialog::DownloadProgressDialog(QWidget *parent) : m_parent(parent) {}

DownloadProgressDialog::~DownloadProgressDialog()
{
    finish();
}

void DownloadProgressDialog::start(const QString &fileName, std::function<void()> cancel)
{
    finish();
    m_dialog = new QProgressDialog(QStringLiteral("アップデートをダウンロードしています\n%1").arg(fileName),
                                   QStringLiteral("キャンセル"), 0, 0, m_parent);
    m_dialog->setWindowTitle(QGuiApplication::applicationDisplayName());
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setMinimumDuration(0);
    QObject::connect(m_dialog, &QProgressDialog::canceled, m_dialog, [cancel = std::move(cancel)] {
        if (cancel)
            cancel();
    });
    m_dialog->show();
}

void DownloadProgressDialog::update(qint64 received, qint64 total)
{
    if (!m_dialog)
        return;
    if (total > 0) {
        // QProgressDialog counts in int; scale large sizes down to KiB.
        const int scale = total > INT_MAX ? 1024 : 1;
        m_dialog->setMaximum(int(total / scale));
        m_dialog->setValue(int(qMin(received, total) / scale));
    }
}

void DownloadProgressDialog::finish()
{
    if (m_dialog) {
        QProgressDialog *dialog = m_dialog;
        m_dialog = nullptr;
        dialog->disconnect();
        dialog->hide();
        dialog->deleteLater();
    }
}
