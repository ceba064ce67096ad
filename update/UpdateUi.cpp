#include "update/UpdateUi.h"

#include "update/DownloadProgress.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace {

class HeadlessUpdateUi final : public UpdateUi
{
public:
    std::unique_ptr<DownloadProgress> createDownloadProgress() override { return nullptr; }
    void showRestartNotice(const QString &) override {}
    void requestQuit() override
    {
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }
};

HeadlessUpdateUi g_headless;
UpdateUi *g_ui = nullptr;

} // namespace

UpdateUi &updateUi()
{
    return g_ui ? *g_ui : static_cast<UpdateUi &>(g_headless);
}

void setUpdateUi(UpdateUi *ui)
{
    g_ui = ui;
}
