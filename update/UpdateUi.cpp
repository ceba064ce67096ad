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

} // namespace

std::unique_ptr<UpdateUi> createHeadlessUpdateUi()
{
    return std::make_unique<HeadlessUpdateUi>();
}
