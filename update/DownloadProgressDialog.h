#pragma once

#include "update/DownloadProgress.h"

#include <QPointer>
#include <QProgressDialog>

class QWidget;

// A package download's progress as an application-modal progress dialog
// with a Cancel button ("キャンセル").  UI thread only.
class DownloadProgressDialog final : public DownloadProgress
{
public:
    // `parent` may be null (the dialog is then a top-level window).
    explicit DownloadProgressDialog(QWidget *parent = nullptr);
    ~DownloadProgressDialog() override;

    void start(const QString &fileName, std::function<void()> cancel) override;
    void update(qint64 received, qint64 total) override;
    void finish() override;

    // The dialog while shown, else null (for tests).
    QProgressDialog *dialog() const { return m_dialog; }

private:
    QPointer<QWidget> m_parent;
    QPointer<QProgressDialog> m_dialog;
};
