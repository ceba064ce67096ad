#pragma once

#include "update/UpdateUi.h"

#include <QPointer>

class QWidget;

// The updater's user interface with widgets: the progress dialog for
// package downloads, the plain restart notice and the quit request.
// The main window owns one and hands it to the updater; UI thread only.
class WidgetUpdateUi final : public UpdateUi
{
public:
    // `window` (may be null) parents the dialogs.
    explicit WidgetUpdateUi(QWidget *window = nullptr);

    std::unique_ptr<DownloadProgress> createDownloadProgress() override;
    void showRestartNotice(const QString &text) override;
    void requestQuit() override;

private:
    QPointer<QWidget> m_window;
};
